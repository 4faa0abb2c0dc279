#pragma once
// The log file, kestrava.log: each run of the window or of kestrava-cli
// appends what its log pane receives (the lines kestrava-cli --verbose
// prints), the boxes it shows and the MIDI ports it finds, under a line with
// the date, the program and its version. It keeps the last kKeptRuns runs and
// at most about kMaxFileBytes; a run that writes more is cut there. One file
// per process at a time; every function is safe from any thread, and does
// nothing while no run log is open.
#include <juce_core/juce_core.h>

namespace RunLog
{
/** Runs kept in the file, this one included. */
constexpr int kKeptRuns = 8;
/** About the most the file holds; older runs go first, this run stops there. */
constexpr juce::int64 kMaxFileBytes = 1024 * 1024;
/** How each run's first line begins. */
constexpr const char* kRunMark = "==== ";

/** Opens `file` (its folder is created), drops what is too old and writes the
    run's first line: the date, `program` (name and version) and `what`
    (such as the command line). False when it cannot be written. */
bool Start (const juce::File& file, const juce::String& program, const juce::String& what);
/** Appends text as it comes (pieces need not end with a line feed). */
void Append (const juce::String& text);
/** Appends a line of its own, after any unfinished piece. */
void AppendLine (const juce::String& line);
/** Records a box: its text, and the cause and first thing to try when the table knows it. */
void RecordBox (const juce::String& text);
/** Records the MIDI ports when they differ from those recorded last. */
void RecordPorts (const juce::StringArray& inputs, const juce::StringArray& outputs);
/** Closes the file (also done at exit). */
void End();
/** The file of this run; none when no run log is open. */
juce::File File();
} // namespace RunLog
