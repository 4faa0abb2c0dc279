#pragma once
// Between an input's bytes and the link's handler: the bytes, in pieces of
// any size, become whole messages; each SysEx dropped on the way is told to
// the handler before the messages that came after it.
#include <atomic>
#include "link/MidiPorts.h"
#include "link/MidiStreamAssembler.h"

class MidiInputFeed
{
public:
    /** Hands `port`'s messages to `handler` while `stopped` is false (checked before each one). */
    MidiInputFeed (MidiInPort* port, MidiInHandler* handler, const std::atomic<bool>& stopped,
                   size_t sysExBound = MidiStreamAssembler::kDefaultSysExBound);

    /** Takes the next bytes of the stream; one thread at a time. */
    void Feed (const uint8_t* bytes, size_t size);
    /** Forgets a message in progress (the stream starts again). */
    void Restart() { m_Assembler.Restart(); }
    /** A SysEx the input could not take whole: told as damaged, and the stream starts again. */
    void DropDamaged();

    /** SysEx messages dropped for their size. */
    uint64_t OversizedSysEx() const { return m_Assembler.OversizedSysEx(); }
    /** SysEx messages ended by a status byte before their F7. */
    uint64_t DamagedSysEx() const { return m_Assembler.DamagedSysEx(); }

private:
    void ReportDropped();

    MidiInPort* const m_pPort;
    MidiInHandler* const m_pHandler;
    const std::atomic<bool>& m_bStopped;
    MidiStreamAssembler m_Assembler;
    MidiStreamAssembler::Emit m_Emit;
    uint64_t m_nDamagedSeen = 0, m_nOversizedSeen = 0;
};
