#include "platform/FileLock.h"

#if JUCE_WINDOWS
 #include <windows.h>
#else
 #include <cerrno>
 #include <fcntl.h>
 #include <sys/file.h>
 #include <unistd.h>
#endif

InterProcessFileLock::InterProcessFileLock (const juce::File& path)
{
#if JUCE_WINDOWS
    const HANDLE h = ::CreateFileW (path.getFullPathName().toWideCharPointer(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    m_pHandle = h;
    OVERLAPPED at {};
    m_bHeld = ::LockFileEx (h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
#else
    m_nFd = ::open (path.getFullPathName().toRawUTF8(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (m_nFd < 0)
        return;
    int r;
    do
        r = ::flock (m_nFd, LOCK_EX);
    while (r != 0 && errno == EINTR);
    m_bHeld = r == 0;
#endif
}

InterProcessFileLock::~InterProcessFileLock()
{
#if JUCE_WINDOWS
    if (m_pHandle != nullptr)
    {
        if (m_bHeld)
        {
            OVERLAPPED at {};
            ::UnlockFileEx (static_cast<HANDLE> (m_pHandle), 0, 1, 0, &at);
        }
        ::CloseHandle (static_cast<HANDLE> (m_pHandle));
    }
#else
    if (m_nFd >= 0)
        ::close (m_nFd);   // ends the lock
#endif
}
