#pragma once
// How WinMM's devices are listed and found again: a device is opened by its
// number, which changes whenever a device comes or goes (a module restarting
// into its loader), so a listed port is looked up again before it is opened.
#include <chrono>
#include <functional>
#include <vector>
#include "link/BoundedCalls.h"
#include "link/MidiPorts.h"

/** One WinMM device of one direction, as the system describes it. */
struct WinMmDevice
{
    juce::String name;            ///< the product name of its capabilities
    juce::String interfacePath;   ///< the device interface the driver tells, or empty
};

/** The ports of one direction, in device order: named as the system names
    them, duplicates numbered ("Name", "Name-2"), and identified by their
    device interface where the driver tells it, by that name otherwise. */
std::vector<MidiPortInfo> ListWinMmPorts (const std::vector<WinMmDevice>& devices);

/** The device number of `port` in a listing made now; -1 when the port is gone
    or the number now belongs to another port. */
int FindWinMmPort (const std::vector<MidiPortInfo>& now, const MidiPortInfo& port);

/** Whether the device an open reached is the listed port, by what its handle
    tells: the same device interface where the port was listed by one and the
    handle tells one too, else the same name (a duplicate's number aside). A
    handle that tells nothing is taken as the port. */
bool IsListedWinMmDevice (const MidiPortInfo& listed, const WinMmDevice& opened);

/** Describes `count` devices of one direction ("in", "out"), each by a
    bounded call: a device whose driver does not answer in time, or is still
    hung from before, gets an empty description and so is left out of this
    listing (its number stays taken). */
std::vector<WinMmDevice> DescribeWinMmWithin (unsigned count, const char* direction,
                                             const std::function<WinMmDevice (unsigned)>& describe,
                                             std::chrono::milliseconds bound = kDriverCallBound);
