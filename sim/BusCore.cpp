#include "sim/BusCore.h"
#include <algorithm>
#include <thread>
#if defined(__linux__)
 #include <sys/prctl.h>
#endif
#include "sim/BusDevice.h"
#include "sim/BusPorts.h"
#include "sim/PortPairs.h"

namespace
{
    // How long before a timed item is due the delivery thread stops sleeping
    // and waits on its core instead: a sleeping thread wakes tens of
    // microseconds late, and on a busy machine a thread that gives up its core
    // gets it back only after another's whole time slice.
    constexpr auto kAwakeBeforeDue = std::chrono::microseconds (300);

    // The bus whose delivery thread the calling thread is, if any.
    thread_local const BusCore* t_deliveringBus = nullptr;

    /** One turn of a wait on the core: tells the processor it is a wait, gives nothing up. */
    inline void SpinPause()
    {
       #if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
       #elif defined(__aarch64__)
        asm volatile ("yield");
       #endif
    }
}

BusCore::BusCore() = default;

BusCore::~BusCore()
{
    shutdown();
}

void BusCore::start()
{
    const std::lock_guard<std::mutex> guard (m_lock);
    if (m_thread.joinable() || m_stopping)
        return;
    m_thread = std::thread ([this]
    {
        t_deliveringBus = this;
       #if defined(__linux__)
        // Timed deliveries wake on time: no default 50 us of timer slack.
        prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
       #endif
        run();
    });
}

void BusCore::shutdown()
{
    std::vector<Item> dropped;
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        m_stopping = true;
        dropped.swap (m_queue);
    }
    m_workCv.notify_all();
    m_doneCv.notify_all();
    if (m_thread.joinable())
    {
        if (onBusThread())
            m_thread.detach();   // cannot join itself; the loop ends on its own
        else
            m_thread.join();
    }
    // `dropped` is destroyed here, outside the lock: actions may own anything.
}

//==============================================================================
void BusCore::addDevice (const std::shared_ptr<BusCore>& self, std::shared_ptr<BusDevice> device, int position)
{
    if (device == nullptr)
        return;
    const std::lock_guard<std::mutex> guard (m_lock);
    if (device->m_slot != nullptr)
        return;   // already on a bus
    auto slot = std::make_unique<BusSlot>();
    slot->id = ++m_nextSlotId;
    slot->socket = slot->id;
    slot->device = device;
    device->m_core = self;
    device->m_slot = slot.get();
    const auto at = (position < 0 || position > (int) m_order.size()) ? m_order.end()
                                                                       : m_order.begin() + position;
    m_order.insert (at, slot.get());
    m_slots.push_back (std::move (slot));
}

void BusCore::removeDevice (BusDevice& device)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    auto* slot = device.m_slot;
    if (slot == nullptr || slot->removed || device.m_core.lock().get() != this)
        return;
    slot->present = false;
    slot->removed = true;
    m_order.erase (std::remove (m_order.begin(), m_order.end(), slot), m_order.end());
}

void BusCore::detach (BusSlot* slot)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    slot->present = false;
}

void BusCore::attach (BusSlot* slot, int insertBefore)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    if (slot->removed || slot->present)
        return;
    auto self = slot->device->m_core.lock();
    for (int i = 0; i < insertBefore && self != nullptr; ++i)
    {
        auto other = std::make_shared<SilentPortPair> ("Other MIDI Port " + juce::String (++m_insertedCount));
        auto otherSlot = std::make_unique<BusSlot>();
        otherSlot->id = ++m_nextSlotId;
        otherSlot->socket = otherSlot->id;
        otherSlot->device = other;
        other->m_core = self;
        other->m_slot = otherSlot.get();
        const auto at = std::find (m_order.begin(), m_order.end(), slot);
        m_order.insert (at, otherSlot.get());
        m_slots.push_back (std::move (otherSlot));
    }
    slot->present = true;
    ++slot->generation;   // port objects of the earlier appearance stay dead
    if (m_renumbering)
        slot->id = ++m_nextSlotId;
}

void BusCore::setRenumbering (bool on)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_renumbering = on;
}

bool BusCore::isPresent (const BusSlot* slot) const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return slot->present;
}

//==============================================================================
namespace
{
    const juce::String& PortName (const BusSlot* slot, bool input)
    {
        return input ? slot->device->getInputName() : slot->device->getOutputName();
    }
}

std::vector<MidiPortInfo> BusCore::listPorts (bool inputs) const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    std::vector<MidiPortInfo> ports;
    for (auto* slot : m_order)
    {
        const auto& name = PortName (slot, inputs);
        if (slot->present && name.isNotEmpty())
            ports.push_back ({ name, "bus:" + juce::String ((juce::int64) slot->id), "bus",
                               "bus/" + juce::String ((juce::int64) slot->socket) });
    }
    return ports;
}

BusSlot* BusCore::findPort (bool input, const MidiPortInfo& port) const
{
    for (auto* slot : m_order)
        if (slot->present && "bus:" + juce::String ((juce::int64) slot->id) == port.identifier
            && PortName (slot, input).isNotEmpty() && PortName (slot, input) == port.name)
            return slot;
    return nullptr;
}

void BusCore::recordAttempt (const juce::String& name, bool input)
{
    ++(input ? m_inputAttempts : m_outputAttempts)[name];
}

std::unique_ptr<MidiInPort> BusCore::openInput (const std::shared_ptr<BusCore>& self, const MidiPortInfo& port, MidiInHandler* handler)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    auto* slot = findPort (true, port);
    if (slot == nullptr)
        return nullptr;
    recordAttempt (slot->device->getInputName(), true);
    if (handler == nullptr || slot->device->opensFail() || m_stopping)
        return nullptr;
    return std::make_unique<BusInPort> (self, slot, slot->generation, handler, ++m_nextPortId);
}

std::unique_ptr<MidiOutPort> BusCore::openOutput (const std::shared_ptr<BusCore>& self, const MidiPortInfo& port)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    auto* slot = findPort (false, port);
    if (slot == nullptr)
        return nullptr;
    recordAttempt (slot->device->getOutputName(), false);
    if (slot->device->opensFail() || m_stopping)
        return nullptr;
    return std::make_unique<BusOutPort> (self, slot, slot->generation);
}

int BusCore::openAttempts (const juce::String& name, bool inputs) const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    const auto& table = inputs ? m_inputAttempts : m_outputAttempts;
    const auto it = table.find (name);
    return it == table.end() ? 0 : it->second;
}

juce::StringArray BusCore::attemptedNames() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    juce::StringArray names;
    for (const auto& entry : m_inputAttempts)
        names.addIfNotAlreadyThere (entry.first);
    for (const auto& entry : m_outputAttempts)
        names.addIfNotAlreadyThere (entry.first);
    return names;
}

//==============================================================================
void BusCore::push (Item&& item)
{
    item.seq = m_nextSeq++;
    item.sent = BusClock::now();
    m_pushed.fetch_add (1, std::memory_order_release);
    m_queue.push_back (std::move (item));
    std::push_heap (m_queue.begin(), m_queue.end(), Later());
}

void BusCore::sendToDevice (BusSlot* slot, uint64_t generation, const juce::MidiMessage& message)
{
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        if (m_stopping || ! slot->present || slot->generation != generation)
            return;   // a dead port drops what it is given
        Item item;
        item.due = std::max (BusClock::now(), slot->lastToDevice);
        slot->lastToDevice = item.due;
        item.kind = ItemKind::ToDevice;
        item.slot = slot;
        item.generation = generation;
        item.message = message;
        push (std::move (item));
    }
    if (! onBusThread())
        m_workCv.notify_one();
}

void BusCore::sendToHost (BusSlot* slot, juce::MidiMessage message, BusClock::duration delay)
{
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        if (m_stopping || ! slot->present)
            return;
        Item item;
        item.due = std::max (BusClock::now() + delay, slot->lastToHost);
        slot->lastToHost = item.due;
        item.kind = ItemKind::ToHost;
        item.slot = slot;
        item.generation = slot->generation;
        item.message = std::move (message);
        push (std::move (item));
    }
    if (! onBusThread())
        m_workCv.notify_one();
}

void BusCore::schedule (BusClock::duration delay, std::function<void()> action)
{
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        if (m_stopping)
            return;
        Item item;
        item.due = BusClock::now() + delay;
        item.kind = ItemKind::Action;
        item.action = std::move (action);
        push (std::move (item));
    }
    if (! onBusThread())
        m_workCv.notify_one();
}

bool BusCore::onBusThread() const
{
    return t_deliveringBus == this;
}

bool BusCore::waitForIdle (int timeoutMs)
{
    if (onBusThread())
        return false;
    std::unique_lock<std::mutex> lock (m_lock);
    return m_doneCv.wait_for (lock, std::chrono::milliseconds (timeoutMs),
                              [this] { return m_stopping || (m_queue.empty() && ! m_busy); });
}

//==============================================================================
void BusCore::startPort (BusInPort* port)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    if (std::find (m_started.begin(), m_started.end(), port) == m_started.end())
        m_started.push_back (port);
}

void BusCore::stopPort (BusInPort* port)
{
    std::unique_lock<std::mutex> lock (m_lock);
    m_started.erase (std::remove (m_started.begin(), m_started.end(), port), m_started.end());
    // Wait out a callback of this port that runs on the bus thread right now.
    // On the bus thread itself only that callback can be running: no wait.
    if (! onBusThread())
        m_doneCv.wait (lock, [this, port] { return m_inFlight != port->id; });
}

void BusCore::deliverToHost (std::unique_lock<std::mutex>& lock, Item& item)
{
    auto* slot = item.slot;
    if (! slot->present || slot->generation != item.generation)
        return;
    m_targets.clear();
    for (auto* port : m_started)
        if (port->slot == slot && port->generation == slot->generation)
            m_targets.push_back (port->id);

    for (const auto id : m_targets)
    {
        // A port may have stopped (or died) during an earlier callback.
        const auto it = std::find_if (m_started.begin(), m_started.end(),
                                      [id] (const BusInPort* p) { return p->id == id; });
        if (it == m_started.end() || ! slot->present || slot->generation != item.generation)
            continue;
        auto* port = *it;
        auto* handler = port->handler;
        m_inFlight = id;
        lock.unlock();
        handler->handleIncomingMidiMessage (port, item.message);
        lock.lock();
        m_inFlight = 0;
        m_doneCv.notify_all();
    }
}

void BusCore::run()
{
    std::unique_lock<std::mutex> lock (m_lock);
    while (! m_stopping)
    {
        if (m_queue.empty())
        {
            m_doneCv.notify_all();
            m_workCv.wait (lock);
            continue;
        }
        const auto due = m_queue.front().due;
        const auto now = BusClock::now();
        if (due > now)
        {
            // Sleep until shortly before the item is due and wait out the rest
            // on the core, until it is due or something new is queued (which may
            // be due first): late deliveries would count as the host's time
            // between a reply and its next command.
            if (due - now > kAwakeBeforeDue)
            {
                m_workCv.wait_until (lock, due - kAwakeBeforeDue);
                continue;
            }
            const auto queued = m_pushed.load (std::memory_order_acquire);
            lock.unlock();
            while (BusClock::now() < due && m_pushed.load (std::memory_order_acquire) == queued)
                SpinPause();
            lock.lock();
            continue;
        }
        std::pop_heap (m_queue.begin(), m_queue.end(), Later());
        Item item = std::move (m_queue.back());
        m_queue.pop_back();
        m_busy = true;

        switch (item.kind)
        {
            case ItemKind::ToDevice:
                if (item.slot->present && item.slot->generation == item.generation)
                {
                    auto device = item.slot->device;
                    lock.unlock();
                    device->m_sentAt = item.sent;
                    device->receiveFromHost (item.message);
                    lock.lock();
                }
                break;
            case ItemKind::ToHost:
                deliverToHost (lock, item);
                break;
            case ItemKind::Action:
                lock.unlock();
                item.action();
                item.action = nullptr;
                lock.lock();
                break;
        }
        m_busy = false;
    }
    m_doneCv.notify_all();
}
