#pragma once
// --simulate: the demo's simulated modules on a virtual MIDI bus, and with
// --simulate-flash their flashes kept in files from one run to the next.
#include <memory>
#include <vector>
#include "link/MidiPorts.h"

class SimulatedModule;
class VirtualMidiBus;

class SimulatedRig
{
public:
    /** The bus with a sound card's ports (never opened) and `modules` demo
        modules, alike but for their ports' identifiers (each restart gives a
        module new ones, as a USB card may get another number), their flashes taken
        from `flashFile` (module 1) and its siblings (see FlashFileOf); module
        `unplugged` (from 1; 0: none) goes for good after 64 KiB of programming;
        each module leaves `lostAnswers` probe answers unsent once "Program" is pressed;
        module 1 answers its read request `lateRead` (from 1; 0: none) `lateMs` late, busy meanwhile;
        a `lossyBuffer` above 0 puts them behind an interface that loses bytes (sim/LossyPorts.h). */
    SimulatedRig (const juce::File& flashFile, int modules = 1, int unplugged = 0, int lostAnswers = 0,
                  int lateRead = 0, int lateMs = 0, int lossyBuffer = 0);
    ~SimulatedRig();

    /** Whether the flash files could be read (or there were none to read). */
    bool FlashLoaded() const { return m_bLoaded; }
    /** The bus, as the port source. */
    std::shared_ptr<MidiPortSource> GetPortSource() const;
    /** "Program" was pressed: the lost answers begin. */
    void ProgramPressed();
    /** Stops the bus and keeps the flashes in their files; false when one cannot be written. */
    bool Finish();

    /** Module `index`'s flash file (from 1): `flashFile` itself, then "-2", "-3"... before its extension. */
    static juce::File FlashFileOf (const juce::File& flashFile, int index);

private:
    juce::File m_FlashFile;
    std::shared_ptr<VirtualMidiBus> m_pBus;
    std::vector<std::shared_ptr<SimulatedModule>> m_Modules;
    int m_nLostAnswers = 0;
    int m_nLossyBuffer = 0;
    bool m_bLoaded = true;
};
