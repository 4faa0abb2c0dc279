#pragma once
// The command line of kestrava-cli: commands, options, and the help texts.
#include <cstdint>
#include <optional>
#include <juce_core/juce_core.h>

/** Everything the command line asks for. */
struct CliOptions
{
    juce::String command;              ///< "ports", "update", "read", "verify" or "help"
    juce::StringArray arguments;       ///< the command's own arguments, in order
    juce::File dataFolder;             ///< --data; none: the folder beside the program
    juce::String portFilter;           ///< --port: only ports whose names contain it
    bool simulate = false;             ///< --simulate (also set by --simulate-flash)
    juce::File simulatedFlash;         ///< --simulate-flash: the simulated flash's file
    bool json = false;                 ///< --json
    bool quiet = false;                ///< --quiet
    bool verbose = false;              ///< --verbose
    bool help = false;                 ///< --help for the command
    bool version = false;              ///< --version
    std::optional<int64_t> offset;     ///< read --offset, bytes
    std::optional<int64_t> length;     ///< read --length, bytes
    std::optional<int> page;           ///< read --page
};

/** The options, or the reason the command line cannot be used. */
struct ParsedCommandLine
{
    CliOptions options;     ///< valid when `error` is empty
    juce::String error;     ///< a usage error, one line
};

/** Parses the arguments that follow the program's name. */
ParsedCommandLine ParseCommandLine (const juce::StringArray& args);

/** The help for a command, or the overview for an empty or unknown one. */
juce::String HelpText (const juce::String& command);

/** Prints a usage error and where to find the help, on stderr. */
void PrintUsageError (const juce::String& command, const juce::String& message);
