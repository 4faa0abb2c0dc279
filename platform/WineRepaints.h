#pragma once
// Repaints of the windows when the program runs under Wine.
#include <memory>
#include <juce_events/juce_events.h>

/** Under Wine, a timer that carries out the windows' pending repaints; null
    on every other system, where nothing is needed. Delete it before the
    message loop ends. */
std::unique_ptr<juce::Timer> MakeRepaintTimerUnderWine();
