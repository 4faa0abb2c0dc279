#pragma once
#include "link/MidiPorts.h"

/** The ports of a Linux computer: every card's hardware MIDI ports as raw
    MIDI devices (each written and read directly, so that every SysEx goes
    out whole), and the sequencer's other ports (other programs') through
    JUCE. A hardware port is listed once, as raw MIDI. */
std::shared_ptr<MidiPortSource> MakeRawMidiPortSource();
