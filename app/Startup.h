#pragma once
// What the program does before JUCE starts and any window is made: the
// options that need no window, which print and end, and the check that a
// window can be shown at all.
#include <cstdio>
#include <functional>
#include <memory>
#include <juce_events/juce_events.h>
#include "link/MidiPorts.h"

/** The program being started. */
struct ProgramStart
{
    const char* name;                                        ///< "Kestrava", "KestravaDemo"
    const char* version;                                     ///< "V3.00"
    std::function<std::shared_ptr<MidiPortSource>()> ports;  ///< the ports --list-midi lists
};

/** Carries out an option that needs no window and returns the exit status;
    without a display, says so in one line on stderr and returns 1; -1 when
    the window is to open. */
int RunStartOptions (int argc, char** argv, const ProgramStart& program);

/** Prints every port of `source`, one line each: direction, backend, identifier, name. */
void PrintMidiPorts (MidiPortSource& source, std::FILE* out);

/** The program's main: an option that needs no window is carried out (or the
    missing display reported) and its status returned; otherwise the JUCE
    application that `create` makes runs. */
int RunProgram (int argc, char** argv, const ProgramStart& program,
                juce::JUCEApplicationBase::CreateInstanceFunction create);
