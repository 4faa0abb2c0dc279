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

MidiPortList VirtualMidiBus::listPorts()
{
    return { m_core->listPorts (true), m_core->listPorts (false) };
}

std::unique_ptr<MidiInPort> VirtualMidiBus::openInput (const MidiPortInfo& port, MidiInHandler* handler)
{
    return m_core->openInput (m_core, port, handler);
}

std::unique_ptr<MidiOutPort> VirtualMidiBus::openOutput (const MidiPortInfo& port)
{
    return m_core->openOutput (m_core, port);
}

juce::StringArray VirtualMidiBus::getInputNames() const
{
    return NamesOf (m_core->listPorts (true));
}

juce::StringArray VirtualMidiBus::getOutputNames() const
{
    return NamesOf (m_core->listPorts (false));
}

std::unique_ptr<MidiInPort> VirtualMidiBus::openInputNamed (const juce::String& name, MidiInHandler* handler)
{
    for (auto& p : m_core->listPorts (true))
        if (p.name == name)
            return openInput (p, handler);
    return nullptr;
}

std::unique_ptr<MidiOutPort> VirtualMidiBus::openOutputNamed (const juce::String& name)
{
    for (auto& p : m_core->listPorts (false))
        if (p.name == name)
            return openOutput (p);
    return nullptr;
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

void VirtualMidiBus::renumberOnReturn (bool on)
{
    m_core->setRenumbering (on);
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
