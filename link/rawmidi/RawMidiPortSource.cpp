#include "link/rawmidi/RawMidiPortSource.h"
#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include "link/JuceMidiPorts.h"
#include "link/QueuedOutPort.h"
#include "link/rawmidi/FdMidiPorts.h"
#include "link/rawmidi/RawMidiProc.h"
#include "link/rawmidi/SeqMidiOut.h"

namespace
{
    const char* const kRawBackend = "rawmidi";

    class RawMidiPortSource : public MidiPortSource
    {
    public:
        explicit RawMidiPortSource (bool withOthers) : m_bWithOthers (withOthers) {}

        /** What alsa-lib reported since the last call (the JUCE source routes
            alsa-lib's errors for both), then the busy ports not yet told of. */
        juce::String takeNotice() override
        {
            auto notice = m_pSequencer->takeNotice();
            const std::lock_guard<std::mutex> l (m_Lock);
            notice += m_strPending;
            m_strPending.clear();
            return notice;
        }

        MidiPortList listPorts() override
        {
            const auto raw = ListAlsaRawMidiPorts();
            std::vector<std::pair<int, int>> cardClients;
            // Without a sequencer there are no other programs' ports (and JUCE would find none).
            if (! m_bWithOthers || ! ListHardwareSequencerClients (cardClients))
                return ComposeLinuxPorts (raw, {}, {}, false);
            return ComposeLinuxPorts (raw, cardClients, m_pSequencer->listPorts(), true);
        }

        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override
        {
            if (port.backend != kRawBackend)
                return m_pSequencer->openInput (port, handler);
            auto opened = OpenAlsaRawMidi (port.identifier.toStdString(), port.name.toStdString(), true);
            if (opened.fd >= 0)
            {
                NoteRoute (port, true, {});
                return std::make_unique<FdMidiInPort> (opened.fd, handler, std::move (opened.close));
            }
            if (opened.error != -EBUSY)
                return nullptr;

            // Some program holds the raw input: the card's sequencer port shares it.
            const auto route = SequencerRoute (port);
            std::unique_ptr<MidiInPort> in;
            if (! route.empty() && SequencerPortReadable (route))
                for (auto& p : m_pSequencer->listPorts().inputs)
                    if (p.identifier == juce::String (route))
                        in = m_pSequencer->openInput (p, handler);
            NoteBusy (port, true, in != nullptr ? route : std::string());
            return in;
        }

        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override
        {
            if (port.backend != kRawBackend)
                return m_pSequencer->openOutput (port);
            auto opened = OpenAlsaRawMidi (port.identifier.toStdString(), port.name.toStdString(), false);
            if (opened.fd >= 0)
            {
                NoteRoute (port, false, {});
                return WithWriterThread (std::make_unique<FdMidiOutPort> (opened.fd, std::move (opened.close)));
            }
            if (opened.error == -EINPROGRESS)
                Tell ("MIDI: the output of " + port.name + " (" + port.identifier + ") is still being closed; "
                      "it is left out until that has ended\n");
            if (opened.error != -EBUSY)
                return nullptr;

            // Some program holds the raw output: the card's sequencer port
            // shares it, and its SysEx goes out paced.
            const auto route = SequencerRoute (port);
            auto out = route.empty() ? nullptr : OpenSequencerOutput (route, {});
            NoteBusy (port, false, out != nullptr ? route : std::string());
            return WithWriterThread (std::move (out));
        }

        juce::String describeRoute (const MidiPortInfo& port, bool input) override
        {
            const std::lock_guard<std::mutex> l (m_Lock);
            const auto it = m_Routes.find (Key (port, input));
            return it != m_Routes.end() ? it->second : juce::String();
        }

    private:
        static std::string Key (const MidiPortInfo& port, bool input)
        {
            return (input ? "in " : "out ") + port.identifier.toStdString();
        }

        static std::string SequencerRoute (const MidiPortInfo& port)
        {
            int card, device, subdevice;
            if (! ParseRawIdentifier (port.identifier.toStdString(), card, device, subdevice))
                return {};
            return CardSequencerPort (card, device, subdevice);
        }

        void NoteRoute (const MidiPortInfo& port, bool input, const juce::String& route)
        {
            const std::lock_guard<std::mutex> l (m_Lock);
            if (route.isEmpty())
                m_Routes.erase (Key (port, input));
            else
                m_Routes[Key (port, input)] = route;
        }

        /** Says once which program holds a direction, and how it is reached now. */
        void NoteBusy (const MidiPortInfo& port, bool input, const std::string& route)
        {
            int card = -1, device = -1, subdevice = -1;
            ParseRawIdentifier (port.identifier.toStdString(), card, device, subdevice);
            const auto sub = ParseRawMidiProc (ReadRawMidiProc (card, device), ! input, subdevice);
            const auto holder = sub.has_value() ? DescribeHolder (*sub, ProcessName (sub->ownerPid)) : std::string();
            const juce::String held = holder.empty() ? juce::String ("held by another program")
                                                     : "held by " + juce::String::fromUTF8 (holder.c_str());
            const juce::String via = route.empty() ? juce::String ("not reachable")
                                                   : "reached through sequencer port " + juce::String (route).replaceCharacter ('-', ':');
            NoteRoute (port, input, held + ", " + via);

            Tell ("MIDI: the " + juce::String (input ? "input" : "output") + " of " + port.name + " ("
                  + port.identifier + ") is busy, " + held + "; " + via + "\n");
        }

        /** A line for the log, handed out once. */
        void Tell (const juce::String& line)
        {
            const std::lock_guard<std::mutex> l (m_Lock);
            if (m_Told.insert (line.toStdString()).second)
                m_strPending += line;
        }

        const bool m_bWithOthers;
        std::shared_ptr<MidiPortSource> m_pSequencer = MakeJuceMidiPortSource();   // the sequencer's ports
        std::mutex m_Lock;                             // guards what follows (ports open on the message thread, notes are read by any)
        std::map<std::string, juce::String> m_Routes;  // direction and identifier -> how it is reached when busy
        std::set<std::string> m_Told;                  // lines already handed out: each is said once
        juce::String m_strPending;                     // lines not yet handed out
    };
}

MidiPortList ComposeLinuxPorts (const std::vector<AlsaRawMidiPort>& raw, const std::vector<std::pair<int, int>>& cardClients,
                                const MidiPortList& sequencer, bool withOtherPrograms)
{
    MidiPortList list;
    std::set<int> rawCards;
    for (auto& p : raw)
    {
        const auto id = juce::String::fromUTF8 (p.identifier.c_str());
        const auto location = juce::String::fromUTF8 (p.location.c_str());
        if (! p.inputName.empty())
            list.inputs.push_back ({ juce::String::fromUTF8 (p.inputName.c_str()), id, kRawBackend, location });
        if (! p.outputName.empty())
            list.outputs.push_back ({ juce::String::fromUTF8 (p.outputName.c_str()), id, kRawBackend, location });
        rawCards.insert (p.card);
    }
    if (! withOtherPrograms)
        return list;

    std::set<juce::String> listedRaw;   // sequencer clients whose card's ports are listed above
    for (auto& [client, card] : cardClients)
        if (rawCards.count (card) != 0)
            listedRaw.insert (juce::String (client));
    for (auto* side : { &sequencer.inputs, &sequencer.outputs })
        for (auto& p : *side)
            if (listedRaw.count (p.identifier.upToFirstOccurrenceOf ("-", false, false)) == 0)
                (side == &sequencer.inputs ? list.inputs : list.outputs).push_back (p);
    return list;
}

std::shared_ptr<MidiPortSource> MakeRawMidiPortSource (bool withOtherPrograms)
{
    return std::make_shared<RawMidiPortSource> (withOtherPrograms);
}
