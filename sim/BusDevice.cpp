#include "sim/BusDevice.h"
#include "sim/BusCore.h"

BusDevice::BusDevice (juce::String inputName, juce::String outputName)
    : m_inputName (std::move (inputName)), m_outputName (std::move (outputName))
{
}

bool BusDevice::isPresent() const
{
    auto core = m_core.lock();
    return core != nullptr && core->isPresent (m_slot);
}

void BusDevice::unplug()
{
    if (auto core = m_core.lock())
        core->detach (m_slot);
}

void BusDevice::plugIn (int otherPortsBefore)
{
    if (auto core = m_core.lock())
        core->attach (m_slot, otherPortsBefore);
}

void BusDevice::sendToHost (juce::MidiMessage message, std::chrono::microseconds delay)
{
    if (auto core = m_core.lock())
        core->sendToHost (m_slot, std::move (message), delay);
}

void BusDevice::runLater (std::chrono::microseconds delay, std::function<void()> action)
{
    if (auto core = m_core.lock())
        core->schedule (delay, std::move (action));
}

bool BusDevice::onBusThread() const
{
    auto core = m_core.lock();
    return core != nullptr && core->onBusThread();
}
