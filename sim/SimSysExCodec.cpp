#include "sim/SimSysExCodec.h"

void SimEncode8to7 (const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    const size_t at = out.size();
    out.resize (at + SimEncodedLength (size));
    uint8_t* dst = out.data() + at;
    size_t pos = 0;
    for (; pos + 7 <= size; pos += 7, dst += 8)
    {
        const uint8_t* src = data + pos;
        unsigned tops = 0;
        for (size_t j = 0; j < 7; ++j)
        {
            dst[j] = (uint8_t) (src[j] & 0x7F);
            tops |= (unsigned) (src[j] >> 7) << (6 - j);
        }
        dst[7] = (uint8_t) tops;
    }
    for (; pos < size; pos += 7)
    {
        const size_t k = size - pos < 7 ? size - pos : 7;
        const uint8_t* src = data + pos;
        unsigned tops = 0;
        for (size_t j = 0; j < k; ++j)
        {
            dst[j] = (uint8_t) (src[j] & 0x7F);
            tops = (tops << 1) | (unsigned) (src[j] >> 7);   // byte j ends at bit k-1-j
        }
        dst[k] = (uint8_t) tops;
        dst += k + 1;
    }
}

void SimDecode8to7 (const uint8_t* encoded, size_t size, std::vector<uint8_t>& out)
{
    const size_t groups = size / 8, rest = size % 8;
    const size_t decoded = groups * 7 + (rest >= 2 ? rest - 1 : 0);
    const size_t at = out.size();
    out.resize (at + decoded);
    uint8_t* dst = out.data() + at;
    size_t pos = 0;
    for (; pos + 8 <= size; pos += 8, dst += 7)
    {
        const uint8_t* src = encoded + pos;
        const unsigned tops = src[7];
        for (size_t j = 0; j < 7; ++j)
            dst[j] = (uint8_t) ((src[j] & 0x7F) | (((tops >> (6 - j)) & 1u) << 7));
    }
    for (; pos < size; pos += 8)
    {
        const size_t n = size - pos < 8 ? size - pos : 8;
        if (n < 2)
            break;
        const uint8_t* src = encoded + pos;
        const unsigned tops = src[n - 1];
        for (size_t j = 0; j + 1 < n; ++j)
            dst[j] = (uint8_t) ((src[j] & 0x7F) | (((tops >> (n - 2 - j)) & 1u) << 7));
        dst += n - 1;
    }
}

size_t SimEncodedLength (size_t size)
{
    return size + (size + 6) / 7;
}

uint32_t SimReadWordAddress (const uint8_t* g)
{
    return ((uint32_t) (g[0] & 0x7F) << 21) | ((uint32_t) (g[1] & 0x7F) << 14)
         | ((uint32_t) (g[2] & 0x7F) << 7) | (uint32_t) (g[3] & 0x7F);
}

void SimWriteWordAddress (uint32_t w, uint8_t* g)
{
    g[0] = (uint8_t) ((w >> 21) & 0x7F);
    g[1] = (uint8_t) ((w >> 14) & 0x7F);
    g[2] = (uint8_t) ((w >> 7) & 0x7F);
    g[3] = (uint8_t) (w & 0x7F);
}

void SimReadTrailer (const uint8_t* block, uint8_t* trailer)
{
    // Rotation of each byte of a 16-byte line: A takes 1..7,0 on the even
    // bytes, B takes 7..0 on the odd bytes.
    static constexpr unsigned kRotate[16] = { 1, 7, 2, 6, 3, 5, 4, 4, 5, 3, 6, 2, 7, 1, 0, 0 };
    unsigned sums[2] = { 0, 0 };   // A, B
    for (size_t line = 0; line < kSimBlockBytes; line += 16)
        for (size_t i = 0; i < 16; ++i)   // fixed bounds: unrolled, the rotations constant
        {
            const unsigned v = block[line + i], r = kRotate[i];
            sums[i & 1] += ((v << r) | (v >> ((8 - r) & 7))) & 0xFF;
        }
    const unsigned a = sums[0], b = sums[1];
    trailer[0] = (uint8_t) (b & 0xFF);
    trailer[1] = (uint8_t) ((b >> 8) & 0xFF);
    trailer[2] = (uint8_t) (a & 0xFF);
    trailer[3] = (uint8_t) ((a >> 8) & 0xFF);
}
