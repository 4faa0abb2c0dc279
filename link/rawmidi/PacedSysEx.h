#pragma once
// A SysEx message sent through the sequencer to a card as a series of events
// (the first starts with F0, the last ends with F7), each one sent only once
// the card's output buffer has room for it: the kernel drops whatever does
// not fit, so an event too many would cut the message. With pacing on
// (SysExPace.h) the events are no larger than its pieces and its gap follows each.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include "link/SysExPace.h"

/** How a paced send learns the room and moves the bytes. */
struct SysExPacing
{
    using Clock = std::chrono::steady_clock;

    /** Bytes the card's buffer takes now; -1 when it cannot be told. Null: the
        destination is no card (a program's port), nothing to wait for. */
    std::function<long()> room;
    /** The card's whole buffer when known (-1: not known): no event is larger. */
    long capacity = -1;
    /** Sends one event of these bytes; false when it failed. */
    std::function<bool (const uint8_t* bytes, size_t size)> send;
    /** Waits a while (the device drains meanwhile). */
    std::function<void (std::chrono::microseconds)> sleep;
    /** The time, for the rate without room and the bound on a device that takes nothing. */
    std::function<Clock::time_point()> now;
    /** The pace chosen: no event larger than its pieces, its gap after each event but the last. */
    SysExPace pace {};
    /** Told after each event but the last; false: the rest is dropped (the output closes). */
    std::function<bool()> pieceLeft;
};

/** The largest event a paced send makes. */
constexpr size_t kPacedEventBytes = 512;
/** The room a card's buffer is taken to have when it cannot be read (the kernel's default size). */
constexpr long kAssumedBufferBytes = 4096;
/** The drain rate taken when the room cannot be read: a 31,250-baud wire. */
constexpr long kAssumedBytesPerSecond = 3125;
/** A device whose buffer does not drain for this long has failed. */
constexpr std::chrono::milliseconds kPacedStallBound { 5000 };

/** Sends `size` bytes as events of at most kPacedEventBytes; false when an
    event could not be sent or the device stopped taking bytes. A message given
    up half-way because the output closes is ended by an F7. */
bool SendPaced (const uint8_t* bytes, size_t size, const SysExPacing& pacing);
