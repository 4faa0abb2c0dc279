// Turning the panel's offsets, length and page into a checked range of the
// flash, aligned to the selected driver's sectors.
#include "app/MainComponent.h"
#include "store/shared/ProgramGlobals.h"
#include "platform/SystemCalls.h"

bool MainComponent::LoadSectorTable (const wchar_t* driverPath)
{
    if (! ReadWholeFile (driverPath, m_pDriverImage))
    {
        m_Logger.Print ("Error Code %d\n", (int) kErrRangeDriverUnreadable);
        return true;
    }
    m_pSectorTable.clear();
    m_nSectorEntries = 0;

    int64_t count = 0;
    std::vector<_STR_SECTOR> sectors;
    const auto result = ReadDriverGeometry (m_pDriverImage.data(), m_pDriverImage.size(), &count, &sectors);
    m_pDriverImage.clear();
    if (result != GeometryResult::Ok)
    {
        // No sector, a table that runs off the end of the file, or more than an address reaches.
        m_Logger.Print ("Flash infomation is not correct.");
        return true;
    }
    m_pSectorTable = std::move (sectors);
    m_nSectorEntries = (int32_t) m_pSectorTable.size();
    return false;
}

int32_t MainComponent::CountDriverSectors()
{
    if (! ReadWholeFile (g_szDriverSearch, m_pDriverImage))
    {
        m_Logger.Print ("Error Code %d\n", (int) kErrRangeDriverUnreadable);
        return 1;
    }
    int64_t count = 0;
    ReadDriverGeometry (m_pDriverImage.data(), m_pDriverImage.size(), &count, nullptr);
    m_pDriverImage.clear();
    return count > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : (int32_t) count;
}

bool MainComponent::ValidateRange()
{
    int64_t L = ReadHexField (m_WriteLengthEditor);
    int64_t F = ReadHexField (m_FileOffsetEditor);
    int64_t O = ReadHexField (m_FlashOffsetEditor);
    const int64_t P = ReadHexField (m_FlashPageEditor);
    const int64_t base = P * 0x20000;   // a page read as negative (ffffffff) is not shifted, it is refused below
    int64_t A = O + base;

    std::FILE* f = OpenFileW (m_FileLabel->getText(), "rb");
    if (f == nullptr)
    {
        m_Logger.Print ("Please choose Write File!\n");
        return true;
    }
    const int64_t S = FileSize64 (f);
    std::fclose (f);

    if (m_bWordMode)
    {
        F *= 2;
        L *= 2;
        O *= 2;
        A = O + base;
    }

    int first = -1;
    for (int i = 0; i < m_nSectorEntries; ++i)
        if (m_pSectorTable[(size_t) i].nStart == O)
        {
            first = i;
            break;
        }
    if (first < 0)
    {
        m_Logger.Print ("Flash offset must at the start of one sector!\n");
        return true;
    }
    m_nRangeFirst = first;

    const int64_t avail = S - F;
    if (F < 0 || avail <= 0)
    {
        // Nothing of the file lies at or after the file offset (ffffffff and the
        // like are offsets past any file, not before its start).
        m_Logger.Print ("Something wrong in program...\n");
        return true;
    }

    bool note = false;
    int64_t total;
    if (L == 0)
    {
        total = avail;
        note = true;
    }
    else if (L > avail || L < 0)
    {
        m_Logger.Print ("Program length is larger than the file.\n");
        total = avail;
        note = true;
    }
    else
    {
        total = L;
    }

    int64_t end = A + total;
    int j = 0;
    while (j < m_nSectorEntries && end > base + m_pSectorTable[(size_t) j].nStart)
        ++j;
    if (j == m_nSectorEntries)
    {
        const auto& last = m_pSectorTable[(size_t) (m_nSectorEntries - 1)];
        if (end > base + last.nStart + last.nSize)
            end = base + last.nStart + last.nSize;
        m_nRangeEnd = m_nSectorEntries;
    }
    else
    {
        end = base + m_pSectorTable[(size_t) j].nStart;
        m_nRangeEnd = j;
    }
    if (base < 0 || end > kMaxFlashBytes)
    {
        // The wire carries 28 bits of word address: a page beyond them would wrap onto another.
        m_Logger.Print ("Something wrong in program...\n");
        return true;
    }

    if (end - A != total)
    {
        total = end - A;
        m_Logger.Print ("Program length is set to fit sector size. new length is %xh bytes", (unsigned) total);
        note = true;
    }
    if (total > avail)
    {
        total = avail;
        m_Logger.Print ("Program length is set to %xh bytes.\n", (unsigned) total);
    }
    else if (note)
    {
        m_Logger.Print ("Program length is set to %xh bytes.\n", (unsigned) total);
    }
    m_nTotalBytes = (int) total;

    if (m_nRangeEnd == m_nRangeFirst)
    {
        m_Logger.Print ("Something wrong in program...\n");
        return true;
    }
    return false;
}
