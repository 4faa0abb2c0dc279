#pragma once
// Closing windows without Wine's wait for a window manager.
#include <memory>

/** While it exists, a window of the creating thread that is destroyed leaves
    the screen at once under Wine (see WineWindowClose.cpp). Make and delete it
    on the message thread. */
class WindowCloseWithoutWait
{
public:
    /** The hook for the calling thread; null on Windows itself and every other
        system, where nothing is needed. */
    static std::unique_ptr<WindowCloseWithoutWait> MakeUnderWine();
    /** Removes the hook. */
    ~WindowCloseWithoutWait();

private:
    explicit WindowCloseWithoutWait (void* hook) : m_pHook (hook) {}
    [[maybe_unused]] void* m_pHook;   // the Windows hook (HHOOK)
};
