#pragma once
// Busy loops at the lowest priority (nice 19) beside a benchmark: they take
// whatever core time the benchmark leaves, as a build beside the program
// would, and show whether anything in it gives up its core while it waits.
#include <atomic>
#include <thread>
#include <vector>
#if defined(__linux__)
 #include <sys/resource.h>
 #include <sys/syscall.h>
 #include <unistd.h>
#endif

class BusyLoops
{
public:
    /** Starts `count` loops; they run until the object goes. */
    explicit BusyLoops (int count)
    {
        for (int i = 0; i < count; ++i)
            m_threads.emplace_back ([this]
            {
               #if defined(__linux__)
                ::setpriority (PRIO_PROCESS, (id_t) ::syscall (SYS_gettid), 19);
               #endif
                while (! m_stop.load (std::memory_order_relaxed)) {}
            });
    }

    ~BusyLoops()
    {
        m_stop = true;
        for (auto& t : m_threads)
            t.join();
    }

    BusyLoops (const BusyLoops&) = delete;
    BusyLoops& operator= (const BusyLoops&) = delete;

private:
    std::atomic<bool> m_stop { false };
    std::vector<std::thread> m_threads;
};
