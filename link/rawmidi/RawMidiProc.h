#pragma once
// What the kernel tells about a card's raw MIDI substreams in
// /proc/asound/cardC/midiD: who holds a substream open and, while it is open,
// how much room its buffer has left. The parsing takes the file's text, so
// that it can be fed without a sound card.
#include <optional>
#include <string>

/** One substream as the kernel's information file shows it. */
struct RawMidiSubstreamInfo
{
    bool opened = false;     ///< some program (or the kernel's sequencer) holds it open
    int ownerPid = -1;       ///< the process that opened it; -1 when not told
    long bufferSize = -1;    ///< bytes of its buffer while open; -1 when not told
    long avail = -1;         ///< room left in that buffer (output) or bytes waiting (input); -1 when not told
};

/** The section of `text` ("Output S" or "Input S"); nothing when the file has no such substream. */
std::optional<RawMidiSubstreamInfo> ParseRawMidiProc (const std::string& text, bool output, int subdevice);

/** The process name in the text of /proc/PID/comm (its line end removed). */
std::string ParseProcessName (const std::string& commText);

/** The information file of card `card`, device `device`; empty when it cannot be read. */
std::string ReadRawMidiProc (int card, int device);

/** The name of a running process; empty when it is gone or cannot be read. */
std::string ProcessName (int pid);

/** "aseqdump (PID 4242)", "PID 4242", or empty when no owner is known: who holds a substream. */
std::string DescribeHolder (const RawMidiSubstreamInfo& info, const std::string& processName);

/** Card, device and subdevice of a raw identifier "hw:C,D,S"; false for any other text. */
bool ParseRawIdentifier (const std::string& identifier, int& card, int& device, int& subdevice);
