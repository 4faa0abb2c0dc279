#include "link/winmm/LongSendWait.h"
#include <algorithm>

namespace
{
    constexpr long kWireBytesPerSecond = 3125;
    // How often the flag is looked at, should the driver's signal be missed.
    constexpr std::chrono::milliseconds kLook { 50 };

    /** Waits until the buffer is back or `until` has passed; whether it is back. */
    bool BackBy (LongSendWait::Clock::time_point until, const LongSendWait& w)
    {
        for (;;)
        {
            if (w.done())
                return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (until - w.now());
            if (left.count() <= 0)
                return false;
            w.wait (std::min (left, kLook));
        }
    }
}

std::chrono::milliseconds LongSendBound (size_t bytes)
{
    return std::chrono::milliseconds (2 * (long long) bytes * 1000 / kWireBytesPerSecond + 1000);
}

LongSendEnd AwaitLongSend (size_t bytes, const LongSendWait& w)
{
    if (BackBy (w.now() + LongSendBound (bytes), w))
        return LongSendEnd::Sent;
    w.reset();
    return BackBy (w.now() + kLongSendResetWait, w) ? LongSendEnd::Stopped : LongSendEnd::Kept;
}

bool CloseAfterResets (const std::function<CloseTry()>& close, const std::function<void()>& reset, int tries)
{
    for (int t = 1;; ++t)
    {
        const auto r = close();
        if (r != CloseTry::StillPlaying || t >= tries)
            return r == CloseTry::Closed;
        reset();
    }
}
