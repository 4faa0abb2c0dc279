#pragma once
// "ports": every MIDI port, with which of them answer the probe.
#include <memory>
#include "cli/EventPrinter.h"
#include "link/MidiPorts.h"

/** Probes the ports of `source` through the device link for a few probe
    cycles and lists them; the exit status. */
int RunPortsCommand (EventPrinter& printer, std::shared_ptr<MidiPortSource> source);
