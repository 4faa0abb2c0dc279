#include "cli/PortFilter.h"

bool PortFilter::Selects (const juce::String& text, const MidiPortInfo& port)
{
    return port.identifier == text || (port.location.isNotEmpty() && port.location == text)
           || port.name.containsIgnoreCase (text);
}

PortFilter::PortFilter (std::shared_ptr<MidiPortSource> inner, juce::StringArray texts)
    : m_pInner (std::move (inner)), m_Texts (std::move (texts))
{
    const auto listing = m_pInner->listPorts();
    for (auto& text : m_Texts)
    {
        juce::StringArray locations;
        for (const auto* side : { &listing.inputs, &listing.outputs })
            for (auto& p : *side)
                if (p.identifier == text)
                    locations.addIfNotAlreadyThere (p.location);
        if (locations.size() == 1 && locations[0].isNotEmpty())
            text = locations[0];
    }
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
