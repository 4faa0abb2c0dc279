#include "store/FlashCatalog.h"
#include "store/shared/ProgramGlobals.h"
#include "platform/FolderListing.h"
#include "platform/SystemCalls.h"
#include "store/Logger.h"

#include <cwchar>

namespace
{
    constexpr int kNameBytes = 16;

    /** Reads exactly `size` bytes; false when the file ends first. */
    bool ReadExact (std::FILE* file, void* into, size_t size)
    {
        return std::fread (into, 1, size, file) == size;
    }

    /** Cuts a 16-byte name field: trailing 0xFF bytes go, the name ends at its
        first NUL, and every byte behind the end is zeroed. */
    void EndName (char* name, size_t capacity)
    {
        int end = kNameBytes;
        while (end > 0 && (unsigned char) name[end - 1] == 0xFF)
            --end;
        for (int i = 0; i < end; ++i)
            if (name[i] == 0)
            {
                end = i;
                break;
            }
        std::memset (name + end, 0, capacity - (size_t) end);
    }

    /** Steps 4 to 6 of reading the flash information: false when the file
        ends before the region table's end or inside a name. */
    bool ReadNames (std::FILE* file, _STR_FLASH_INFO* info)
    {
        if (std::fseek (file, 16, SEEK_SET) != 0)
            return false;

        for (;;)
        {
            unsigned char entry[4];
            if (! ReadExact (file, entry, sizeof (entry)))
                return false;
            if (entry[0] == 0 && entry[1] == 0 && entry[2] == 0 && entry[3] == 0)
                break;
        }
        return ReadExact (file, info->szMCUName, kNameBytes)
            && ReadExact (file, info->szFlashName, kNameBytes);
    }
}

int ReadFlashInfo (CLogger& log, const wchar_t* fileName, _STR_FLASH_INFO* info)
{
    if (fileName == nullptr || info == nullptr)
        return 1;

    wchar_t path[kMaxPath];
    PathCopy (path, g_szDriverDir);
    PathAppend (path, PathSeparator());
    PathAppend (path, fileName);

    std::FILE* file = OpenFileW (path, "rb");
    if (file == nullptr)
    {
        log.PrintW (L"Can't open file %s\n", fileName);
        return 1;
    }

    PathCopy (info->szDriverPath, path);
    const bool ok = ReadNames (file, info);
    std::fclose (file);

    if (! ok)
    {
        log.PrintW (L"Can't get flash infomation from %s\n", fileName);
        return 1;
    }

    EndName (info->szMCUName, sizeof (info->szMCUName));
    EndName (info->szFlashName, sizeof (info->szFlashName));
    return 0;
}

int ScanFlashDrivers (CLogger& log, CFlashLinkList& all, CMCUList& mcus)
{
    wchar_t pattern[kMaxPath];
    PathCopy (pattern, g_szDriverDir);
    PathAppend (pattern, PathSeparator());
    PathAppend (pattern, L"*.bin");

    int seen = 0;
    FolderEntry entry;
    if (FolderHandle listing = FindFirstEntry (pattern, &entry))
    {
        do
        {
            if (std::wcscmp (entry.szName, L".") == 0 || std::wcscmp (entry.szName, L"..") == 0
                || entry.bDirectory)
                continue;

            auto* record = new _STR_FLASH_INFO {};
            if (ReadFlashInfo (log, entry.szName, record) == 0 && all.Add (record) == 0)
                record = nullptr;
            delete record;
            ++seen;
        }
        while (FindNextEntry (listing, &entry));
        FindCloseListing (listing);
    }

    for (const _STR_FLASH_INFO* driver = all.GetFirst(); driver != nullptr; driver = driver->pNext)
    {
        auto* name = new _STR_FLASH_NAME {};
        NarrowCopy (name->szName, driver->szMCUName, sizeof (name->szName));
        if (mcus.Add (name) != 0)
            delete name;
    }
    return seen;
}

int CopyFlashRecordsForMCU (const CFlashLinkList& all, const char* mcuName,
                            CFlashLinkList& out, juce::StringArray* flashNames)
{
    out.Reset();
    if (flashNames != nullptr)
        flashNames->clear();
    if (mcuName == nullptr)
        return 0;

    int n = 0;
    for (const _STR_FLASH_INFO* driver = all.GetFirst(); driver != nullptr; driver = driver->pNext)
    {
        if (std::strncmp (driver->szMCUName, mcuName, sizeof (driver->szMCUName)) != 0)
            continue;

        auto* copy = new _STR_FLASH_INFO (*driver);
        if (out.Add (copy) != 0)
            delete copy;
        if (flashNames != nullptr)
            flashNames->add (CatalogNameToString (driver->szFlashName));
        ++n;
    }
    return n;
}

juce::StringArray GetMCUNames (const CMCUList& mcus)
{
    juce::StringArray names;
    for (const _STR_FLASH_NAME* mcu = mcus.GetFirst(); mcu != nullptr; mcu = mcu->pNext)
        names.add (CatalogNameToString (mcu->szName));
    return names;
}

juce::String CatalogNameToString (const char* name)
{
    if (name == nullptr)
        return {};
    return NarrowBytesToString (name, ::strnlen (name, 20));
}
