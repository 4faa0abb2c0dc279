#include "link/ClosingDevices.h"
#include <condition_variable>
#include <map>
#include <mutex>

namespace
{
    struct Closes
    {
        int underWay = 0;        // closes of the device not ended yet
        bool waitedFor = false;  // an opening has already waited for them
    };

    std::mutex lock;
    std::condition_variable ended;
    std::map<std::string, Closes> closing;   // under lock; a device leaves once its last close has ended
}

ClosingDevice::ClosingDevice (std::string key) : m_strKey (std::move (key))
{
    const std::lock_guard<std::mutex> l (lock);
    ++closing[m_strKey].underWay;
}

ClosingDevice::~ClosingDevice()
{
    {
        const std::lock_guard<std::mutex> l (lock);
        const auto it = closing.find (m_strKey);
        if (it != closing.end() && --it->second.underWay <= 0)
            closing.erase (it);
    }
    ended.notify_all();
}

bool DeviceCloseEnded (const std::string& key, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> l (lock);
    auto it = closing.find (key);
    if (it == closing.end())
        return true;
    if (it->second.waitedFor)
        return false;
    it->second.waitedFor = true;
    return ended.wait_for (l, wait, [&] { return closing.count (key) == 0; });
}
