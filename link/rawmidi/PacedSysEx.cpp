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
    // Every event but the last is as large as the card's buffer, the pace and
    // kPacedEventBytes allow; each waits for the room it needs.
    size_t largest = kPacedEventBytes;
    if (pacing.capacity > 0)
        largest = std::min (largest, (size_t) pacing.capacity);
    if (! pacing.pace.IsOff())
        largest = std::min (largest, (size_t) pacing.pace.pieceBytes);

    const auto start = pacing.now();
    auto lastProgress = start;
    long lastRoom = -2;
    size_t sent = 0;
    SysExPieces events;
    events.send = [&] (const uint8_t* event, size_t n)
    {
        while (pacing.room)
        {
            long room = pacing.room();
            const auto now = pacing.now();
            if (room < 0)
                room = AssumedRoom (start, now, sent);
            else if (room != lastRoom)
                lastProgress = now;   // the device took bytes (or the first look)
            lastRoom = room;
            if (room >= (long) n)
                break;
            if (now - lastProgress > kPacedStallBound)
                return false;
            pacing.sleep (microseconds (1000));
        }
        if (! pacing.send (event, n))
            return false;
        sent += n;
        lastProgress = pacing.now();
        return true;
    };
    events.wait = [&] (std::chrono::milliseconds gap)
    {
        pacing.sleep (gap);
        lastProgress = pacing.now();
    };
    events.pieceLeft = pacing.pieceLeft;
    return SendSysExInPieces (bytes, size, { (int) largest, pacing.pace.gapMs }, events);
}
