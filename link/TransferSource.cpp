#include "link/TransferSource.h"
#include <algorithm>
#include <cstring>
#include "platform/SystemCalls.h"

CTransferSource::~CTransferSource()
{
    Release();
}

bool CTransferSource::OpenFile (const juce::String& path)
{
    Release();
    m_hFile = OpenFileW (path, "rb");
    if (m_hFile == nullptr)
        return false;
    m_nSize = FileSize64 (m_hFile);
    if (m_nSize < 0)
    {
        Release();
        return false;
    }
    if (m_pPiece == nullptr)
        m_pPiece.reset (new uint8_t[(size_t) kPieceBytes]);
    return true;
}

void CTransferSource::SetMemory (const uint8_t* data, int64_t size)
{
    Release();
    m_pMemory = data;
    m_nSize = data != nullptr ? size : 0;
}

void CTransferSource::SetRange (int64_t start, int64_t length)
{
    m_nRangeStart = start;
    m_nRangeLength = length;
    m_nPieceStart = m_nPieceLength = 0;
}

bool CTransferSource::Copy (int64_t position, uint8_t* out, int n)
{
    if (n < 0 || position < 0 || position + n > m_nRangeLength
        || m_nRangeStart < 0 || m_nRangeStart + position + n > m_nSize)
        return false;
    if (m_pMemory != nullptr)
    {
        std::memcpy (out, m_pMemory + m_nRangeStart + position, (size_t) n);
        return true;
    }
    if (m_hFile == nullptr)
        return false;
    if (position < m_nPieceStart || position + n > m_nPieceStart + m_nPieceLength)
        if (! ReadPiece (position))
            return false;
    std::memcpy (out, m_pPiece.get() + (position - m_nPieceStart), (size_t) n);
    return true;
}

bool CTransferSource::ReadPiece (int64_t position)
{
    // Never beyond the range: a step reads only what it sends.
    const int64_t want = std::min (kPieceBytes, m_nRangeLength - position);
    m_nPieceStart = position;
    m_nPieceLength = 0;
    if (ReadFileAt (m_hFile, m_nRangeStart + position, m_pPiece.get(), want) != want)
        return false;
    m_nPieceLength = want;
    return true;
}

void CTransferSource::Release()
{
    if (m_hFile != nullptr)
        std::fclose (m_hFile);
    m_hFile = nullptr;
    m_pMemory = nullptr;
    m_nSize = 0;
    m_nRangeStart = m_nRangeLength = 0;
    m_nPieceStart = m_nPieceLength = 0;
}
