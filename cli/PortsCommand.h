#pragma once
// "ports": every MIDI port, with which of them answer the probe.
#include <memory>
#include "cli/EventPrinter.h"
#include "cli/PortWatch.h"

/** Probes the ports of `source` through the device link for a few probe
    cycles, noting who answers; null when interrupted (the ports are closed). */
std::shared_ptr<PortWatch> ProbePorts (std::shared_ptr<MidiPortSource> source);

/** Probes the ports of `source` and lists them; the exit status. */
int RunPortsCommand (EventPrinter& printer, std::shared_ptr<MidiPortSource> source);
