#include "link/rawmidi/RawMidiPortSource.h"
#include <set>
#include "link/JuceMidiPorts.h"
#include "link/QueuedOutPort.h"
#include "link/rawmidi/AlsaRawMidi.h"
#include "link/rawmidi/FdMidiPorts.h"

namespace
{
    const char* const kRawBackend = "rawmidi";

    class RawMidiPortSource : public MidiPortSource
    {
    public:
        /** What alsa-lib reported since the last call (the sequencer it could not reach);
            the JUCE source routes alsa-lib's errors for both. */
        juce::String takeNotice() override { return m_pSequencer->takeNotice(); }

        MidiPortList listPorts() override
        {
            MidiPortList list;
            std::set<int> rawCards;
            for (auto& p : ListAlsaRawMidiPorts())
            {
                const MidiPortInfo info { juce::String::fromUTF8 (p.name.c_str()),
                                          juce::String::fromUTF8 (p.identifier.c_str()), kRawBackend };
                if (p.input)
                    list.inputs.push_back (info);
                if (p.output)
                    list.outputs.push_back (info);
                rawCards.insert (p.card);
            }

            // Without a sequencer there are no other programs' ports (and JUCE would find none).
            std::vector<std::pair<int, int>> hardware;
            if (! ListHardwareSequencerClients (hardware))
                return list;
            std::set<juce::String> listedRaw;   // sequencer clients whose card's ports are listed above
            for (auto& [client, card] : hardware)
                if (rawCards.count (card) != 0)
                    listedRaw.insert (juce::String (client));
            const auto sequencer = m_pSequencer->listPorts();
            for (auto* side : { &sequencer.inputs, &sequencer.outputs })
                for (auto& p : *side)
                    if (listedRaw.count (p.identifier.upToFirstOccurrenceOf ("-", false, false)) == 0)
                        (side == &sequencer.inputs ? list.inputs : list.outputs).push_back (p);
            return list;
        }

        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override
        {
            if (port.backend != kRawBackend)
                return m_pSequencer->openInput (port, handler);
            auto opened = OpenAlsaRawMidi (port.identifier.toStdString(), port.name.toStdString(), true);
            if (opened.fd < 0)
                return nullptr;
            return std::make_unique<FdMidiInPort> (opened.fd, handler, std::move (opened.close));
        }

        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override
        {
            if (port.backend != kRawBackend)
                return m_pSequencer->openOutput (port);
            auto opened = OpenAlsaRawMidi (port.identifier.toStdString(), port.name.toStdString(), false);
            if (opened.fd < 0)
                return nullptr;
            return WithWriterThread (std::make_unique<FdMidiOutPort> (opened.fd, std::move (opened.close)));
        }

    private:
        std::shared_ptr<MidiPortSource> m_pSequencer = MakeJuceMidiPortSource();   // the other programs' ports
    };
}

std::shared_ptr<MidiPortSource> MakeRawMidiPortSource()
{
    return std::make_shared<RawMidiPortSource>();
}
