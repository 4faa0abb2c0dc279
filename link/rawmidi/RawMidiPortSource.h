#pragma once
#include <vector>
#include "link/MidiPorts.h"
#include "link/rawmidi/AlsaRawMidi.h"

/** The ports of a Linux computer: every card's hardware MIDI ports as raw
    MIDI devices (each direction written or read directly, so that every
    SysEx goes out whole). A direction that some program holds is reached
    through the card's own sequencer port instead. Other programs' sequencer
    ports are listed only when `withOtherPrograms` (the user names a port, or
    asks for the whole list): the link probes them otherwise. */
std::shared_ptr<MidiPortSource> MakeRawMidiPortSource (bool withOtherPrograms);

/** The listing of a Linux computer: the raw ports, each direction under its
    own name; then, when `withOtherPrograms`, the sequencer's ports except
    those of the cards listed raw (`cardClients` maps sequencer clients to cards). */
MidiPortList ComposeLinuxPorts (const std::vector<AlsaRawMidiPort>& raw,
                                const std::vector<std::pair<int, int>>& cardClients,
                                const MidiPortList& sequencer, bool withOtherPrograms);
