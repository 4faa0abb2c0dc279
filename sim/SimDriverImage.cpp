#include "sim/SimDriverImage.h"
#include <algorithm>

namespace
{
    void PutName (uint8_t* field, const juce::String& name)
    {
        const std::string text = name.toStdString();
        for (size_t i = 0; i < 16; ++i)
            field[i] = i < text.size() ? (uint8_t) text[i] : 0xFF;
    }

    // Offset of the name field `which` (0 MCU, 1 flash), or -1 when the data
    // ends before that field is complete.
    long NameOffset (const uint8_t* data, size_t size, int which)
    {
        size_t pos = 16;
        for (;; pos += 4)
        {
            if (pos + 4 > size)
                return -1;
            if (data[pos] == 0 && data[pos + 1] == 0 && data[pos + 2] == 0 && data[pos + 3] == 0)
                break;
        }
        const size_t field = pos + 4 + 16 * (size_t) which;
        return field + 16 <= size ? (long) field : -1;
    }

    std::string ReadName (const uint8_t* data, size_t size, int which)
    {
        const long at = NameOffset (data, size, which);
        if (at < 0)
            return {};
        const uint8_t* field = data + at;
        size_t length = 16;
        for (size_t i = 0; i < 16; ++i)
            if (field[i] == 0)
            {
                length = i;
                break;
            }
        while (length > 0 && field[length - 1] == 0xFF)
            --length;
        return std::string (reinterpret_cast<const char*> (field), length);
    }
}

std::vector<uint8_t> MakeSimDriver (const juce::String& mcuName, const juce::String& flashName,
                                    const std::vector<SimRegion>& regions, size_t totalSize)
{
    const size_t namesAt = 16 + 4 * regions.size() + 4;
    std::vector<uint8_t> out (std::max (namesAt + 32, totalSize), 0);
    static const uint8_t head[16] = { 'K', 'E', 'S', 'T', 'R', 'A', 'V', 'A', '-', 'S', 'I', 'M', '-', 'D', 'R', 'V' };
    for (size_t i = 0; i < sizeof (head); ++i)
        out[i] = head[i];
    size_t pos = 16;
    for (const auto& region : regions)
    {
        out[pos++] = (uint8_t) (region.sectorKiB & 0xFF);
        out[pos++] = (uint8_t) (region.sectorKiB >> 8);
        out[pos++] = (uint8_t) (region.count & 0xFF);
        out[pos++] = (uint8_t) (region.count >> 8);
    }
    PutName (out.data() + namesAt, mcuName);        // behind the four zero bytes
    PutName (out.data() + namesAt + 16, flashName);
    // Filler that looks like code: never an all-zero or all-0xFF run.
    for (size_t i = namesAt + 32; i < out.size(); ++i)
        out[i] = (uint8_t) (0x40 + (i * 7) % 0x80);
    return out;
}

std::string SimDriverFlashName (const uint8_t* data, size_t size)
{
    return ReadName (data, size, 1);
}

std::string SimDriverMcuName (const uint8_t* data, size_t size)
{
    return ReadName (data, size, 0);
}
