#pragma once
// The simulated module behind a cheap interface: every output of another
// port source passes what it is sent through an OverrunBuffer (a small buffer
// drained at the DIN wire's rate, losing what overflows), paced as the real
// outputs pace (SysExPace.h), and hands on the whole messages that survive.
// Time is the buffer's own: a pause between pieces drains it without being
// slept, and each message is drained whole before the next arrives, as the
// module answers each block only once it has taken all of it.
#include <memory>
#include "link/MidiPorts.h"

/** `inner`'s ports, its outputs behind a buffer of `bufferBytes` drained at 3125 bytes/s. */
std::shared_ptr<MidiPortSource> BehindLossyInterface (std::shared_ptr<MidiPortSource> inner, size_t bufferBytes);
