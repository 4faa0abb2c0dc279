#include "platform/WineMidiExit.h"
#if defined(_WIN32)
 #include <cstdlib>
 #include <mutex>
 #include "platform/Wine.h"
 #ifndef NOMINMAX
  #define NOMINMAX
 #endif
 #include <windows.h>
 #include <mmsystem.h>
#endif

// Wine's ALSA MIDI driver (winealsa.drv) delivers its messages through a
// thread of its own, which waits inside the driver's Unix side until the
// driver is unloaded. The driver is unloaded only after the process has
// ended its other threads, so that thread is always ended while it waits; in
// a Linux guest with a MIDI card that faulted every time and the program
// exited by SIGSEGV. Telling the driver it is freed (DRV_FREE, what the
// driver hears as it is unloaded) lets the thread return first. The program
// has closed its ports by then: nothing more is delivered.

#if defined(_WIN32)
namespace
{
    void EndWineMidiDelivery()
    {
        const HMODULE driver = ::GetModuleHandleW (L"winealsa.drv");
        if (driver == nullptr)
            return;   // never loaded: no thread waits
        using DriverProc = LRESULT (CALLBACK*) (DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);
        if (auto proc = reinterpret_cast<DriverProc> (reinterpret_cast<void*> (::GetProcAddress (driver, "DriverProc"))))
            proc (0, nullptr, DRV_FREE, 0, 0);
    }
}
#endif

void EndWineMidiDeliveryAtExit()
{
#if defined(_WIN32)
    static std::once_flag once;
    std::call_once (once, []
    {
        if (RunningUnderWine())
            std::atexit (EndWineMidiDelivery);
    });
#endif
}
