#pragma once
// What the program does with its command line before JUCE starts and any
// window is made: the options that need no window, which print and end.
#include <functional>
#include <memory>
#include "link/MidiPorts.h"

/** The program being started. */
struct ProgramStart
{
    const char* name;                                        ///< "Kestrava", "KestravaDemo"
    const char* version;                                     ///< "V3.00"
    std::function<std::shared_ptr<MidiPortSource>()> ports;  ///< the ports --list-midi lists
};

/** Carries out an option that needs no window and returns the exit status;
    -1 when there is none and the window is to open. */
int RunStartOptions (int argc, char** argv, const ProgramStart& program);

/** Prints every port of `source`, one line each: direction, backend, identifier, name. */
void PrintMidiPorts (MidiPortSource& source, std::FILE* out);
