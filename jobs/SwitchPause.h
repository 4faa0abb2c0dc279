#pragma once
// The pause of the switch into the loader, while the module restarts: a
// timed wait on the message thread's timers, so that the window keeps
// painting and taking clicks meanwhile, and a close asked for meanwhile is
// carried out at once rather than when the pause is over.
#include <cstdint>
#include <functional>
#include <juce_events/juce_events.h>

class CSwitchPause : private juce::Timer
{
public:
    /** How often the pause asks whether it is to end early, in milliseconds. */
    static constexpr int kPollMs = 50;

    ~CSwitchPause() override;

    /** Waits `milliseconds` from now (message thread), asking `interrupt` every
        kPollMs: when it returns true the pause ends there; otherwise `then` runs
        once the time has passed. A running pause is replaced. */
    void Start (uint32_t milliseconds, std::function<bool()> interrupt, std::function<void()> then);
    /** Ends a running pause: neither function is called any more. */
    void Cancel();
    /** Whether a pause runs. */
    bool IsRunning() const { return isTimerRunning(); }

private:
    void timerCallback() override;
    void Arm();

    double m_dEnd = 0;                       // when the pause is over, on the high-resolution millisecond counter
    std::function<bool()> m_Interrupt;
    std::function<void()> m_Then;
};
