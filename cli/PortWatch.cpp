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
    Relay (PortWatch& w, MidiPortInfo p, MidiInHandler* h) : watch (w), port (std::move (p)), handler (h) {}
    void handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage& message) override
    {
        watch.NoteIncoming (port, message);
        handler->handleIncomingMidiMessage (source, message);
    }
    void handleDroppedSysEx (MidiInPort* source, bool oversized) override
    {
        handler->handleDroppedSysEx (source, oversized);
    }

private:
    PortWatch& watch;
    const MidiPortInfo port;
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

PortWatch::Port& PortWatch::Entry (const MidiPortInfo& port)
{
    // Identical cards have identical names: their identifiers tell them apart.
    for (auto& p : m_Ports)
        if (p.name == port.name && p.identifier == port.identifier)
            return p;
    m_Ports.push_back ({});
    m_Ports.back().name = port.name;
    m_Ports.back().identifier = port.identifier;
    m_Ports.back().location = port.location;
    m_Ports.back().backend = port.backend;
    return m_Ports.back();
}

void PortWatch::Listed (const std::vector<MidiPortInfo>& ports, bool inputs)
{
    for (auto& p : ports)
        (inputs ? Entry (p).input : Entry (p).output) = true;
}

MidiPortList PortWatch::listPorts()
{
    auto ports = m_pInner->listPorts();
    const std::lock_guard<std::mutex> l (m_Lock);
    Listed (ports.inputs, true);
    Listed (ports.outputs, false);
    m_Listing = ports;
    return ports;
}

std::unique_ptr<MidiInPort> PortWatch::openInput (const MidiPortInfo& info, MidiInHandler* handler)
{
    Relay* relay;
    {
        const std::lock_guard<std::mutex> l (m_Lock);
        m_Relays.push_back (std::make_unique<Relay> (*this, info, handler));
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
    auto& entry = Entry (info);
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

void PortWatch::NoteIncoming (const MidiPortInfo& input, const juce::MidiMessage& message)
{
    const bool loader = HasHead (message, { 0x00, 0x20, 0x54, 0x7D, 0x09 }) && message.getSysExDataSize() >= 6;
    const bool application = HasHead (message, { 0x00, 0x20, 0x54, 0x05, 0x06, 0x00 });
    if (! loader && ! application)
        return;
    const std::lock_guard<std::mutex> l (m_Lock);
    auto& p = Entry (input);
    p.answer = loader ? "loader" : "application";
    Answer answer { input, {}, p.answer };
    if (loader)
    {
        const auto* d = message.getSysExData();
        p.fs = message.getSysExDataSize() >= 7 && d[6] == 1;
        // The reply names the output that reached the module.
        if (d[5] < m_Listing.outputs.size())
        {
            answer.output = m_Listing.outputs[d[5]];
            auto& out = Entry (answer.output);
            out.answer = p.answer;
            out.fs = p.fs;
        }
    }
    const auto same = [&answer] (const Answer& a)
    {
        return a.mode == answer.mode && a.input.identifier == answer.input.identifier && a.input.name == answer.input.name
               && a.output.identifier == answer.output.identifier && a.output.name == answer.output.name;
    };
    if (std::none_of (m_Answers.begin(), m_Answers.end(), same))
        m_Answers.push_back (answer);
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

std::vector<PortWatch::Answer> PortWatch::Answers() const
{
    const std::lock_guard<std::mutex> l (m_Lock);
    return m_Answers;
}

MidiPortList PortWatch::Listing() const
{
    const std::lock_guard<std::mutex> l (m_Lock);
    return m_Listing;
}
