#pragma once
// An advisory lock that processes take on a file of their own (flock on
// Linux, LockFileEx on Windows), so that several processes can take turns at
// a file they share. It binds only those that take it; the lock ends with its
// holder, also when the process dies.
#include <juce_core/juce_core.h>

/** Holds the exclusive lock on `path` (created when missing) for as long as it
    lives; waits for another holder to let go. */
class InterProcessFileLock
{
public:
    explicit InterProcessFileLock (const juce::File& path);
    ~InterProcessFileLock();
    InterProcessFileLock (const InterProcessFileLock&) = delete;
    InterProcessFileLock& operator= (const InterProcessFileLock&) = delete;

    /** Whether the lock is held (false when the file could not be opened or locked). */
    bool IsHeld() const { return m_bHeld; }

private:
    void* m_pHandle = nullptr;   // the lock file's handle (Windows)
    int m_nFd = -1;              // its descriptor (elsewhere)
    bool m_bHeld = false;
};
