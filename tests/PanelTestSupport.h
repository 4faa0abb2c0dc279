#pragma once
// Helpers for the panel, runner and range tests: reading what the panel
// logged, writing driver files and settings files, reading settings back.
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>
#include <vector>
#include "tests/PanelHarness.h"

namespace paneltest
{

/** Everything the panel logged so far, once it has reached the pane; the pane is then emptied. */
inline juce::String TakeLog (MainComponent& panel)
{
    static const juce::String marker ("\x01" "end-of-log\x01");
    panel.GetLogger().Write (marker);
    const bool arrived = RunLoopUntil ([&] { return panel.GetLogText().endsWith (marker); });
    auto text = panel.GetLogText();
    if (arrived)
        text = text.dropLastCharacters (marker.length());
    panel.GetLogger().Clear();
    return text;
}

/** A driver file: 16-byte head, the region table (size in KiB, count), a zero
    entry unless `terminated` is false, then the two 16-byte names. */
inline juce::File WriteDriver (const juce::File& file, const std::vector<std::pair<uint16_t, uint16_t>>& regions,
                               bool terminated = true, const char* mcu = "TESTMCU", const char* flash = "TESTFLASH")
{
    juce::MemoryOutputStream out;
    for (int i = 0; i < 16; ++i)
        out.writeByte ((char) 0x5A);
    for (const auto& [kib, count] : regions)
    {
        out.writeShort ((short) kib);      // little-endian
        out.writeShort ((short) count);
    }
    if (terminated)
    {
        out.writeInt (0);
        for (const char* name : { mcu, flash })
            for (int i = 0; i < 16; ++i)
                out.writeByte (i < (int) std::strlen (name) ? name[i] : (char) 0xFF);
    }
    file.replaceWithData (out.getData(), out.getDataSize());
    return file;
}

/** A file of `size` bytes of 0xA5. */
inline juce::File WriteImage (const juce::File& file, int size)
{
    juce::MemoryBlock data ((size_t) size);
    data.fillWith (0xA5);
    file.replaceWithData (data.getData(), data.getSize());
    return file;
}

/** Sections of a settings file: section -> (key -> value), plus the key order per section. */
struct IniContents
{
    std::map<juce::String, std::map<juce::String, juce::String>> values;   ///< section -> key -> value
    std::map<juce::String, juce::StringArray> keyOrder;                    ///< section -> keys in file order
    juce::StringArray sectionOrder;                                        ///< sections in file order

    /** A value, or an empty string. */
    juce::String Get (const juce::String& section, const juce::String& key) const
    {
        auto s = values.find (section);
        if (s == values.end())
            return {};
        auto k = s->second.find (key);
        return k == s->second.end() ? juce::String() : k->second;
    }
};

/** Reads a settings file as plain lines ("[section]" and "key=value"). */
inline IniContents ReadIni (const juce::File& file)
{
    IniContents ini;
    juce::String section;
    juce::StringArray lines;
    lines.addLines (file.loadFileAsString());
    for (auto line : lines)
    {
        line = line.trim();
        if (line.startsWithChar ('['))
        {
            section = line.fromFirstOccurrenceOf ("[", false, false).upToFirstOccurrenceOf ("]", false, false);
            ini.sectionOrder.add (section);
        }
        else if (line.containsChar ('=') && ! line.startsWithChar (';'))
        {
            const auto key = line.upToFirstOccurrenceOf ("=", false, false);
            ini.values[section][key] = line.fromFirstOccurrenceOf ("=", false, false);
            ini.keyOrder[section].add (key);
        }
    }
    return ini;
}

/** The settings file of the harness's data folder. */
inline juce::File ConfigFile (const PanelHarness& h)
{
    return h.folder.getChildFile ("QvDoc").getChildFile ("config.ini");
}

} // namespace paneltest
