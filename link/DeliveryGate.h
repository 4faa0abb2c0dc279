#pragma once
// Between an input's thread and its handler: once Close has returned, no
// delivery runs and none begins, whatever the thread that delivers still does
// (JUCE's inputs only stop calling at some later point).
#include <atomic>
#include <mutex>
#include <thread>

class DeliveryGate
{
public:
    /** Lets deliveries through. */
    void Open()
    {
        const std::lock_guard<std::mutex> l (m_Lock);
        m_bOpen = true;
    }

    /** Runs `deliver` (on the input's thread) unless the gate is closed. */
    template <typename Fn>
    void Deliver (Fn&& deliver)
    {
        const std::lock_guard<std::mutex> l (m_Lock);
        if (! m_bOpen)
            return;
        m_Delivering = std::this_thread::get_id();
        deliver();
        m_Delivering = std::thread::id();
    }

    /** Closes the gate and returns once no delivery runs any more; called from
        inside a delivery, it returns at once (that delivery is the last). */
    void Close()
    {
        if (m_Delivering.load() == std::this_thread::get_id())
        {
            m_bOpen = false;   // under the lock the delivery holds
            return;
        }
        const std::lock_guard<std::mutex> l (m_Lock);
        m_bOpen = false;
    }

private:
    std::mutex m_Lock;                              // held while a delivery runs
    bool m_bOpen = false;                           // under m_Lock
    std::atomic<std::thread::id> m_Delivering {};   // the thread inside a delivery, if any
};
