#pragma once
#include <juce_core/juce_core.h>

/** The folder of the running executable, with a trailing separator, as the
    program builds its data-folder paths from it. */
juce::String GetProgramFolderPath();

/** Takes the data folder (Drivers, QvDoc, the scratch files) from `folder`
    instead of the executable's folder, as the command line's --data asks; an
    empty File goes back to the executable's folder. */
void SetDataFolder (const juce::File& folder);

/** Points the program folder at another folder (tests): SetDataFolder. */
void SetProgramFolderForTests (const juce::File& folder);
