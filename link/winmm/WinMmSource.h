#pragma once
#include "link/MidiPorts.h"

/** The ports of a Windows computer through WinMM, read and written by the
    program itself: an input's SysEx buffers take a whole answer and are given
    back in order, a closed input is closed at once (a module that comes back
    under the same name is opened afresh), and every output sends through a
    writer thread of its own. */
std::shared_ptr<MidiPortSource> MakeWinMmPortSource();
