#pragma once
#include "link/MidiPorts.h"

/** The computer's MIDI ports through juce::MidiInput and juce::MidiOutput. */
std::shared_ptr<MidiPortSource> MakeJuceMidiPortSource();
