#pragma once
// Reads a fuzz input as a stream of small decisions. Past the end every read
// gives 0, so any input is a complete script.
#include <cstddef>
#include <cstdint>

class FuzzInput
{
public:
    /** Reads from the input's bytes (not copied; they must outlive the reader). */
    FuzzInput (const uint8_t* data, size_t size) : m_pData (data), m_nSize (size) {}

    /** Whether unread bytes remain. */
    bool More() const { return m_nPos < m_nSize; }
    /** The next byte, or 0 past the end. */
    uint8_t Byte() { return m_nPos < m_nSize ? m_pData[m_nPos++] : 0; }
    /** A little-endian 16-bit value. */
    uint16_t Word() { const uint16_t lo = Byte(); return (uint16_t) (lo | (Byte() << 8)); }
    /** Up to `count` bytes at the current place; returns how many there are and moves past them. */
    size_t Take (size_t count, const uint8_t** bytes)
    {
        const size_t n = count < m_nSize - m_nPos ? count : m_nSize - m_nPos;
        *bytes = m_pData + m_nPos;
        m_nPos += n;
        return n;
    }
    /** Every unread byte; the reader is at the end afterwards. */
    size_t Rest (const uint8_t** bytes) { return Take (m_nSize - m_nPos, bytes); }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
};
