#pragma once
#include <memory>
#include "link/MidiPorts.h"

/** Opens WinMM's output number `device`, the port `listed`; null when it
    cannot be opened, or the number reached another device (the numbers shift
    when a device comes or goes). Each send waits until the driver has taken
    the whole message, for a bounded time (put it behind WithWriterThread); a
    message the driver refuses, or does not give back in time, marks the output
    failed. A SysEx goes in buffers of at most 2048 bytes, paced when pacing is
    on, and whole under Wine (see WinMmSysExPace). While the output is closed,
    its device counts as closing (ClosingDevices.h). */
std::unique_ptr<MidiOutPort> OpenWinMmOutput (unsigned device, const MidiPortInfo& listed);
