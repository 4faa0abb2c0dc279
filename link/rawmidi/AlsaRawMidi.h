#pragma once
// The few ALSA calls of the raw MIDI backend: listing the raw MIDI ports of
// every card, opening one direction of a port as a file descriptor, and
// telling which sequencer clients stand for a card's hardware.
#include <functional>
#include <string>
#include <vector>

/** One raw MIDI port (a subdevice) of a card. */
struct AlsaRawMidiPort
{
    std::string identifier;   ///< "hw:C,D,S"
    std::string inputName;    ///< the input's name, as a user knows it ("<card name>: <port name>"); empty: no input
    std::string outputName;   ///< the output's name; empty: no output (the kernel may name the two apart)
    int card = -1;            ///< the card's number
    std::string location {};  ///< "<card's location>,D,S" (CardLocation); empty when the card's is unknown
};

/** One direction of a subdevice as the card describes it. */
struct AlsaRawMidiStream
{
    std::string identifier;   ///< "hw:C,D,S"
    std::string name;         ///< the direction's own name
    int card = -1;            ///< the card's number
    bool input = false;       ///< the input direction (else the output)
    std::string location {};  ///< as AlsaRawMidiPort's
};

/** The streams joined into ports by identifier, in the order first seen; each direction keeps its own name. */
std::vector<AlsaRawMidiPort> JoinRawMidiStreams (const std::vector<AlsaRawMidiStream>& streams);

/** The name of a port: the card's name, then the port's own unless it begins with the card's. */
std::string RawMidiPortName (const std::string& card, const std::string& port);

/** Every raw MIDI port of every card, in card, device and subdevice order. */
std::vector<AlsaRawMidiPort> ListAlsaRawMidiPorts();

/** One direction of an opened port. */
struct AlsaRawMidiOpened
{
    int fd = -1;                        ///< read or write here; -1: not opened
    int error = 0;                      ///< why it was not opened (a negative errno; -EBUSY: some program holds it;
                                        ///< -EINPROGRESS: the program's own close of it is still under way)
    std::function<void()> close;        ///< closes the port (after the last use of fd)
};

/** Opens the input or output of a listed port. Opens non-blocking, so that a
    port another program holds fails at once, and stays so (a write waits in
    poll, see WriteWhole); the buffers grow to `bufferBytes`. Refused when the
    port no longer carries the listed name. Closing an output gives what is
    still queued the time the wire needs for it and drops the rest. */
AlsaRawMidiOpened OpenAlsaRawMidi (const std::string& identifier, const std::string& name, bool input,
                                   size_t bufferBytes = 64 * 1024);

/** The cards whose hardware the sequencer shows as clients, by client number;
    false when the sequencer cannot be reached. */
bool ListHardwareSequencerClients (std::vector<std::pair<int, int>>& clientAndCard);
