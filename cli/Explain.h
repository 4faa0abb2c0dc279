#pragma once
// kestrava-cli explain: what an error code, box or exit status means and what
// to do about it, from the table of what can go wrong.
#include <juce_core/juce_core.h>
#include "cli/CliOptions.h"

/** Prints the whole table, or the row of the number given; returns the exit status. */
int RunExplainCommand (const CliOptions& options);

/** The exit statuses for the overview, one per line, from the table. */
juce::String ExitStatusSummary();
