#pragma once
// Before an output to a card is closed, what is still queued for it is given
// the time a MIDI wire needs to take it, and no more. The kernel's own close
// waits up to 10 s for a device that takes nothing, and holds the card meanwhile:
// whatever is left after this wait is dropped instead.
#include <chrono>
#include <functional>

/** How a close watches what is still queued for the device. */
struct QueuedOutput
{
    using Clock = std::chrono::steady_clock;

    /** Bytes still queued for the device; -1 when that cannot be told. */
    std::function<long()> queued;
    /** Waits a while (the device drains meanwhile). */
    std::function<void (std::chrono::microseconds)> sleep;
    /** The time. */
    std::function<Clock::time_point()> now;
};

/** Added to the time the slowest wire takes for what is queued. */
constexpr std::chrono::milliseconds kDrainMargin { 100 };
/** A device that takes nothing for this long is not waited for any longer. */
constexpr std::chrono::milliseconds kDrainStall { 200 };

/** Waits until nothing is queued: at most as long as a 31,250-baud wire takes
    for what is queued when it begins, and kDrainMargin; less when the device
    stops taking bytes. True when everything went out. */
bool WaitOutputDrained (const QueuedOutput& output);
