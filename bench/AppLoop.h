#pragma once
// The message loop as the program runs it: each turn blocks until something
// arrives and dispatches it at once (the test helpers' loop sleeps a
// millisecond whenever the queue is empty, which would add to every step of
// an update). Also keeps the longest gap between two turns. A heartbeat timer
// wakes the loop every few milliseconds, as the window's repaints and the
// user's mouse would: a longer turn is time the loop was busy, not waiting.
#include <algorithm>
#include <chrono>
#include <functional>
#include <juce_events/juce_events.h>

namespace juce
{
// The platform's one-turn dispatcher, the one the program's own loop calls.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

/** Runs the message loop one turn at a time until a condition holds. */
class AppLoop
{
public:
    /** Runs turns until `condition` holds; false if `boundMs` passes first. */
    bool RunUntil (const std::function<bool()>& condition, int boundMs)
    {
        Heartbeat heartbeat;
        heartbeat.startTimer (kHeartbeatMs);
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::milliseconds (boundMs);
        auto last = Clock::now();
        while (! condition())
        {
            if (Clock::now() > end)
                return condition();
            juce::dispatchNextMessageOnSystemQueue (false);
            const auto now = Clock::now();
            m_longestGap = std::max (m_longestGap, now - last);
            last = now;
        }
        return true;
    }

    /** The longest time one turn took (waiting and dispatching), in milliseconds. */
    double LongestGapMs() const { return std::chrono::duration<double, std::milli> (m_longestGap).count(); }

    /** Forgets the longest gap. */
    void ResetGap() { m_longestGap = {}; }

private:
    static constexpr int kHeartbeatMs = 5;

    struct Heartbeat : juce::Timer
    {
        void timerCallback() override {}
    };

    std::chrono::steady_clock::duration m_longestGap {};
};
