#pragma once
#include <juce_core/juce_core.h>

/** The folder of the running executable, with a trailing separator, as the
    program builds its data-folder paths from it. */
juce::String GetProgramFolderPath();

/** Points the program folder at another folder (tests and tools); an empty
    File goes back to the executable's folder. */
void SetProgramFolderForTests (const juce::File& folder);
