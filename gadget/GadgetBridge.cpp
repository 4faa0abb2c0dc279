#include "gadget/GadgetBridge.h"
#include <fcntl.h>
#include "link/rawmidi/AlsaRawMidi.h"
#include "link/rawmidi/FdMidiPorts.h"
#include "sim/VirtualMidiBus.h"

GadgetBridge::GadgetBridge (VirtualMidiBus& bus, int writeBoundMs)
    : m_Bus (bus), m_nWriteBoundMs (writeBoundMs)
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
    // Non-blocking again, so that a write waits no longer than its bound.
    ::fcntl (out.fd, F_SETFL, ::fcntl (out.fd, F_GETFL) | O_NONBLOCK);
    {
        const std::lock_guard<std::mutex> l (m_OutLock);
        m_nRawOutFd = out.fd;
        m_RawOutClose = out.close;
    }
    m_pBusOut = m_Bus.openOutput (busPorts.outputs.front());
    m_pBusIn = m_Bus.openInput (busPorts.inputs.front(), this);
    auto in = OpenAlsaRawMidi (devicePort, inputName, true);
    if (in.fd >= 0)
        m_pRawIn = std::make_unique<FdMidiInPort> (in.fd, this, in.close);
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
