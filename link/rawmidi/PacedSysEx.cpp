#include "link/rawmidi/PacedSysEx.h"
#include <algorithm>

namespace
{
    using std::chrono::microseconds;

    /** Room by the clock, for a card whose buffer cannot be read: it starts
        empty and drains at the slowest rate a MIDI wire has. */
    long AssumedRoom (SysExPacing::Clock::time_point start, SysExPacing::Clock::time_point now, size_t sentSoFar)
    {
        const auto us = std::chrono::duration_cast<microseconds> (now - start).count();
        const long drained = (long) (us * kAssumedBytesPerSecond / 1000000);
        return std::clamp (kAssumedBufferBytes + drained - (long) sentSoFar, 0L, kAssumedBufferBytes);
    }
}

bool SendPaced (const uint8_t* bytes, size_t size, const SysExPacing& pacing)
{
    const auto start = pacing.now();
    auto lastProgress = start;
    long lastRoom = -2;
    size_t sent = 0;
    while (sent < size)
    {
        size_t event = std::min (kPacedEventBytes, size - sent);
        if (pacing.capacity > 0)
            event = std::min (event, (size_t) pacing.capacity);
        if (pacing.room)
        {
            long room = pacing.room();
            const auto now = pacing.now();
            if (room < 0)
                room = AssumedRoom (start, now, sent);
            else if (room != lastRoom)
                lastProgress = now;   // the device took bytes (or the first look)
            lastRoom = room;
            if (room < (long) event)
            {
                if (now - lastProgress > kPacedStallBound)
                    return false;
                pacing.sleep (microseconds (1000));
                continue;
            }
        }
        if (! pacing.send (bytes + sent, event))
            return false;
        sent += event;
        lastProgress = pacing.now();
    }
    return true;
}
