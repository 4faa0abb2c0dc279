#include "link/SysExCodec.h"

void EncodeAddress (uint8_t* out, int wordAddress)
{
    const auto w = (uint32_t) wordAddress;
    out[0] = (uint8_t) ((w >> 21) & 0x7F);
    out[1] = (uint8_t) ((w >> 14) & 0x7F);
    out[2] = (uint8_t) ((w >> 7) & 0x7F);
    out[3] = (uint8_t) (w & 0x7F);
}

int Encoded8to7Length (int length)
{
    return length <= 0 ? 0 : length + (length + 6) / 7;
}

int Encode8to7 (const uint8_t* src, int length, uint8_t* dst)
{
    int out = 0, pos = 0;
    // Whole groups of seven: fixed bounds, so the compiler unrolls them.
    for (; pos + 7 <= length; pos += 7, out += 8)
    {
        unsigned tops = 0;
        for (int j = 0; j < 7; ++j)
        {
            const unsigned b = src[pos + j];
            dst[out + j] = (uint8_t) (b & 0x7F);
            tops |= (b >> 7) << (6 - j);
        }
        dst[out + 7] = (uint8_t) tops;
    }
    // A last, shorter group: its first byte's top bit is the highest of k.
    if (pos < length)
    {
        const int k = length - pos;
        uint8_t tops = 0;
        for (int j = 0; j < k; ++j)
        {
            const uint8_t b = src[pos + j];
            dst[out++] = (uint8_t) (b & 0x7F);
            if (b & 0x80)
                tops |= (uint8_t) (1u << (k - 1 - j));
        }
        dst[out++] = tops;
    }
    return out;
}

int Decode7to8 (const uint8_t* src, int length, uint8_t* dst, int capacity)
{
    int out = 0, pos = 0;
    // Whole groups of eight that fit: fixed bounds, so the compiler unrolls them.
    for (; pos + 8 <= length && out + 7 <= capacity; pos += 8, out += 7)
    {
        const unsigned tops = src[pos + 7];
        for (int j = 0; j < 7; ++j)
            dst[out + j] = (uint8_t) ((src[pos + j] & 0x7F) | (((tops >> (6 - j)) & 1u) << 7));
    }
    for (; pos < length; pos += 8)
    {
        const int n = (length - pos) < 8 ? (length - pos) : 8;
        if (n < 2)
            break;   // a lone last byte carries no data
        const uint8_t tops = src[pos + n - 1];
        for (int j = 0; j < n - 1; ++j)
        {
            const uint8_t b = (uint8_t) ((src[pos + j] & 0x7F) | (((tops >> (n - 2 - j)) & 1) << 7));
            if (out < capacity)
                dst[out] = b;
            ++out;
        }
    }
    return out;
}

static inline uint8_t RotateLeft8 (uint8_t v, int places)
{
    places &= 7;
    return places == 0 ? v : (uint8_t) ((v << places) | (v >> (8 - places)));
}

void ComputeBlockSums (const uint8_t* data, uint16_t& sumA, uint16_t& sumB)
{
    uint32_t a = 0, b = 0;
    for (int line = 0; line < kBlockBytes / 16; ++line)
    {
        const uint8_t* p = data + line * 16;
        for (int j = 0; j < 8; ++j)
        {
            a += RotateLeft8 (p[2 * j], (j + 1) % 8);
            b += RotateLeft8 (p[2 * j + 1], 7 - j);
        }
    }
    sumA = (uint16_t) a;
    sumB = (uint16_t) b;
}

void WriteBlockTrailer (const uint8_t* data, uint8_t* trailer)
{
    uint16_t a, b;
    ComputeBlockSums (data, a, b);
    trailer[0] = (uint8_t) (b & 0xFF);
    trailer[1] = (uint8_t) (b >> 8);
    trailer[2] = (uint8_t) (a & 0xFF);
    trailer[3] = (uint8_t) (a >> 8);
}

bool BlockTrailerMatches (const uint8_t* block)
{
    uint8_t expected[kTrailerBytes];
    WriteBlockTrailer (block, expected);
    for (int i = 0; i < kTrailerBytes; ++i)
        if (expected[i] != block[kBlockBytes + i])
            return false;
    return true;
}
