#include "jobs/AutoPace.h"

void CAutoPace::Begin (SysExPace pace)
{
    m_Start = m_Current = pace;
    m_dFirstSignMs = -1;
    SetFoundSysExPace (pace);
}

CAutoPace::Verdict CAutoPace::StepDown (double nowMs)
{
    if (m_dFirstSignMs < 0)
        m_dFirstSignMs = nowMs;
    else if (nowMs - m_dFirstSignMs > kStepWindowMs)
        return Verdict::Bound;
    const auto slower = SlowerAutoPace (m_Current);
    if (! slower)
        return Verdict::Floor;
    m_Current = *slower;
    SetFoundSysExPace (m_Current);
    return Verdict::Slower;
}
