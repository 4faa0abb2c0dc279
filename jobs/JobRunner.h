#pragma once
// The queue of steps that every piece of work on the module becomes. One step
// runs at a time; the panel starts the next when the link reports the end.
#include <cstdint>
#include <vector>
#include "link/Communication.h"
#include "platform/Paths.h"

class CLogger;
class JobObserver;

enum StepKind : int32_t
{
    kStepSendDriver   = 1,
    kStepCheckFlash   = 2,
    kStepEraseProgram = 3,
    kStepRead         = 4,
    kStepCompare      = 5,
    kStepProgramZero  = 6,
    kStepProgram      = 7,
    kStepErase        = 8,
    kStepCheck        = 9    ///< "only what changed": read a range before it is written and compare
};

/** One queued step, copied whole. */
struct _STR_JOB_STEP
{
    int32_t nKind;                    ///< step kind 1 to 8; 0 only in the current step: none
    union
    {
        wchar_t szPath[kMaxPath];     ///< the file the step works on
        int32_t nValue;               ///< check-flash step: the page
    };
    int32_t nArg0;                    ///< first integer argument
    union
    {
        struct { int32_t nArg1, nArg2, nArg3; };   ///< three more integer arguments
        wchar_t szPath2[kMaxPath];                 ///< compare step: the read-back file
    };
    int32_t nFill;                    ///< check step: what the range is to hold (Communication::CheckFill)
    int32_t nSkip;                    ///< check step: the steps after it left out when the range is in place
    int32_t nData;                    ///< check step: bytes of the image the range holds (for the summary)
};

class CJobRunner
{
public:
    /** The runner with its device link, reporting to the log and the listener. */
    CJobRunner (CLogger* logger, juce::MessageListener* listener);
    ~CJobRunner();

    /** Starts the next step; true when the queue is exhausted. */
    bool RunNext();
    /** Removes every step; no step is current afterwards. */
    void ClearSteps();
    /** Steps back four steps (never below 0) and runs from there; a verify group
        after a check starts again at its driver upload and passes over the check. */
    void Retry();
    /** Runs the step that started last again from the driver upload its group
        began with (the last one at or before it), passing over the group's check
        when it had already run; false, starting nothing, when none precedes it. */
    bool RetryFromDriver();
    /** The range the current check step read is in place: leaves out the steps
        that would have written it and runs the next one; true when the queue is exhausted. */
    bool SkipChecked();
    /** The step started last, or null when none runs. */
    const _STR_JOB_STEP* GetCurrentStep() const;
    /** The device link. */
    Communication& GetLink() { return m_Link; }
    /** Opens the ports and probes for the module. */
    void Connect();
    /** Word (true) or byte (false) units for offsets and lengths. */
    void SetWordMode (bool wordMode);
    /** Reports every step started to `observer` (null: nobody). */
    void SetObserver (JobObserver* observer) { m_pObserver = observer; }
    /** While set, steps that erase or program the flash are left out of the queue. */
    void SetReadOnly (bool readOnly) { m_bReadOnly = readOnly; }

    /** Queues a driver upload. */
    void AddSendDriver (const wchar_t* path);
    /** Queues a flash check at a page. */
    void AddCheckFlash (int page);
    /** Queues an erase and program of a file. */
    void AddEraseProgram (const wchar_t* path, int page, int srcOffset, int flashOffset, int length);
    /** Queues a read of the flash into a file. */
    void AddRead (const wchar_t* path, int page, int flashOffset, int length);
    /** Queues a compare of a file from a byte offset with a read-back file. */
    void AddCompare (const wchar_t* path, int byteOffset, const wchar_t* readPath);
    /** Queues a zero block of 0x800 units. */
    void AddProgramZero (int page, int flashOffset);
    /** Queues programming without erasing. */
    void AddProgram (const wchar_t* path, int page, int srcOffset, int flashOffset, int length);
    /** Queues an erase of a range. */
    void AddErase (int page, int flashOffset, int length);
    /** Queues a check of a range against what the next `skip` steps would leave there. */
    void AddCheck (const wchar_t* path, int page, int srcOffset, int flashOffset, int length, int fill, int skip, int dataBytes);

    /** Number of queued steps (tests). */
    int GetStepCount() const { return (int) m_Steps.size(); }
    /** Index of the next step to start (tests). */
    int GetNextIndex() const { return m_nNext; }
    /** A queued step (tests). */
    const _STR_JOB_STEP& GetStep (int index) const { return m_Steps[(size_t) index]; }

private:
    void Append (const _STR_JOB_STEP& step);

    std::vector<_STR_JOB_STEP> m_Steps;
    int m_nNext = 0;
    _STR_JOB_STEP m_Current;
    Communication m_Link;
    JobObserver* m_pObserver = nullptr;
    bool m_bReadOnly = false;
    int m_nPassCheckAt = -1;   // a retried group's check, not run again
};
