#pragma once
// Text in and out of a console program (kestrava-cli).
#include <juce_core/juce_core.h>

/** The program's arguments, without its name. On Windows they come from the
    wide command line: argv there is in the ANSI code page, which loses every
    character outside it (a folder named in Japanese on a German system).
    Elsewhere argv is taken as UTF-8. */
juce::StringArray GetProgramArguments (int argc, char** argv);

/** Makes a Windows console show the program's output, which is UTF-8, as
    such; nothing to do elsewhere. */
void UseUtf8Console();

/** The width of the terminal standard output goes to, in columns; 0 when it is none or cannot be told. */
int ConsoleColumns();
