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
    m_JobRunner.AddEraseProgram (m_szBoot2Path, PageValue(), 0, u.bootOffset, u.bootLength);
    m_nTotalBytes += UnitBytes() * u.bootLength;
    m_JobRunner.AddSendDriver (flash.szDriverPath);
    m_JobRunner.AddProgramZero (PageValue(), ToUnit (0x40000, wm) - 0x800);
    m_JobRunner.AddSendDriver (flash.szDriverPath);
    m_JobRunner.AddProgramZero (PageValue(), ToUnit (0x10000, wm) - 0x800);
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
    m_JobRunner.AddEraseProgram (m_szFlashPgmPath, PageValue(), 0, u.bootOffset, u.bootLength);
    m_nTotalBytes += UnitBytes() * u.bootLength;
    m_JobRunner.AddSendDriver (flash.szDriverPath);
    m_JobRunner.AddProgramZero (PageValue(), ToUnit (0x10000, wm) - 0x800);
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
    int end = 0;
    if (! BeginWorkflow (false, m_szFlashPgmPath, kErrFlashPgmMissing, m_szSpecial418Path, kErrSpecial418Missing, flash, nullptr, end))
        return;
    const auto u = UnitsFor (m_bWordMode);
    m_JobRunner.AddSendDriver (flash.szDriverPath);
    for (uint32_t a = 0; a < (uint32_t) end; a += 0x40000)
        m_JobRunner.AddErase (PageValue(), ToUnit (a, m_bWordMode), 2 * u.block);
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
