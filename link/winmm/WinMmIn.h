#pragma once
#include <memory>
#include "link/MidiPorts.h"

/** Opens WinMM's input number `device`, the port `listed`, for `handler`;
    null when it cannot be opened, or the number reached another device (the
    numbers shift when a device comes or goes). The input has a thread of its
    own that receives the driver's messages, joins SysEx buffers into whole
    messages and gives each buffer back; destroying it closes the device before
    it returns (not from the input's own callback). */
std::unique_ptr<MidiInPort> OpenWinMmInput (unsigned device, const MidiPortInfo& listed, MidiInHandler* handler);
