#pragma once
// The port objects the bus hands to the host. Private to sim/.
#include <memory>
#include "link/MidiPorts.h"
#include "sim/BusCore.h"

/** An opened input: delivers the device's messages to the host's handler. */
class BusInPort : public MidiInPort
{
public:
    BusInPort (std::shared_ptr<BusCore> core, BusSlot* slot, uint64_t generation,
               MidiInHandler* handler, uint64_t id);
    ~BusInPort() override;
    void start() override;
    void stop() override;

    const uint64_t id;              ///< unique among the bus's ports
    BusSlot* const slot;            ///< the device it belongs to
    const uint64_t generation;      ///< the device's appearance it was opened on
    MidiInHandler* const handler;   ///< receiver of the messages

private:
    std::shared_ptr<BusCore> m_core;
};

/** An opened output: queues the host's messages to the device. */
class BusOutPort : public MidiOutPort
{
public:
    BusOutPort (std::shared_ptr<BusCore> core, BusSlot* slot, uint64_t generation);
    ~BusOutPort() override;
    void sendMessageNow (const juce::MidiMessage& message) override;
    void reset() override {}

private:
    std::shared_ptr<BusCore> m_core;
    BusSlot* const m_slot;
    const uint64_t m_generation;
};
