#pragma once
#include "link/MidiPorts.h"

/** The computer's MIDI ports through juce::MidiInput and juce::MidiOutput;
    every output sends through a writer thread of its own. */
std::shared_ptr<MidiPortSource> MakeJuceMidiPortSource();

/** The name JUCE's ports go by in listings on this platform ("alsa-seq", "winmm", "coremidi"). */
const char* JuceMidiBackendName();
