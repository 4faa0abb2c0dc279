#include "link/rawmidi/RawMidiProc.h"
#include <cstdio>
#include <fstream>
#include <sstream>

namespace
{
    std::string Trimmed (const std::string& s)
    {
        const auto first = s.find_first_not_of (" \t\r\n");
        if (first == std::string::npos)
            return {};
        return s.substr (first, s.find_last_not_of (" \t\r\n") - first + 1);
    }

    /** The number after "Label :" on a line of the section; false when the line is another one. */
    bool Field (const std::string& line, const char* label, long& value)
    {
        const auto colon = line.find (':');
        if (colon == std::string::npos || Trimmed (line.substr (0, colon)) != label)
            return false;
        try
        {
            value = std::stol (line.substr (colon + 1));
        }
        catch (...)
        {
            return false;
        }
        return true;
    }

    std::string ReadAll (const std::string& path)
    {
        std::ifstream in (path);
        if (! in)
            return {};
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
}

std::optional<RawMidiSubstreamInfo> ParseRawMidiProc (const std::string& text, bool output, int subdevice)
{
    const std::string heading = (output ? "Output " : "Input ") + std::to_string (subdevice);
    std::istringstream lines (text);
    std::string line;
    bool inSection = false;
    std::optional<RawMidiSubstreamInfo> found;
    while (std::getline (lines, line))
    {
        // Sections begin at the left margin; their fields are indented.
        if (! line.empty() && line[0] != ' ' && line[0] != '\t')
        {
            inSection = Trimmed (line) == heading;
            if (inSection)
                found = RawMidiSubstreamInfo {};
            continue;
        }
        if (! inSection)
            continue;
        long value = 0;
        if (Field (line, "Owner PID", value))
        {
            found->opened = true;
            found->ownerPid = (int) value;
        }
        else if (Field (line, "Buffer size", value))
        {
            found->opened = true;
            found->bufferSize = value;
        }
        else if (Field (line, "Avail", value))
        {
            found->opened = true;
            found->avail = value;
        }
    }
    return found;
}

std::string ParseProcessName (const std::string& commText)
{
    return Trimmed (commText);
}

std::string ReadRawMidiProc (int card, int device)
{
    return ReadAll ("/proc/asound/card" + std::to_string (card) + "/midi" + std::to_string (device));
}

std::string ProcessName (int pid)
{
    if (pid <= 0)
        return {};
    return ParseProcessName (ReadAll ("/proc/" + std::to_string (pid) + "/comm"));
}

std::string DescribeHolder (const RawMidiSubstreamInfo& info, const std::string& processName)
{
    if (info.ownerPid <= 0)
        return {};
    const auto pid = "PID " + std::to_string (info.ownerPid);
    return processName.empty() ? pid : processName + " (" + pid + ")";
}

bool ParseRawIdentifier (const std::string& identifier, int& card, int& device, int& subdevice)
{
    char rest = 0;
    return std::sscanf (identifier.c_str(), "hw:%d,%d,%d%c", &card, &device, &subdevice, &rest) == 3
           && card >= 0 && device >= 0 && subdevice >= 0;
}
