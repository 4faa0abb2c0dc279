#pragma once
// How kestrava-cli --all sums up its modules: the table, the line that names
// every module that failed, and the exit status of the whole run.
#include <vector>
#include <juce_core/juce_core.h>

/** How one module's process ended. */
struct ModuleResult
{
    juce::String port;         ///< the --port text of its process
    juce::String label;        ///< how the module is shown
    bool refused = false;      ///< not worked on: `reason` says why
    int status = -1;           ///< its exit status
    int code = 0;              ///< its error code ("Error Code N"); 0 for none
    juce::String reason;       ///< why it failed, in its own words; empty when it holds the image
    double seconds = 0;        ///< from its start to its end
    int endOrder = 0;          ///< when it ended among the others: refused ones 0, the rest from 1
};

/** 0 when every module ended with 0, else the status of the first that failed (refused ones first). */
int OverallStatus (const std::vector<ModuleResult>& results);
/** One word for how a module ended: completed, different, refused, failed, no module, interrupted. */
juce::String ResultWord (const ModuleResult& result);
/** The table (port, result, error code, time, one row per module) and a closing line. */
juce::StringArray SummaryLines (const std::vector<ModuleResult>& results);
/** The closing line alone: how many hold the image, and every module that failed, with why. */
juce::String SummarySentence (const std::vector<ModuleResult>& results);
/** The fields of the JSON "summary" event: the whole run's status and one object per module. */
juce::NamedValueSet SummaryFields (const std::vector<ModuleResult>& results);
