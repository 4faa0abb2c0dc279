#pragma once
// A port source that passes everything through to another and notes, per
// port name, whether the port was opened, which probes went out and which
// identity replies came back: what "ports" lists.
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
        bool input = false;       ///< listed as an input
        bool output = false;      ///< listed as an output
        bool opened = false;      ///< the link opened it (sound cards are never opened)
        juce::String answer;      ///< "loader", "application" or empty: no identity reply came through it
        bool fs = false;          ///< a loader reply's FS flag
    };

    /** Watches `inner`. */
    explicit PortWatch (std::shared_ptr<MidiPortSource> inner);
    ~PortWatch() override;

    /** The inner input names, noted. */
    juce::StringArray getInputNames() override;
    /** The inner output names, noted. */
    juce::StringArray getOutputNames() override;
    /** Opens the inner input; its messages are noted on their way to `handler`. */
    std::unique_ptr<MidiInPort> openInput (int index, MidiInHandler* handler) override;
    /** Opens the inner output; the probes sent through it are noted. */
    std::unique_ptr<MidiOutPort> openOutput (int index) override;

    /** Milliseconds since both the loader and the application probe have gone out; -1 before. */
    int64_t MsSinceBothProbes() const;
    /** Every port name seen, in the order first listed. */
    std::vector<Port> Ports() const;

private:
    class Relay;
    class WatchedOutput;

    Port& Entry (const juce::String& name);
    juce::StringArray Listed (const juce::StringArray& names, bool inputs);
    void NoteIncoming (const juce::String& inputName, const juce::MidiMessage& message);
    void NoteProbe (const juce::MidiMessage& message);

    std::shared_ptr<MidiPortSource> m_pInner;
    mutable std::mutex m_Lock;                  // guards everything below (MIDI thread and message thread)
    std::vector<Port> m_Ports;
    juce::StringArray m_InputNames, m_OutputNames;   // the last listings
    std::vector<std::unique_ptr<Relay>> m_Relays;    // live as long as the watch: ports may call them until stopped
    int64_t m_nLoaderProbeMs = -1, m_nApplicationProbeMs = -1;
};
