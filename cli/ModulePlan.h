#pragma once
// Which modules kestrava-cli --all works on, from the ports a probe listed and
// the replies that came back: each module's input and output, and the --port
// text that selects those two ports alone for the process that works on it.
// A port two modules would share is refused before anything is sent.
#include <vector>
#include "cli/PortWatch.h"

/** One module to work on in a process of its own, or the reason it is not. */
struct ModuleTarget
{
    MidiPortInfo input;        ///< the port its replies come through
    MidiPortInfo output;       ///< the port that reaches it (empty when none is known)
    juce::String mode;         ///< "loader" or "application": the probe it answered
    juce::String port;         ///< the --port text that selects these two ports alone
    juce::String processPort;  ///< the --port text its process gets: their location when that selects them
                               ///< alone (it holds when the module enumerates again), else `port`
    juce::String refusal;      ///< why the module is not worked on; empty when it is

    /** How it is shown: its port's name, with the --port text when that is not the name. */
    juce::String Label() const;
};

/** The modules behind `answers`, in the order they answered. */
std::vector<ModuleTarget> PlanModules (const MidiPortList& listing, const std::vector<PortWatch::Answer>& answers);

/** Why `texts` cannot be used together: two of them select a port in common
    (the same module would be reached twice); empty when they can. */
juce::String SharedSelection (const juce::StringArray& texts, const MidiPortList& listing);
