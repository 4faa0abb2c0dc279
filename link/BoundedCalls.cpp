#include "link/BoundedCalls.h"
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace
{
    /** The devices whose calls are hung, and the notices. Never destroyed:
        a worker left behind may end while the program ends. */
    struct Registry
    {
        std::mutex lock;
        std::map<std::string, int> hung;   // calls past their bound, by device
        juce::StringArray notices;
    };

    Registry& TheRegistry()
    {
        static auto* registry = new Registry();
        return *registry;
    }

    /** One call and how it ended. */
    struct Call
    {
        std::mutex lock;
        std::condition_variable ended;
        bool done = false;        // the call has returned
        bool leftBehind = false;  // the caller stopped waiting
    };
}

bool CallWithin (const std::string& key, std::chrono::milliseconds bound, std::function<void()> call,
                 std::function<void()> late)
{
    auto& registry = TheRegistry();
    {
        const std::lock_guard<std::mutex> l (registry.lock);
        if (registry.hung.count (key) != 0)
            return false;
    }
    auto c = std::make_shared<Call>();
    std::thread ([c, key, call = std::move (call), late = std::move (late)]
    {
        call();
        bool behind;
        {
            const std::lock_guard<std::mutex> l (c->lock);
            c->done = true;
            behind = c->leftBehind;
        }
        c->ended.notify_all();
        if (! behind)
            return;
        if (late)
            late();
        auto& r = TheRegistry();
        const std::lock_guard<std::mutex> l (r.lock);
        if (--r.hung[key] <= 0)
            r.hung.erase (key);
    }).detach();

    std::unique_lock<std::mutex> l (c->lock);
    if (c->ended.wait_for (l, bound, [&c] { return c->done; }))
        return true;
    // Counted while the call's lock is held: its worker cannot count it off first.
    c->leftBehind = true;
    const std::lock_guard<std::mutex> r (registry.lock);
    ++registry.hung[key];
    return false;
}

bool DeviceHung (const std::string& key)
{
    auto& registry = TheRegistry();
    const std::lock_guard<std::mutex> l (registry.lock);
    return registry.hung.count (key) != 0;
}

int HungCalls()
{
    auto& registry = TheRegistry();
    const std::lock_guard<std::mutex> l (registry.lock);
    int n = 0;
    for (const auto& [key, calls] : registry.hung)
        n += calls;
    return n;
}

void AddDriverNotice (const juce::String& line)
{
    auto& registry = TheRegistry();
    const std::lock_guard<std::mutex> l (registry.lock);
    registry.notices.add (line.trimEnd());
}

juce::String TakeDriverNotices()
{
    auto& registry = TheRegistry();
    const std::lock_guard<std::mutex> l (registry.lock);
    const auto text = registry.notices.joinIntoString ("\n");
    registry.notices.clear();
    return text;
}
