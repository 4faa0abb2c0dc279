#include "store/DriverFile.h"
#include "platform/SystemCalls.h"

#include <new>

namespace
{
    constexpr size_t kTableOffset = 16;
    constexpr size_t kEntrySize = 4;
    /** A sector is at least 1 KiB, so a reachable flash never has more sectors than this. */
    constexpr int64_t kMaxSectors = kMaxFlashBytes / 1024;

    uint16_t ReadLE16 (const uint8_t* p)
    {
        return (uint16_t) (p[0] | (p[1] << 8));
    }
}

GeometryResult ReadDriverGeometry (const uint8_t* data, size_t size,
                                   int64_t* sectorCount,
                                   std::vector<_STR_SECTOR>* sectors)
{
    int64_t count = 0;
    int64_t bytes = 0;
    size_t groups = 0;
    bool terminated = false;

    if (data != nullptr)
    {
        for (size_t offset = kTableOffset; offset <= size && size - offset >= kEntrySize; offset += kEntrySize)
        {
            const uint16_t kib = ReadLE16 (data + offset);
            const uint16_t n = ReadLE16 (data + offset + 2);
            if (n == 0)
            {
                terminated = true;
                break;
            }
            count += n;
            // Past the limit the sum only has to stay past it: a table of millions
            // of large regions would otherwise overflow even 64 bits.
            if (bytes <= kMaxFlashBytes)
                bytes += (int64_t) kib * 1024 * n;
            ++groups;
        }
    }

    if (sectorCount != nullptr)
        *sectorCount = count;
    if (sectors != nullptr)
        sectors->clear();

    if (! terminated)
        return GeometryResult::Unterminated;
    if (groups == 0)
        return GeometryResult::Empty;
    if (bytes > kMaxFlashBytes || count > kMaxSectors)
        return GeometryResult::TooLarge;

    if (sectors != nullptr)
    {
        sectors->reserve ((size_t) count);
        int32_t start = 0;
        for (size_t g = 0; g < groups; ++g)
        {
            const uint8_t* entry = data + kTableOffset + g * kEntrySize;
            const int32_t sectorSize = (int32_t) ReadLE16 (entry) * 1024;
            for (uint16_t k = 0, n = ReadLE16 (entry + 2); k < n; ++k)
            {
                sectors->push_back ({ start, sectorSize });
                start += sectorSize;
            }
        }
    }
    return GeometryResult::Ok;
}

bool ReadWholeFile (const wchar_t* path, std::vector<uint8_t>& out)
{
    return ReadWholeFile (path, out, -1);
}

bool ReadWholeFile (const wchar_t* path, std::vector<uint8_t>& out, int64_t maxBytes)
{
    out.clear();
    std::FILE* file = OpenFileW (path, "rb");
    if (file == nullptr)
        return false;

    bool ok = true;
    try
    {
        const int64_t size = FileSize64 (file);
        if (size > 0 && (maxBytes < 0 || size <= maxBytes))
            out.reserve ((size_t) size);

        uint8_t chunk[65536];
        for (;;)
        {
            const size_t got = std::fread (chunk, 1, sizeof (chunk), file);
            if (got > 0)
            {
                if (maxBytes >= 0 && (int64_t) (out.size() + got) > maxBytes)
                {
                    ok = false;
                    break;
                }
                out.insert (out.end(), chunk, chunk + got);
            }
            if (got < sizeof (chunk))
            {
                ok = std::ferror (file) == 0;
                break;
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        ok = false;
    }

    std::fclose (file);
    if (! ok)
        std::vector<uint8_t>().swap (out);
    return ok;
}
