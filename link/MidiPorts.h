#pragma once
// The one seam between the device link and MIDI: the real ports, the
// simulated module's bus and test transports all come in through here.
#include <functional>
#include <memory>
#include <juce_audio_basics/juce_audio_basics.h>

class MidiInPort;

/** Receives incoming messages; the device link implements it. Called on a MIDI input thread. */
class MidiInHandler
{
public:
    virtual ~MidiInHandler() = default;
    /** One complete incoming message from the given port. */
    virtual void handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage& message) = 0;
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

/** An opened MIDI output. */
class MidiOutPort
{
public:
    virtual ~MidiOutPort() = default;
    /** Sends one message at once. */
    virtual void sendMessageNow (const juce::MidiMessage&) = 0;
    /** Resets the output before it is closed. */
    virtual void reset() = 0;
};

/** Lists and opens MIDI ports. */
class MidiPortSource
{
public:
    virtual ~MidiPortSource() = default;
    /** Names of the input devices, in device order. */
    virtual juce::StringArray getInputNames() = 0;
    /** Names of the output devices, in device order. */
    virtual juce::StringArray getOutputNames() = 0;
    /** Opens input `index`; null when it cannot be opened. */
    virtual std::unique_ptr<MidiInPort>  openInput  (int index, MidiInHandler* handler) = 0;
    /** Opens output `index`; null when it cannot be opened. */
    virtual std::unique_ptr<MidiOutPort> openOutput (int index) = 0;
};

/** Chooses the port source, once, before the panel is built. */
void SetMidiPortSource (std::shared_ptr<MidiPortSource> source);
/** The chosen source: JUCE's real ports unless another was set. */
MidiPortSource& GetMidiPortSource();
