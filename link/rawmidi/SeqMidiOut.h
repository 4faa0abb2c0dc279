#pragma once
// An output to a port of the ALSA sequencer, through a client of the
// program's own. SysEx goes out as a series of events paced against the
// card's output buffer (see PacedSysEx.h), so that a message of any length
// reaches a hardware port whole.
#include <memory>
#include <string>
#include "link/MidiPorts.h"

/** Opens the sequencer port "client-port" for output; null when it cannot be
    reached, or when `name` is not empty and the port goes by another name. */
std::unique_ptr<MidiOutPort> OpenSequencerOutput (const std::string& identifier, const std::string& name);

/** Whether the sequencer port "client-port" can be read now: the kernel
    opens a card's raw input for a subscriber, which fails while a program
    holds that input directly (JUCE's inputs do not tell). */
bool SequencerPortReadable (const std::string& identifier);

/** The identifier "client-port" of a sequencer port. */
std::string SequencerIdentifier (int client, int port);

/** The sequencer port through which the kernel reaches raw device `device`,
    subdevice `subdevice` of card `card`; empty when the sequencer cannot be
    reached or shows no such port. */
std::string CardSequencerPort (int card, int device, int subdevice);
