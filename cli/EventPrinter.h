#pragma once
// What kestrava-cli prints as a job runs: on a terminal one progress line
// redrawn in place, elsewhere a plain line per phase and every 10 %, or with
// --json one JSON object per line for every event. Errors go to stderr.
// Printing for one of several modules, every line and event names its port.
#include <cstdint>
#include <cstdio>
#include <juce_core/juce_core.h>
#include "cli/ProgressMeter.h"
#include "jobs/JobObserver.h"
#include "store/shared/Troubles.h"

class EventPrinter
{
public:
    /** How events are shown. */
    enum class Style
    {
        Terminal,   ///< a progress line redrawn in place
        Lines,      ///< a line per phase and every 10 %
        Json        ///< one JSON object per line
    };

    /** The style for stdout as it is: a terminal or not, unless JSON is asked for. */
    static Style StyleFor (bool json);

    /** Prints in `style`; `quiet` keeps only errors (and JSON's "done"), `verbose` adds the log. */
    EventPrinter (Style style, bool quiet, bool verbose, std::FILE* out = stdout, std::FILE* err = stderr);

    /** Every event from now on is one module's: JSON gets a "port" field, lines start with `label`. */
    void SetPort (const juce::String& port, const juce::String& label);

    /** The log text, warnings and errors of this printer also go to the log
        file, a line each with the port's label: a module's process of --all
        keeps no log file of its own. */
    void RecordInRunLog() { m_bRecord = true; }

    /** The module answered (printed once). */
    void Connected (bool fs);
    /** The update flow went into another phase. */
    void Phase (FlowPhase phase);
    /** A step started (JSON only); offset and length in bytes; a negative value is left out. */
    void Step (int index, int count, int kind, const juce::String& file, int page, int64_t offset, int64_t length);
    /** The progress bar moved. */
    void Progress (const char* activity, int64_t done, int64_t total);
    /** What "auto" pacing did (JSON only: the log's text says it with --verbose). */
    void Pace (const PaceReport& report);
    /** Text of the log pane (with --verbose). */
    void Log (const juce::String& text);
    /** A warning the window would show in a box; the job goes on. */
    void Warning (const juce::String& text);
    /** An error: its code (0: none) and its text; with `why`, its cause and the
        first thing to try follow on a line of their own (JSON: as fields). */
    void Error (int code, const juce::String& text, const Trouble* why = nullptr);
    /** The end: the exit status, a one-word result, a sentence, and fields for JSON. */
    void Done (int status, const juce::String& result, const juce::String& text, const juce::NamedValueSet& fields);
    /** A plain line of a listing ("ports"); JSON gets `fields` as event `event` (none when empty). */
    void Record (const juce::String& event, const juce::String& line, const juce::NamedValueSet& fields);
    /** Redraws the terminal's progress line (the rate and the time left move on). */
    void Tick();
    /** One JSON object on a line, with the port when there is one. */
    void Emit (const juce::String& event, const juce::NamedValueSet& fields);

private:
    void Write (std::FILE* f, const juce::String& text);
    void Line (const juce::String& text);
    void ClearProgressLine();
    void DrawProgressLine();

    const Style m_Style;
    const bool m_bQuiet, m_bVerbose;
    std::FILE* const m_pOut;
    std::FILE* const m_pErr;
    juce::String m_strPort, m_strLabel;  // the module's port, when one of several
    bool m_bConnected = false;
    ProgressMeter m_Meter;              // the phase being shown and its progress
    juce::String m_strActivity;         // erasing, writing, reading
    int m_nLastStep = -1;               // last percentage printed (10 % steps or JSON's 1 %)
    bool m_bProgressShown = false;      // the terminal's progress line is on screen
    juce::String m_strPartialLog;       // log text not yet ended by a line feed
    juce::String m_strLastDriver;       // the driver file uploaded last
    bool m_bRecord = false;             // also into the log file (RecordInRunLog)
    juce::String m_strRecordPartial;    // log text for the file not yet ended by a line feed
};
