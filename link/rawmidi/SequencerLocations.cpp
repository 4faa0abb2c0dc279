#include "link/rawmidi/SequencerLocations.h"
#include <map>
#include "link/rawmidi/AlsaRawMidi.h"
#include "link/rawmidi/CardLocation.h"

namespace
{
    class LocatedSequencer : public MidiPortSource
    {
    public:
        explicit LocatedSequencer (std::shared_ptr<MidiPortSource> inner) : m_pInner (std::move (inner)) {}

        MidiPortList listPorts() override
        {
            auto list = m_pInner->listPorts();
            std::vector<std::pair<int, int>> clients;
            if (ListHardwareSequencerClients (clients))
                LocateCardClientPorts (list, clients, CardLocation);
            return list;
        }

        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override
        {
            return m_pInner->openInput (port, handler);
        }

        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override { return m_pInner->openOutput (port); }
        juce::String takeNotice() override { return m_pInner->takeNotice(); }
        juce::String describeRoute (const MidiPortInfo& port, bool input) override { return m_pInner->describeRoute (port, input); }

    private:
        std::shared_ptr<MidiPortSource> m_pInner;
    };
}

void LocateCardClientPorts (MidiPortList& list, const std::vector<std::pair<int, int>>& clientAndCard,
                            const std::function<std::string (int card)>& cardLocation)
{
    std::map<juce::String, juce::String> locations;   // client -> its card's location
    for (auto& [client, card] : clientAndCard)
    {
        const auto location = cardLocation (card);
        if (! location.empty())
            locations[juce::String (client)] = juce::String::fromUTF8 (location.c_str());
    }
    for (auto* side : { &list.inputs, &list.outputs })
        for (auto& p : *side)
        {
            const auto it = locations.find (p.identifier.upToFirstOccurrenceOf ("-", false, false));
            if (it != locations.end() && p.identifier.contains ("-"))
                p.location = it->second + ",seq:" + p.identifier.fromFirstOccurrenceOf ("-", false, false);
        }
}

std::shared_ptr<MidiPortSource> WithCardLocations (std::shared_ptr<MidiPortSource> sequencer)
{
    return std::make_shared<LocatedSequencer> (std::move (sequencer));
}
