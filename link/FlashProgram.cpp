// Erase planning, sector erase and programming.
#include "link/Communication.h"
#include <algorithm>
#include <cstring>
#include <utility>
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "store/Logger.h"

namespace
{
    constexpr int64_t kErasePlaceholderSize = 0x4000000;   // what an erase-only step counts as its image
    const uint8_t kZeroBlock[kBlockBytes] = {};
}

void Communication::StoreRange (int page, int srcOffset, int flashOffset, int length)
{
    m_nPage = page;
    m_nFlashOffset = ToBytes (flashOffset);
    m_nSrcOffset = ToBytes (srcOffset);
    m_nLength = ToBytes (length);
    m_nStartAddr = PageBase (m_nPage) + m_nFlashOffset;
}

bool Communication::EraseAndProgramFile (int page, const juce::String& path, int srcOffset, int flashOffset, int length)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        // The file is opened and measured now; its bytes are read when they are programmed.
        if (! m_Source.OpenFile (path))
        {
            SetPendingError (kErrProgramFileUnreadable);
            failed = true;
        }
        else
        {
            m_nImageSize = m_Source.GetSize();
            StartOperation (kOpErasing);
            m_bEraseOnlyStep = false;
            Post (kStepStartMessage, 0);
            startTimer (500);
            StoreRange (page, srcOffset, flashOffset, length);
            PlanErase();
        }
    }
    FlushPendingError();
    return failed;
}

bool Communication::EraseRange (int page, int flashOffset, int length)
{
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        // No image: an erase-only step counts as a 64 MiB source and never programs.
        m_Source.Release();
        m_nImageSize = kErasePlaceholderSize;
        StartOperation (kOpErasing);
        m_bEraseOnlyStep = true;
        Post (kStepStartMessage, 0);
        startTimer (500);
        StoreRange (page, 0, flashOffset, length);
        m_nSrcOffset = 0;
        PlanErase();
    }
    FlushPendingError();
    return false;
}

void Communication::PlanErase()
{
    int first = -1;
    for (size_t i = 0; i < m_pSectors.size(); ++i)
        if (m_pSectors[i].nStart == m_nFlashOffset)
        {
            first = (int) i;
            break;
        }
    if (first < 0)
    {
        SetPendingError (kErrNotSectorStart);
        return;
    }
    m_nFirstSector = first;

    const int64_t available = m_nImageSize - m_nSrcOffset;
    if (available <= 0 || m_nSrcOffset < 0)
    {
        // The source offset lies outside the file: nothing to program.
        m_nOp = kOpErasing;
        SetPendingError (kErrNoSectorToErase);
        return;
    }

    bool changed = false;
    int64_t length;
    if (m_nLength == 0 || m_nLength > available || m_nLength < 0)
    {
        length = available;
        changed = true;
    }
    else
    {
        length = m_nLength;
    }

    const int64_t base = PageBase (m_nPage);
    const int64_t start = m_nStartAddr;
    int64_t end = start + length;
    size_t j = 0;
    for (; j < m_pSectors.size(); ++j)
        if (base + m_pSectors[j].nStart >= end)
            break;
    if (j < m_pSectors.size())
    {
        end = base + m_pSectors[j].nStart;
    }
    else
    {
        const int64_t flashEnd = base + FlashSize();
        if (end > flashEnd)
        {
            end = flashEnd;
            Log ("Program length is larger than the flash size.\n");
        }
    }
    m_nEndSector = (int) j;
    if (! FitsWireAddress (start, end - start))
    {
        // A page beyond the wire's 28-bit word address (or a negative one): nothing it could reach.
        SetPendingError (kErrNoSectorToErase);
        return;
    }
    if (end - start != length)
    {
        length = end - start;
        changed = true;
    }
    bool note = changed;
    if (length > available)
    {
        length = available;
        note = true;
    }
    m_nProgramLength = length;
    if (note && m_pLogger != nullptr)
        m_pLogger->Print ("Program length is set to %xh bytes.\n", (unsigned) m_nProgramLength);

    m_nOp = kOpErasing;
    if (m_nEndSector <= m_nFirstSector)
    {
        SetPendingError (kErrNoSectorToErase);
        return;
    }
    m_nNextSector = m_nFirstSector;
    EraseNextSector();
}

bool Communication::EraseNextSector()
{
    if (m_nNextSector >= m_nEndSector)
    {
        if (m_pListener != nullptr)
            m_pListener->postMessage (new NotifyMessage (kProgressMessage, 0));
        return false;
    }
    PostProgress (1, m_nNextSector - m_nFirstSector, m_nEndSector - m_nFirstSector);
    SendAddressCommand (0x04, (PageBase (m_nPage) + m_pSectors[(size_t) m_nNextSector].nStart) / 2, -1);
    m_nNextSector += 1;
    m_nIdleTicks = 0;
    return true;
}

void Communication::OnEraseAcknowledged()
{
    if (EraseNextSector())
        return;

    if (g_bEraseOnly || m_bEraseOnlyStep)
    {
        Post (kStepDoneMessage, 0);
        StopTimerFromAnyThread();
        return;
    }
    Log ("Erase finished.\n");
    StartProgramming();
}

void Communication::StartProgramming()
{
    // Only what the open file holds is ever sent. A stray status reply can finish
    // an erase whose file has since been released (a later step failed to open
    // its own): that ends as a file that cannot be opened.
    if (m_nSrcOffset < 0 || m_nProgramLength < 0 || m_nSrcOffset + m_nProgramLength > m_Source.GetSize())
    {
        SetPendingError (kErrProgramFileUnreadable);
        return;
    }
    if (m_pLogger != nullptr)
        m_pLogger->Print ("Programming %x\n", (unsigned) (m_nStartAddr / 2));
    m_nOp = kOpProgramming;
    m_Source.SetRange (m_nSrcOffset, m_nProgramLength);
    BeginTransfer (m_nStartAddr, m_nProgramLength, true);
}

bool Communication::ProgramFile (int page, const juce::String& path, int srcOffset, int flashOffset, int length)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        if (! m_Source.OpenFile (path))
        {
            SetPendingError (kErrProgramFileUnreadable);
            failed = true;
        }
        else
        {
            m_nImageSize = m_Source.GetSize();
            StartOperation (kOpProgramming);
            StoreRange (page, srcOffset, flashOffset, length);
            const int64_t available = m_nImageSize - m_nSrcOffset;
            m_nProgramLength = (m_nLength == 0 || m_nLength > available || m_nLength < 0) ? available : m_nLength;
            if (available <= 0 || m_nSrcOffset < 0 || ! FitsWireAddress (m_nStartAddr, m_nProgramLength))
            {
                SetPendingError (kErrNoSectorToErase);
                failed = true;
            }
            else
            {
                Log ("Erase finished.\n");
                StartProgramming();
            }
        }
    }
    FlushPendingError();
    return failed;
}

bool Communication::ProgramZeroBlock (int page, int srcOffset, int flashOffset, int length)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        StartOperation (kOpProgramming);
        startTimer (500);
        StoreRange (page, srcOffset, flashOffset, length);
        // The zero buffer is one block long: never read beyond it.
        int64_t src = m_nSrcOffset, len = m_nLength;
        if (src >= 0 && src + len > kBlockBytes)
            len = kBlockBytes - src;
        if (src < 0 || src >= kBlockBytes || len <= 0 || ! FitsWireAddress (m_nStartAddr, len))
        {
            SetPendingError (kErrNoSectorToErase);
            failed = true;
        }
        else
        {
            m_nProgramLength = len;
            m_Source.SetMemory (kZeroBlock, kBlockBytes);
            m_Source.SetRange (src, len);
            failed = BeginTransfer (m_nStartAddr, m_nProgramLength, true);
        }
    }
    FlushPendingError();
    return failed;
}
