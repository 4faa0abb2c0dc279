// Reading the flash back into a file, and comparing it with what was written.
#include "link/Communication.h"
#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "platform/SystemCalls.h"
#include "store/Logger.h"

namespace
{
    constexpr int kReadRetryLimit = 10;
    constexpr int kCompareLimit = 11;

    /** Where `length` bytes of `a` from `aOffset` and the first `length` bytes of
        `b` first differ, counted from the start of the range; -1 when they are
        equal. Read from disk in chunks of `chunk` bytes into `bytesA` and
        `bytesB`, up to the first difference; a file that cannot deliver its
        bytes any more differs where its bytes end. */
    int64_t FirstDifference (std::FILE* a, int64_t aOffset, std::FILE* b, int64_t length,
                             uint8_t* bytesA, uint8_t* bytesB, int64_t chunk)
    {
        for (int64_t done = 0; done < length;)
        {
            const int64_t n = std::min (chunk, length - done);
            const int64_t gotA = ReadFileAt (a, aOffset + done, bytesA, n);
            const int64_t gotB = ReadFileAt (b, done, bytesB, n);
            if (gotA != n || gotB != n || std::memcmp (bytesA, bytesB, (size_t) n) != 0)
            {
                const auto both = (size_t) std::max<int64_t> (0, std::min (gotA, gotB));
                return done + (std::mismatch (bytesA, bytesA + both, bytesB).first - bytesA);
            }
            done += n;
        }
        return -1;
    }
}

bool Communication::CloseReadFile()
{
    // The file was made empty when the read began: on any way out it holds the
    // bytes this read stored, those that reached it, and nothing else.
    if (m_hReadFile == nullptr)
        return true;
    const bool closed = std::fclose (m_hReadFile) == 0;
    m_hReadFile = nullptr;
    return closed;
}

bool Communication::RefuseRead (const juce::String& why)
{
    // Nothing to read there: the read is not started (operation lock held).
    CloseReadFile();
    m_bFailed = true;
    StopTimerFromAnyThread();
    Log (why.toRawUTF8());
    Post (kStepStartMessage, 1);
    return true;
}

bool Communication::ReadToFile (const juce::String& path, int page, int flashOffset, int length)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        CloseReadFile();
        m_hReadFile = OpenFileW (path, "wb");
        if (m_hReadFile == nullptr)
        {
            SetPendingError (kErrReadFileNotCreated);
            failed = true;
        }
        else
        {
            StartOperation (kOpReading);
            Post (kStepStartMessage, 0);
            m_nFlashOffset = ToBytes (flashOffset);
            m_nLength = ToBytes (length);
            m_nPage = page;

            const int64_t flashSize = FlashSize();
            int64_t toRead = m_nLength;
            if (toRead <= 0 || m_nFlashOffset + toRead > flashSize)
                toRead = flashSize - m_nFlashOffset;
            const int64_t start = PageBase (m_nPage) + m_nFlashOffset;
            if (m_nFlashOffset < 0 || m_nFlashOffset >= flashSize)
            {
                failed = RefuseRead (juce::String::formatted ("Read offset %xh is beyond the flash size %xh.\n",
                                                              (unsigned) m_nFlashOffset, (unsigned) flashSize));
            }
            else if (! FitsWireAddress (start, toRead))
            {
                failed = RefuseRead (juce::String::formatted ("Read page %xh is beyond the flash address space.\n",
                                                              (unsigned) m_nPage));
            }
            else
            {
                m_nTransferLength = toRead;
                m_nTransferPos = 0;
                if (m_pListener != nullptr)
                    m_pListener->postMessage (new NotifyMessage (kProgressMessage, 3));
                m_nStartAddr = start;
                Post (kStepStartMessage, 0);
                if (m_pLogger != nullptr)
                    m_pLogger->Print ("Reading %x\n", (unsigned) (m_nStartAddr / 2));
                StartReading();
            }
        }
    }
    FlushPendingError();
    return failed;
}

void Communication::StartReading()
{
    m_nReadRetries = 0;
    m_bRetryLine = false;
    m_nUnsureFrom = -1;
    m_nVoids = 0;
    m_bCheckDiffers = false;
    m_bCheckVoid = false;
    startTimer (80);
    RequestBlock (m_nStartAddr);
}

void Communication::RequestBlock (int64_t byteAddress)
{
    m_nBlockFill = 0;
    m_bBlockOverflow = false;
    m_bBlockFramed = true;
    m_eReadWait = ReadWait::Reply;
    m_Replies.Asked();
    SendAddressCommand (0x02, byteAddress / 2, 0x01);
}

void Communication::OnReadData (const uint8_t* d, int n)
{
    if (m_eReadWait == ReadWait::Guard)
    {
        OnStrayReply();
        return;
    }
    const int blockSize = m_bFS ? kBlockBytes + kTrailerBytes : kBlockBytes;
    const int room = blockSize - m_nBlockFill;
    const int decoded = Decode7to8 (d + 6, n - 6, m_Block + m_nBlockFill, room);
    if (decoded > room)
    {
        // More data than a block holds: the excess is dropped and the block is damaged.
        m_bBlockOverflow = true;
        m_nBlockFill = blockSize;
    }
    else
    {
        m_nBlockFill += decoded;
    }

    const bool announcesMore = d[5] == 1;
    if (m_nBlockFill == blockSize)
    {
        // A reply ends with a chunk that announces nothing more.
        if (announcesMore)
            m_bBlockFramed = false;
        if (m_eReadWait == ReadWait::Settle)
            OnLateReply();
        else
            OnReadBlock (m_bBlockOverflow);
        return;
    }
    if (! announcesMore)
    {
        m_bBlockFramed = false;
        // A reply no request waits for any more is not continued: the module
        // drops it when the next request comes.
        if (m_eReadWait == ReadWait::Reply)
            SendCommand ({ 0x7D, 0x00, 0x00 });
    }
}

void Communication::EndRetryLine()
{
    if (m_bRetryLine)
        Log ("\n");
    m_bRetryLine = false;
}

void Communication::OnReadBlock (bool damaged)
{
    // After a time-out more than one request waits for its answer, each for this
    // same block (no other is asked for meanwhile), and the block may have been
    // filled from several of them. With the trailer that shows; without it the
    // block counts only when it came as one reply.
    const bool several = m_Replies.Answered() > 1;
    if (! damaged && m_bFS)
        damaged = ! BlockTrailerMatches (m_Block);
    else if (! damaged && several && ! m_bBlockFramed)
        damaged = true;

    if (damaged)
    {
        // A damaged block counts against the same allowance as a time-out.
        Log (".");
        m_bRetryLine = true;
        if (m_nReadRetries >= kReadRetryLimit)
        {
            SetPendingError (kErrReadNotAnswered);
            return;
        }
        ++m_nReadRetries;
        if (m_Replies.Outstanding() > 0)
            Settle (false);
        else
            RequestBlock (m_nStartAddr + m_nTransferPos);
        return;
    }

    // A reply given up for lost that comes now would be taken for this block:
    // the end of the read watches for the surplus reply that would leave.
    if (m_nUnsureFrom < 0 && m_Replies.AnyGivenUp() && m_Replies.Watching (GetTickCount()))
        m_nUnsureFrom = m_nTransferPos;
    EndRetryLine();
    m_nReadRetries = 0;
    if (m_bChecking)
    {
        OnCheckBlock();
        return;
    }

    if (m_nTransferPos + kBlockBytes < m_nTransferLength)
    {
        // The next request leaves first, so that the module reads while this block is
        // stored. m_Block stays as it is until this call returns: the answer comes on
        // this same thread, and its handling waits for the operation lock besides.
        const int64_t position = m_nTransferPos;
        m_nTransferPos += kBlockBytes;
        AskNext();
        PostProgress (3, position, m_nTransferLength);
        if (std::fwrite (m_Block, 1, kBlockBytes, m_hReadFile) != (size_t) kBlockBytes)
            SetPendingError (kErrReadFileNotCreated);
        return;
    }
    PostProgress (3, m_nTransferPos, m_nTransferLength);
    const auto rest = (size_t) (m_nTransferLength - m_nTransferPos);
    if (std::fwrite (m_Block, 1, rest, m_hReadFile) != rest)
    {
        SetPendingError (kErrReadFileNotCreated);
        return;
    }
    EndRead();
}

void Communication::AskNext()
{
    // While an earlier request may still be answered, its reply would be taken
    // for the next block: the next request waits until the line is clear.
    if (m_Replies.Outstanding() > 0)
        Settle (false);
    else
        RequestBlock (m_nStartAddr + m_nTransferPos);
}

void Communication::EndRead()
{
    if (m_Replies.Outstanding() > 0)
    {
        Settle (true);
        return;
    }
    // A difference found ends a check safely whatever came late: the range is written.
    const bool differs = m_bChecking && (m_bCheckDiffers || m_bCheckVoid);
    if (m_nUnsureFrom >= 0 && ! differs)
    {
        m_eReadWait = ReadWait::Guard;
        m_nIdleTicks = 0;
        return;
    }
    FinishRead();
}

void Communication::FinishRead()
{
    m_eReadWait = ReadWait::None;
    StopTimerFromAnyThread();
    if (m_bChecking)
    {
        m_bChecking = false;
        if (m_pListener != nullptr)
            m_pListener->postMessage (new NotifyMessage (kProgressMessage, 0));
        if (! m_bCheckDiffers && ! m_bCheckVoid)
        {
            Log ("In place.\n");
            Post (kStepDoneMessage, kDoneInPlace);
            return;
        }
        if (m_bCheckDiffers && m_pLogger != nullptr)
            m_pLogger->Print ("Differs at %x.\n", (unsigned) ((m_nStartAddr + m_nTransferPos) / 2));
        Post (kStepDoneMessage, 0);
        return;
    }
    // Every byte must reach the file: a full disk shows when it is closed at the latest.
    if (! CloseReadFile())
    {
        SetPendingError (kErrReadFileNotCreated);
        return;
    }
    if (m_pListener != nullptr)
        m_pListener->postMessage (new NotifyMessage (kProgressMessage, 0));
    Log ("Read finished.\n");
    if (m_pListener != nullptr)
        m_pListener->postMessage (new NotifyMessage (kProgressMessage, 0));
    Post (kStepDoneMessage, 0);
}

void Communication::OnReadTimeout()
{
    m_nIdleTicks = 0;
    if (m_nReadRetries >= kReadRetryLimit)
    {
        SetPendingError (kErrReadNotAnswered);
        return;
    }
    ++m_nReadRetries;
    if (m_nReadRetries == 1)
        Log ("Time out, retry...1");
    else if (m_pLogger != nullptr)
        m_pLogger->Print (",%d", m_nReadRetries);
    m_bRetryLine = true;
    RequestBlock (m_nStartAddr + m_nTransferPos);
}

bool Communication::EndCompare (ErrorCode errorCode)
{
    m_nCompareRetries = 0;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        SetPendingError (errorCode);
    }
    FlushPendingError();
    return true;
}

bool Communication::CompareFiles (const juce::String& writtenPath, int srcOffset, const juce::String& readPath)
{
    Log ("Start comparing...\n");
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        StartOperation (m_nOp.load());
        m_nFirstDifference = -1;
    }

    // Both files are read from disk, without the operation lock: a reply that
    // arrives meanwhile is not held up on the MIDI input thread.
    std::FILE* written = OpenFileW (writtenPath, "rb");
    const int64_t writtenSize = FileSize64 (written);
    if (writtenSize < 0)
    {
        if (written != nullptr)
            std::fclose (written);
        return EndCompare (kErrWrittenFileUnreadable);
    }
    std::FILE* readBack = OpenFileW (readPath, "rb");
    const int64_t readSize = FileSize64 (readBack);
    if (readSize < 0)
    {
        if (readBack != nullptr)
            std::fclose (readBack);
        std::fclose (written);
        return EndCompare (kErrReadBackUnreadable);
    }
    if (srcOffset < 0 || writtenSize < srcOffset)
    {
        m_nCompareRetries = 0;
        Log ("Write file length < Source offset!\n");
        Post (kStepStartMessage, 1);
        std::fclose (written);
        std::fclose (readBack);
        return true;
    }

    const int64_t available = writtenSize - srcOffset;
    const bool differentLength = available != readSize;
    int64_t difference;
    {
        std::lock_guard<std::mutex> l (m_CompareLock);
        if (m_pCompareChunks == nullptr)
            m_pCompareChunks.reset (new uint8_t[2 * kCompareChunk]);
        difference = FirstDifference (written, srcOffset, readBack, std::min (readSize, available),
                                      m_pCompareChunks.get(), m_pCompareChunks.get() + kCompareChunk, kCompareChunk);
    }
    std::fclose (written);
    std::fclose (readBack);

    if (difference < 0)
    {
        m_nCompareRetries = 0;
        Log (differentLength ? "Compare OK! (One file is longer.)\n\n" : "Compare OK!\n\n");
        Post (kStepDoneMessage, 0);
        return false;
    }
    m_nFirstDifference = srcOffset + difference;
    Log ("Compare FAIL!\n\n");
    const int count = ++m_nCompareRetries;
    if (count >= kCompareLimit)
        return EndCompare (kErrCompareFailed);
    Post (kStepDoneMessage, 1);
    if (m_pLogger != nullptr)
        m_pLogger->Print ("Retry %d!\n", count);
    return false;
}
