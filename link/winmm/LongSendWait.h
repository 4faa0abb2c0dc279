#pragma once
// The wait for the end of a long message handed to a WinMM driver. A driver
// gives the buffer back (MHDR_DONE) once it has sent it; some never give back
// one whose send failed (the Windows MIDI service did not, for a while). The
// wait is bounded by what the slowest wire takes for the message; then the
// driver is told to give back every buffer, and waited for a while again.
#include <chrono>
#include <cstddef>
#include <functional>

/** How the end of a long message is learnt. */
struct LongSendWait
{
    using Clock = std::chrono::steady_clock;

    /** Whether the driver has given the buffer back. */
    std::function<bool()> done;
    /** Waits for the driver's signal, at most this long. */
    std::function<void (std::chrono::milliseconds)> wait;
    /** Tells the driver to stop and give back every buffer (midiOutReset). */
    std::function<void()> reset;
    /** The time. */
    std::function<Clock::time_point()> now;
};

/** How a long message ended. */
enum class LongSendEnd
{
    Sent,       ///< given back within the bound
    Stopped,    ///< given back only when the driver was reset: cut short
    Kept        ///< never given back: the driver may still use the buffer, which must never be freed
};

/** The time a long message of `bytes` is given: twice what a 31,250-baud
    wire takes for it, and a second. */
std::chrono::milliseconds LongSendBound (size_t bytes);
/** How long a reset driver is given to hand the buffer back. */
constexpr std::chrono::milliseconds kLongSendResetWait { 500 };

/** Waits for the end of a long message of `bytes`. */
LongSendEnd AwaitLongSend (size_t bytes, const LongSendWait& wait);

/** What one try to close a device gave. */
enum class CloseTry
{
    Closed,        ///< closed
    StillPlaying,  ///< refused: the driver still holds a buffer (MIDIERR_STILLPLAYING)
    Failed         ///< refused for another reason
};

/** Tries of a close whose buffers the driver holds. */
constexpr int kCloseTries = 10;

/** Closes a device: while the driver refuses because it still holds a
    buffer, it is told to give back every buffer (`reset`) and the close is
    tried again, up to `tries` times in all. Whether it closed; if not, the
    driver may still use the buffers and the event it signals, which must
    then never be freed. */
bool CloseAfterResets (const std::function<CloseTry()>& close, const std::function<void()>& reset, int tries = kCloseTries);
