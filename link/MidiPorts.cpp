#include "link/MidiPorts.h"
#include "link/JuceMidiPorts.h"
#include <mutex>

namespace
{
    std::mutex sourceLock;
    std::shared_ptr<MidiPortSource> chosenSource;
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
        chosenSource = MakeJuceMidiPortSource();
    return *chosenSource;
}
