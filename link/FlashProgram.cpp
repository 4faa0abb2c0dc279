// Erase planning, sector erase and programming.
#include "link/Communication.h"
#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include "link/Globals.h"
#include "link/Messages.h"
#include "platform/SystemCalls.h"
#include "store/Logger.h"

namespace
{
    constexpr int64_t kErasePlaceholderSize = 0x4000000;   // what an erase-only step counts as its image
    const uint8_t kZeroBlock[kBlockBytes] = {};
}

bool Communication::LoadImage (const juce::String& path)
{
    // The image stays in memory between steps while the file is unchanged.
    const juce::File file (path);
    std::FILE* f = OpenFileW (path, "rb");
    if (f == nullptr)
        return false;
    const int64_t size = FileSize64 (f);
    const auto modified = file.getLastModificationTime();
    if (path == m_strImagePath && size == m_nImageFileSize && modified == m_ImageModTime
        && (int64_t) m_pImage.size() == size)
    {
        std::fclose (f);
        m_nImageSize = size;
        return true;
    }

    m_pImage.clear();
    m_strImagePath.clear();
    m_nImageFileSize = -1;
    if (size < 0 || size > std::numeric_limits<int>::max())
    {
        std::fclose (f);
        return false;
    }
    m_pImage.resize ((size_t) size);
    const size_t got = size > 0 ? std::fread (m_pImage.data(), 1, (size_t) size, f) : 0;
    std::fclose (f);
    if (got != (size_t) size)
    {
        m_pImage.clear();
        return false;
    }
    m_strImagePath = path;
    m_nImageFileSize = size;
    m_ImageModTime = modified;
    m_nImageSize = size;
    return true;
}

// The image in memory when it is the file at `path` of `size` bytes, as it is
// on disk now; otherwise null.
const uint8_t* Communication::CachedImage (const juce::String& path, int64_t size) const
{
    if (path != m_strImagePath || size != m_nImageFileSize || (int64_t) m_pImage.size() != size
        || juce::File (path).getLastModificationTime() != m_ImageModTime)
        return nullptr;
    return m_pImage.data();
}

void Communication::StoreRange (int page, int srcOffset, int flashOffset, int length)
{
    m_nPage = page;
    m_nFlashOffset = ToBytes (flashOffset);
    m_nSrcOffset = ToBytes (srcOffset);
    m_nLength = ToBytes (length);
    m_nStartAddr = (int) (((int64_t) m_nPage << 17) + m_nFlashOffset);
}

bool Communication::EraseAndProgramFile (int page, const juce::String& path, int srcOffset, int flashOffset, int length)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        if (! LoadImage (path))
        {
            SetPendingError (16);
            failed = true;
        }
        else
        {
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
        SetPendingError (17);
        return;
    }
    m_nFirstSector = first;

    const int64_t available = m_nImageSize - m_nSrcOffset;
    if (available <= 0 || m_nSrcOffset < 0)
    {
        // The source offset lies outside the file: nothing to program.
        m_nOp = kOpErasing;
        SetPendingError (19);
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

    const int64_t base = (int64_t) m_nPage << 17;
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
    m_nProgramLength = (int) length;
    if (note && m_pLogger != nullptr)
        m_pLogger->Print ("Program length is set to %xh bytes.\n", (unsigned) m_nProgramLength);

    m_nOp = kOpErasing;
    if (m_nEndSector <= m_nFirstSector)
    {
        SetPendingError (19);
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
    const int wordAddress = (int) (m_pSectors[(size_t) m_nNextSector].nStart / 2 + ((int64_t) m_nPage << 16));
    SendAddressCommand (0x04, wordAddress, -1);
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
    // Only what the image in memory holds is ever sent. A stray status reply can
    // finish an erase whose image has since been dropped (a later step failed to
    // load its file): that ends as an image that cannot be opened.
    if (m_nSrcOffset < 0 || m_nProgramLength < 0
        || (int64_t) m_nSrcOffset + m_nProgramLength > (int64_t) m_pImage.size())
    {
        SetPendingError (16);
        return;
    }
    if (m_pLogger != nullptr)
        m_pLogger->Print ("Programming %x\n", (unsigned) (m_nStartAddr / 2));
    m_nOp = kOpProgramming;
    BeginTransfer (m_pImage.data() + m_nSrcOffset, m_nStartAddr, m_nProgramLength, true);
}

bool Communication::ProgramFile (int page, const juce::String& path, int srcOffset, int flashOffset, int length)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        if (! LoadImage (path))
        {
            SetPendingError (16);
            failed = true;
        }
        else
        {
            StartOperation (kOpProgramming);
            StoreRange (page, srcOffset, flashOffset, length);
            const int64_t available = m_nImageSize - m_nSrcOffset;
            if (available <= 0 || m_nSrcOffset < 0)
            {
                SetPendingError (19);
                failed = true;
            }
            else
            {
                m_nProgramLength = (int) ((m_nLength == 0 || m_nLength > available || m_nLength < 0) ? available : m_nLength);
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
        if (src < 0 || src >= kBlockBytes || len <= 0)
        {
            SetPendingError (19);
            failed = true;
        }
        else
        {
            if (src + len > kBlockBytes)
                len = kBlockBytes - src;
            m_nProgramLength = (int) len;
            BeginTransfer (kZeroBlock + src, m_nStartAddr, m_nProgramLength, true);
        }
    }
    FlushPendingError();
    return failed;
}
