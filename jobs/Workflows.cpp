// The five workflows: each turns the panel's state into a complete queue of
// steps and starts it.
#include "app/MainComponent.h"
#include "store/shared/ProgramHooks.h"
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "platform/SystemCalls.h"

namespace
{
    // Unit constants, in the toggle's unit (16-bit words or bytes).
    struct Units { int block, bootOffset, bootLength; };
    Units UnitsFor (bool wordMode)
    {
        return wordMode ? Units { 0x10000, 0x20000, 0x8000 } : Units { 0x20000, 0x40000, 0x10000 };
    }

    // Program and read offsets come in the toggle's unit: a byte address is halved
    // in word mode and kept in byte mode, so the same image gives the same flash.
    int ToUnit (int64_t byteAddress, bool wordMode) { return (int) (wordMode ? byteAddress / 2 : byteAddress); }
}

void MainComponent::StopWithError (ErrorCode code)
{
    m_JobRunner.GetLink().StopTimer();
    ShowErrorCode (code);
    DeliverStop();
}

void MainComponent::DeliverStop()
{
    handleMessage (NotifyMessage (kStepStartMessage, 1, 0));
}

void MainComponent::DeleteScratchFiles()
{
    DeleteFileW (m_szCompareTempPath);
    DeleteFileW (m_szFlashPgmRomPath);
    DeleteFileW (m_szSec0Path);
    DeleteFileW (m_szSec1Path);
}

bool MainComponent::BeginWorkflow (bool needsFile, const wchar_t* check1, ErrorCode error1,
                                   const wchar_t* check2, ErrorCode error2,
                                   _STR_FLASH_INFO& flash, wchar_t* file, int& end)
{
    m_JobRunner.ClearSteps();
    m_nStartTick = GetTickCount();
    m_bRetrying = 0;

    auto* selected = GetSelectedFlash();
    if (selected == nullptr)
    {
        StopWithError (kErrNoFlashType);
        return false;
    }
    flash = *selected;
    flash.pNext = nullptr;

    if (needsFile)
        PathCopy (file, m_FileLabel->getText());

    DeleteScratchFiles();
    m_nJobKind = 1;

    const std::pair<const wchar_t*, ErrorCode> checks[] = { { check1, error1 }, { check2, error2 } };
    for (auto& c : checks)
    {
        if (c.first == nullptr)
            continue;
        std::FILE* f = OpenFileW (c.first, "rb");
        if (f == nullptr)
        {
            StopWithError (c.second);
            return false;
        }
        std::fclose (f);
    }

    if (LoadSectorTable (flash.szDriverPath) || ValidateRange())
    {
        DeliverStop();
        return false;
    }

    if (m_nRangeEnd == m_nSectorEntries)
    {
        const auto& last = m_pSectorTable[(size_t) (m_nSectorEntries - 1)];
        end = last.nStart + last.nSize;
    }
    else
    {
        end = m_pSectorTable[(size_t) m_nRangeEnd].nStart;
    }
    return true;
}

void MainComponent::FinishWorkflow (bool storeLastSave)
{
    m_Logger.Clear();
    m_pDriverImage.clear();
    m_pSectorTable.clear();
    m_nSectorEntries = 0;
    m_nDoneBytes = 0;
    // A verify's bar follows the bytes it reads back.
    if (m_JobPurpose == JobPurpose::Verify)
        m_nTotalBytes = QueuedReadBytes();
    ReportPhase();
    if (storeLastSave)
    {
        m_JobRunner.RunNext();
        m_dProgress = 0.0;
        StoreLastSave();
    }
    else
    {
        m_dProgress = 0.0;
        m_JobRunner.RunNext();
    }
}

void MainComponent::AddVerifyGroup (const wchar_t* driver, const wchar_t* file, int page, int w, int n)
{
    if (OnlyChangedJob())
    {
        const int64_t unit = UnitBytes();
        m_bOnlyChanged = false;   // a range that cannot be split goes as one group
        AddCheckedUnits (driver, file, page, unit * w, unit * w, unit * n, true);
        m_bOnlyChanged = true;
        return;
    }
    m_JobRunner.AddSendDriver (driver);
    m_JobRunner.AddEraseProgram (file, page, w, w, n);
    m_JobRunner.AddRead (m_szCompareTempPath, page, w, n);
    m_JobRunner.AddCompare (file, m_bWordMode ? 2 * w : w, m_szCompareTempPath);
}

void MainComponent::AddVerifyGroups (const wchar_t* driver, const wchar_t* file, uint32_t from, int end, int block)
{
    // One verify group per 128 KiB of flash, from a byte address up to the end of the range.
    for (uint32_t a = from; a < (uint32_t) end; a += 0x20000)
        AddVerifyGroup (driver, file, PageValue(), ToUnit (a, m_bWordMode), block);
}

//==============================================================================
// "Only what changed". The unit is the driver's sector: the erase works sector
// by sector, so a sector is the smallest range that can be left alone. Each
// sector of a range is read first and compared with what the full update would
// leave in it (the file's bytes, 0xFF where the file ends inside it); only a
// sector that differs is erased, programmed, read back and compared.

bool MainComponent::OnlyChangedJob() const
{
    return m_bOnlyChanged && m_JobPurpose == JobPurpose::Update;
}

int64_t MainComponent::EraseExtentEnd (int64_t flashByte, int64_t dataBytes) const
{
    // As the erase planning aligns it by the link: up to the first sector at or after the data's end.
    bool starts = false;
    for (const auto& sector : m_pSectorTable)
        starts = starts || sector.nStart == flashByte;
    if (! starts || m_pSectorTable.empty())
        return -1;
    for (const auto& sector : m_pSectorTable)
        if (sector.nStart >= flashByte + dataBytes)
            return sector.nStart;
    const auto& last = m_pSectorTable.back();
    return (int64_t) last.nStart + last.nSize;
}

namespace
{
    int64_t FileBytes (const wchar_t* path)
    {
        std::FILE* f = OpenFileW (path, "rb");
        const int64_t size = FileSize64 (f);
        if (f != nullptr)
            std::fclose (f);
        return size;
    }
}

void MainComponent::AddCheckedUnits (const wchar_t* driver, const wchar_t* file, int page, int64_t srcByte,
                                     int64_t flashByte, int64_t lengthBytes, bool verify)
{
    const bool wm = m_bWordMode;
    const int64_t available = FileBytes (file) - srcByte;
    const int64_t end = available > 0 ? EraseExtentEnd (flashByte, std::min (lengthBytes, available)) : -1;
    if (end < 0)
    {
        // Nothing a sector could hold: the range goes as it always does (and fails as it always does).
        if (verify)
            AddVerifyGroup (driver, file, page, ToUnit (flashByte, wm), ToUnit (lengthBytes, wm));
        else
            m_JobRunner.AddEraseProgram (file, page, ToUnit (srcByte, wm), ToUnit (flashByte, wm), ToUnit (lengthBytes, wm));
        return;
    }
    for (const auto& sector : m_pSectorTable)
    {
        if (sector.nStart < flashByte || sector.nStart >= end)
            continue;
        const int64_t src = srcByte + (sector.nStart - flashByte);
        const int w = ToUnit (sector.nStart, wm), s = ToUnit (src, wm), n = ToUnit (sector.nSize, wm);
        const int data = (int) std::min<int64_t> (sector.nSize, available - (sector.nStart - flashByte));
        if (verify)
            m_JobRunner.AddSendDriver (driver);
        m_JobRunner.AddCheck (file, page, s, w, n, Communication::kFillFile, verify ? 3 : 1, data);
        m_JobRunner.AddEraseProgram (file, page, s, w, n);
        if (verify)
        {
            m_JobRunner.AddRead (m_szCompareTempPath, page, w, n);
            m_JobRunner.AddCompare (file, (int) src, m_szCompareTempPath);
        }
    }
}

void MainComponent::AddCheckedZero (const wchar_t* driver, int page, int w)
{
    m_JobRunner.AddSendDriver (driver);
    if (OnlyChangedJob())
        m_JobRunner.AddCheck (L"", page, 0, w, 0x800, Communication::kFillZeros, 1, 0);
    m_JobRunner.AddProgramZero (page, w);
}

void MainComponent::StartFileJob()
{
    _STR_FLASH_INFO flash;
    wchar_t file[kMaxPath] {};
    int end = 0;
    if (! BeginWorkflow (true, nullptr, kErrNone, nullptr, kErrNone, flash, file, end))
        return;
    const auto u = UnitsFor (m_bWordMode);
    AddVerifyGroups (flash.szDriverPath, file, 0, end, u.block);
    FinishWorkflow (true);
}

void MainComponent::StartQvm410Job()
{
    _STR_FLASH_INFO flash;
    wchar_t file[kMaxPath] {};
    int end = 0;
    if (! BeginWorkflow (true, m_szBoot2Path, kErrBoot2Missing, m_szSpecialPath, kErrSpecialMissing, flash, file, end))
        return;
    const auto u = UnitsFor (m_bWordMode);
    const bool wm = m_bWordMode;

    m_JobRunner.AddSendDriver (flash.szDriverPath);
    m_JobRunner.AddCheckFlash (PageValue());
    if (OnlyChangedJob())
        AddCheckedUnits (flash.szDriverPath, m_szBoot2Path, PageValue(), 0, UnitBytes() * u.bootOffset, UnitBytes() * u.bootLength, false);
    else
        m_JobRunner.AddEraseProgram (m_szBoot2Path, PageValue(), 0, u.bootOffset, u.bootLength);
    m_nTotalBytes += UnitBytes() * u.bootLength;
    AddCheckedZero (flash.szDriverPath, PageValue(), ToUnit (0x40000, wm) - 0x800);
    AddCheckedZero (flash.szDriverPath, PageValue(), ToUnit (0x10000, wm) - 0x800);
    m_JobRunner.AddSendDriver (m_szSpecialPath);
    m_JobRunner.AddCheckFlash (PageValue());

    AddVerifyGroups (flash.szDriverPath, file, 0x60000, end, u.block);

    // The 64 KiB piece that holds the marker goes last.
    const int pieces[2][4] = { { 0x10000, 0x20000, 0x30000, 0x00000 },    // marker at 0xFFF8
                               { 0x00000, 0x10000, 0x20000, 0x30000 } };  // marker at 0x3FFF8
    for (int p : pieces[m_nImageBank == 1 ? 1 : 0])
        AddVerifyGroup (flash.szDriverPath, file, PageValue(), ToUnit (p, wm), u.block / 2);
    AddVerifyGroup (flash.szDriverPath, file, PageValue(), ToUnit (0x40000, wm), u.block);
    FinishWorkflow (true);
}

void MainComponent::StartQvm428Job()
{
    _STR_FLASH_INFO flash;
    wchar_t file[kMaxPath] {};
    int end = 0;
    if (! BeginWorkflow (true, m_szFlashPgmPath, kErrFlashPgmMissing, m_szSpecial418Path, kErrSpecial418Missing, flash, file, end))
        return;
    const auto u = UnitsFor (m_bWordMode);
    const bool wm = m_bWordMode;

    m_JobRunner.AddSendDriver (flash.szDriverPath);
    m_JobRunner.AddCheckFlash (PageValue());
    m_JobRunner.AddSendDriver (flash.szDriverPath);
    if (OnlyChangedJob())
        AddCheckedUnits (flash.szDriverPath, m_szFlashPgmPath, PageValue(), 0, UnitBytes() * u.bootOffset, UnitBytes() * u.bootLength, false);
    else
        m_JobRunner.AddEraseProgram (m_szFlashPgmPath, PageValue(), 0, u.bootOffset, u.bootLength);
    m_nTotalBytes += UnitBytes() * u.bootLength;
    AddCheckedZero (flash.szDriverPath, PageValue(), ToUnit (0x10000, wm) - 0x800);
    m_JobRunner.AddSendDriver (m_szSpecial418Path);
    m_JobRunner.AddCheckFlash (PageValue());

    AddVerifyGroups (flash.szDriverPath, file, 0x60000, end, u.block);
    for (int a : { 0x20000, 0x00000, 0x40000 })
        AddVerifyGroup (flash.szDriverPath, file, PageValue(), ToUnit (a, wm), u.block);
    FinishWorkflow (true);
}

void MainComponent::StartEraseJob()
{
    _STR_FLASH_INFO flash;
    wchar_t file[kMaxPath] {};
    int end = 0;
    if (! BeginWorkflow (false, m_szFlashPgmPath, kErrFlashPgmMissing, m_szSpecial418Path, kErrSpecial418Missing, flash, nullptr, end))
        return;
    PathCopy (file, m_FileLabel->getText());
    const auto u = UnitsFor (m_bWordMode);
    m_JobRunner.AddSendDriver (flash.szDriverPath);
    if (! OnlyChangedJob())
    {
        for (uint32_t a = 0; a < (uint32_t) end; a += 0x40000)
            m_JobRunner.AddErase (PageValue(), ToUnit (a, m_bWordMode), 2 * u.block);
        FinishWorkflow (false);
        return;
    }

    // Each sector the erase pass would erase is checked against what the program
    // pass would leave in it: the file's bytes from the file offset where a program
    // group covers it, else 0xFF. One in place is neither erased nor, in the program pass, programmed.
    const int64_t unit = UnitBytes();
    const int64_t fileOffset = unit * ReadHexField (m_FileOffsetEditor);
    const int64_t covered = ((int64_t) (uint32_t) end + 0x1FFFF) / 0x20000 * 0x20000;
    const int64_t fileSize = FileBytes (file);
    for (uint32_t a = 0; a < (uint32_t) end; a += 0x40000)
    {
        const int64_t to = EraseExtentEnd (a, 2 * unit * u.block);
        if (to < 0)
        {
            m_JobRunner.AddErase (PageValue(), ToUnit (a, m_bWordMode), 2 * u.block);
            continue;
        }
        for (const auto& sector : m_pSectorTable)
        {
            if (sector.nStart < (int64_t) a || sector.nStart >= to)
                continue;
            const int64_t src = fileOffset + sector.nStart;
            const bool programmed = sector.nStart < covered;
            const int w = ToUnit (sector.nStart, m_bWordMode), n = ToUnit (sector.nSize, m_bWordMode);
            const int data = programmed ? (int) juce::jlimit<int64_t> (0, sector.nSize, fileSize - src) : 0;
            m_JobRunner.AddCheck (file, PageValue(), ToUnit (src, m_bWordMode), w, n,
                                  programmed ? Communication::kFillFile : Communication::kFillErased, 1, data);
            m_JobRunner.AddErase (PageValue(), w, n);
        }
    }
    FinishWorkflow (false);
}

void MainComponent::StartProgramJob()
{
    _STR_FLASH_INFO flash;
    wchar_t file[kMaxPath] {};
    int end = 0;
    if (! BeginWorkflow (true, nullptr, kErrNone, nullptr, kErrNone, flash, file, end))
        return;
    const auto u = UnitsFor (m_bWordMode);
    const int F = ReadHexField (m_FileOffsetEditor);
    m_nPassInPlaceBytes = 0;
    if (OnlyChangedJob())
    {
        // The sectors the erase pass found in place are left alone; the others
        // were erased there and are programmed and verified one by one.
        const int64_t key = (int64_t) PageValue() << 32;
        m_JobRunner.AddSendDriver (flash.szDriverPath);
        for (const auto& sector : m_pSectorTable)
        {
            if (sector.nStart >= ((int64_t) (uint32_t) end + 0x1FFFF) / 0x20000 * 0x20000)
                break;
            const int w = ToUnit (sector.nStart, m_bWordMode), n = ToUnit (sector.nSize, m_bWordMode);
            if (m_InPlaceSectors.count (key + sector.nStart) != 0)
            {
                m_nPassInPlaceBytes += UnitBytes() * n;
                continue;
            }
            if (m_JobRunner.GetStepCount() > 1)
                m_JobRunner.AddSendDriver (flash.szDriverPath);
            m_JobRunner.AddProgram (file, PageValue(), F + w, w, n);
            m_JobRunner.AddRead (m_szCompareTempPath, PageValue(), w, n);
            m_JobRunner.AddCompare (file, m_bWordMode ? 2 * (F + w) : F + w, m_szCompareTempPath);
        }
        FinishWorkflow (false);
        m_nDoneBytes = m_nPassInPlaceBytes;   // the bar starts with what is in place
        m_dProgress = m_nTotalBytes > 0 ? juce::jlimit (0.0, 1.0, (double) m_nDoneBytes / (double) m_nTotalBytes) : 0.0;
        return;
    }
    for (uint32_t a = 0; a < (uint32_t) end; a += 0x20000)
    {
        const int w = ToUnit (a, m_bWordMode);
        m_JobRunner.AddSendDriver (flash.szDriverPath);
        m_JobRunner.AddProgram (file, PageValue(), F + w, w, u.block);
        m_JobRunner.AddRead (m_szCompareTempPath, PageValue(), w, u.block);
        m_JobRunner.AddCompare (file, m_bWordMode ? 2 * (F + w) : F + w, m_szCompareTempPath);
    }
    FinishWorkflow (false);
}
