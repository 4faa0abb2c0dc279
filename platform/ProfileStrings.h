#pragma once
// Settings files of the usual "[section]" / "key=value" form. Section and key
// names compare case-insensitively; a missing file, section or key gives the
// default; a write keeps every other section, key and line as it was.
#include <juce_core/juce_core.h>

/** Reads one value; returns the default when the file, section or key is missing. */
juce::String ReadProfileString (const juce::String& section, const juce::String& key,
                                const juce::String& defaultValue, const juce::String& file);

/** Writes one value, creating the file (not its folder) and the section if needed.
    Returns false when the file cannot be written; the old file is then unchanged. */
bool WriteProfileString (const juce::String& section, const juce::String& key,
                         const juce::String& value, const juce::String& file);
