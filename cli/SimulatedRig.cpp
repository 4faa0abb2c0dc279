#include "cli/SimulatedRig.h"
#include "demo/DemoModule.h"
#include "sim/SimulatedModule.h"
#include "sim/VirtualMidiBus.h"

SimulatedRig::SimulatedRig (const juce::File& flashFile)
    : m_FlashFile (flashFile), m_pBus (std::make_shared<VirtualMidiBus>())
{
    m_pBus->addSoundBlasterPorts();
    m_pModule = m_pBus->addModule (DemoModuleConfig());
    if (m_FlashFile != juce::File())
        m_bLoaded = m_pModule->loadFlash (m_FlashFile);
}

SimulatedRig::~SimulatedRig()
{
    Finish();
}

std::shared_ptr<MidiPortSource> SimulatedRig::GetPortSource() const
{
    return m_pBus;
}

bool SimulatedRig::Finish()
{
    if (m_pBus == nullptr)
        return true;
    // Nothing reaches the module once the bus has stopped.
    m_pBus.reset();
    const bool saved = m_FlashFile == juce::File() || ! m_bLoaded || m_pModule->saveFlash (m_FlashFile);
    m_pModule.reset();
    return saved;
}
