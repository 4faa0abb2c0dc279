#include "jobs/SwitchPause.h"
#include <algorithm>
#include <cmath>
#include <utility>

CSwitchPause::~CSwitchPause()
{
    stopTimer();
}

void CSwitchPause::Start (uint32_t milliseconds, std::function<bool()> interrupt, std::function<void()> then)
{
    m_dEnd = juce::Time::getMillisecondCounterHiRes() + milliseconds;
    m_Interrupt = std::move (interrupt);
    m_Then = std::move (then);
    Arm();
}

void CSwitchPause::Cancel()
{
    stopTimer();
    m_Interrupt = nullptr;
    m_Then = nullptr;
}

void CSwitchPause::Arm()
{
    // Never early: the last interval is rounded up to the next millisecond.
    const double left = m_dEnd - juce::Time::getMillisecondCounterHiRes();
    startTimer (std::max (1, std::min (kPollMs, (int) std::ceil (left))));
}

void CSwitchPause::timerCallback()
{
    if (m_Interrupt && m_Interrupt())
    {
        Cancel();
        return;
    }
    if (juce::Time::getMillisecondCounterHiRes() < m_dEnd)
    {
        Arm();
        return;
    }
    // Taken out first: what it does may start the next pause.
    auto then = std::exchange (m_Then, nullptr);
    Cancel();
    if (then)
        then();
}
