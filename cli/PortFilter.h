#pragma once
// A port source that shows only the ports of another whose names contain a
// text, so that one process per module can work beside others.
#include "link/MidiPorts.h"

class PortFilter : public MidiPortSource
{
public:
    /** The ports of `inner` whose names contain `text`, case ignored. */
    PortFilter (std::shared_ptr<MidiPortSource> inner, juce::String text);

    /** The matching ports, in the inner source's order. */
    MidiPortList listPorts() override;
    /** Opens a matching input through the inner source. */
    std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override;
    /** Opens a matching output through the inner source. */
    std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override;
    /** The inner source's notice. */
    juce::String takeNotice() override { return m_pInner->takeNotice(); }
    /** The inner source's route. */
    juce::String describeRoute (const MidiPortInfo& port, bool input) override { return m_pInner->describeRoute (port, input); }

private:
    std::vector<MidiPortInfo> Keep (const std::vector<MidiPortInfo>& ports) const;
    bool Matches (const MidiPortInfo& port) const;

    std::shared_ptr<MidiPortSource> m_pInner;
    juce::String m_strText;
};
