#include "sim/SimSysExCodec.h"
#include <array>
#include "link/WordBytes.h"

namespace
{
    constexpr uint64_t kLowSevenBits = 0x007F7F7F7F7F7F7Full;   // bytes 0 to 6 of a word without their top bits
    constexpr uint64_t kGroupByte = 0xFF00000000000000ull;      // byte 7 of a word

    /** Each 7-bit value with its bits in reverse order (bit j to bit 6-j). */
    constexpr std::array<uint8_t, 128> kReversedSevenBits = []
    {
        std::array<uint8_t, 128> t {};
        for (unsigned v = 0; v < 128; ++v)
            for (unsigned j = 0; j < 7; ++j)
                if ((v >> j) & 1u)
                    t[v] = (uint8_t) (t[v] | (1u << (6 - j)));
        return t;
    }();

    /** For each group byte (its bit 7 unused): the top bits it gives bytes 0 to 6
        of its group's word (bit 6-j to bit 7 of byte j). */
    constexpr std::array<uint64_t, 128> kTopBitsOfGroupByte = []
    {
        std::array<uint64_t, 128> t {};
        for (unsigned tops = 0; tops < 128; ++tops)
            for (unsigned j = 0; j < 7; ++j)
                if ((tops >> (6 - j)) & 1u)
                    t[tops] |= 0x80ull << (8 * j);
        return t;
    }();

    /** Each byte rotated left by 0 to 7 places. */
    constexpr std::array<std::array<uint8_t, 256>, 8> kRotated = []
    {
        std::array<std::array<uint8_t, 256>, 8> t {};
        for (unsigned r = 0; r < 8; ++r)
            for (unsigned v = 0; v < 256; ++v)
                t[r][v] = (uint8_t) (((v << r) | (v >> ((8 - r) & 7))) & 0xFF);
        return t;
    }();
}

void SimEncode8to7 (const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    const size_t at = out.size();
    out.resize (at + SimEncodedLength (size));
    uint8_t* dst = out.data() + at;
    size_t pos = 0;
    // Whole groups: the seven bytes as one word (eight read where the data has
    // them, seven for the last group). Their top bits are folded down into the
    // low byte, byte j's at bit j, and then put in the group byte's order.
    const auto group = [&] (uint64_t v)
    {
        v &= ~kGroupByte;
        uint64_t tops = (v >> 7) & 0x0001010101010101ull;
        tops |= tops >> 7;
        tops |= tops >> 14;
        tops |= tops >> 28;
        StoreWordBytes (dst, (v & kLowSevenBits) | ((uint64_t) kReversedSevenBits[tops & 0x7F] << 56), 8);
        pos += 7;
        dst += 8;
    };
    while (pos + 8 <= size)
        group (LoadWordBytes (data + pos, 8));
    if (pos + 7 <= size)
        group (LoadWordBytes (data + pos, 7));
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
    // Whole groups: seven data bytes and the group byte as one word.
    for (; pos + 8 <= size; pos += 8, dst += 7)
    {
        const uint64_t v = LoadWordBytes (encoded + pos, 8);
        StoreWordBytes (dst, (v & kLowSevenBits) | kTopBitsOfGroupByte[(v >> 56) & 0x7F], 7);
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
    unsigned a = 0, b = 0;
    for (size_t line = 0; line < kSimBlockBytes; line += 16)
        for (size_t i = 0; i < 16; i += 2)
        {
            a += kRotated[kRotate[i]][block[line + i]];
            b += kRotated[kRotate[i + 1]][block[line + i + 1]];
        }
    trailer[0] = (uint8_t) (b & 0xFF);
    trailer[1] = (uint8_t) ((b >> 8) & 0xFF);
    trailer[2] = (uint8_t) (a & 0xFF);
    trailer[3] = (uint8_t) ((a >> 8) & 0xFF);
}
