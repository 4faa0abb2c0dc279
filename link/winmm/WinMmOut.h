#pragma once
#include <memory>
#include "link/MidiPorts.h"

/** Opens WinMM's output number `device`; null when it cannot be opened. Each
    send waits until the driver has taken the whole message (put it behind
    WithWriterThread); a message the driver refuses marks the output failed. */
std::unique_ptr<MidiOutPort> OpenWinMmOutput (unsigned device);
