#pragma once
// Joins a simulated module on a virtual bus to the device side of a USB-MIDI
// gadget: what the computer sends arrives on the gadget's raw MIDI input and
// goes to the module; the module's answers go out on the raw output.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include "link/MidiPorts.h"

class VirtualMidiBus;
class OverrunStage;

class GadgetBridge : public MidiInHandler
{
public:
    /** A bridge to the bus's first device; an answer the computer does not
        take within `writeBoundMs` is dropped, as a module's full send buffer would.
        A `lossyBuffer` above 0 puts a cheap interface on the way to the module:
        a buffer of that many bytes drained at 3125 bytes/s, losing what overflows. */
    GadgetBridge (VirtualMidiBus& bus, int writeBoundMs, size_t lossyBuffer = 0);
    ~GadgetBridge() override;

    /** Opens the gadget's raw port ("hw:C,D,S") and the module's bus ports;
        false when one of them cannot be opened (nothing stays open then). */
    bool Open (const std::string& devicePort);
    /** Closes everything; the module hears nothing more until the next Open. */
    void Close();
    /** Whether the ports are open. */
    bool IsOpen() const { return m_pRawIn != nullptr; }

    /** Answers dropped because the computer did not take them in time. */
    uint64_t DroppedAnswers() const { return m_nDropped.load(); }
    /** SysEx from the computer that arrived cut short or too long, over every Open. */
    uint64_t BadSysEx() const { return m_nBadSysEx.load(); }
    /** Bytes from the computer the lossy interface lost, over every Open. */
    uint64_t LostBytes() const { return m_nLost.load(); }

    /** Carries one message across: from the gadget to the module, or back. */
    void handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage& message) override;
    /** Counts a SysEx from the computer that the gadget's input dropped. */
    void handleDroppedSysEx (MidiInPort* source, bool oversized) override;

private:

    VirtualMidiBus& m_Bus;
    const int m_nWriteBoundMs;
    const size_t m_nLossyBuffer;
    std::unique_ptr<OverrunStage> m_pLossy;  // between the gadget's input and m_pRawIn, when lossy
    std::unique_ptr<MidiInPort> m_pRawIn;    // the gadget's input: what the computer sent
    std::unique_ptr<MidiInPort> m_pBusIn;    // the module's answers
    std::unique_ptr<MidiOutPort> m_pBusOut;  // to the module
    int m_nRawOutFd = -1;                    // the gadget's output: to the computer
    std::function<void()> m_RawOutClose;
    std::mutex m_OutLock;                    // guards the raw output against Close
    std::atomic<uint64_t> m_nDropped { 0 };
    std::atomic<uint64_t> m_nBadSysEx { 0 };   // told by the gadget's input thread
    std::atomic<uint64_t> m_nLost { 0 };       // of the stages closed so far
};
