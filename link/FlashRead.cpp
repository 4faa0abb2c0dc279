// Reading the flash back into a file, and comparing it with what was written.
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
    constexpr int kReadRetryLimit = 10;
    constexpr int kCompareLimit = 11;
    constexpr size_t kCompareChunk = 1 << 16;
}

void Communication::CloseReadFile()
{
    if (m_hReadFile != nullptr)
    {
        std::fclose (m_hReadFile);
        m_hReadFile = nullptr;
    }
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
            SetPendingError (20);
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
            if (m_nFlashOffset < 0 || m_nFlashOffset >= flashSize)
            {
                // Nothing to read there: the read is not started.
                CloseReadFile();
                m_bFailed = true;
                StopTimerFromAnyThread();
                if (m_pLogger != nullptr)
                    m_pLogger->Print ("Read offset %xh is beyond the flash size %xh.\n",
                                      (unsigned) m_nFlashOffset, (unsigned) flashSize);
                Post (kStepStartMessage, 1);
                failed = true;
            }
            else
            {
                int64_t toRead = m_nLength;
                if (toRead <= 0 || (int64_t) m_nFlashOffset + toRead > flashSize)
                    toRead = flashSize - m_nFlashOffset;
                m_nTransferLength = (int) toRead;
                m_nTransferPos = 0;
                if (m_pListener != nullptr)
                    m_pListener->postMessage (new NotifyMessage (kProgressMessage, 3));
                m_nStartAddr = (int) (((int64_t) m_nPage << 17) + m_nFlashOffset);
                Post (kStepStartMessage, 0);
                if (m_pLogger != nullptr)
                    m_pLogger->Print ("Reading %x\n", (unsigned) (m_nStartAddr / 2));
                m_nReadRetries = 0;
                startTimer (80);
                RequestBlock (m_nStartAddr);
            }
        }
    }
    FlushPendingError();
    return failed;
}

void Communication::RequestBlock (int byteAddress)
{
    m_nBlockFill = 0;
    m_bBlockOverflow = false;
    SendAddressCommand (0x02, byteAddress / 2, 0x01);
}

void Communication::OnReadData (const uint8_t* d, int n)
{
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

    if (m_nBlockFill == blockSize)
    {
        OnReadBlock (m_bBlockOverflow);
        return;
    }
    if (d[5] != 1)
        SendCommand ({ 0x7D, 0x00, 0x00 });
}

void Communication::OnReadBlock (bool damaged)
{
    if (! damaged && m_bFS)
        damaged = ! BlockTrailerMatches (m_Block);

    if (damaged)
    {
        // A damaged block counts against the same allowance as a time-out.
        Log (".");
        if (m_nReadRetries >= kReadRetryLimit)
        {
            SetPendingError (6);
            return;
        }
        ++m_nReadRetries;
        RequestBlock (m_nStartAddr + m_nTransferPos);
        return;
    }

    PostProgress (3, m_nTransferPos, m_nTransferLength);
    bool finished = false;
    if (m_nTransferPos + kBlockBytes < m_nTransferLength)
    {
        std::fwrite (m_Block, 1, kBlockBytes, m_hReadFile);
        m_nTransferPos += kBlockBytes;
        RequestBlock (m_nStartAddr + m_nTransferPos);
    }
    else
    {
        std::fwrite (m_Block, 1, (size_t) (m_nTransferLength - m_nTransferPos), m_hReadFile);
        CloseReadFile();
        if (m_pListener != nullptr)
            m_pListener->postMessage (new NotifyMessage (kProgressMessage, 0));
        Log ("Read finished.\n");
        if (m_pListener != nullptr)
            m_pListener->postMessage (new NotifyMessage (kProgressMessage, 0));
        StopTimerFromAnyThread();
        finished = true;
    }

    if (m_nReadRetries != 0)
        Log ("\n");
    m_nReadRetries = 0;
    if (finished)
        Post (kStepDoneMessage, 0);
}

void Communication::OnReadTimeout()
{
    m_nIdleTicks = 0;
    if (m_nReadRetries >= kReadRetryLimit)
    {
        SetPendingError (6);
        return;
    }
    ++m_nReadRetries;
    if (m_nReadRetries == 1)
        Log ("Time out, retry...1");
    else if (m_pLogger != nullptr)
        m_pLogger->Print (",%d", m_nReadRetries);
    RequestBlock (m_nStartAddr + m_nTransferPos);
}

bool Communication::CompareFiles (const juce::String& writtenPath, int srcOffset, const juce::String& readPath)
{
    Log ("Start comparing...\n");
    bool failed = false;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        StartOperation (m_nOp.load());
        m_nFirstDifference = -1;
        std::FILE* written = OpenFileW (writtenPath, "rb");
        if (written == nullptr)
        {
            m_nCompareRetries = 0;
            SetPendingError (9);
            failed = true;
        }
        std::FILE* readBack = failed ? nullptr : OpenFileW (readPath, "rb");
        if (! failed && readBack == nullptr)
        {
            m_nCompareRetries = 0;
            SetPendingError (10);
            std::fclose (written);
            failed = true;
        }

        if (! failed)
        {
            const int64_t writtenSize = FileSize64 (written);
            const int64_t readSize = FileSize64 (readBack);
            if (writtenSize < (int64_t) srcOffset || srcOffset < 0)
            {
                m_nCompareRetries = 0;
                Log ("Write file length < Source offset!\n");
                Post (kStepStartMessage, 1);
                std::fclose (written);
                std::fclose (readBack);
                failed = true;
            }
            else
            {
                std::fseek (written, srcOffset, SEEK_SET);
                const int64_t available = writtenSize - srcOffset;
                const int64_t compared = readSize < available ? readSize : available;
                const bool differentLength = available != readSize;

                // Large chunks; the result is that of a byte-by-byte walk to the first difference.
                // The written file is usually the image just programmed: then it
                // is compared from memory instead of being read again.
                const uint8_t* image = CachedImage (writtenPath, writtenSize);
                static thread_local std::vector<uint8_t> a (kCompareChunk), b (kCompareChunk);
                bool difference = false;
                for (int64_t done = 0; done < compared && ! difference;)
                {
                    const size_t n = (size_t) std::min<int64_t> ((int64_t) kCompareChunk, compared - done);
                    const uint8_t* pa = image != nullptr ? image + srcOffset + done : a.data();
                    const size_t ga = image != nullptr ? n : std::fread (a.data(), 1, n, written);
                    const size_t gb = std::fread (b.data(), 1, n, readBack);
                    if (ga != n || gb != n || std::memcmp (pa, b.data(), n) != 0)
                    {
                        difference = true;
                        const size_t m = std::min (ga, gb);
                        m_nFirstDifference = srcOffset + done
                                           + (std::mismatch (pa, pa + m, b.data()).first - pa);
                    }
                    done += (int64_t) n;
                }
                std::fclose (written);
                std::fclose (readBack);

                if (difference)
                {
                    Log ("Compare FAIL!\n\n");
                    const int count = ++m_nCompareRetries;
                    if (count >= kCompareLimit)
                    {
                        m_nCompareRetries = 0;
                        SetPendingError (11);
                        failed = true;
                    }
                    else
                    {
                        Post (kStepDoneMessage, 1);
                        if (m_pLogger != nullptr)
                            m_pLogger->Print ("Retry %d!\n", count);
                    }
                }
                else
                {
                    m_nCompareRetries = 0;
                    Log (differentLength ? "Compare OK! (One file is longer.)\n\n" : "Compare OK!\n\n");
                    Post (kStepDoneMessage, 0);
                }
            }
        }
    }
    FlushPendingError();
    return failed;
}
