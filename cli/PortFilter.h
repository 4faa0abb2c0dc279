#pragma once
// A port source that shows only the ports of another whose names contain a
// text, so that one process per module can work beside others.
#include <mutex>
#include <vector>
#include "link/MidiPorts.h"

class PortFilter : public MidiPortSource
{
public:
    /** The ports of `inner` whose names contain `text`, case ignored. */
    PortFilter (std::shared_ptr<MidiPortSource> inner, juce::String text);

    /** Matching input names, in the inner source's order. */
    juce::StringArray getInputNames() override;
    /** Matching output names, in the inner source's order. */
    juce::StringArray getOutputNames() override;
    /** Opens matching input `index` (counted among the matching ones). */
    std::unique_ptr<MidiInPort> openInput (int index, MidiInHandler* handler) override;
    /** Opens matching output `index` (counted among the matching ones). */
    std::unique_ptr<MidiOutPort> openOutput (int index) override;

private:
    juce::StringArray Keep (const juce::StringArray& names, std::vector<int>& innerIndices) const;
    static int InnerIndex (const std::vector<int>& innerIndices, int index);

    std::shared_ptr<MidiPortSource> m_pInner;
    juce::String m_strText;
    std::mutex m_Lock;                 // guards the index maps
    std::vector<int> m_Inputs;         // inner index of each matching input of the last listing
    std::vector<int> m_Outputs;        // the same for the outputs
};
