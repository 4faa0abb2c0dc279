// Wine's X11 driver hides a top-level window by withdrawing its X window and
// then waits until the window manager has taken note (its WM_STATE property
// changes), giving up only after 2 s. With no window manager running (a
// virtual display, a kiosk) nothing ever takes note, so every window that
// goes costs those 2 s on the message thread, and JUCE surrounds each of its
// windows with four shadow windows of their own: a closed message box froze
// the window for 10 s, and the program's end, once its ports were closed and
// its settings written, took another 10 s, 20 s with a tooltip showing.
//
// DestroyWindow hides a top-level window first only while it is marked
// visible, and it calls the thread's CBT hook before that. Under Wine the
// hook below clears the mark, so the X window is destroyed at once, without
// the withdrawal and its wait. Windows itself never waits there and is left alone.
#include "platform/WineWindowClose.h"
#include "platform/Wine.h"
#if defined(_WIN32)
 #include <windows.h>
#endif

namespace
{
#if defined(_WIN32)
    LRESULT CALLBACK BeforeDestroy (int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_DESTROYWND)
        {
            const auto window = reinterpret_cast<HWND> (wParam);
            const auto style = ::GetWindowLongPtrW (window, GWL_STYLE);
            if ((style & WS_VISIBLE) != 0 && (style & WS_CHILD) == 0)
                ::SetWindowLongPtrW (window, GWL_STYLE, style & ~static_cast<LONG_PTR> (WS_VISIBLE));
        }
        return ::CallNextHookEx (nullptr, code, wParam, lParam);
    }
#endif
}

std::unique_ptr<WindowCloseWithoutWait> WindowCloseWithoutWait::MakeUnderWine()
{
#if defined(_WIN32)
    if (RunningUnderWine())
        if (HHOOK hook = ::SetWindowsHookExW (WH_CBT, BeforeDestroy, nullptr, ::GetCurrentThreadId()))
            return std::unique_ptr<WindowCloseWithoutWait> (new WindowCloseWithoutWait (hook));
#endif
    return nullptr;
}

WindowCloseWithoutWait::~WindowCloseWithoutWait()
{
#if defined(_WIN32)
    ::UnhookWindowsHookEx (static_cast<HHOOK> (m_pHook));
#endif
}
