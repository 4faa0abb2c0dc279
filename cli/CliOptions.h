#pragma once
// The command line of kestrava-cli: commands, options, and the help texts.
#include <cstdint>
#include <optional>
#include <juce_core/juce_core.h>
#include "link/SysExPace.h"

/** Everything the command line asks for. */
struct CliOptions
{
    juce::String command;              ///< "ports", "update", "read", "verify", "explain" or "help"
    juce::StringArray arguments;       ///< the command's own arguments, in order
    juce::File dataFolder;             ///< --data; none: the folder beside the program
    juce::StringArray ports;           ///< every --port: only the ports each selects (see PortFilter)
    bool all = false;                  ///< --all: every module that answers, one process each
    bool simulate = false;             ///< --simulate (also set by the other --simulate options)
    juce::File simulatedFlash;         ///< --simulate-flash: the simulated flash's file
    int simulatedModules = 1;          ///< --simulate-modules: demo modules on the simulated bus
    int simulatedUnplug = 0;           ///< --simulate-unplug: this module (from 1) is unplugged while programming
    int simulatedLostAnswers = 0;      ///< --simulate-lost-answers: probe answers lost right after "Program"
    int simulatedLateRead = 0;         ///< --simulate-late-read N:MS: the first module's answer to its Nth read request...
    int simulatedLateMs = 0;           ///< ...comes this many milliseconds late
    int simulatedLossyBuffer = 0;      ///< --simulate-lossy-buffer: the modules behind an interface of this buffer (0: none)
    std::optional<bool> onlyChanged;   ///< --only-changed (true) or --full (false); none: OnlyChanged of config.ini
    bool json = false;                 ///< --json
    bool quiet = false;                ///< --quiet
    bool verbose = false;              ///< --verbose
    bool help = false;                 ///< --help for the command
    bool version = false;              ///< --version
    bool noLog = false;                ///< --no-log: this run is not appended to kestrava.log
    std::optional<int64_t> offset;     ///< read --offset, bytes
    std::optional<int64_t> length;     ///< read --length, bytes
    std::optional<int> page;           ///< read --page
    std::optional<PaceChoice> pace;    ///< --pace: the pace of SysEx sends for this run ("auto" too); none: the settings file's
};

/** The options, or the reason the command line cannot be used. */
struct ParsedCommandLine
{
    CliOptions options;     ///< valid when `error` is empty
    juce::String error;     ///< a usage error, one line
};

/** Whether the options ask for one process per module: --all, or --port more than once. */
inline bool RunsEveryModule (const CliOptions& o) { return o.all || o.ports.size() > 1; }

/** Parses the arguments that follow the program's name. */
ParsedCommandLine ParseCommandLine (const juce::StringArray& args);

/** The help for a command, or the overview for an empty or unknown one. */
juce::String HelpText (const juce::String& command);

/** Prints a usage error and where to find the help, on stderr. */
void PrintUsageError (const juce::String& command, const juce::String& message);
