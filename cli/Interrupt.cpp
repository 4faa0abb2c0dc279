#include "cli/Interrupt.h"
#include <atomic>
#include <csignal>
#include "store/shared/ProgramGlobals.h"

namespace
{
    std::atomic<bool> interrupted { false };
    static_assert (std::atomic<bool>::is_always_lock_free, "flags set in a signal handler must be lock-free");

    void OnInterrupt (int signal)
    {
        interrupted.store (true);
        g_bQuitRequested.store (true);
        std::signal (signal, SIG_DFL);
    }
}

void InstallInterruptHandler()
{
    std::signal (SIGINT, OnInterrupt);
    std::signal (SIGTERM, OnInterrupt);
#if defined(SIGPIPE)
    // A reader that went away (a pipe into "head", or kestrava-cli --all ended
    // by force) must not end a job in the middle of a write: what cannot be
    // printed is lost, and the job goes on to its end.
    std::signal (SIGPIPE, SIG_IGN);
#endif
#if defined(SIGBREAK)
    // Windows: how kestrava-cli --all asks the processes it started to stop.
    std::signal (SIGBREAK, OnInterrupt);
#endif
}

bool WasInterrupted()
{
    return interrupted.load();
}
