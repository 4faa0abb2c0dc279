#pragma once
// A cheap MIDI interface on its way to a 31,250-baud DIN output: a small
// buffer drained at the wire's rate, and no flow control towards the
// computer, so that bytes arriving while the buffer is full are lost. On a
// clock the caller gives (the rig's gadget runs it in real time).
#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

class OverrunBuffer
{
public:
    using Clock = std::chrono::steady_clock;

    /** A buffer of `capacity` bytes that sends `bytesPerSecond` on. */
    OverrunBuffer (size_t capacity, int bytesPerSecond);

    /** Moves on to `now`: the bytes that have left on the wire since are
        appended to `out`, then `size` bytes arrive; what does not fit is lost. */
    void Advance (Clock::time_point now, const uint8_t* bytes, size_t size, std::vector<uint8_t>& out);
    /** When the next byte will have left; Clock::time_point::max() while nothing is held. */
    Clock::time_point NextLeaves() const;
    /** Bytes lost so far. */
    uint64_t Lost() const { return m_nLost; }

private:
    const size_t m_nCapacity;
    const Clock::duration m_PerByte;
    std::deque<uint8_t> m_Held;
    Clock::time_point m_HeadLeaves {};   // when the first byte held has left
    uint64_t m_nLost = 0;
};
