#include "app/Startup.h"
#include "platform/ProgramFolder.h"
#include "platform/DisplayCheck.h"
#include <algorithm>
#include <cstdio>
#include <cstring>

void PrintMidiPorts (MidiPortSource& source, std::FILE* out)
{
    const auto ports = source.listPorts();
    const auto notice = source.takeNotice();
    if (notice.isNotEmpty())
        std::fprintf (stderr, "%s\n", notice.trimEnd().toRawUTF8());
    if (ports.inputs.empty() && ports.outputs.empty())
    {
        std::fprintf (out, "No MIDI ports.\n");
        return;
    }
    int backendWidth = 7, idWidth = 10;
    for (auto* side : { &ports.inputs, &ports.outputs })
        for (auto& p : *side)
        {
            backendWidth = std::max (backendWidth, p.backend.length());
            idWidth = std::max (idWidth, p.identifier.length());
        }
    std::fprintf (out, "%-3s  %s  %s  %s\n", "dir", juce::String ("backend").paddedRight (' ', backendWidth).toRawUTF8(),
                  juce::String ("identifier").paddedRight (' ', idWidth).toRawUTF8(), "name");
    for (auto* side : { &ports.inputs, &ports.outputs })
        for (auto& p : *side)
            std::fprintf (out, "%-3s  %s  %s  %s\n", side == &ports.inputs ? "in" : "out",
                          p.backend.paddedRight (' ', backendWidth).toRawUTF8(),
                          p.identifier.paddedRight (' ', idWidth).toRawUTF8(), p.name.toRawUTF8());
}

namespace
{
    void PrintHelp (const ProgramStart& program)
    {
        std::printf ("Usage: %s [--list-midi | --help | --version]\n"
                     "Flash programmer for sound modules over MIDI; without an option it opens its window.\n"
                     "\n"
                     "  --list-midi   print every MIDI port the program sees (direction, backend,\n"
                     "                identifier, name) and exit\n"
                     "  --help        print this help and exit\n"
                     "  --version     print the version and exit\n"
                     "\n"
                     "On Linux the hardware ports are used as raw MIDI devices; set\n"
                     "KESTRAVA_MIDI_BACKEND=sequencer to use the ALSA sequencer for every port.\n"
                     "Updates, reads and verifies without a window: kestrava-cli.\n"
                     "\n"
                     "Each run is logged (send the log with a report of a problem) to\n"
                     "%s\n",
                     program.name, GetLogFile().getFullPathName().toRawUTF8());
    }
}

int RunStartOptions (int argc, char** argv, const ProgramStart& program)
{
    if (argc < 2 || argv[1][0] != '-')
    {
        // No option (other arguments are ignored, as they always were): the window.
        if (CanOpenDisplay())
            return -1;
        std::fprintf (stderr, "%s: no display could be opened; without a desktop use kestrava-cli "
                              "(kestrava-cli --help), or run the demo on a virtual display as the README "
                              "shows (\"Without a desktop\")\n", program.name);
        return 1;
    }
    const char* option = argv[1];
    if (argc > 2)
    {
        std::fprintf (stderr, "%s: takes one option at most (see %s --help)\n", program.name, program.name);
        return 2;
    }
    if (std::strcmp (option, "--help") == 0 || std::strcmp (option, "-h") == 0)
    {
        PrintHelp (program);
        return 0;
    }
    if (std::strcmp (option, "--version") == 0)
    {
        std::printf ("%s %s\n", program.name, program.version);
        return 0;
    }
    if (std::strcmp (option, "--list-midi") == 0)
    {
        auto source = program.ports();
        PrintMidiPorts (*source, stdout);
        return 0;
    }
    std::fprintf (stderr, "%s: unknown option %s (see %s --help)\n", program.name, option, program.name);
    return 2;
}

int RunProgram (int argc, char** argv, const ProgramStart& program,
                juce::JUCEApplicationBase::CreateInstanceFunction create)
{
    const int status = RunStartOptions (argc, argv, program);
    if (status >= 0)
        return status;
    juce::JUCEApplicationBase::createInstance = create;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
