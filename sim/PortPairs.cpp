#include "sim/PortPairs.h"

ScriptedPortPair::ScriptedPortPair (const juce::String& name, Responder responder)
    : ScriptedPortPair (name, name, std::move (responder))
{
}

ScriptedPortPair::ScriptedPortPair (const juce::String& inputName, const juce::String& outputName,
                                    Responder responder)
    : BusDevice (inputName, outputName), m_responder (std::move (responder))
{
}

void ScriptedPortPair::setResponder (Responder responder)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_responder = std::move (responder);
}

void ScriptedPortPair::send (const juce::MidiMessage& message, std::chrono::microseconds delay)
{
    sendToHost (message, delay);
}

void ScriptedPortPair::sendSysEx (const std::vector<uint8_t>& data, std::chrono::microseconds delay)
{
    sendToHost (juce::MidiMessage::createSysExMessage (data.data(), (int) data.size()), delay);
}

int ScriptedPortPair::receivedCount() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return (int) m_received.size();
}

std::vector<juce::MidiMessage> ScriptedPortPair::received() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_received;
}

void ScriptedPortPair::clearReceived()
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_received.clear();
}

void ScriptedPortPair::receiveFromHost (const juce::MidiMessage& message)
{
    Responder responder;
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        m_received.push_back (message);
        responder = m_responder;
    }
    if (responder)
        responder (*this, message);
}
