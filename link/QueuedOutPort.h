#pragma once
// An output with a writer thread of its own: a send copies the message into
// a queue and returns at once, whatever the device behind it does. Messages
// leave in order; closing waits a bounded time for the write in progress and
// then leaves it behind, so that a hung driver never hangs the program.
#include <chrono>
#include <memory>
#include "link/MidiPorts.h"

/** How long closing an output waits for its writer by default. */
constexpr std::chrono::milliseconds kOutputCloseBound { 2000 };

/** `port` behind a writer thread; null stays null. */
std::unique_ptr<MidiOutPort> WithWriterThread (std::unique_ptr<MidiOutPort> port,
                                               std::chrono::milliseconds closeBound = kOutputCloseBound);

/** Writer threads left behind by a close whose write did not end in time, and still running. */
int AbandonedWriters();
