#pragma once
// A port source whose calls into a driver that may hang are bounded
// (BoundedCalls.h): opening a port, starting and stopping an input, and
// closing a port (destroying it) each run on a worker and are waited for at
// most a bound. A port whose driver does not return in time is left to it and
// counts as hung: it is not opened again until the call has ended, and the log
// says so once. The message thread never waits longer than the bound, and no
// message of an input reaches its handler once the input has been stopped or
// destroyed, whatever its driver still does.
#include <chrono>
#include <memory>
#include "link/BoundedCalls.h"
#include "link/MidiPorts.h"

/** `inner` with its opens, starts, stops and closes bounded. */
std::shared_ptr<MidiPortSource> WithBoundedCalls (std::shared_ptr<MidiPortSource> inner,
                                                  std::chrono::milliseconds bound = kDriverCallBound);
