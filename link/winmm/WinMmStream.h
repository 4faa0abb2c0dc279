#pragma once
// What a WinMM input hands over, in the order it comes: short messages packed
// into a number (MIM_DATA), and the bytes of each SysEx buffer the driver
// gives back (MIM_LONGDATA). A buffer may hold part of a SysEx, the rest
// of one and the start of the next, or several: the feed joins them up.
#include <cstdint>
#include "link/MidiInputFeed.h"

class WinMmStream
{
public:
    /** Hands `port`'s messages to `handler` while `stopped` is false. */
    WinMmStream (MidiInPort* port, MidiInHandler* handler, const std::atomic<bool>& stopped,
                 size_t sysExBound = MidiStreamAssembler::kDefaultSysExBound);

    /** A short message: status in the lowest byte, then the data bytes. */
    void ShortMessage (uint32_t packed);
    /** The bytes a returned SysEx buffer holds. */
    void LongData (const uint8_t* bytes, size_t size);
    /** The driver found a SysEx invalid (MIM_LONGERROR): what its buffer holds is not taken. */
    void LongError();
    /** Forgets a message in progress (the input starts again). */
    void Restart() { m_Feed.Restart(); }

    /** SysEx messages dropped for their size. */
    uint64_t OversizedSysEx() const { return m_Feed.OversizedSysEx(); }
    /** SysEx messages dropped as damaged (cut short, or found invalid by the driver). */
    uint64_t DamagedSysEx() const { return m_Feed.DamagedSysEx(); }

private:
    MidiInputFeed m_Feed;
};
