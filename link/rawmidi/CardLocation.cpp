#include "link/rawmidi/CardLocation.h"
#include <climits>
#include <cstdlib>
#include <regex>

std::string DeviceLocation (const std::string& devicePath)
{
    static const std::string root = "/sys/devices/";
    if (devicePath.compare (0, root.size(), root) != 0 || devicePath.size() == root.size())
        return {};
    auto location = devicePath.substr (root.size());
    // A USB interface is named "<bus>-<ports>:<configuration>.<interface>".
    static const std::regex usbInterface (".*/[0-9]+-[0-9.]+:[0-9]+\\.[0-9]+");
    if (std::regex_match (location, usbInterface))
        location.erase (location.rfind ('/'));
    return location;
}

std::string CardLocation (int card)
{
    char resolved[PATH_MAX];
    const auto link = "/sys/class/sound/card" + std::to_string (card) + "/device";
    if (card < 0 || ::realpath (link.c_str(), resolved) == nullptr)
        return {};
    return DeviceLocation (resolved);
}
