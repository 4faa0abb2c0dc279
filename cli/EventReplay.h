#pragma once
// The JSON events of a kestrava-cli process, told again through a printer of
// this process: kestrava-cli --all shows its children's events this way.
#include "cli/EventPrinter.h"

/** The phase reported under `name` (FlowPhaseName); Idle for an unknown one. */
FlowPhase FlowPhaseFromName (const juce::String& name);

/** Tells `printer` the event that `event` (a parsed JSON line) is; false when it is none. */
bool ReplayEvent (const juce::var& event, EventPrinter& printer);
