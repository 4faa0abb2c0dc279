#include "link/MidiPorts.h"
#include "link/JuceMidiPorts.h"
#include <mutex>
#if defined(KESTRAVA_RAWMIDI)
 #include "link/rawmidi/RawMidiPortSource.h"
 #include "link/rawmidi/SequencerLocations.h"
#endif
#if defined(_WIN32)
 #include "link/winmm/WinMmSource.h"
#endif

namespace
{
    std::mutex sourceLock;
    std::shared_ptr<MidiPortSource> chosenSource;
}

namespace
{
    bool BeginsWithSkippedName (const juce::String& name)
    {
        static const juce::String skipped ("Creative Sound Blaster");
        return name.substring (0, skipped.length()).equalsIgnoreCase (skipped);
    }
}

bool IsSkippedSoundCardPort (const MidiPortInfo& port)
{
    if (BeginsWithSkippedName (port.name))
        return true;
    const int colon = port.name.indexOf (": ");
    return port.backend == "rawmidi" && colon >= 0 && BeginsWithSkippedName (port.name.substring (colon + 2));
}

juce::StringArray NamesOf (const std::vector<MidiPortInfo>& ports)
{
    juce::StringArray names;
    for (auto& p : ports)
        names.add (p.name);
    return names;
}

std::shared_ptr<MidiPortSource> MakeSystemMidiPortSource (bool withOtherPrograms)
{
#if defined(KESTRAVA_RAWMIDI)
    if (! juce::SystemStats::getEnvironmentVariable ("KESTRAVA_MIDI_BACKEND", {}).equalsIgnoreCase ("sequencer"))
        return MakeRawMidiPortSource (withOtherPrograms);
    // A card's ports are known again when it comes back under another number.
    return WithCardLocations (MakeJuceMidiPortSource());
#elif defined(_WIN32)
    juce::ignoreUnused (withOtherPrograms);
    return MakeWinMmPortSource();
#else
    juce::ignoreUnused (withOtherPrograms);
    return MakeJuceMidiPortSource();
#endif
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
        chosenSource = MakeSystemMidiPortSource (false);
    return *chosenSource;
}
