#pragma once
// The script a fuzz input is read as when it drives a device link: a header
// that picks the operation the link is in (and its files and parameters),
// then a sequence of events: replies from the module, other MIDI messages,
// watchdog ticks and the start of further operations. The seed maker writes
// captured wire traffic in the same form.
#include <cstdint>
#include <vector>
#include <juce_audio_basics/juce_audio_basics.h>

/** The bytes of the script header. */
enum LinkScriptHeader : int
{
    kHeaderState,     ///< operation to start (LinkScriptState, modulo its count)
    kHeaderFlags,     ///< LinkScriptFlag bits
    kHeaderDriver,    ///< which prepared driver file (modulo their count)
    kHeaderImage,     ///< which prepared image file (modulo their count)
    kHeaderPage,      ///< flash page (low two bits)
    kHeaderSource,    ///< source offset in units of 256
    kHeaderOffset,    ///< bit 7 clear: sector index; set: (low 7 bits) x 4096 units
    kHeaderLength,    ///< length in units of 1024 (0: as long as possible)
    kHeaderBytes      ///< size of the header
};

/** Operations a script can start. */
enum LinkScriptState : int
{
    kStateIdle,           ///< bound, nothing started
    kStateSendDriver,     ///< driver upload
    kStateCheckFlash,     ///< flash check
    kStateEraseProgram,   ///< erase, then program the image
    kStateEraseRange,     ///< erase only
    kStateProgram,        ///< program without erasing
    kStateZeroBlock,      ///< program zero bytes
    kStateRead,           ///< read the flash into a file
    kStateCompare,        ///< compare the image with the read-back file
    kStateUnbound,        ///< no port bound, then a driver upload
    kStateCount
};

/** Bits of the flags byte. */
enum LinkScriptFlag : int
{
    kFlagFS        = 1 << 0,   ///< the loader identity carries FS (read blocks have a trailer)
    kFlagWordMode  = 1 << 1,   ///< offsets and lengths are 16-bit words
    kFlagFullImage = 1 << 2,   ///< g_bFullImage
    kFlagEraseOnly = 1 << 3,   ///< g_bEraseOnly
    kFlagPhaseShift = 4        ///< bits 4-5: g_nJobPhase
};

/** Event kinds (the event byte modulo kEventCount). */
enum LinkScriptEvent : int
{
    kEventSysEx,          ///< n, then n data bytes (top bit cleared), sent as F0 ... F7
    kEventStatus,         ///< s: status reply 00 20 54 7D 00 s
    kEventReadChunk,      ///< m, groups, seed, extra: a read chunk of groups x 8 + extra (0-7) payload bytes
    kEventReadBlock,      ///< flags, seed: a whole read block in 1-4 chunks; bit 0 damages the trailer
    kEventLoaderIdentity, ///< i, f (0xFF: absent), from: loader identity naming output i
    kEventAppIdentity,    ///< application identity
    kEventTick,           ///< one tick of the link's timer
    kEventShort,          ///< status, data1, data2: a channel message
    kEventStart,          ///< state: start another operation (same files and parameters)
    kEventRaw,            ///< 16-bit n, then n bytes as they are (captured traffic)
    kEventCount
};

/** Writes scripts (for seeds). */
class LinkScriptWriter
{
public:
    /** Starts a script with its header. */
    LinkScriptWriter (int state, int flags, int driver = 0, int image = 0,
                      int page = 0, int source = 0, int offset = 0, int length = 0);
    /** Adds a captured message as it came (raw bytes, F0 ... F7 included). */
    void Raw (const juce::MidiMessage& message);
    /** Adds a status reply. */
    void Status (int status);
    /** Adds a whole read block of patterned data (optionally with a damaged trailer). */
    void ReadBlock (int flags, int seed);
    /** Adds a loader identity reply. */
    void LoaderIdentity (int index, int fsFlag);
    /** Adds a watchdog tick. */
    void Tick();
    /** Adds the start of another operation. */
    void Start (int state);
    /** The script's bytes. */
    const std::vector<uint8_t>& Bytes() const { return m_Bytes; }

private:
    std::vector<uint8_t> m_Bytes;
};

/** Builds a read block's reply messages as the module would send them: the
    block (4096 bytes, 4100 with trailer) in the 8-to-7 encoding, cut into
    `chunks` messages 00 20 54 7D 01 m ...; every chunk but the last has m = 1
    when `announce` is set. */
std::vector<juce::MidiMessage> MakeReadBlockReplies (const uint8_t* block, int blockBytes,
                                                      int chunks, bool announce);
