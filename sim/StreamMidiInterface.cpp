#include "sim/StreamMidiInterface.h"
#if ! defined(_WIN32)
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

StreamMidiInterface::StreamMidiInterface() : StreamMidiInterface (Settings()) {}

StreamMidiInterface::StreamMidiInterface (const Settings& settings)
    : m_Settings (settings)
{
    int ends[2];
    if (::socketpair (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return;
    m_nHostFd = ends[0];
    m_nDeviceFd = ends[1];
    for (int fd : ends)
    {
        ::setsockopt (fd, SOL_SOCKET, SO_SNDBUF, &m_Settings.socketBuffer, sizeof (int));
        ::setsockopt (fd, SOL_SOCKET, SO_RCVBUF, &m_Settings.socketBuffer, sizeof (int));
    }
    ::fcntl (m_nDeviceFd, F_SETFL, ::fcntl (m_nDeviceFd, F_GETFL) | O_NONBLOCK);
    if (m_Settings.hostNonBlocking)
        ::fcntl (m_nHostFd, F_SETFL, ::fcntl (m_nHostFd, F_GETFL) | O_NONBLOCK);
    m_Thread = std::thread ([this] { Run(); });
}

StreamMidiInterface::~StreamMidiInterface()
{
    {
        const std::lock_guard<std::mutex> l (m_Lock);
        m_bStopping = true;
    }
    m_Wake.notify_all();
    if (m_Thread.joinable())
        m_Thread.join();
    if (m_nDeviceFd >= 0)
        ::close (m_nDeviceFd);
    if (m_nHostFd >= 0)
        ::close (m_nHostFd);
}

void StreamMidiInterface::SetReceiver (Receiver receiver)
{
    const std::lock_guard<std::mutex> l (m_Lock);
    m_Receiver = std::move (receiver);
}

void StreamMidiInterface::Send (const juce::MidiMessage& message)
{
    const std::lock_guard<std::mutex> l (m_Lock);
    const auto* p = message.getRawData();
    m_Outgoing.insert (m_Outgoing.end(), p, p + message.getRawDataSize());
}

void StreamMidiInterface::Hold (bool hold)
{
    m_bHold = hold;
}

void StreamMidiInterface::Run()
{
    using Clock = std::chrono::steady_clock;
    const auto frame = std::chrono::microseconds (m_Settings.frameMicros);
    const size_t perFrame = (size_t) std::max (1, m_Settings.bytesPerFrame);
    std::vector<uint8_t> buffer (perFrame);
    auto next = Clock::now();
    const MidiStreamAssembler::Emit emit = [this] (const uint8_t* bytes, int size)
    {
        Receiver receiver;
        {
            const std::lock_guard<std::mutex> l (m_Lock);
            receiver = m_Receiver;
        }
        if (receiver)
            receiver (juce::MidiMessage (bytes, size, 0.0));
    };

    std::unique_lock<std::mutex> l (m_Lock);
    while (! m_bStopping)
    {
        next += frame;
        m_Wake.wait_until (l, next, [this] { return m_bStopping; });
        if (m_bStopping)
            break;

        // One frame each way: the host's bytes in, the device's bytes out.
        size_t out = 0;
        while (out < perFrame && ! m_Outgoing.empty())
        {
            buffer[out++] = m_Outgoing.front();
            m_Outgoing.pop_front();
        }
        l.unlock();
        size_t sent = 0;
        while (sent < out)
        {
            const auto n = ::send (m_nDeviceFd, buffer.data() + sent, out - sent, MSG_NOSIGNAL);
            if (n > 0)
                sent += (size_t) n;
            else
                break;   // the host's buffer is full: the rest waits for the next frame
        }
        if (sent < out)
        {
            l.lock();
            m_Outgoing.insert (m_Outgoing.begin(), buffer.begin() + (long) sent, buffer.begin() + (long) out);
            l.unlock();
        }
        if (! m_bHold)
        {
            const auto n = ::recv (m_nDeviceFd, buffer.data(), perFrame, 0);
            if (n > 0)
            {
                m_nTaken += (uint64_t) n;
                m_Assembler.Feed (buffer.data(), (size_t) n, emit);
            }
        }
        l.lock();
        const auto now = Clock::now();
        if (next + 100 * frame < now)
            next = now;   // far behind (a slow machine): no burst to catch up
    }
}
#endif
