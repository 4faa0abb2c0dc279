#include "cli/SimulatedRig.h"
#include "demo/DemoModule.h"
#include "sim/LossyPorts.h"
#include "sim/SimulatedModule.h"
#include "sim/VirtualMidiBus.h"

namespace
{
    constexpr int kBlocksBeforeUnplug = 16;   // 64 KiB programmed
}

SimulatedRig::SimulatedRig (const juce::File& flashFile, int modules, int unplugged, int lostAnswers, int lateRead, int lateMs,
                            int lossyBuffer)
    : m_FlashFile (flashFile), m_pBus (std::make_shared<VirtualMidiBus>()), m_nLostAnswers (lostAnswers), m_nLossyBuffer (lossyBuffer)
{
    m_pBus->addSoundBlasterPorts();
    // As USB cards: a module that restarts into its loader comes back under another identifier.
    m_pBus->renumberOnReturn();
    for (int i = 1; i <= modules; ++i)
    {
        auto module = m_pBus->addModule (DemoModuleConfig());
        if (m_FlashFile != juce::File())
            m_bLoaded = module->loadFlash (FlashFileOf (m_FlashFile, i)) && m_bLoaded;
        if (i == unplugged)
            module->vanishAfter (SimCommand::ProgramBlock, kBlocksBeforeUnplug);
        if (i == 1 && lateRead > 0)
            module->delayRead (lateRead - 1, std::chrono::milliseconds (lateMs));
        m_Modules.push_back (std::move (module));
    }
}

SimulatedRig::~SimulatedRig()
{
    Finish();
}

juce::File SimulatedRig::FlashFileOf (const juce::File& flashFile, int index)
{
    if (index <= 1)
        return flashFile;
    return flashFile.getSiblingFile (flashFile.getFileNameWithoutExtension() + "-" + juce::String (index)
                                     + flashFile.getFileExtension());
}

void SimulatedRig::ProgramPressed()
{
    // A busy module, or a USB hiccup, just as the switch into the loader waits for its answer.
    if (m_nLostAnswers > 0)
        for (auto& module : m_Modules)
            module->dropNextReplies (SimCommand::ApplicationProbe, m_nLostAnswers);
}

std::shared_ptr<MidiPortSource> SimulatedRig::GetPortSource() const
{
    if (m_nLossyBuffer > 0)
        return BehindLossyInterface (m_pBus, (size_t) m_nLossyBuffer);
    return m_pBus;
}

bool SimulatedRig::Finish()
{
    if (m_pBus == nullptr)
        return true;
    // Nothing reaches the modules once the bus has stopped.
    m_pBus.reset();
    bool saved = true;
    for (size_t i = 0; i < m_Modules.size(); ++i)
    {
        // Of several modules, each process writes back only the one it worked
        // on: the others' files belong to the processes beside it.
        const bool touched = m_Modules.size() == 1 || ! m_Modules[i]->operations().empty();
        if (m_FlashFile != juce::File() && m_bLoaded && touched)
            saved = m_Modules[i]->saveFlash (FlashFileOf (m_FlashFile, (int) i + 1)) && saved;
    }
    m_Modules.clear();
    return saved;
}
