#include "link/MidiPorts.h"
#include "link/JuceMidiPorts.h"
#include <mutex>
#if defined(KESTRAVA_RAWMIDI)
 #include "link/rawmidi/RawMidiPortSource.h"
#endif

namespace
{
    std::mutex sourceLock;
    std::shared_ptr<MidiPortSource> chosenSource;
}

juce::StringArray NamesOf (const std::vector<MidiPortInfo>& ports)
{
    juce::StringArray names;
    for (auto& p : ports)
        names.add (p.name);
    return names;
}

std::shared_ptr<MidiPortSource> MakeSystemMidiPortSource()
{
#if defined(KESTRAVA_RAWMIDI)
    if (! juce::SystemStats::getEnvironmentVariable ("KESTRAVA_MIDI_BACKEND", {}).equalsIgnoreCase ("sequencer"))
        return MakeRawMidiPortSource();
#endif
    return MakeJuceMidiPortSource();
}

void SetMidiPortSource (std::shared_ptr<MidiPortSource> source)
{
    std::lock_guard<std::mutex> l (sourceLock);
    chosenSource = std::move (source);
}

MidiPortSource& GetMidiPortSource()
{
    std::lock_guard<std::mutex> l (sourceLock);
    if (chosenSource == nullptr)
        chosenSource = MakeSystemMidiPortSource();
    return *chosenSource;
}
