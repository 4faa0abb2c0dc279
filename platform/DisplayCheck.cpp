#include "platform/DisplayCheck.h"
#if defined(__linux__)
#include <cstdlib>
#include <dlfcn.h>

bool CanOpenDisplay()
{
    const char* x = std::getenv ("DISPLAY");
    const char* wayland = std::getenv ("WAYLAND_DISPLAY");
    if ((x == nullptr || *x == '\0') && (wayland == nullptr || *wayland == '\0'))
        return false;

    // The same library JUCE loads; asked directly, without JUCE, so that nothing else starts.
    void* x11 = dlopen ("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    if (x11 == nullptr)
        return false;
    using Open = void* (*) (const char*);
    using Close = int (*) (void*);
    auto open = reinterpret_cast<Open> (dlsym (x11, "XOpenDisplay"));
    auto close = reinterpret_cast<Close> (dlsym (x11, "XCloseDisplay"));
    bool opened = false;
    if (open != nullptr && close != nullptr)
        if (void* display = open (nullptr))
        {
            opened = true;
            close (display);
        }
    dlclose (x11);
    return opened;
}
#else
bool CanOpenDisplay()
{
    return true;
}
#endif
