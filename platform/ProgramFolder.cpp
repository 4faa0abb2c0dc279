#include "platform/ProgramFolder.h"

#include <cstdlib>
#include <mutex>
#if JUCE_WINDOWS
 #include <windows.h>
#else
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace
{
    std::mutex g_programFolderLock;
    juce::String g_programFolderOverride;
    juce::File g_scratchFolder;

    juce::String WithTrailingSeparator (const juce::File& folder)
    {
        auto path = folder.getFullPathName();
        if (! path.endsWithChar (juce::File::getSeparatorChar()))
            path << juce::File::getSeparatorString();
        return path;
    }

    juce::File ExecutableFolder()
    {
        return juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory();
    }

    /** A path written with backslashes, in the separators of this system. */
    juce::String Native (const juce::String& relative)
    {
        return relative.replaceCharacter ('\\', juce::File::getSeparatorChar());
    }

    /** The last name of a relative path ("QvDoc\\config.ini" gives "config.ini"). */
    juce::String LastName (const juce::String& relative)
    {
        return Native (relative).fromLastOccurrenceOf (juce::File::getSeparatorString(), false, false);
    }

    /** An XDG base folder: the variable when it names an absolute path, else ~/<fallback>. */
    juce::File UserBaseFolder (const char* variable, const char* fallback)
    {
        const char* value = std::getenv (variable);
        if (value != nullptr && juce::File::isAbsolutePath (value))
            return juce::File (value);
        return juce::File::getSpecialLocation (juce::File::userHomeDirectory).getChildFile (fallback);
    }

    /** The installed program's own folder under an XDG base folder, created when missing. */
    juce::File UserFolder (const char* variable, const char* fallback)
    {
        const auto folder = UserBaseFolder (variable, fallback).getChildFile ("kestrava");
        folder.createDirectory();
        return folder;
    }
}

juce::String GetProgramFolderPath()
{
    {
        const std::lock_guard<std::mutex> lock (g_programFolderLock);
        if (g_programFolderOverride.isNotEmpty())
            return g_programFolderOverride;
    }
    return WithTrailingSeparator (ExecutableFolder());
}

void SetDataFolder (const juce::File& folder)
{
    const std::lock_guard<std::mutex> lock (g_programFolderLock);
    g_programFolderOverride = folder == juce::File() ? juce::String() : WithTrailingSeparator (folder);
}

void SetScratchFolder (const juce::File& folder)
{
    const std::lock_guard<std::mutex> lock (g_programFolderLock);
    g_scratchFolder = folder;
}

juce::File GetScratchFolderByRule()
{
    {
        const std::lock_guard<std::mutex> lock (g_programFolderLock);
        if (g_programFolderOverride.isNotEmpty())
            return juce::File (g_programFolderOverride);
    }
    // Where a scratch file at the top of the program folder lies.
    return juce::File (DataFilePathFor (ExecutableFolder(), "flashpgm.rom", DataFileKind::Scratch)).getParentDirectory();
}

juce::File CreateOwnFolder (const juce::File& parent, const juce::String& prefix)
{
#if JUCE_WINDOWS
    const auto process = (juce::int64) ::GetCurrentProcessId();
#else
    const auto process = (juce::int64) ::getpid();
#endif
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const auto folder = parent.getChildFile (prefix + "-" + juce::String (process) + "-" + juce::String (attempt));
        // Creating fails when the folder exists: whoever creates it owns it.
#if JUCE_WINDOWS
        if (::CreateDirectoryW (folder.getFullPathName().toWideCharPointer(), nullptr))
#else
        if (::mkdir (folder.getFullPathName().toRawUTF8(), 0700) == 0)
#endif
            return folder;
    }
    return {};
}

void SetProgramFolderForTests (const juce::File& folder)
{
    SetDataFolder (folder);
}

juce::String DataFilePathFor (const juce::File& programFolder, const juce::String& relative, DataFileKind kind)
{
    const auto shared = programFolder.getSiblingFile ("share").getChildFile ("kestrava");
    const bool installed = ! programFolder.getChildFile ("Drivers").isDirectory() && shared.isDirectory();
    if (! installed)
        return WithTrailingSeparator (programFolder) + Native (relative);

    switch (kind)
    {
        case DataFileKind::Settings:
            return UserFolder ("XDG_CONFIG_HOME", ".config").getChildFile (LastName (relative)).getFullPathName();
        case DataFileKind::Scratch:
            return UserFolder ("XDG_CACHE_HOME", ".cache").getChildFile (LastName (relative)).getFullPathName();
        case DataFileKind::Drivers:
        {
            const auto own = UserBaseFolder ("XDG_DATA_HOME", ".local/share").getChildFile ("kestrava").getChildFile (Native (relative));
            if (own.isDirectory())
                return own.getFullPathName();
            break;
        }
        case DataFileKind::Fixed:
            break;
    }
    return WithTrailingSeparator (shared) + Native (relative);
}

juce::String GetDataFilePath (const juce::String& relative, DataFileKind kind)
{
    {
        const std::lock_guard<std::mutex> lock (g_programFolderLock);
        if (kind == DataFileKind::Scratch && g_scratchFolder != juce::File())
            return g_scratchFolder.getChildFile (LastName (relative)).getFullPathName();
        if (g_programFolderOverride.isNotEmpty())
            return g_programFolderOverride + Native (relative);
    }
    return DataFilePathFor (ExecutableFolder(), relative, kind);
}

juce::File GetLogFile()
{
#if JUCE_WINDOWS
    const auto folder = juce::File::getSpecialLocation (juce::File::windowsLocalAppData).getChildFile ("Kestrava");
#elif JUCE_MAC
    const auto folder = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile ("Logs/Kestrava");
#else
    const auto folder = UserBaseFolder ("XDG_STATE_HOME", ".local/state").getChildFile ("kestrava");
#endif
    return folder.getChildFile ("kestrava.log");
}
