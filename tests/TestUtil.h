#pragma once
// Helpers shared by the test suites.
#include <functional>
#include <juce_events/juce_events.h>

/** Runs the message loop until the condition holds or the bound passes.
    Returns whether the condition holds. */
inline bool RunLoopUntil (const std::function<bool()>& condition, int boundMs = 10000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) boundMs;
    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return condition();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }
    return true;
}

/** Runs the message loop for the given time (for letting queued messages drain). */
inline void PumpMessages (int ms = 20)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
}
