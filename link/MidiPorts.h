#pragma once
// The one seam between the device link and MIDI: the real ports, the
// simulated module's bus and test transports all come in through here.
#include <functional>
#include <memory>
#include <vector>
#include <juce_audio_basics/juce_audio_basics.h>

class MidiInPort;

/** Receives incoming messages; the device link implements it. Called on a MIDI input thread. */
class MidiInHandler
{
public:
    virtual ~MidiInHandler() = default;
    /** One complete incoming message from the given port. */
    virtual void handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage& message) = 0;
    /** A SysEx message from the port was dropped: cut short by a status byte, or longer than the bound. */
    virtual void handleDroppedSysEx (MidiInPort* /*source*/, bool /*oversized*/) {}
};

/** An opened MIDI input. */
class MidiInPort
{
public:
    virtual ~MidiInPort() = default;
    /** Starts delivering messages to the handler. */
    virtual void start() = 0;
    /** Stops delivering; no callback runs for this port once it returns. */
    virtual void stop() = 0;
};

/** Hears how an output's messages end; called on the output's writer thread
    (leftBehind on the closing thread), never after the output is destroyed. */
class MidiOutObserver
{
public:
    virtual ~MidiOutObserver() = default;
    /** A message has been written whole to the device (true), or could not be written (false). */
    virtual void written (bool ok) = 0;
    /** The output was closed while a write was still under way; it ends on its own. */
    virtual void leftBehind() = 0;
    /** A piece of a message sent in pieces has left and more follow (see
        SysExPace.h); false asks the output to drop the rest, as it closes. */
    virtual bool pieceWritten() { return true; }
};

/** An opened MIDI output. */
class MidiOutPort
{
public:
    virtual ~MidiOutPort() = default;
    /** Sends one message; never keeps the caller waiting for the device. */
    virtual void sendMessageNow (const juce::MidiMessage&) = 0;
    /** Drops what has not gone out yet; called before the output is closed. */
    virtual void reset() = 0;
    /** Whether a write failed (the device is gone); a port that cannot tell says false. */
    virtual bool hasFailed() const { return false; }
    /** Who hears of each message's end; outputs that send at once tell nobody. */
    virtual void setObserver (std::shared_ptr<MidiOutObserver>) {}
};

/** One port as a source lists it. */
struct MidiPortInfo
{
    juce::String name;         ///< what the user knows the port as
    juce::String identifier;   ///< opens this very port, never another one that took its place
    juce::String backend;      ///< where the port comes from: "rawmidi", "alsa-seq", "winmm", "coremidi", "bus", ...
    juce::String location {};  ///< where its device is plugged in, the same when the device enumerates again; empty when unknown
};

/** One listing of every port, inputs and outputs each in device order. */
struct MidiPortList
{
    std::vector<MidiPortInfo> inputs;    ///< the input ports
    std::vector<MidiPortInfo> outputs;   ///< the output ports
};

/** Lists and opens MIDI ports. */
class MidiPortSource
{
public:
    virtual ~MidiPortSource() = default;
    /** Every port there is now; what is opened is taken from this list. */
    virtual MidiPortList listPorts() = 0;
    /** Opens a listed input; null when it cannot be opened or is no longer that port. */
    virtual std::unique_ptr<MidiInPort>  openInput  (const MidiPortInfo& port, MidiInHandler* handler) = 0;
    /** Opens a listed output; null when it cannot be opened or is no longer that port. */
    virtual std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) = 0;
    /** A problem of the MIDI system worth one line in the log, handed out once; empty for none. */
    virtual juce::String takeNotice() { return {}; }
    /** How an opened port is reached when not as listed (a busy raw port
        through the sequencer, and who holds it); empty when as listed. */
    virtual juce::String describeRoute (const MidiPortInfo& /*port*/, bool /*input*/) { return {}; }
};

/** A sound card's own MIDI port, which the link never opens: its name begins
    with "Creative Sound Blaster" (case ignored). A raw port's name is the
    card's name, then ": " and the device's own name: either may begin so. */
bool IsSkippedSoundCardPort (const MidiPortInfo& port);

/** The names of a listing's ports, in order. */
juce::StringArray NamesOf (const std::vector<MidiPortInfo>& ports);

/** Chooses the port source, once, before the panel is built. */
void SetMidiPortSource (std::shared_ptr<MidiPortSource> source);
/** The chosen source: the computer's own hardware ports (MakeSystemMidiPortSource) unless another was set. */
MidiPortSource& GetMidiPortSource();
/** The computer's ports as this platform reaches them best: raw MIDI for the
    hardware on Linux (unless KESTRAVA_MIDI_BACKEND=sequencer), WinMM read and
    written by the program itself on Windows, JUCE's ports elsewhere. On Linux the raw source lists other programs' sequencer ports
    only when `withOtherPrograms` (a port named by the user, the whole list). */
std::shared_ptr<MidiPortSource> MakeSystemMidiPortSource (bool withOtherPrograms);
