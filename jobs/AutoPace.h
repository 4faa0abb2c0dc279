#pragma once
// "auto" pacing over one update: the pace it started with and the one in use,
// and whether a sign of lost bytes may still step it down. A module that has
// gone shows the same signs as an interface that loses bytes, so the steps
// are bounded: by the rungs of the ladder, and by the time since the first
// sign of a run of signs that no finished step has broken.
#include "link/SysExPace.h"

class CAutoPace
{
public:
    /** Signs of one run later than this after its first are not stepped down for:
        even from whole messages, with every rung's attempt failing on a module
        that has gone, the error then shows within 30 s of its going. */
    static constexpr double kStepWindowMs = 15000;

    /** What a sign of lost bytes leads to. */
    enum class Verdict
    {
        Slower,   ///< a slower pace is in use: run the step's group again
        Floor,    ///< already at the slowest pace: the error stands
        Bound     ///< the run of signs has lasted too long: the error stands
    };

    /** An update starts at `pace` (whole, or the pace found last time). */
    void Begin (SysExPace pace);
    /** A sign of lost bytes at `nowMs`. */
    Verdict StepDown (double nowMs);
    /** A step finished: the run of signs is broken. */
    void StepFinished() { m_dFirstSignMs = -1; }

    /** The pace the update started with. */
    SysExPace Start() const { return m_Start; }
    /** The pace in use. */
    SysExPace Current() const { return m_Current; }

private:
    SysExPace m_Start {}, m_Current {};
    double m_dFirstSignMs = -1;   // the first sign of the run in progress; -1: none
};
