#pragma once
// Simple devices for the bus: a port pair that records what the host sends
// and answers through a test's responder, or never answers at all.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>
#include "sim/BusDevice.h"

/** A port pair whose answers a test scripts. */
class ScriptedPortPair : public BusDevice
{
public:
    /** Called on the bus thread for every message the host sends to the pair. */
    using Responder = std::function<void (ScriptedPortPair& pair, const juce::MidiMessage& message)>;

    /** Both ports get the same name. */
    explicit ScriptedPortPair (const juce::String& name, Responder responder = {});
    /** Ports with their own names; an empty name leaves that port out. */
    ScriptedPortPair (const juce::String& inputName, const juce::String& outputName, Responder responder);

    /** Replaces the responder. */
    void setResponder (Responder responder);
    /** Sends a message to the host on the pair's input port. */
    void send (const juce::MidiMessage& message, std::chrono::microseconds delay = std::chrono::microseconds (0));
    /** Sends a SysEx message given by its data bytes (without F0 and F7). */
    void sendSysEx (const std::vector<uint8_t>& data, std::chrono::microseconds delay = std::chrono::microseconds (0));

    /** Messages the host sent to the pair so far. */
    int receivedCount() const;
    /** Copies of those messages, in order. */
    std::vector<juce::MidiMessage> received() const;
    /** Forgets the received messages. */
    void clearReceived();

protected:
    void receiveFromHost (const juce::MidiMessage& message) override;

private:
    mutable std::mutex m_lock;
    Responder m_responder;
    std::vector<juce::MidiMessage> m_received;
};

/** A port pair that never answers (it still records what it gets). */
class SilentPortPair : public ScriptedPortPair
{
public:
    /** Both ports get the same name. */
    explicit SilentPortPair (const juce::String& name) : ScriptedPortPair (name) {}
};

/** The name of the sound card port that must never be opened. */
inline const char* const kSoundBlasterPortName = "Creative Sound Blaster MIDI Out";
