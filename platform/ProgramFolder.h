#pragma once
// Where the program finds its data folder (Drivers, QvDoc, Help.pdf) and
// where it writes its settings and scratch files:
// - a folder chosen with SetDataFolder (kestrava-cli --data, the tests) holds
//   everything;
// - an installed program (its folder has no "Drivers", but the folder
//   ../share/kestrava beside it exists, as with /usr/bin and
//   /usr/share/kestrava) reads its data from ../share/kestrava, its drivers
//   from the user's own folder $XDG_DATA_HOME/kestrava/Drivers
//   (~/.local/share/kestrava/Drivers) when there is one, and writes
//   config.ini to $XDG_CONFIG_HOME/kestrava (~/.config/kestrava) and its
//   scratch files to $XDG_CACHE_HOME/kestrava (~/.cache/kestrava), both
//   created when needed;
// - otherwise (a build tree, the Windows zip) the program's own folder
//   holds everything.
// The log is the user's, wherever the data folder is: it lies in the user's
// state folder (GetLogFile), so that it never adds a folder to the data folder.
#include <juce_core/juce_core.h>

/** The folder of the running executable, with a trailing separator, or the
    folder SetDataFolder chose. */
juce::String GetProgramFolderPath();

/** Takes the data folder (Drivers, QvDoc, the scratch files) from `folder`
    instead of the executable's folder, as the command line's --data asks; an
    empty File goes back to the executable's folder. */
void SetDataFolder (const juce::File& folder);

/** Puts the scratch files in `folder` instead, whatever the rule below says
    (kestrava-cli: processes side by side must not share them); an empty File
    goes back to the rule. */
void SetScratchFolder (const juce::File& folder);

/** The folder the scratch files go to by the rule below (created when needed). */
juce::File GetScratchFolderByRule();

/** A new empty folder in `parent`, named from `prefix` and this process, that
    no other process can have taken (created in one step); an empty File on failure. */
juce::File CreateOwnFolder (const juce::File& parent, const juce::String& prefix);

/** Points the program folder at another folder (tests): SetDataFolder. */
void SetProgramFolderForTests (const juce::File& folder);

/** What a file of the data folder is for, which decides where it lies. */
enum class DataFileKind
{
    Fixed,      ///< read only: boot images, the logo, the help document
    Drivers,    ///< the folder of flash drivers
    Settings,   ///< the settings file
    Scratch     ///< written and deleted by the jobs
};

/** The full path of one of the program's files, named as it lies in the
    program folder ("QvDoc\\config.ini", "Drivers"), by the rule above. */
juce::String GetDataFilePath (const juce::String& relative, DataFileKind kind);

/** The same rule for a given program folder with no folder chosen (tests). */
juce::String DataFilePathFor (const juce::File& programFolder, const juce::String& relative, DataFileKind kind);

/** The log file, kestrava.log, in the user's state folder whatever the data
    folder: $XDG_STATE_HOME/kestrava (~/.local/state/kestrava) on Linux,
    %LOCALAPPDATA%\Kestrava on Windows, ~/Library/Logs/Kestrava on macOS.
    Its folder is not created here. */
juce::File GetLogFile();
