#pragma once
// The smallest port source a device link can bind to: one input and one
// output, both in-process. The input delivers nothing by itself (the target
// calls the link's parser directly); the output checks every message the
// link sends and counts them.
#include <atomic>
#include "link/MidiPorts.h"

class FuzzPortSource : public MidiPortSource
{
public:
    /** One input and one output. */
    MidiPortList listPorts() override;
    /** Opens the one input; remembers it as the port messages come from. */
    std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override;
    /** Opens the one output. */
    std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override;

    /** The input opened last (null when none is open): the source of fed messages. */
    MidiInPort* GetInput() const { return m_pInput.load(); }
    /** Messages sent on any output since the last reset. */
    int GetSentCount() const { return m_nSent.load(); }
    /** Zeroes the count of sent messages. */
    void ResetSentCount() { m_nSent = 0; }

private:
    class Input;
    class Output;
    std::atomic<MidiInPort*> m_pInput { nullptr };
    std::atomic<int> m_nSent { 0 };
};
