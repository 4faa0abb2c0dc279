#pragma once
// Whether the program can show a window at all: on Linux a connection to the
// X display must open (JUCE draws through X, under Wayland through XWayland).

/** True when a window can be shown; on Windows and macOS always. */
bool CanOpenDisplay();
