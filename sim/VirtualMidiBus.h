#pragma once
// An in-process MIDI bus: a MidiPortSource whose ports belong to simulated
// devices. Every message is delivered asynchronously and in order on the
// bus's own thread, as a real MIDI input thread would; devices may answer
// after a delay without sleeping. Devices can vanish and come back (a USB
// restart); port lists follow, so indices shift.
#include <memory>
#include "link/MidiPorts.h"
#include "sim/BusDevice.h"
#include "sim/PortPairs.h"
#include "sim/SimulatedModule.h"

class BusCore;

class VirtualMidiBus : public MidiPortSource
{
public:
    /** An empty bus with its delivery thread running. */
    VirtualMidiBus();
    /** Stops the delivery thread; port objects still held go dead. */
    ~VirtualMidiBus() override;

    //==== MidiPortSource =====================================================
    /** The ports of the present devices, in device order; identifiers name the device. */
    MidiPortList listPorts() override;
    /** Opens a listed input; null when it fails or its device is gone. */
    std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override;
    /** Opens a listed output; null when it fails or its device is gone. */
    std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override;

    //==== devices ============================================================
    /** Puts a device on the bus at a position of the device list (-1: last). */
    void addDevice (std::shared_ptr<BusDevice> device, int position = -1);
    /** Adds a simulated module at the end. */
    std::shared_ptr<SimulatedModule> addModule (const SimModuleConfig& config = {});
    /** Adds a port pair that never answers. */
    std::shared_ptr<SilentPortPair> addSilentPorts (const juce::String& name = "Silent MIDI Port");
    /** Adds the sound card port pair named "Creative Sound Blaster MIDI Out". */
    std::shared_ptr<SilentPortPair> addSoundBlasterPorts();
    /** Adds a port pair whose answers the responder scripts. */
    std::shared_ptr<ScriptedPortPair> addScriptedPorts (const juce::String& name,
                                                        ScriptedPortPair::Responder responder = {});
    /** Takes a device off the bus for good. */
    void removeDevice (BusDevice& device);
    /** From now on a device that appears again is listed under a new identifier,
        as a USB card may come back under another number; its location stays. */
    void renumberOnReturn (bool on = true);

    //==== for tests ==========================================================
    /** Input names of the present devices, in device order. */
    juce::StringArray getInputNames() const;
    /** Output names of the present devices, in device order. */
    juce::StringArray getOutputNames() const;
    /** Opens the first present input of this name; null when none opens. */
    std::unique_ptr<MidiInPort> openInputNamed (const juce::String& name, MidiInHandler* handler);
    /** Opens the first present output of this name; null when none opens. */
    std::unique_ptr<MidiOutPort> openOutputNamed (const juce::String& name);
    /** Attempts to open a port of this name, inputs and outputs together. */
    int openAttempts (const juce::String& portName) const;
    /** Attempts to open an input of this name. */
    int inputOpenAttempts (const juce::String& portName) const;
    /** Attempts to open an output of this name. */
    int outputOpenAttempts (const juce::String& portName) const;
    /** Every port name an open was attempted for. */
    juce::StringArray attemptedPortNames() const;
    /** Port objects handed out and not yet destroyed. */
    int livePortObjects() const;
    /** Waits until nothing is queued (timed messages included) and nothing is
        being delivered; false after the bound or on the bus thread. */
    bool waitForIdle (int timeoutMs = 5000);

private:
    std::shared_ptr<BusCore> m_core;
};
