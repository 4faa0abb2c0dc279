#pragma once
// Opening an output and destroying one take turns. A writer left behind
// destroys its output on its own thread when its write finally ends, while
// the message thread may be opening outputs, and a system's list of open
// handles (JUCE's) may have no lock. Opening waits a bounded time:
// a destruction that hangs in the driver costs the port one scan, not the window.
#include <chrono>
#include <mutex>

/** How long opening an output waits for a destruction in progress. */
constexpr std::chrono::milliseconds kOutputTurnWait { 1000 };

/** Held while an output is opened, and while one is destroyed. */
std::timed_mutex& OutputTurns();

/** The turn to open an output; not owned when the wait ran out. */
inline std::unique_lock<std::timed_mutex> TakeOpeningTurn()
{
    return std::unique_lock<std::timed_mutex> (OutputTurns(), kOutputTurnWait);
}
