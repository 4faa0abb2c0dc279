#include "link/winmm/WinMmNames.h"

namespace
{
    const auto kDuplicateMark = juce::CharPointer_UTF8 ("-");

    /** The text without the number a listing adds to a duplicate ("Name-2": "Name"). */
    juce::String WithoutDuplicateNumber (const juce::String& text)
    {
        const int mark = text.lastIndexOf (kDuplicateMark);
        const auto number = text.substring (mark + 1);
        if (mark <= 0 || number.isEmpty() || ! number.containsOnly ("0123456789"))
            return text;
        return text.substring (0, mark);
    }

    bool SameOrDuplicate (const juce::String& listed, const juce::String& told)
    {
        return listed == told || WithoutDuplicateNumber (listed) == told;
    }
}

std::vector<MidiPortInfo> ListWinMmPorts (const std::vector<WinMmDevice>& devices)
{
    juce::StringArray names, identifiers;
    for (auto& d : devices)
    {
        names.add (d.name);
        identifiers.add (d.interfacePath.isNotEmpty() ? d.interfacePath : d.name);
    }
    names.appendNumbersToDuplicates (false, false, kDuplicateMark, juce::CharPointer_UTF8 (""));
    identifiers.appendNumbersToDuplicates (false, false, kDuplicateMark, juce::CharPointer_UTF8 (""));

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

bool IsListedWinMmDevice (const MidiPortInfo& listed, const WinMmDevice& opened)
{
    if (opened.name.isEmpty() && opened.interfacePath.isEmpty())
        return true;
    const bool listedByPath = WithoutDuplicateNumber (listed.identifier) != WithoutDuplicateNumber (listed.name);
    if (listedByPath && opened.interfacePath.isNotEmpty())
        return SameOrDuplicate (listed.identifier, opened.interfacePath);
    return SameOrDuplicate (listed.name, opened.name);
}

std::vector<WinMmDevice> DescribeWinMmWithin (unsigned count, const char* direction,
                                             const std::function<WinMmDevice (unsigned)>& describe,
                                             std::chrono::milliseconds bound)
{
    std::vector<WinMmDevice> devices;
    for (unsigned i = 0; i < count; ++i)
    {
        const auto key = std::string ("winmm ") + direction + " " + std::to_string (i);
        const bool hungBefore = DeviceHung (key);
        const auto told = CallWithinFor<WinMmDevice> (key, bound, [describe, i] { return describe (i); });
        if (! told && ! hungBefore)
            AddDriverNotice ("MIDI " + juce::String (direction) + "put device " + juce::String (i)
                             + ": its driver did not tell its name in time; it is left out until it does.");
        devices.push_back (told.value_or (WinMmDevice {}));
    }
    return devices;
}
