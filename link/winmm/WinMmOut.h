#pragma once
#include <memory>
#include "link/MidiPorts.h"

/** Opens WinMM's output number `device`; null when it cannot be opened. Each
    send waits until the driver has taken the whole message (put it behind
    WithWriterThread); a message the driver refuses marks the output failed.
    A SysEx goes in buffers of at most 2048 bytes, paced when pacing is on,
    and whole under Wine (see WinMmSysExPace). */
std::unique_ptr<MidiOutPort> OpenWinMmOutput (unsigned device);
