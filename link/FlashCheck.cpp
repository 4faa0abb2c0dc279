// "Only what changed": a range is read before it is written and compared with
// what the workflow would leave there, so that a range already in place is
// neither erased, nor programmed, nor read back.
#include "link/Communication.h"
#include <algorithm>
#include <cstring>
#include "store/shared/Notifications.h"
#include "platform/PositionedRead.h"
#include "platform/SystemCalls.h"
#include "store/Logger.h"

bool Communication::CheckRange (int page, const juce::String& path, int srcOffset, int flashOffset, int length, int fill)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        CloseReadFile();
        StartOperation (kOpReading);
        m_nPage = page;
        m_nFlashOffset = ToBytes (flashOffset);
        m_nLength = ToBytes (length);
        const int64_t src = ToBytes (srcOffset);
        const int64_t flashSize = FlashSize();
        int64_t toCheck = m_nLength;
        if (m_nFlashOffset + toCheck > flashSize)
            toCheck = flashSize - m_nFlashOffset;
        const int64_t start = PageBase (m_nPage) + m_nFlashOffset;

        // What the range is to hold: the file's bytes (0xFF past its end, as the
        // erase leaves them), zeros or erased bytes. A range the wire cannot
        // reach, or an empty one, fails as it does when it is written.
        bool ready = toCheck > 0 && m_nFlashOffset >= 0 && src >= 0 && FitsWireAddress (start, toCheck);
        const auto error = ready ? kErrProgramFileUnreadable : kErrNoSectorToErase;
        if (ready)
        {
            m_Expected.assign ((size_t) toCheck, fill == kFillZeros ? 0x00 : 0xFF);
            if (fill == kFillFile)
            {
                std::FILE* f = OpenFileW (path, "rb");
                const int64_t size = FileSize64 (f);
                if (size < 0)
                {
                    ready = false;
                }
                else if (src < size)
                {
                    const int64_t n = std::min (toCheck, size - src);
                    ready = ReadFileAt (f, src, m_Expected.data(), n) == n;
                }
                if (f != nullptr)
                    std::fclose (f);
            }
        }
        if (! ready)
        {
            SetPendingError (error);
            failed = true;
        }
        else
        {
            Post (kStepStartMessage, 0);
            m_bChecking = true;
            m_nTransferLength = toCheck;
            m_nTransferPos = 0;
            m_nStartAddr = start;
            if (m_pListener != nullptr)
                m_pListener->postMessage (new NotifyMessage (kProgressMessage, 3));
            if (m_pLogger != nullptr)
                m_pLogger->Print ("Checking %x\n", (unsigned) (m_nStartAddr / 2));
            StartReading();
        }
    }
    FlushPendingError();
    return failed;
}

void Communication::OnCheckBlock()
{
    // Compared before the next block is asked for: a difference ends the check
    // with no request left unanswered.
    const int64_t n = std::min<int64_t> (kBlockBytes, m_nTransferLength - m_nTransferPos);
    PostProgress (3, m_nTransferPos, m_nTransferLength);
    const bool same = std::memcmp (m_Block, m_Expected.data() + m_nTransferPos, (size_t) n) == 0;
    if (same && m_nTransferPos + n < m_nTransferLength)
    {
        m_nTransferPos += n;
        AskNext();
        return;
    }
    m_bCheckDiffers = ! same;
    EndRead();
}
