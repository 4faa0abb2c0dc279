// kestrava-cli: the update, read-back and verify of the window, for scripts,
// service benches and test rigs. It runs the same panel, headless.
#include <cstdlib>
#include <juce_gui_basics/juce_gui_basics.h>
#include "cli/CliOptions.h"
#include "cli/EventPrinter.h"
#include "cli/EveryModule.h"
#include "cli/Explain.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/JobSession.h"
#include "cli/PortFilter.h"
#include "cli/PortsCommand.h"
#include "cli/SimulatedRig.h"
#include "platform/ConsoleText.h"
#include "platform/ProgramFolder.h"
#include "store/RunLog.h"

namespace
{
    const char* const kVersion = "V3.00";

    int Run (const CliOptions& options, const juce::StringArray& args)
    {
#if ! defined(_WIN32)
        // Nothing is shown: the window system must not attach to any display
        // (without a name it would take ":0", whoever's it is).
        setenv ("DISPLAY", ":65000", 1);
#endif
        juce::ScopedJuceInitialiser_GUI juce;
        InstallInterruptHandler();

        if (options.dataFolder != juce::File())
            SetDataFolder (options.dataFolder);
        SetRunPaceChoice (options.pace);
        if (! options.noLog)
            RunLog::Start (GetLogFile(), juce::String ("kestrava-cli ") + kVersion, "kestrava-cli " + args.joinIntoString (" "));
        const struct RunLogEnd { ~RunLogEnd() { RunLog::End(); } } runLogEnd;
        // The read-back copies are this process's own: another kestrava-cli
        // beside it (one per module) must never compare what this one read.
        const auto scratch = CreateOwnFolder (GetScratchFolderByRule(), "kestrava-cli");
        if (scratch != juce::File())
            SetScratchFolder (scratch);
        const struct ScratchRemoval
        {
            juce::File folder;
            ~ScratchRemoval()
            {
                SetScratchFolder ({});
                if (folder != juce::File())
                    folder.deleteRecursively();
            }
        } removal { scratch };

        std::unique_ptr<SimulatedRig> rig;
        std::shared_ptr<MidiPortSource> source;
        if (options.simulate)
        {
            rig = std::make_unique<SimulatedRig> (options.simulatedFlash, options.simulatedModules, options.simulatedUnplug,
                                                  options.simulatedLostAnswers, options.simulatedLateRead,
                                                  options.simulatedLateMs, options.simulatedLossyBuffer);
            if (! rig->FlashLoaded())
            {
                std::fprintf (stderr, "kestrava-cli: cannot read the simulated flash %s\n",
                              options.simulatedFlash.getFullPathName().toRawUTF8());
                return CliExit::kFailed;
            }
            source = rig->GetPortSource();
        }
        else
        {
            // Other programs' ports are probed only when the user names one.
            source = MakeSystemMidiPortSource (! options.ports.isEmpty());
        }
        int status;
        if (options.command != "ports" && RunsEveryModule (options))
        {
            // A process per module: this one probes and watches them.
            status = RunEveryModule (options, source);
        }
        else
        {
            if (! options.ports.isEmpty())
                source = std::make_shared<PortFilter> (source, options.ports);
            EventPrinter printer (EventPrinter::StyleFor (options.json), options.quiet, options.verbose);
            if (options.command == "ports")
            {
                status = RunPortsCommand (printer, source);
            }
            else
            {
                SetMidiPortSource (source);
                JobSession session (printer);
                if (rig != nullptr)
                    session.SetProgramHook ([&rig] { rig->ProgramPressed(); });
                status = session.Run (options);
                SetMidiPortSource (nullptr);
            }
        }

        source.reset();
        if (rig != nullptr && ! rig->Finish())
        {
            std::fprintf (stderr, "kestrava-cli: cannot write the simulated flash %s\n",
                          options.simulatedFlash.getFullPathName().toRawUTF8());
            if (status == CliExit::kOk)
                status = CliExit::kFailed;
        }
        return status;
    }
}

int main (int argc, char** argv)
{
    UseUtf8Console();
    const auto args = GetProgramArguments (argc, argv);
    const auto parsed = ParseCommandLine (args);
    const auto& options = parsed.options;
    if (parsed.error.isNotEmpty())
    {
        PrintUsageError (options.command, parsed.error);
        return CliExit::kUsage;
    }
    if (options.version)
    {
        std::printf ("kestrava-cli %s\n", kVersion);
        return CliExit::kOk;
    }
    if (options.help || options.command == "help")
    {
        const auto topic = options.command == "help" ? options.arguments[0] : options.command;
        std::fputs (HelpText (topic).toRawUTF8(), stdout);
        return CliExit::kOk;
    }
    if (options.command == "explain")
        return RunExplainCommand (options);
    if (options.dataFolder != juce::File() && ! options.dataFolder.isDirectory())
    {
        PrintUsageError (options.command, "--data: no folder " + options.dataFolder.getFullPathName());
        return CliExit::kUsage;
    }
    return Run (options, args);
}
