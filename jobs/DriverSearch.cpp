// The driver search: which entries of the driver folder are tried, in order,
// and which are passed over. A driver is code the module runs, so only a file
// the driver catalog accepted is ever uploaded; anything else is skipped with
// a log line that names it and says why.
#include "app/MainComponent.h"
#include <cwchar>
#include "store/shared/ProgramGlobals.h"
#include "platform/SystemCalls.h"
#include "store/DriverFile.h"

namespace
{
    constexpr int64_t kLargestDriverLooked = 1 << 20;   // a driver is a few KiB; larger files are not read to say why

    /** Why a file the catalog does not list is no driver, from what it holds. */
    juce::String WhyFileIsNoDriver (const wchar_t* path)
    {
        std::FILE* file = OpenFileW (path, "rb");
        if (file == nullptr)
            return "it cannot be opened";
        const int64_t size = FileSize64 (file);
        std::fclose (file);
        if (size == 0)
            return "it is empty";
        std::vector<uint8_t> data;
        if (size < 0 || size > kLargestDriverLooked || ! ReadWholeFile (path, data, kLargestDriverLooked))
            return "it is not in the driver catalog";
        int64_t sectors = 0;
        switch (ReadDriverGeometry (data.data(), data.size(), &sectors, nullptr))
        {
            case GeometryResult::Empty:        return "it describes no sector";
            case GeometryResult::Unterminated: return "it holds no sector table";
            case GeometryResult::TooLarge:     return "it describes more flash than a module can reach";
            case GeometryResult::Ok:           break;
        }
        return "it is not in the driver catalog (its MCU and flash names cannot be read, or it came after the start)";
    }

    bool IsInCatalog (const CFlashLinkList& catalog, const wchar_t* path)
    {
        for (const _STR_FLASH_INFO* driver = catalog.GetFirst(); driver != nullptr; driver = driver->pNext)
            if (std::wcscmp (driver->szDriverPath, path) == 0)
                return true;
        return false;
    }
}

juce::String MainComponent::WhyNoDriver (const FolderEntry& entry, const wchar_t* path) const
{
    if (entry.bDirectory)
        return "it is a folder";
    if (entry.bNameCut || std::wcslen (g_szDriverDir) + 1 + std::wcslen (entry.szName) >= (size_t) kMaxPath)
        return "its path is too long";
    if (IsInCatalog (m_AllFlashList, path))
        return {};
    return WhyFileIsNoDriver (path);
}

bool MainComponent::SeekDriverEntry (bool advance)
{
    for (bool current = ! advance;; current = false)
    {
        if (! current && (g_hFind == nullptr || ! FindNextEntry (g_hFind, &g_FindData)))
            return false;
        if (g_FindData.szName[0] == L'.')
            continue;

        wchar_t path[kMaxPath];
        PathCopy (path, g_szDriverDir);
        PathAppend (path, PathSeparator());
        PathAppend (path, g_FindData.szName);
        const auto why = WhyNoDriver (g_FindData, path);
        if (why.isEmpty())
            return true;
        m_Logger.Write ("Skipped " + DisplayName (ToString (g_FindData.szName)) + ": " + why + ".\n");
    }
}

void MainComponent::TryDriverEntry()
{
    // Upload the driver file the enumeration stands on and check the flash.
    PathCopy (g_szDriverSearch, g_szDriverDir);
    PathAppend (g_szDriverSearch, PathSeparator());
    PathAppend (g_szDriverSearch, g_FindData.szName);
    g_nDriverSectorCount = CountDriverSectors();
    m_JobRunner.AddSendDriver (g_szDriverSearch);
    m_JobRunner.AddCheckFlash (0);
    m_JobRunner.RunNext();
}
