#pragma once
// Turns a MIDI byte stream, as it arrives in reads of any size, into whole
// messages: SysEx from F0 to F7 with real-time bytes passing through it,
// channel messages with running status, system common messages. A SysEx
// that a status byte cuts short is dropped as damaged; one longer than the
// bound is dropped whole. Both are counted.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class MidiStreamAssembler
{
public:
    /** Receives one whole message: its bytes, status first. */
    using Emit = std::function<void (const uint8_t* bytes, int size)>;

    /** The longest SysEx kept by default, F0 and F7 included. */
    static constexpr size_t kDefaultSysExBound = 64 * 1024;

    /** An assembler that keeps SysEx messages of at most `sysExBound` bytes. */
    explicit MidiStreamAssembler (size_t sysExBound = kDefaultSysExBound);

    /** Takes the next bytes of the stream; hands every message they complete to `emit`, in order. */
    void Feed (const uint8_t* bytes, size_t size, const Emit& emit);
    /** Forgets a message in progress and the running status (the stream starts again). */
    void Restart();
    /** Counts a SysEx the input could not take whole as damaged, and starts again. */
    void DropDamaged();

    /** Bytes of a message that begins with `status`, status included: 1 for
        real-time and tune request, 0 where no whole message begins so (F0, F7,
        the undefined F4 and F5, a data byte). */
    static int MessageLength (uint8_t status);

    /** SysEx messages dropped because they grew beyond the bound. */
    uint64_t OversizedSysEx() const { return m_nOversized.load(); }
    /** SysEx messages dropped because a status byte came before their F7. */
    uint64_t DamagedSysEx() const { return m_nDamaged.load(); }

private:
    void EndSysEx (bool damaged);
    void StartStatus (uint8_t status, const Emit& emit);
    void TakeData (uint8_t data, const Emit& emit);

    const size_t m_nBound;
    std::vector<uint8_t> m_SysEx;     // the SysEx in progress, F0 first
    bool m_bInSysEx = false;
    bool m_bOversized = false;        // the SysEx in progress passed the bound: its bytes are dropped
    uint8_t m_Message[3] {};          // the channel or system common message in progress
    int m_nHave = 0;                  // its bytes so far (0: none in progress)
    int m_nNeed = 0;                  // its whole length
    uint8_t m_nRunning = 0;           // running status (0: none)
    std::atomic<uint64_t> m_nOversized { 0 };
    std::atomic<uint64_t> m_nDamaged { 0 };
};
