#pragma once
// What a front end without the window hears of the work: the panel and the
// job runner report through this interface as they run. Every call comes on
// the message thread. Boxes and the quit request go through store/shared/ProgramHooks.
#include <cstdint>
#include <optional>
#include <juce_core/juce_core.h>
#include "link/SysExPace.h"

struct _STR_JOB_STEP;

/** The stages of the update flow, as they are reported. */
enum class FlowPhase
{
    Idle,           ///< no update flow runs
    Loader,         ///< the module is switched into its loader
    DriverSearch,   ///< the drivers are tried one after another
    DriverFound,    ///< a driver fits; its flash type is being selected
    EraseChip1,     ///< two-chip flow: the first chip is erased
    ProgramChip1,   ///< two-chip flow: the first chip is programmed and verified
    EraseChip2,     ///< two-chip flow: the second chip is erased
    ProgramChip2,   ///< two-chip flow: the second chip is programmed and verified
    Update,         ///< the workflow that fits the module writes and verifies the image
    Read,           ///< a range of the flash is read into a file
    Verify          ///< the image's ranges are read back and compared; nothing is written
};

/** The short name a phase is reported under, for example "driver search". */
const char* FlowPhaseName (FlowPhase phase);

/** The short name of a step kind, for example "erase and program". */
const char* StepKindName (int kind);

/** How a job ended, as the window tells it with its box. */
struct JobOutcome
{
    enum class Kind
    {
        Done,        ///< the completion box: the work is complete
        Error,       ///< an error box
        TimedOut,    ///< no module answered before the search timed out
        Different    ///< a verify found the flash different from the image (no box)
    };
    Kind kind = Kind::Done;          ///< what happened
    int code = 0;                    ///< Error: the box's error code; 0 for a box without one
    int64_t firstDifference = -1;    ///< Different: the image's byte where the flash first differs
    juce::String text;               ///< the box's text, as it is shown
    int64_t inPlaceBytes = -1;       ///< Done, "only what changed": image bytes found already in place; -1 otherwise
    int64_t writtenBytes = -1;       ///< Done, "only what changed": image bytes of the ranges written
    std::optional<SysExPace> foundPace {};   ///< Done under "auto" pacing: the pace the job ended with
    bool lostAtSlowestPace = false;  ///< Error: "auto" pacing lost bytes even at its slowest pace
};

/** What "auto" pacing did, as it did it. */
struct PaceReport
{
    enum class What
    {
        Start,    ///< the update starts at `pace`: whole, or found for the port before (`remembered`)
        Slower,   ///< bytes were lost (`code` showed it): `pace` from now on, the step's group again
        Floor,    ///< bytes were lost even at the slowest pace, `pace`: `code` stands
        Stopped   ///< bytes were lost, but the port has gone or the signs went on too long: `code` stands
    };
    What what = What::Start;
    SysExPace pace {};       ///< the pace in use
    int code = 0;            ///< the error code that showed the loss (not for Start)
    juce::String port;       ///< the port the pace is found for
    bool remembered = false; ///< Start: the pace was found for this port before
};

/** "12.5 MiB of 16 MiB already in place, 3.5 MiB written." */
juce::String OnlyChangedSummary (int64_t inPlaceBytes, int64_t writtenBytes);

class JobObserver
{
public:
    virtual ~JobObserver() = default;
    /** A module answered a probe cycle; `fs` is the FS flag of the last loader reply. */
    virtual void OnConnected (bool fs) = 0;
    /** The update flow went into another phase. */
    virtual void OnPhase (FlowPhase phase) = 0;
    /** The job runner started step `index` of the `count` queued. */
    virtual void OnStep (int index, int count, const _STR_JOB_STEP& step) = 0;
    /** The job's progress bar moved: `activity` ("erasing", "writing", "reading"), bytes done of `total`. */
    virtual void OnProgress (const char* activity, int64_t done, int64_t total) = 0;
    /** The job ended: sent where the window opens its box (before it opens), and for a verify's difference. */
    virtual void OnOutcome (const JobOutcome& outcome) = 0;
    /** Text went into the log pane. */
    virtual void OnLogText (const juce::String& text) = 0;
    /** "auto" pacing started, stepped down or gave up. */
    virtual void OnPace (const PaceReport&) {}
};
