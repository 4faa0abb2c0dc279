#pragma once
// Calls into a MIDI driver that may never return (a Windows driver that hangs
// in an open, a close, a stop or a read of its capabilities). Each runs on a
// worker thread of its own and is waited for a bounded time; past it, the
// caller goes on and the call is left to end whenever it does. Until then its
// device counts as hung: every further bounded call for that device is
// refused at once, so that a device that hangs costs its port one scan, holds
// up nothing else, and leaves at most one worker behind. A worker left behind
// is detached: it never keeps the program from ending.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <juce_core/juce_core.h>

/** How long a call into a driver is waited for. */
constexpr std::chrono::milliseconds kDriverCallBound { 1000 };

/** Runs `call` for the device `key` and waits for it at most `bound`. True
    when it ended in time. False when it did not: it goes on, `key` is hung
    until it ends, and then `late` runs on its worker (to close what an open
    brought too late, say). Also false, without calling, while `key` is hung.
    Both functions must own what they use: they may outlive the caller. */
bool CallWithin (const std::string& key, std::chrono::milliseconds bound, std::function<void()> call,
                 std::function<void()> late = {});

/** The same for a call with a result; none when it did not end in time (or
    was refused). A result that comes too late goes to `late`. */
template <typename T>
std::optional<T> CallWithinFor (const std::string& key, std::chrono::milliseconds bound, std::function<T()> call,
                                std::function<void (T&)> late = {})
{
    auto result = std::make_shared<std::optional<T>>();
    const bool ended = CallWithin (key, bound, [result, call] { *result = call(); },
                                   [result, late] { if (late && result->has_value()) late (**result); });
    if (! ended)
        return std::nullopt;
    return std::move (*result);
}

/** Whether a call for `key` is still under way past its bound. */
bool DeviceHung (const std::string& key);

/** Calls left behind past their bound that have not ended yet, for every device. */
int HungCalls();

/** Adds a line for the log about a driver (one that hangs, one that keeps a
    port); any thread. */
void AddDriverNotice (const juce::String& line);

/** The lines added since the last call, one per line, or empty. */
juce::String TakeDriverNotices();
