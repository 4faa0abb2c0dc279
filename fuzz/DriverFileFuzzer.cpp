// Fuzz target: the driver-file readers. The input is a driver file. It is
// read the three ways the program reads one: the catalog record (MCU and
// flash names behind the region table), the geometry table with its sector
// layout (driver upload, range checks), and the sector count alone (the
// update flow's check for a full image).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "fuzz/FuzzScratch.h"
#include "store/shared/ProgramGlobals.h"
#include "store/DriverFile.h"
#include "store/FlashCatalog.h"
#include "store/Logger.h"

namespace
{
    void Fail (const char* what)
    {
        std::fprintf (stderr, "driver file: %s\n", what);
        std::abort();
    }

    /** A name field as the catalog leaves it: NUL-terminated within 17 bytes, zeroes behind. */
    void CheckName (const char* name)
    {
        const size_t length = ::strnlen (name, 20);
        if (length > 16)
            Fail ("a name is longer than 16 bytes");
        for (size_t i = length; i < 20; ++i)
            if (name[i] != 0)
                Fail ("a name has bytes behind its end");
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    PathCopy (g_szDriverDir, FuzzScratchFolder().getFullPathName());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    // The geometry straight from memory.
    int64_t count = -1;
    std::vector<_STR_SECTOR> sectors;
    const auto result = ReadDriverGeometry (data, size, &count, &sectors);
    int64_t countOnly = -1;
    if (ReadDriverGeometry (data, size, &countOnly, nullptr) != result || countOnly != count)
        Fail ("the sector count differs from the layout's");
    if (result == GeometryResult::Ok)
    {
        if (count <= 0 || (int64_t) sectors.size() != count)
            Fail ("the layout does not hold the counted sectors");
        int64_t next = 0;
        for (const auto& s : sectors)
        {
            if (s.nStart != next || s.nSize < 0)
                Fail ("sectors do not follow one another");
            next += s.nSize;
        }
        if (next > kMaxFlashBytes)
            Fail ("a layout beyond what an address reaches was accepted");
    }
    else if (! sectors.empty())
    {
        Fail ("a refused table left a layout");
    }

    // The same file on disk, through the catalog and the whole-file reader.
    WriteScratchFile ("driver.bin", data, size);
    CLogger log;
    _STR_FLASH_INFO info {};
    if (ReadFlashInfo (log, L"driver.bin", &info) == 0)
    {
        CheckName (info.szMCUName);
        CheckName (info.szFlashName);
        CatalogNameToString (info.szMCUName);
        CatalogNameToString (info.szFlashName);
    }

    std::vector<uint8_t> file;
    const auto path = FuzzScratchFolder().getChildFile ("driver.bin").getFullPathName();
    if (! ReadWholeFile (path.toWideCharPointer(), file) || file.size() != size
        || (size > 0 && std::memcmp (file.data(), data, size) != 0))
        Fail ("the whole-file reader did not return the file");
    int64_t fromFile = -1;
    if (ReadDriverGeometry (file.data(), file.size(), &fromFile, nullptr) != result || fromFile != count)
        Fail ("the file reads differently from memory");
    return 0;
}
