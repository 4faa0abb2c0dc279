#include "cli/PortFilter.h"

PortFilter::PortFilter (std::shared_ptr<MidiPortSource> inner, juce::String text)
    : m_pInner (std::move (inner)), m_strText (std::move (text))
{
}

juce::StringArray PortFilter::Keep (const juce::StringArray& names, std::vector<int>& innerIndices) const
{
    juce::StringArray kept;
    innerIndices.clear();
    for (int i = 0; i < names.size(); ++i)
        if (names[i].containsIgnoreCase (m_strText))
        {
            kept.add (names[i]);
            innerIndices.push_back (i);
        }
    return kept;
}

int PortFilter::InnerIndex (const std::vector<int>& innerIndices, int index)
{
    return juce::isPositiveAndBelow (index, (int) innerIndices.size()) ? innerIndices[(size_t) index] : -1;
}

juce::StringArray PortFilter::getInputNames()
{
    const auto names = m_pInner->getInputNames();
    const std::lock_guard<std::mutex> l (m_Lock);
    return Keep (names, m_Inputs);
}

juce::StringArray PortFilter::getOutputNames()
{
    const auto names = m_pInner->getOutputNames();
    const std::lock_guard<std::mutex> l (m_Lock);
    return Keep (names, m_Outputs);
}

std::unique_ptr<MidiInPort> PortFilter::openInput (int index, MidiInHandler* handler)
{
    int inner;
    {
        const std::lock_guard<std::mutex> l (m_Lock);
        inner = InnerIndex (m_Inputs, index);
    }
    return inner < 0 ? nullptr : m_pInner->openInput (inner, handler);
}

std::unique_ptr<MidiOutPort> PortFilter::openOutput (int index)
{
    int inner;
    {
        const std::lock_guard<std::mutex> l (m_Lock);
        inner = InnerIndex (m_Outputs, index);
    }
    return inner < 0 ? nullptr : m_pInner->openOutput (inner);
}
