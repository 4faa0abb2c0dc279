#pragma once
// Reading the parts of a flash driver file that the program interprets.
// Layout: 16-byte head; from offset 16 a region table of 4-byte entries
// (uint16 LE sector size in KiB, uint16 LE sector count); then 16-byte MCU
// name and 16-byte flash name, padded with 0xFF (or NUL).
// Every reader stays inside the data it is given.
#include <cstddef>
#include <cstdint>
#include <vector>

/** One sector: byte address from the chip start and size in bytes. */
struct _STR_SECTOR
{
    int32_t nStart;   ///< byte address of the sector, from the start of the chip
    int32_t nSize;    ///< sector size in bytes
};

/** Largest flash a 28-bit word address can reach: 512 MiB. */
constexpr int64_t kMaxFlashBytes = int64_t (1) << 29;

enum class GeometryResult
{
    Ok,            ///< at least one sector, table terminated by a zero count
    Empty,         ///< the first group's count is 0: no sector
    Unterminated,  ///< the table runs to the end of the data without a zero count
    TooLarge       ///< the sectors add up to more than kMaxFlashBytes (or to more
                   ///< sectors than such a flash can hold with 1 KiB sectors)
};

/** Reads the geometry table (groups from offset 16 up to the first zero count).
    `sectorCount` receives the sum of the counts read (also when not Ok, as far
    as the data goes). When `sectors` is non-null and the result is Ok, it is
    filled with the sector layout. Never reads past `size`, never allocates
    more than the table really describes. */
GeometryResult ReadDriverGeometry (const uint8_t* data, size_t size,
                                   int64_t* sectorCount,
                                   std::vector<_STR_SECTOR>* sectors);

/** Reads a whole file into memory; false when it cannot be opened or read. */
bool ReadWholeFile (const wchar_t* path, std::vector<uint8_t>& out);
/** The same, but false (and `out` empty) when the file holds more than
    `maxBytes` bytes; a negative `maxBytes` means no limit. */
bool ReadWholeFile (const wchar_t* path, std::vector<uint8_t>& out, int64_t maxBytes);
