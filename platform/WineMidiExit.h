#pragma once
// The end of a program that used MIDI under Wine.

/** Under Wine, has the thread through which Wine's ALSA MIDI driver delivers
    its messages end when the program exits, before the process takes its
    threads down (see WineMidiExit.cpp). Call it once MIDI is in use; nothing
    happens on Windows itself and on every other system. */
void EndWineMidiDeliveryAtExit();
