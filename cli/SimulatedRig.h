#pragma once
// --simulate: the demo's simulated module on a virtual MIDI bus, and with
// --simulate-flash its flash kept in a file from one run to the next.
#include <memory>
#include "link/MidiPorts.h"

class SimulatedModule;
class VirtualMidiBus;

class SimulatedRig
{
public:
    /** The bus with a sound card's ports (never opened) and the demo module, its
        flash taken from `flashFile` when one is named. */
    explicit SimulatedRig (const juce::File& flashFile);
    ~SimulatedRig();

    /** Whether the flash file could be read (or there was none to read). */
    bool FlashLoaded() const { return m_bLoaded; }
    /** The bus, as the port source. */
    std::shared_ptr<MidiPortSource> GetPortSource() const;
    /** Stops the bus and keeps the flash in its file; false when it cannot be written. */
    bool Finish();

private:
    juce::File m_FlashFile;
    std::shared_ptr<VirtualMidiBus> m_pBus;
    std::shared_ptr<SimulatedModule> m_pModule;
    bool m_bLoaded = true;
};
