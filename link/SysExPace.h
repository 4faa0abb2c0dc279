#pragma once
// Pacing: a SysEx sent in pieces with a gap between them, for interfaces that
// lose bytes when a long message arrives at full speed (a small buffer, a
// 31,250-baud output and no flow control). The bytes and their order stay
// those of the message; only when they leave changes. The pace comes from the
// settings file ([Pacing] Pace) or, for one run, from kestrava-cli --pace;
// every output that can send part of a SysEx reads it at each message.
// With "auto" the program finds the pace itself: it starts with whole
// messages (or the pace found last time for the port) and steps down the
// ladder below whenever the module's answers show that bytes were lost.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <juce_core/juce_core.h>
#include "link/MidiPorts.h"

/** The largest piece of a SysEx sent at once and the pause after each piece. */
struct SysExPace
{
    int pieceBytes = 0;   ///< 0: off, the whole message at once
    int gapMs = 0;        ///< the pause after each piece but the last

    bool IsOff() const { return pieceBytes <= 0; }
    bool operator== (const SysExPace& o) const { return pieceBytes == o.pieceBytes && gapMs == o.gapMs; }
};

/** The smallest piece: every command (12 bytes at most) stays whole, so that
    only data blocks are ever cut and a read's short watchdog never waits for a gap. */
constexpr int kMinPieceBytes = 16;
/** The largest piece that can be asked for (anything from 4689 on sends a block whole). */
constexpr int kMaxPieceBytes = 65536;
/** The longest gap: well within every watchdog period, which restarts at each piece. */
constexpr int kMaxGapMs = 1000;
/** Windows' MIDI service refuses SysEx buffers longer than this. */
constexpr int kWinMmPieceBytes = 2048;

/** "BYTES:MS" (for example "256:90"); empty, "0" and a BYTES of 0 are off.
    Empty when the text is no pace: BYTES from 16 to 65536, MS from 0 to 1000. */
std::optional<SysExPace> ParseSysExPace (const juce::String& text);
/** The pace as the settings file and --pace take it: "256:90", or "0" when off. */
juce::String SysExPaceText (SysExPace pace);

/** What the user chose: a fixed pace (off included), or one the program finds. */
struct PaceChoice
{
    bool automatic = false;   ///< "auto": found by the program as it goes
    SysExPace fixed {};       ///< the pace when not automatic

    bool operator== (const PaceChoice& o) const { return automatic == o.automatic && (automatic || fixed == o.fixed); }
};

/** A pace as ParseSysExPace takes it, or "auto" (any case); empty when neither. */
std::optional<PaceChoice> ParsePaceChoice (const juce::String& text);
/** "auto", or the fixed pace's text. */
juce::String PaceChoiceText (PaceChoice choice);

/** The settings file's choice. */
void SetSettingsPaceChoice (PaceChoice choice);
/** The choice for this run, which wins over the settings file's; none: the file's. */
void SetRunPaceChoice (std::optional<PaceChoice> choice);
/** The choice in force. */
PaceChoice CurrentPaceChoice();
/** A fixed pace for the settings file or the run (shorthands of the two above). */
inline void SetSettingsSysExPace (SysExPace pace) { SetSettingsPaceChoice ({ false, pace }); }
inline void SetRunSysExPace (std::optional<SysExPace> pace)
{
    SetRunPaceChoice (pace ? std::optional<PaceChoice> (PaceChoice { false, *pace }) : std::nullopt);
}
/** The pace "auto" sends with now (off until the program sets one). */
void SetFoundSysExPace (SysExPace pace);
SysExPace FoundSysExPace();
/** The pace every output uses for its next message: the fixed one, or under
    "auto" the one found so far. */
SysExPace CurrentSysExPace();

/** The rungs "auto" steps down, after whole messages. A DIN wire carries 3125
    bytes a second (3.125 bytes/ms); a cheap interface holds a few hundred bytes
    and loses what arrives while it is full. A piece of P bytes every G ms never
    overflows a buffer of B bytes when P fits in B and P/G stays at or below the
    wire's rate, so that each gap drains the piece before the next arrives.
    Measured on the rig's interface (384 bytes): 256:90 (2.84 bytes/ms) and 256:80
    (3.2, a few bytes gained per piece) complete, 256:70 (3.66) and 512:170 (larger
    than the buffer) lose bytes. Every rung sends 3 bytes/ms or less, just below the
    wire, so that a block costs little more than the wire's own 1.5 s, and each
    piece is a multiple of 3 bytes (a USB-MIDI packet carries 3 bytes of SysEx;
    some stacks mishandle a message cut inside one):
      255:85  buffers of 256 bytes and more (the rig's among them): a block in about 1.6 s;
       96:32  buffers of about 100 bytes: the same rate in smaller pieces;
       48:24  the floor, 2 bytes/ms: buffers of about 50 bytes, and an interface
              slower than its wire; a block in about 2.4 s.
    Few rungs: each that fails costs a watchdog period (4.5 s) and its group's redo. */
constexpr SysExPace kAutoPaceSteps[] = { { 255, 85 }, { 96, 32 }, { 48, 24 } };
/** The first rung gentler than `pace`: smaller pieces at no faster a rate (after
    whole messages, the first); none at the floor. */
std::optional<SysExPace> SlowerAutoPace (SysExPace pace);

/** The pace a WinMM output sends with: never a piece longer than Windows'
    MIDI service takes, pacing or not; under Wine always whole messages, since
    its driver takes every buffer as a SysEx of its own (adding F0 and F7). */
SysExPace WinMmSysExPace (SysExPace chosen, bool underWine);

/** How one output sends the pieces of a SysEx. */
struct SysExPieces
{
    /** Sends one piece; false when it failed. */
    std::function<bool (const uint8_t* bytes, size_t size)> send;
    /** Waits out a gap (the device drains meanwhile). */
    std::function<void (std::chrono::milliseconds)> wait;
    /** Told after each piece but the last; false: the output is closing, the rest is dropped. */
    std::function<bool()> pieceLeft;
};

/** What a piece that has left tells `observer` (none: nobody to tell), and its answer. */
std::function<bool()> PieceTeller (std::shared_ptr<MidiOutObserver> observer);
/** Pieces sent through `send`, with gaps waited out in real time, each piece
    but the last told to `observer`. */
SysExPieces PiecesTo (std::function<bool (const uint8_t*, size_t)> send, std::shared_ptr<MidiOutObserver> observer);

/** Sends the SysEx `bytes` as `pace` says: whole when pacing is off or the
    message fits one piece, else in pieces of at most pace.pieceBytes with
    pace.gapMs after each but the last. A message given up half-way because
    the output closes is ended by an F7, so the device is not left inside it.
    False only when a piece could not be sent. */
bool SendSysExInPieces (const uint8_t* bytes, size_t size, SysExPace pace, const SysExPieces& how);
