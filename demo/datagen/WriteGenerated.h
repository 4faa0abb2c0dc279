#pragma once
// Writing one generated file of the build-machine tools (MakeDemoData, MakeIcons).
#include <iostream>
#include <juce_core/juce_core.h>

/** Writes `data` to `file`, making its folder; on failure says so on stderr,
    naming `tool`, and returns false (so does empty data: nothing was generated). */
inline bool WriteGenerated (const char* tool, const juce::File& file, const juce::MemoryBlock& data)
{
    if (data.isEmpty() || ! file.getParentDirectory().createDirectory() || ! file.replaceWithData (data.getData(), data.getSize()))
    {
        std::cerr << tool << ": cannot write " << file.getFullPathName() << "\n";
        return false;
    }
    return true;
}
