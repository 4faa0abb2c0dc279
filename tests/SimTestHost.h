#pragma once
// A tiny host for the simulated module's tests: one opened port pair on the
// virtual bus, raw SysEx out, everything received collected in order.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>
#include "sim/VirtualMidiBus.h"

using Bytes = std::vector<uint8_t>;

/** Collects what one input delivers; waits on conditions, never on time alone. */
class SimTestHandler : public MidiInHandler
{
public:
    void handleIncomingMidiMessage (MidiInPort*, const juce::MidiMessage& message) override
    {
        {
            const std::lock_guard<std::mutex> guard (m_lock);
            if (message.isSysEx())
                m_got.emplace_back (message.getSysExData(), message.getSysExData() + message.getSysExDataSize());
            else
                m_got.emplace_back (message.getRawData(), message.getRawData() + message.getRawDataSize());
            m_thread = std::this_thread::get_id();
        }
        m_cv.notify_all();
    }

    /** Waits until at least `n` messages arrived (bounded). */
    bool waitFor (size_t n, int boundMs = 5000)
    {
        std::unique_lock<std::mutex> lock (m_lock);
        return m_cv.wait_for (lock, std::chrono::milliseconds (boundMs), [&] { return m_got.size() >= n; });
    }
    /** Messages so far (SysEx: data bytes without F0/F7; others: raw bytes). */
    std::vector<Bytes> messages() const
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        return m_got;
    }
    /** Message i; empty when not there. */
    Bytes at (size_t i) const
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        return i < m_got.size() ? m_got[i] : Bytes();
    }
    /** How many arrived. */
    size_t count() const
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        return m_got.size();
    }
    /** The thread of the last callback. */
    std::thread::id lastThread() const
    {
        const std::lock_guard<std::mutex> guard (m_lock);
        return m_thread;
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<Bytes> m_got;
    std::thread::id m_thread;
};

/** One port pair of a named device, opened and started. */
struct SimTestLink
{
    SimTestHandler handler;   // declared first: outlives the ports
    std::unique_ptr<MidiInPort> in;
    std::unique_ptr<MidiOutPort> out;

    /** Opens the first input and output of that name; false when missing. */
    bool open (VirtualMidiBus& bus, const juce::String& name)
    {
        in = bus.openInputNamed (name, &handler);
        out = bus.openOutputNamed (name);
        if (in == nullptr || out == nullptr)
            return false;
        in->start();
        return true;
    }
    /** Sends SysEx data bytes (F0 and F7 are added). */
    void send (const Bytes& data)
    {
        out->sendMessageNow (juce::MidiMessage::createSysExMessage (data.data(), (int) data.size()));
    }
    /** Sends and waits for the next message; empty when none came. */
    Bytes ask (const Bytes& data)
    {
        const size_t before = handler.count();
        send (data);
        return handler.waitFor (before + 1) ? handler.at (before) : Bytes();
    }
};

/** A loader status reply. */
inline Bytes SimStatus (uint8_t s) { return { 0x00, 0x20, 0x54, 0x7D, 0x00, s }; }
