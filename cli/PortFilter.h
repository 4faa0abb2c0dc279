#pragma once
// A port source that shows only the ports of another that a --port text
// selects, so that one process per module can work beside others.
#include "link/MidiPorts.h"

class PortFilter : public MidiPortSource
{
public:
    /** Whether `text` selects `port`: it is the port's identifier or location
        (identical cards differ only there), or a part of its name, case ignored. */
    static bool Selects (const juce::String& text, const MidiPortInfo& port);

    /** The ports of `inner` that any of `texts` selects. A text that is the
        identifier of a port listed now stands for that port's location from
        then on: the port is followed when its device enumerates again under
        another identifier, and whatever takes its identifier is not selected. */
    PortFilter (std::shared_ptr<MidiPortSource> inner, juce::StringArray texts);

    /** The selected ports, in the inner source's order. */
    MidiPortList listPorts() override;
    /** Opens a selected input through the inner source. */
    std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override;
    /** Opens a selected output through the inner source. */
    std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override;
    /** The inner source's notice. */
    juce::String takeNotice() override { return m_pInner->takeNotice(); }
    /** The inner source's route. */
    juce::String describeRoute (const MidiPortInfo& port, bool input) override { return m_pInner->describeRoute (port, input); }

private:
    std::vector<MidiPortInfo> Keep (const std::vector<MidiPortInfo>& ports) const;
    bool Matches (const MidiPortInfo& port) const;

    std::shared_ptr<MidiPortSource> m_pInner;
    juce::StringArray m_Texts;
};
