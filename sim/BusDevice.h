#pragma once
// A device on the virtual MIDI bus: it contributes an input port (what the
// host reads), an output port (what the host writes), or both.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <juce_audio_basics/juce_audio_basics.h>

class BusCore;
struct BusSlot;

class BusDevice
{
public:
    /** An empty name means the device has no port of that direction. */
    BusDevice (juce::String inputName, juce::String outputName);
    virtual ~BusDevice() = default;

    BusDevice (const BusDevice&) = delete;
    BusDevice& operator= (const BusDevice&) = delete;

    /** Name of the port the host reads from (empty: none). */
    const juce::String& getInputName() const noexcept  { return m_inputName; }
    /** Name of the port the host writes to (empty: none). */
    const juce::String& getOutputName() const noexcept { return m_outputName; }

    /** Whether the device sits on a bus and is plugged in. */
    bool isPresent() const;
    /** Makes every later attempt to open its ports fail (attempts are still counted). */
    void setOpenFails (bool fails) noexcept { m_openFails = fails; }
    /** Whether opening its ports fails. */
    bool opensFail() const noexcept { return m_openFails; }

    /** Vanishes from the bus now, like an unplugged USB device: its port
        objects go dead and the port lists shrink. */
    void unplug();
    /** Appears again, after `otherPortsBefore` newly inserted port pairs; the
        host must open new port objects. */
    void plugIn (int otherPortsBefore = 0);

protected:
    /** One message the host sent to this device's output port (bus thread). */
    virtual void receiveFromHost (const juce::MidiMessage& message) = 0;
    /** Queues a message to the host on this device's input port, delivered
        after `delay` and never before earlier messages of this device. */
    void sendToHost (juce::MidiMessage message,
                     std::chrono::microseconds delay = std::chrono::microseconds (0));
    /** Runs an action on the bus thread after `delay`. */
    void runLater (std::chrono::microseconds delay, std::function<void()> action);
    /** Whether the calling thread is the bus's delivery thread. */
    bool onBusThread() const;
    /** When the host put the message being received on the bus (bus thread,
        inside receiveFromHost): the module's answer clock starts there, not
        when the bus got round to delivering it. */
    std::chrono::steady_clock::time_point sentAt() const noexcept { return m_sentAt; }

private:
    friend class BusCore;
    std::chrono::steady_clock::time_point m_sentAt {};   // set by the bus before each receiveFromHost
    const juce::String m_inputName;
    const juce::String m_outputName;
    std::atomic<bool> m_openFails { false };
    std::weak_ptr<BusCore> m_core;   // set once, when the device is added
    BusSlot* m_slot = nullptr;       // its place on the bus; lives as long as the bus
};
