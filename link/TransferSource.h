#pragma once
// Where the bytes of a block transfer come from: a buffer in memory (a driver,
// the zero block) or a range of a file on disk. A file is read while its
// blocks go out, one piece at a time by positioned reads, so that what is
// sent is what the file holds at that moment; nothing of it is kept once the
// source is released.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <juce_core/juce_core.h>

class CTransferSource
{
public:
    /** Largest piece of a file read at once. */
    static constexpr int64_t kPieceBytes = 1 << 20;

    CTransferSource() = default;
    ~CTransferSource();
    CTransferSource (const CTransferSource&) = delete;
    CTransferSource& operator= (const CTransferSource&) = delete;

    /** Releases the previous source and opens a file; false when it cannot be opened or measured. */
    bool OpenFile (const juce::String& path);
    /** Releases the previous source and sends from memory that outlives the transfer. */
    void SetMemory (const uint8_t* data, int64_t size);
    /** Bytes the source holds: the file's size when it was opened, or the memory's. */
    int64_t GetSize() const { return m_nSize; }
    /** Limits the reads to `length` bytes from `start` of the source: the range one transfer sends. */
    void SetRange (int64_t start, int64_t length);
    /** Copies `n` bytes from `position` of the range into `out`; false when they lie
        outside the range or the file cannot deliver them any more. */
    bool Copy (int64_t position, uint8_t* out, int n);
    /** Closes the file and forgets the memory and the piece read last. */
    void Release();

private:
    bool ReadPiece (int64_t position);

    std::FILE* m_hFile = nullptr;                 // the open file, or null
    const uint8_t* m_pMemory = nullptr;           // the memory source, or null
    int64_t m_nSize = 0;                          // bytes of the source
    int64_t m_nRangeStart = 0, m_nRangeLength = 0;
    std::unique_ptr<uint8_t[]> m_pPiece;          // kPieceBytes, allocated with the first file
    int64_t m_nPieceStart = 0, m_nPieceLength = 0;   // what it holds, relative to the range
};
