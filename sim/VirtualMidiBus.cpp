#include "sim/VirtualMidiBus.h"
#include "sim/BusCore.h"

VirtualMidiBus::VirtualMidiBus()
    : m_core (std::make_shared<BusCore>())
{
    m_core->start();
}

VirtualMidiBus::~VirtualMidiBus()
{
    m_core->shutdown();
}

juce::StringArray VirtualMidiBus::getInputNames()
{
    return m_core->portNames (true);
}

juce::StringArray VirtualMidiBus::getOutputNames()
{
    return m_core->portNames (false);
}

std::unique_ptr<MidiInPort> VirtualMidiBus::openInput (int index, MidiInHandler* handler)
{
    return m_core->openInput (m_core, index, handler);
}

std::unique_ptr<MidiOutPort> VirtualMidiBus::openOutput (int index)
{
    return m_core->openOutput (m_core, index);
}

void VirtualMidiBus::addDevice (std::shared_ptr<BusDevice> device, int position)
{
    m_core->addDevice (m_core, std::move (device), position);
}

std::shared_ptr<SimulatedModule> VirtualMidiBus::addModule (const SimModuleConfig& config)
{
    auto module = std::make_shared<SimulatedModule> (config);
    addDevice (module);
    return module;
}

std::shared_ptr<SilentPortPair> VirtualMidiBus::addSilentPorts (const juce::String& name)
{
    auto pair = std::make_shared<SilentPortPair> (name);
    addDevice (pair);
    return pair;
}

std::shared_ptr<SilentPortPair> VirtualMidiBus::addSoundBlasterPorts()
{
    return addSilentPorts (kSoundBlasterPortName);
}

std::shared_ptr<ScriptedPortPair> VirtualMidiBus::addScriptedPorts (const juce::String& name,
                                                                    ScriptedPortPair::Responder responder)
{
    auto pair = std::make_shared<ScriptedPortPair> (name, std::move (responder));
    addDevice (pair);
    return pair;
}

void VirtualMidiBus::removeDevice (BusDevice& device)
{
    m_core->removeDevice (device);
}

int VirtualMidiBus::openAttempts (const juce::String& portName) const
{
    return m_core->openAttempts (portName, true) + m_core->openAttempts (portName, false);
}

int VirtualMidiBus::inputOpenAttempts (const juce::String& portName) const
{
    return m_core->openAttempts (portName, true);
}

int VirtualMidiBus::outputOpenAttempts (const juce::String& portName) const
{
    return m_core->openAttempts (portName, false);
}

juce::StringArray VirtualMidiBus::attemptedPortNames() const
{
    return m_core->attemptedNames();
}

int VirtualMidiBus::livePortObjects() const
{
    return m_core->livePorts();
}

bool VirtualMidiBus::waitForIdle (int timeoutMs)
{
    return m_core->waitForIdle (timeoutMs);
}
