#pragma once
// Shared by the benchmark program: the smoke switch and a message-loop wait.
#include <cstdlib>
#include <functional>
#include <juce_events/juce_events.h>

/** KESTRAVA_BENCH_SMOKE=1 asks for tiny sizes, so that a test run can check
    that every benchmark still runs. */
inline bool BenchSmoke()
{
    const char* v = std::getenv ("KESTRAVA_BENCH_SMOKE");
    return v != nullptr && v[0] != '\0' && v[0] != '0';
}

/** Runs the message loop until the condition holds; false after `boundMs`. */
inline bool BenchRunLoopUntil (const std::function<bool()>& condition, int boundMs = 120000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) boundMs;
    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return condition();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
    }
    return true;
}
