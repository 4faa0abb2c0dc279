#include "link/rawmidi/OutputDrain.h"
#include "link/rawmidi/PacedSysEx.h"

bool WaitOutputDrained (const QueuedOutput& output)
{
    long queued = output.queued();
    if (queued <= 0)
        return queued == 0;
    const auto start = output.now();
    const auto deadline = start + std::chrono::milliseconds (queued * 1000 / kAssumedBytesPerSecond) + kDrainMargin;
    auto lastProgress = start;
    for (;;)
    {
        output.sleep (std::chrono::microseconds (2000));
        const long now = output.queued();
        const auto t = output.now();
        if (now == 0)
            return true;
        if (now < 0)
            return false;
        if (now < queued)
            lastProgress = t;
        queued = now;
        if (t >= deadline || t - lastProgress >= kDrainStall)
            return false;
    }
}
