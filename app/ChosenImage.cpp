#include "app/ChosenImage.h"
#include <limits>
#include "platform/Paths.h"
#include "platform/SystemCalls.h"
#include "store/shared/Troubles.h"

namespace
{
    constexpr long kLowMarker = 0xFFF8;
    constexpr long kHighMarker = 0x3FFF8;

    /** Reads two bytes at an offset; false when the file is shorter. */
    bool ReadPair (std::FILE* f, long offset, uint8_t* pair)
    {
        return std::fseek (f, offset, SEEK_SET) == 0 && std::fread (pair, 1, 2, f) == 2;
    }

    /** Opens for reading; a path longer than a path buffer holds is not cut but refused. */
    std::FILE* OpenWithinPathLimit (const juce::String& path)
    {
        return path.length() < kMaxPath ? OpenFileW (path, "rb") : nullptr;
    }

    bool IsMarker (const uint8_t* pair)
    {
        return pair[0] == 'B' && pair[1] == 'D';
    }
}

ImageMarkers ReadImageMarkers (std::FILE* image)
{
    ImageMarkers m;
    if (image == nullptr)
        return m;
    uint8_t low[2] {}, high[2] {};
    if (ReadPair (image, kLowMarker, low) && IsMarker (low))
    {
        m.nCount = 1;
        m.nBank = 0;
    }
    if (ReadPair (image, kHighMarker, high) && IsMarker (high))
    {
        m.nCount += 1;
        m.nBank = 1;
    }
    return m;
}

int64_t MeasureImageFile (const juce::String& path)
{
    std::FILE* f = OpenWithinPathLimit (path);
    if (f == nullptr)
        return -1;
    const int64_t size = FileSize64 (f);
    std::fclose (f);
    return size;
}

std::FILE* OpenChosenImage (const juce::String& path)
{
    std::FILE* f = OpenWithinPathLimit (path);
    if (f != nullptr && ! IsUsableImageSize (FileSize64 (f)))
    {
        std::fclose (f);
        return nullptr;
    }
    return f;
}

ErrorCode CheckImageFile (const juce::String& path, int& bank)
{
    std::FILE* f = OpenChosenImage (path);
    if (f == nullptr)
        return kErrImageUnreadable;
    const auto markers = ReadImageMarkers (f);
    std::fclose (f);
    if (markers.nCount == 0)
        return kErrNoMarker;
    bank = markers.nBank;
    return kErrNone;
}

bool IsUsableImageSize (int64_t size)
{
    return size >= 0 && size <= std::numeric_limits<int>::max();
}
