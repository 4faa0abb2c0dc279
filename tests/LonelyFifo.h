#pragma once
// A FIFO nobody writes to or reads from: opening it waits for the other end.
// Should the code under test still wait after a while, the other end comes
// (and keeps coming), so that the test fails instead of hanging, and
// Rescued() says so.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <juce_core/juce_core.h>

class LonelyFifo
{
public:
    /** Makes the FIFO at `file`; the rescue comes after `patienceMs`. */
    explicit LonelyFifo (const juce::File& file, int patienceMs = 10000)
        : m_path (file.getFullPathName().toStdString())
    {
        m_bMade = ::mkfifo (m_path.c_str(), 0644) == 0;
        m_Rescuer = std::thread ([this, patienceMs]
        {
            std::unique_lock<std::mutex> l (m_Lock);
            auto wait = std::chrono::milliseconds (patienceMs);
            while (! m_Done.wait_for (l, wait, [this] { return m_bDone; }))
            {
                m_bRescued = true;
                wait = std::chrono::milliseconds (50);
                // A reader for a waiting writer, then a writer for a waiting reader; both go at once.
                const int in = ::open (m_path.c_str(), O_RDONLY | O_NONBLOCK);
                const int out = ::open (m_path.c_str(), O_WRONLY | O_NONBLOCK);
                for (const int fd : { out, in })
                    if (fd >= 0)
                        ::close (fd);
            }
        });
    }

    ~LonelyFifo()
    {
        {
            std::lock_guard<std::mutex> l (m_Lock);
            m_bDone = true;
        }
        m_Done.notify_all();
        m_Rescuer.join();
        ::unlink (m_path.c_str());
    }

    /** Whether the FIFO could be made. */
    bool Made() const { return m_bMade; }
    /** Whether something waited on it until the rescue came. */
    bool Rescued() const
    {
        std::lock_guard<std::mutex> l (m_Lock);
        return m_bRescued;
    }

private:
    const std::string m_path;
    bool m_bMade = false;
    mutable std::mutex m_Lock;
    std::condition_variable m_Done;
    bool m_bDone = false;
    bool m_bRescued = false;
    std::thread m_Rescuer;
};
