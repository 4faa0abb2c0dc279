#include "link/winmm/WinMmNames.h"

std::vector<MidiPortInfo> ListWinMmPorts (const std::vector<WinMmDevice>& devices)
{
    juce::StringArray names, identifiers;
    for (auto& d : devices)
    {
        names.add (d.name);
        identifiers.add (d.interfacePath.isNotEmpty() ? d.interfacePath : d.name);
    }
    names.appendNumbersToDuplicates (false, false, juce::CharPointer_UTF8 ("-"), juce::CharPointer_UTF8 (""));
    identifiers.appendNumbersToDuplicates (false, false, juce::CharPointer_UTF8 ("-"), juce::CharPointer_UTF8 (""));

    std::vector<MidiPortInfo> ports;
    for (int i = 0; i < names.size(); ++i)
        ports.push_back ({ names[i], identifiers[i], "winmm" });
    return ports;
}

int FindWinMmPort (const std::vector<MidiPortInfo>& now, const MidiPortInfo& port)
{
    for (size_t i = 0; i < now.size(); ++i)
        if (now[i].identifier == port.identifier)
            return now[i].name == port.name ? (int) i : -1;
    return -1;
}
