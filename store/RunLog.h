#pragma once
// The log file, kestrava.log: each run of the window or of kestrava-cli
// appends what its log pane receives (the lines kestrava-cli --verbose
// prints), the boxes it shows and the MIDI ports it finds, under a line with
// the date, the program and its version. It keeps the last kKeptRuns runs and
// about kMaxFileBytes; a run that writes more is cut there and keeps its last
// lines (kTailBytes), written as it ends.
//
// Several processes may log into the file at once (the window and
// kestrava-cli, kestrava-cli beside kestrava-cli): they take turns through an
// advisory lock on a file beside it, kestrava.log.lock. A run drops older runs
// as it starts, under the lock, by replacing the file; every other write opens
// the file afresh under the lock and appends, so that each run's lines reach
// the file that is there, whatever the others did to it meanwhile. A trim that
// cannot write the new file leaves the old one as it was.
//
// The file is written by a thread of its own: the callers (the MIDI input
// thread, the message thread) only queue their text, so that a slow disk (a
// network home folder, a slow USB stick) never holds up the module or the
// window. The queue is bounded; text that finds it full is dropped, and a note
// in the file says how many lines went. One run per process at a time; every
// function is safe from any thread, and does nothing while no run log is open.
#include <chrono>
#include <juce_core/juce_core.h>

namespace RunLog
{
/** Runs kept in the file, this one included. */
constexpr int kKeptRuns = 8;
/** About the most the file holds; older runs go first. */
constexpr juce::int64 kMaxFileBytes = 1024 * 1024;
/** Room kept for the last lines of a run that has written its share: the
    final boxes and errors are the ones a report needs. */
constexpr juce::int64 kTailBytes = 64 * 1024;
/** Text that may wait for the disk; what comes beyond is dropped, with a note. */
constexpr size_t kQueueBytes = 512 * 1024;
/** How each run's first line begins. */
constexpr const char* kRunMark = "==== ";
/** How long End waits for a disk that does not take the last lines. */
constexpr std::chrono::milliseconds kEndBound { 5000 };

/** Starts this process's run in `file` (its folder is created): what is too
    old is dropped, and the run's first line written, with the date, `program`
    (name and version) and `what` (such as the command line). A run open
    before ends first. */
void Start (const juce::File& file, const juce::String& program, const juce::String& what);
/** Appends text as it comes (pieces need not end with a line feed). */
void Append (const juce::String& text);
/** Appends a line of its own, after any unfinished piece. */
void AppendLine (const juce::String& line);
/** Records a box: its text, and the cause and first thing to try when the table knows it. */
void RecordBox (const juce::String& text);
/** Records the MIDI ports when they differ from those recorded last. */
void RecordPorts (const juce::StringArray& inputs, const juce::StringArray& outputs);
/** Waits until everything appended so far is in the file, at most `bound`;
    whether it is (true when no run is open). */
bool Flush (std::chrono::milliseconds bound = kEndBound);
/** Writes what is still queued and the run's last lines, and closes the run
    (also done at exit). Waits at most kEndBound for the disk. */
void End();
/** The file of this run; none when no run log is open. */
juce::File File();
} // namespace RunLog
