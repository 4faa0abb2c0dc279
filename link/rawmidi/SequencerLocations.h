#pragma once
// The ALSA sequencer's ports of sound cards with their cards' locations, so
// that a card's port is known again when the card comes back under another
// number (and its sequencer client under another one with it).
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include "link/MidiPorts.h"

/** Gives each port of `list` whose client ("C-P") is a card's in
    `clientAndCard` the location "<card's location>,seq:P"; others keep theirs. */
void LocateCardClientPorts (MidiPortList& list, const std::vector<std::pair<int, int>>& clientAndCard,
                            const std::function<std::string (int card)>& cardLocation);

/** `sequencer` (JUCE's ALSA ports), its cards' ports listed with their locations. */
std::shared_ptr<MidiPortSource> WithCardLocations (std::shared_ptr<MidiPortSource> sequencer);
