#pragma once
// The engine of the virtual MIDI bus: the ordered device list, the delivery
// queue and the one thread that delivers every message. Private to sim/.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>
#include <juce_audio_basics/juce_audio_basics.h>
#include "link/MidiPorts.h"

class BusDevice;
class BusInPort;

using BusClock = std::chrono::steady_clock;

/** One device's place on the bus (guarded by the core's mutex). */
struct BusSlot
{
    std::shared_ptr<BusDevice> device;    ///< kept alive as long as the bus
    bool present = true;                  ///< its ports are listed
    bool removed = false;                 ///< taken off the bus for good
    uint64_t id = 0;                      ///< names its ports in listings; never reused
    uint64_t socket = 0;                  ///< where it is plugged in (its first id): its ports' location
    uint64_t generation = 1;              ///< grows each time it appears again
    BusClock::time_point lastToHost {};   ///< due time of its last message to the host
    BusClock::time_point lastToDevice {}; ///< due time of the host's last message to it
};

class BusCore
{
public:
    BusCore();
    ~BusCore();

    /** Starts the delivery thread. */
    void start();
    /** Stops and joins the delivery thread; later sends are dropped. */
    void shutdown();

    //==== devices ============================================================
    /** Adds a device at a position of the device list (-1: at the end). */
    void addDevice (const std::shared_ptr<BusCore>& self, std::shared_ptr<BusDevice> device, int position);
    /** Takes a device off the bus for good. */
    void removeDevice (BusDevice& device);
    /** The device vanishes (unplugged). */
    void detach (BusSlot* slot);
    /** The device appears again after `insertBefore` new silent port pairs. */
    void attach (BusSlot* slot, int insertBefore);
    /** Whether a device that appears again gets a new id. */
    void setRenumbering (bool on);
    /** Whether the device is plugged in. */
    bool isPresent (const BusSlot* slot) const;

    //==== the host's side ====================================================
    /** The present input (or output) ports, in device order. */
    std::vector<MidiPortInfo> listPorts (bool inputs) const;
    /** Opens a listed input for the handler; null when it cannot be opened or is gone. */
    std::unique_ptr<MidiInPort> openInput (const std::shared_ptr<BusCore>& self, const MidiPortInfo& port, MidiInHandler* handler);
    /** Opens a listed output; null when it cannot be opened or is gone. */
    std::unique_ptr<MidiOutPort> openOutput (const std::shared_ptr<BusCore>& self, const MidiPortInfo& port);
    /** Open attempts for a port name, inputs and outputs separately. */
    int openAttempts (const juce::String& name, bool inputs) const;
    /** Every name an open was attempted for. */
    juce::StringArray attemptedNames() const;
    /** Port objects alive now. */
    int livePorts() const { return m_livePorts.load(); }

    //==== the queue ==========================================================
    /** The host wrote to a device's output port (opened at `generation`). */
    void sendToDevice (BusSlot* slot, uint64_t generation, const juce::MidiMessage& message);
    /** A device sends to the host through its input port, after `delay`. */
    void sendToHost (BusSlot* slot, juce::MidiMessage message, BusClock::duration delay);
    /** Runs an action on the bus thread after `delay`. */
    void schedule (BusClock::duration delay, std::function<void()> action);
    /** Waits until nothing is queued and nothing runs; false after the bound
        or when called on the bus thread. */
    bool waitForIdle (int timeoutMs);
    /** Whether the calling thread is the delivery thread. */
    bool onBusThread() const;

    //==== for the port objects ===============================================
    /** A port starts delivering. */
    void startPort (BusInPort* port);
    /** A port stops; once this returns no callback for it runs (except the one
        that called it, when called from inside that callback). */
    void stopPort (BusInPort* port);
    /** Port objects report their birth and death. */
    void portCreated() { ++m_livePorts; }
    void portDestroyed() { --m_livePorts; }

private:
    enum class ItemKind { ToHost, ToDevice, Action };

    struct Item
    {
        BusClock::time_point due;
        BusClock::time_point sent;   // when it was queued
        uint64_t seq = 0;
        ItemKind kind = ItemKind::Action;
        BusSlot* slot = nullptr;
        uint64_t generation = 0;
        juce::MidiMessage message;
        std::function<void()> action;
    };

    struct Later
    {
        bool operator() (const Item& a, const Item& b) const
        {
            return a.due != b.due ? a.due > b.due : a.seq > b.seq;
        }
    };

    void push (Item&& item);
    void run();
    void deliverToHost (std::unique_lock<std::mutex>& lock, Item& item);
    BusSlot* findPort (bool input, const MidiPortInfo& port) const;
    void recordAttempt (const juce::String& name, bool input);

    mutable std::mutex m_lock;
    std::condition_variable m_workCv;     // new work, or stopping
    std::condition_variable m_doneCv;     // a callback ended, or the queue ran dry
    std::vector<Item> m_queue;            // a heap ordered by Later
    uint64_t m_nextSeq = 0;
    std::atomic<uint64_t> m_pushed { 0 }; // items queued so far: ends a wait for a due item early
    bool m_stopping = false;
    bool m_busy = false;                  // the thread is handling an item
    uint64_t m_inFlight = 0;              // id of the port whose callback runs
    std::thread m_thread;

    std::vector<std::unique_ptr<BusSlot>> m_slots;   // every slot ever added
    std::vector<BusSlot*> m_order;                   // device order (present or not)
    std::vector<BusInPort*> m_started;               // started input ports
    std::vector<uint64_t> m_targets;                 // scratch of the delivery thread
    uint64_t m_nextPortId = 0;
    uint64_t m_nextSlotId = 0;
    int m_insertedCount = 0;
    bool m_renumbering = false;           // a device that appears again gets a new id
    std::map<juce::String, int> m_inputAttempts;
    std::map<juce::String, int> m_outputAttempts;
    std::atomic<int> m_livePorts { 0 };
};
