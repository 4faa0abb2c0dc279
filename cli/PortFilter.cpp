#include "cli/PortFilter.h"

bool PortFilter::Selects (const juce::String& text, const MidiPortInfo& port)
{
    return port.identifier == text || port.name.containsIgnoreCase (text);
}

PortFilter::PortFilter (std::shared_ptr<MidiPortSource> inner, juce::StringArray texts)
    : m_pInner (std::move (inner)), m_Texts (std::move (texts))
{
}

bool PortFilter::Matches (const MidiPortInfo& port) const
{
    for (auto& text : m_Texts)
        if (Selects (text, port))
            return true;
    return false;
}

std::vector<MidiPortInfo> PortFilter::Keep (const std::vector<MidiPortInfo>& ports) const
{
    std::vector<MidiPortInfo> kept;
    for (auto& p : ports)
        if (Matches (p))
            kept.push_back (p);
    return kept;
}

MidiPortList PortFilter::listPorts()
{
    const auto all = m_pInner->listPorts();
    return { Keep (all.inputs), Keep (all.outputs) };
}

std::unique_ptr<MidiInPort> PortFilter::openInput (const MidiPortInfo& port, MidiInHandler* handler)
{
    return Matches (port) ? m_pInner->openInput (port, handler) : nullptr;
}

std::unique_ptr<MidiOutPort> PortFilter::openOutput (const MidiPortInfo& port)
{
    return Matches (port) ? m_pInner->openOutput (port) : nullptr;
}
