#include "platform/ProgramFolder.h"

#include <mutex>

namespace
{
    std::mutex g_programFolderLock;
    juce::String g_programFolderOverride;

    juce::String WithTrailingSeparator (const juce::File& folder)
    {
        auto path = folder.getFullPathName();
        if (! path.endsWithChar (juce::File::getSeparatorChar()))
            path << juce::File::getSeparatorString();
        return path;
    }
}

juce::String GetProgramFolderPath()
{
    {
        const std::lock_guard<std::mutex> lock (g_programFolderLock);
        if (g_programFolderOverride.isNotEmpty())
            return g_programFolderOverride;
    }

    const auto exe = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
    return WithTrailingSeparator (exe.getParentDirectory());
}

void SetDataFolder (const juce::File& folder)
{
    const std::lock_guard<std::mutex> lock (g_programFolderLock);
    g_programFolderOverride = folder == juce::File() ? juce::String() : WithTrailingSeparator (folder);
}

void SetProgramFolderForTests (const juce::File& folder)
{
    SetDataFolder (folder);
}
