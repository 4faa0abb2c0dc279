#pragma once
// A port source that passes everything through to another and notes, per
// port (name and identifier), whether the port was opened, which probes went
// out and which identity replies came back: what "ports" lists, and which
// modules answered through which ports.
#include <memory>
#include <mutex>
#include <vector>
#include "link/MidiPorts.h"

class PortWatch : public MidiPortSource
{
public:
    /** What was seen of one port name. */
    struct Port
    {
        juce::String name;        ///< the device name
        juce::String backend;     ///< where the port comes from
        juce::String identifier;  ///< the input's identifier (the output's when it has no input)
        juce::String location;    ///< where its device is plugged in (what --port also takes); empty when unknown
        bool input = false;       ///< listed as an input
        bool output = false;      ///< listed as an output
        bool opened = false;      ///< the link opened it (sound cards are never opened)
        juce::String answer;      ///< "loader", "application" or empty: no identity reply came through it
        bool fs = false;          ///< a loader reply's FS flag
        juce::String route;       ///< how a busy direction was reached instead, and who holds it; empty: as listed
    };

    /** A module's identity reply. */
    struct Answer
    {
        MidiPortInfo input;       ///< the port the reply came through
        MidiPortInfo output;      ///< the output a loader reply names; empty for an application reply
        juce::String mode;        ///< "loader" or "application"
    };

    /** Watches `inner`. */
    explicit PortWatch (std::shared_ptr<MidiPortSource> inner);
    ~PortWatch() override;

    /** The inner listing, noted. */
    MidiPortList listPorts() override;
    /** Opens the inner input; its messages are noted on their way to `handler`. */
    std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override;
    /** Opens the inner output; the probes sent through it are noted. */
    std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override;
    /** The inner source's notice. */
    juce::String takeNotice() override { return m_pInner->takeNotice(); }
    /** The inner source's route. */
    juce::String describeRoute (const MidiPortInfo& port, bool input) override { return m_pInner->describeRoute (port, input); }

    /** Milliseconds since both the loader and the application probe have gone out; -1 before. */
    int64_t MsSinceBothProbes() const;
    /** Every port seen, in the order first listed. */
    std::vector<Port> Ports() const;
    /** Every distinct reply, in the order they came. */
    std::vector<Answer> Answers() const;
    /** The last listing of the inner source. */
    MidiPortList Listing() const;

private:
    class Relay;
    class WatchedOutput;

    Port& Entry (const MidiPortInfo& port);
    void Listed (const std::vector<MidiPortInfo>& ports, bool inputs);
    void Opened (const MidiPortInfo& port, bool input, bool opened);
    void NoteIncoming (const MidiPortInfo& input, const juce::MidiMessage& message);
    void NoteProbe (const juce::MidiMessage& message);

    std::shared_ptr<MidiPortSource> m_pInner;
    mutable std::mutex m_Lock;                  // guards everything below (MIDI thread and message thread)
    std::vector<Port> m_Ports;
    std::vector<Answer> m_Answers;
    MidiPortList m_Listing;                          // the last listing: loader replies name its outputs by index
    std::vector<std::unique_ptr<Relay>> m_Relays;    // live as long as the watch: ports may call them until stopped
    int64_t m_nLoaderProbeMs = -1, m_nApplicationProbeMs = -1;
};
