#include "link/rawmidi/FdMidiPorts.h"
#include "link/MidiInputFeed.h"
#include "link/SysExPace.h"
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

bool WriteWhole (int fd, const uint8_t* bytes, size_t size, int boundMs)
{
    using Clock = std::chrono::steady_clock;
    const bool bounded = boundMs >= 0;
    // Without a bound in all, the bound runs from the last byte the device took.
    auto deadline = Clock::now() + std::chrono::milliseconds (bounded ? boundMs : kWriteStallMs);
    while (size > 0)
    {
        const auto n = ::write (fd, bytes, size);
        if (n > 0)
        {
            bytes += n;
            size -= (size_t) n;
            if (! bounded)
                deadline = Clock::now() + std::chrono::milliseconds (kWriteStallMs);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            const int wait = (int) left.count();
            pollfd p { fd, POLLOUT, 0 };
            if (::poll (&p, 1, wait) < 0 && errno != EINTR)
                return false;
            if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (p.revents & POLLOUT) == 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

//==============================================================================
FdMidiOutPort::FdMidiOutPort (int fd, FdCloser closer)
    : m_nFd (fd), m_Closer (std::move (closer))
{
}

FdMidiOutPort::~FdMidiOutPort()
{
    if (m_Closer)
        m_Closer();
}

void FdMidiOutPort::sendMessageNow (const juce::MidiMessage& message)
{
    if (m_bFailed)
        return;
    const auto* bytes = message.getRawData();
    const auto size = (size_t) message.getRawDataSize();
    if (! message.isSysEx())
    {
        m_bFailed = ! WriteWhole (m_nFd, bytes, size);
        return;
    }
    const auto pieces = PiecesTo ([this] (const uint8_t* b, size_t n) { return WriteWhole (m_nFd, b, n); }, m_pObserver);
    m_bFailed = ! SendSysExInPieces (bytes, size, CurrentSysExPace(), pieces);
}

//==============================================================================
/** What the reader thread uses; the thread keeps it alive while it runs. */
struct FdMidiInPort::Reader
{
    static constexpr int kStopLookMs = 50;

    Reader (int f, MidiInPort* port, MidiInHandler* h, FdCloser c, size_t bound)
        : fd (f), closer (std::move (c)), feed (port, h, stopping, bound)
    {
        if (::pipe (wake) != 0)
            wake[0] = wake[1] = -1;
        for (int w : wake)
            if (w >= 0)
                ::fcntl (w, F_SETFL, ::fcntl (w, F_GETFL) | O_NONBLOCK);
    }

    ~Reader()
    {
        for (int w : wake)
            if (w >= 0)
                ::close (w);
        if (closer)
            closer();
    }

    void Run()
    {
        uint8_t buffer[4096];
        // Without its wake pipe (no descriptor was left for it) the reader
        // looks at the stop request between polls of its own.
        const int lookMs = wake[0] >= 0 ? -1 : kStopLookMs;
        while (! stopping)
        {
            pollfd p[2] = { { fd, POLLIN, 0 }, { wake[0], POLLIN, 0 } };
            if (::poll (p, 2, lookMs) < 0)
            {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (stopping)
                break;
            if ((p[0].revents & POLLIN) != 0)
            {
                const auto n = ::read (fd, buffer, sizeof (buffer));
                if (n > 0)
                    feed.Feed (buffer, (size_t) n);
                else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                    break;   // the device is gone: nothing more will come
            }
            else if ((p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            {
                break;
            }
        }
    }

    const int fd;
    FdCloser closer;
    std::atomic<bool> stopping { false };
    MidiInputFeed feed;               // reader thread only, and start() while none runs
    int wake[2] { -1, -1 };
    std::mutex lock;                  // guards the thread object
    std::thread thread;
};

FdMidiInPort::FdMidiInPort (int fd, MidiInHandler* handler, FdCloser closer, size_t sysExBound)
    : m_pReader (std::make_shared<Reader> (fd, this, handler, std::move (closer), sysExBound))
{
}

FdMidiInPort::~FdMidiInPort()
{
    stop();
    const std::lock_guard<std::mutex> l (m_pReader->lock);
    if (m_pReader->thread.joinable())
        m_pReader->thread.detach();   // dying inside its own callback: the thread ends by itself
}

void FdMidiInPort::start()
{
    auto& r = *m_pReader;
    const std::lock_guard<std::mutex> l (r.lock);
    if (r.thread.joinable())
    {
        if (! r.stopping)
            return;   // already reading
        if (r.thread.get_id() == std::this_thread::get_id())
            return;   // restarted from inside its own callback: not supported
        r.thread.join();
    }
    r.stopping = false;
    r.feed.Restart();
    uint8_t drain[64];
    while (r.wake[0] >= 0 && ::read (r.wake[0], drain, sizeof (drain)) > 0) {}
    r.thread = std::thread ([reader = m_pReader] { reader->Run(); });
}

void FdMidiInPort::stop()
{
    auto& r = *m_pReader;
    std::thread ending;
    {
        const std::lock_guard<std::mutex> l (r.lock);
        if (! r.thread.joinable())
            return;
        r.stopping = true;
        const uint8_t one = 1;
        if (r.wake[1] >= 0)
            (void) ::write (r.wake[1], &one, 1);
        if (r.thread.get_id() == std::this_thread::get_id())
            return;   // inside its own callback: the loop ends when the callback returns
        ending = std::move (r.thread);
    }
    ending.join();
}

uint64_t FdMidiInPort::OversizedSysEx() const { return m_pReader->feed.OversizedSysEx(); }
uint64_t FdMidiInPort::DamagedSysEx() const   { return m_pReader->feed.DamagedSysEx(); }
