#include "sim/BusPorts.h"

BusInPort::BusInPort (std::shared_ptr<BusCore> core, BusSlot* s, uint64_t gen,
                      MidiInHandler* h, uint64_t portId)
    : id (portId), slot (s), generation (gen), handler (h), m_core (std::move (core))
{
    m_core->portCreated();
}

BusInPort::~BusInPort()
{
    m_core->stopPort (this);
    m_core->portDestroyed();
}

void BusInPort::start()
{
    m_core->startPort (this);
}

void BusInPort::stop()
{
    m_core->stopPort (this);
}

BusOutPort::BusOutPort (std::shared_ptr<BusCore> core, BusSlot* slot, uint64_t generation)
    : m_core (std::move (core)), m_slot (slot), m_generation (generation)
{
    m_core->portCreated();
}

BusOutPort::~BusOutPort()
{
    m_core->portDestroyed();
}

void BusOutPort::sendMessageNow (const juce::MidiMessage& message)
{
    m_core->sendToDevice (m_slot, m_generation, message);
}
