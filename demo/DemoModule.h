#pragma once
// The simulated module the demo and the command line's --simulate put on the
// virtual bus: the demo's chip, in application mode, with short but
// realistic timings so that the progress can be watched.
#include "demo/DemoChip.h"
#include "sim/SimModuleTypes.h"

/** The demo module's settings. */
inline SimModuleConfig DemoModuleConfig()
{
    using std::chrono::microseconds;
    SimModuleConfig config;
    config.inputName = "Kestrava Demo Module";
    config.outputName = "Kestrava Demo Module";
    config.startMode = SimMode::Application;
    config.fsFlag = 1;
    config.chipName = DemoChip::kFlashName;
    config.restartAbsenceMs = 1200;
    config.portsInsertedOnReturn = 1;   // it comes back behind a new port, as after a USB restart
    config.readChunkGroups = 128;
    config.announceChunks = false;
    config.keepCommandLog = false;
    config.latencies.probe = microseconds (2000);
    config.latencies.blockAck = microseconds (6000);
    config.latencies.check = microseconds (3000);
    config.latencies.erase = microseconds (40000);
    config.latencies.read = microseconds (4000);
    return config;
}
