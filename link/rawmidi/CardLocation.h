#pragma once
// Where a sound card is plugged in, as the kernel's device tree tells it: the
// same text when the card leaves and enumerates again in the same socket
// (a module restarting into its loader), whatever number the card gets then.
#include <string>

/** The location of the device at `devicePath` (a resolved path under
    /sys/devices): the path below that folder; for a USB interface, the path
    of its USB device (a module's loader may number its interfaces apart).
    Empty for any other path. */
std::string DeviceLocation (const std::string& devicePath);

/** The location of card `card`; empty when the kernel shows no device for it. */
std::string CardLocation (int card);
