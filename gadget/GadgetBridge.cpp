#include "gadget/GadgetBridge.h"
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include "link/rawmidi/AlsaRawMidi.h"
#include "link/rawmidi/FdMidiPorts.h"
#include "sim/OverrunBuffer.h"
#include "sim/VirtualMidiBus.h"

/** The lossy interface in real time: a thread reads what the computer sent,
    passes it through an OverrunBuffer and writes what leaves it into a pipe,
    whose other end the gadget's input reads. */
class OverrunStage
{
public:
    static constexpr int kWireBytesPerSecond = 3125;

    OverrunStage (int rawFd, std::function<void()> rawClose, size_t capacity)
        : m_nRawFd (rawFd), m_RawClose (std::move (rawClose)), m_Buffer (capacity, kWireBytesPerSecond)
    {
        if (::pipe (m_Pipe) != 0)
            m_Pipe[0] = m_Pipe[1] = -1;
        else
            m_Thread = std::thread ([this] { Run(); });
    }

    ~OverrunStage()
    {
        Stop();
        if (m_Pipe[1] >= 0)
            ::close (m_Pipe[1]);
        if (m_RawClose)
            m_RawClose();
    }

    /** Ends the thread; nothing more is written into the pipe. */
    void Stop()
    {
        m_bStop = true;
        if (m_Thread.joinable())
            m_Thread.join();
    }

    /** What leaves the buffer, for the gadget's input; -1 when the pipe could not be made. */
    int ReadFd() const { return m_Pipe[0]; }
    uint64_t Lost() const { return m_nLost.load(); }

private:
    void Run()
    {
        uint8_t in[1024];
        std::vector<uint8_t> out;
        while (! m_bStop)
        {
            // Wakes for the next byte due on the wire, at least every 20 ms to see the stop.
            const auto now = OverrunBuffer::Clock::now();
            const auto next = m_Buffer.NextLeaves();
            int timeoutMs = 20;
            if (next != OverrunBuffer::Clock::time_point::max())
                timeoutMs = (int) std::clamp<long long> (std::chrono::duration_cast<std::chrono::milliseconds> (next - now).count(), 0, 20);
            pollfd p { m_nRawFd, POLLIN, 0 };
            ssize_t n = 0;
            if (::poll (&p, 1, timeoutMs) > 0)
            {
                if ((p.revents & POLLIN) == 0)
                    break;   // the device is gone
                n = ::read (m_nRawFd, in, sizeof (in));
                if (n < 0 && errno != EINTR && errno != EAGAIN)
                    break;
            }
            out.clear();
            m_Buffer.Advance (OverrunBuffer::Clock::now(), in, n > 0 ? (size_t) n : 0, out);
            m_nLost = m_Buffer.Lost();
            if (! out.empty() && ! WriteWhole (m_Pipe[1], out.data(), out.size()))
                break;
        }
    }

    const int m_nRawFd;
    std::function<void()> m_RawClose;
    OverrunBuffer m_Buffer;   // the stage's thread only
    int m_Pipe[2] { -1, -1 };
    std::atomic<bool> m_bStop { false };
    std::atomic<uint64_t> m_nLost { 0 };
    std::thread m_Thread;
};

GadgetBridge::GadgetBridge (VirtualMidiBus& bus, int writeBoundMs, size_t lossyBuffer)
    : m_Bus (bus), m_nWriteBoundMs (writeBoundMs), m_nLossyBuffer (lossyBuffer)
{
}

GadgetBridge::~GadgetBridge()
{
    Close();
}

bool GadgetBridge::Open (const std::string& devicePort)
{
    Close();
    std::string inputName, outputName;
    for (const auto& port : ListAlsaRawMidiPorts())
        if (port.identifier == devicePort)
        {
            inputName = port.inputName;
            outputName = port.outputName;
        }
    const auto busPorts = m_Bus.listPorts();
    if (inputName.empty() || outputName.empty() || busPorts.inputs.empty() || busPorts.outputs.empty())
        return false;

    auto out = OpenAlsaRawMidi (devicePort, outputName, false);
    if (out.fd < 0)
        return false;
    {
        const std::lock_guard<std::mutex> l (m_OutLock);
        m_nRawOutFd = out.fd;
        m_RawOutClose = out.close;
    }
    m_pBusOut = m_Bus.openOutput (busPorts.outputs.front());
    m_pBusIn = m_Bus.openInput (busPorts.inputs.front(), this);
    auto in = OpenAlsaRawMidi (devicePort, inputName, true);
    if (in.fd >= 0 && m_nLossyBuffer > 0)
    {
        m_pLossy = std::make_unique<OverrunStage> (in.fd, in.close, m_nLossyBuffer);
        const int fd = m_pLossy->ReadFd();
        if (fd >= 0)
            m_pRawIn = std::make_unique<FdMidiInPort> (fd, this, [fd] { ::close (fd); });
    }
    else if (in.fd >= 0)
    {
        m_pRawIn = std::make_unique<FdMidiInPort> (in.fd, this, in.close);
    }
    if (m_pBusOut == nullptr || m_pBusIn == nullptr || m_pRawIn == nullptr)
    {
        Close();
        return false;
    }
    m_pBusIn->start();
    m_pRawIn->start();
    return true;
}

void GadgetBridge::Close()
{
    // Both inputs stop before anything goes: no callback runs past this point.
    if (m_pRawIn != nullptr)
        m_pRawIn->stop();
    if (m_pBusIn != nullptr)
        m_pBusIn->stop();
    // The stage ends before the input that reads its pipe is closed: it never writes into a closed pipe.
    if (m_pLossy != nullptr)
    {
        m_pLossy->Stop();
        m_nLost += m_pLossy->Lost();
        m_pLossy.reset();
    }
    m_pRawIn.reset();
    m_pBusIn.reset();
    m_pBusOut.reset();
    const std::lock_guard<std::mutex> l (m_OutLock);
    if (m_RawOutClose)
        m_RawOutClose();
    m_RawOutClose = nullptr;
    m_nRawOutFd = -1;
}

void GadgetBridge::handleDroppedSysEx (MidiInPort* source, bool)
{
    if (source == m_pRawIn.get())
        ++m_nBadSysEx;
}

void GadgetBridge::handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage& message)
{
    if (source == m_pRawIn.get())
    {
        m_pBusOut->sendMessageNow (message);
        return;
    }
    const std::lock_guard<std::mutex> l (m_OutLock);
    if (m_nRawOutFd >= 0
        && ! WriteWhole (m_nRawOutFd, message.getRawData(), (size_t) message.getRawDataSize(), m_nWriteBoundMs))
        ++m_nDropped;
}
