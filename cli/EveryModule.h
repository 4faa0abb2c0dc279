#pragma once
// update --all and verify --all: every port is probed (or those --port
// selects), and every module that answers is worked on at the same time by a
// kestrava-cli process of its own, with one --port that selects its ports
// alone, reporting in JSON. Its events are shown with its port; a summary
// follows. The device link's and the panel's state stays one per process.
#include <memory>
#include "cli/CliOptions.h"
#include "link/MidiPorts.h"

/** Runs the options' command on every module behind the ports of `source`; the exit status. */
int RunEveryModule (const CliOptions& options, std::shared_ptr<MidiPortSource> source);
