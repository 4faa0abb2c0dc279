#include "platform/Wine.h"
#if defined(_WIN32)
 #include <windows.h>
#endif

bool RunningUnderWine()
{
#if defined(_WIN32)
    // Wine's ntdll exports this function; Windows' does not.
    const HMODULE ntdll = ::GetModuleHandleW (L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress (ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
