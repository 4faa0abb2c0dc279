#include "cli/PortWatch.h"
#include <algorithm>

namespace
{
    bool HasHead (const juce::MidiMessage& m, std::initializer_list<uint8_t> head)
    {
        if (! m.isSysEx() || m.getSysExDataSize() < (int) head.size())
            return false;
        return std::equal (head.begin(), head.end(), m.getSysExData());
    }

    int64_t NowMs() { return (int64_t) juce::Time::getMillisecondCounterHiRes(); }
}

/** Hands an input's messages to the watch, then to the link. */
class PortWatch::Relay : public MidiInHandler
{
public:
    Relay (PortWatch& w, juce::String n, MidiInHandler* h) : watch (w), name (std::move (n)), handler (h) {}
    void handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage& message) override
    {
        watch.NoteIncoming (name, message);
        handler->handleIncomingMidiMessage (source, message);
    }
    void handleDroppedSysEx (MidiInPort* source, bool oversized) override
    {
        handler->handleDroppedSysEx (source, oversized);
    }

private:
    PortWatch& watch;
    const juce::String name;
    MidiInHandler* const handler;
};

/** An output whose probes the watch notes. */
class PortWatch::WatchedOutput : public MidiOutPort
{
public:
    WatchedOutput (PortWatch& w, std::unique_ptr<MidiOutPort> p) : watch (w), port (std::move (p)) {}
    void sendMessageNow (const juce::MidiMessage& message) override
    {
        watch.NoteProbe (message);
        port->sendMessageNow (message);
    }
    void reset() override { port->reset(); }
    bool hasFailed() const override { return port->hasFailed(); }
    void setObserver (std::shared_ptr<MidiOutObserver> observer) override { port->setObserver (std::move (observer)); }

private:
    PortWatch& watch;
    std::unique_ptr<MidiOutPort> port;
};

PortWatch::PortWatch (std::shared_ptr<MidiPortSource> inner) : m_pInner (std::move (inner)) {}
PortWatch::~PortWatch() = default;

PortWatch::Port& PortWatch::Entry (const juce::String& name)
{
    for (auto& p : m_Ports)
        if (p.name == name)
            return p;
    m_Ports.push_back ({});
    m_Ports.back().name = name;
    return m_Ports.back();
}

void PortWatch::Listed (const std::vector<MidiPortInfo>& ports, bool inputs)
{
    for (auto& p : ports)
    {
        auto& entry = Entry (p.name);
        if (entry.identifier.isEmpty() || inputs)
            entry.identifier = p.identifier;
        entry.backend = p.backend;
        (inputs ? entry.input : entry.output) = true;
    }
}

MidiPortList PortWatch::listPorts()
{
    auto ports = m_pInner->listPorts();
    const std::lock_guard<std::mutex> l (m_Lock);
    Listed (ports.inputs, true);
    Listed (ports.outputs, false);
    m_OutputNames = NamesOf (ports.outputs);
    return ports;
}

std::unique_ptr<MidiInPort> PortWatch::openInput (const MidiPortInfo& info, MidiInHandler* handler)
{
    Relay* relay;
    {
        const std::lock_guard<std::mutex> l (m_Lock);
        m_Relays.push_back (std::make_unique<Relay> (*this, info.name, handler));
        relay = m_Relays.back().get();
    }
    auto port = m_pInner->openInput (info, relay);
    Opened (info, true, port != nullptr);
    return port;
}

void PortWatch::Opened (const MidiPortInfo& info, bool input, bool opened)
{
    const auto route = m_pInner->describeRoute (info, input);
    const std::lock_guard<std::mutex> l (m_Lock);
    auto& entry = Entry (info.name);
    entry.opened = entry.opened || opened;
    if (route.isNotEmpty())
        entry.route = (input ? "input " : "output ") + route;
}

std::unique_ptr<MidiOutPort> PortWatch::openOutput (const MidiPortInfo& info)
{
    auto port = m_pInner->openOutput (info);
    Opened (info, false, port != nullptr);
    if (port == nullptr)
        return nullptr;
    return std::make_unique<WatchedOutput> (*this, std::move (port));
}

void PortWatch::NoteIncoming (const juce::String& inputName, const juce::MidiMessage& message)
{
    const bool loader = HasHead (message, { 0x00, 0x20, 0x54, 0x7D, 0x09 }) && message.getSysExDataSize() >= 6;
    const bool application = HasHead (message, { 0x00, 0x20, 0x54, 0x05, 0x06, 0x00 });
    if (! loader && ! application)
        return;
    const std::lock_guard<std::mutex> l (m_Lock);
    auto& p = Entry (inputName);
    p.answer = loader ? "loader" : "application";
    if (loader)
    {
        const auto* d = message.getSysExData();
        p.fs = message.getSysExDataSize() >= 7 && d[6] == 1;
        // The reply names the output that reached the module.
        if (d[5] < m_OutputNames.size())
        {
            auto& out = Entry (m_OutputNames[d[5]]);
            out.answer = p.answer;
            out.fs = p.fs;
        }
    }
}

void PortWatch::NoteProbe (const juce::MidiMessage& message)
{
    const bool loader = HasHead (message, { 0x00, 0x20, 0x54, 0x7D, 0x08 });
    const bool application = HasHead (message, { 0x00, 0x20, 0x54, 0x05, 0x06 });
    const std::lock_guard<std::mutex> l (m_Lock);
    if (loader && m_nLoaderProbeMs < 0)
        m_nLoaderProbeMs = NowMs();
    if (application && m_nApplicationProbeMs < 0)
        m_nApplicationProbeMs = NowMs();
}

int64_t PortWatch::MsSinceBothProbes() const
{
    const std::lock_guard<std::mutex> l (m_Lock);
    if (m_nLoaderProbeMs < 0 || m_nApplicationProbeMs < 0)
        return -1;
    return NowMs() - std::max (m_nLoaderProbeMs, m_nApplicationProbeMs);
}

std::vector<PortWatch::Port> PortWatch::Ports() const
{
    const std::lock_guard<std::mutex> l (m_Lock);
    return m_Ports;
}
