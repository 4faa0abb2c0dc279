#include "link/SysExCodec.h"
#include "link/WordBytes.h"

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

namespace
{
    // A group of seven data bytes is handled as one 64-bit word, byte j in bits 8j to 8j+7.
    constexpr uint64_t kLow7 = 0x007F7F7F7F7F7F7Full;      // the seven bytes without their top bits
    constexpr uint64_t kTops = 0x0080808080808080ull;      // their top bits

    // Multiplying the top bits (moved to bits 8j) by this puts byte j's at bit
    // 60-j; every other product lands on a bit of its own outside bits 54 to 60,
    // so nothing carries into them.
    constexpr uint64_t kGatherTops = (1ull << 60) | (1ull << 51) | (1ull << 42) | (1ull << 33)
                                   | (1ull << 24) | (1ull << 15) | (1ull << 6);
    // Multiplying the group byte by this puts its bit 6-j at bit 8j+7 (and
    // nothing else there, without carries): the inverse of the gather.
    constexpr uint64_t kSpreadTops = (1ull << 1) | (1ull << 10) | (1ull << 19) | (1ull << 28)
                                   | (1ull << 37) | (1ull << 46) | (1ull << 55);
}

int Encode8to7 (const uint8_t* src, int length, uint8_t* dst)
{
    int out = 0, pos = 0;
    // Whole groups of seven, a word at a time: eight bytes are read where the
    // source has them (the eighth is left out), seven for its last group.
    const auto group = [&] (size_t loaded)
    {
        const uint64_t v = LoadWordBytes (src + pos, loaded);
        const uint64_t tops = (((v & kTops) >> 7) * kGatherTops) >> 54;
        StoreWordBytes (dst + out, (v & kLow7) | ((tops & 0x7F) << 56), 8);
        pos += 7;
        out += 8;
    };
    while (pos + 8 <= length)
        group (8);
    if (pos + 7 <= length)
        group (7);
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
    // Whole groups of eight that fit, a word at a time.
    for (; pos + 8 <= length && out + 7 <= capacity; pos += 8, out += 7)
    {
        const uint64_t v = LoadWordBytes (src + pos, 8);
        const uint64_t tops = (v >> 56) & 0x7F;
        StoreWordBytes (dst + out, (v & kLow7) | ((tops * kSpreadTops) & kTops), 7);
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

void ComputeBlockSums (const uint8_t* data, uint16_t& sumA, uint16_t& sumB)
{
    // Rotating a byte left by r moves its low 8-r bits up by r and its high r
    // bits down by 8-r. Both moves are shifts of masked bytes, so the sum of a
    // column's rotated bytes is its sum of low parts shifted up plus its sum of
    // high parts shifted down. Those column sums are kept in 16-bit lanes, even
    // and odd columns apart: 256 lines of at most 255 fit.
    static_assert (kBlockBytes / 16 * 255 <= 0xFFFF, "the column sums must fit their lanes");
    constexpr int kRotation[16] = { 1, 7, 2, 6, 3, 5, 4, 4, 5, 3, 6, 2, 7, 1, 0, 0 };   // A takes the even columns, B the odd
    constexpr uint64_t kEvenLanes = 0x00FF00FF00FF00FFull;

    // The low-part mask of each column, for the two words of a line.
    uint64_t lowMask[2] = { 0, 0 };
    for (int i = 0; i < 16; ++i)
        lowMask[i / 8] |= (uint64_t) (0xFFu >> kRotation[i]) << (8 * (i % 8));

    uint64_t lowEven[2] = {}, lowOdd[2] = {}, highEven[2] = {}, highOdd[2] = {};
    for (int line = 0; line < kBlockBytes / 16; ++line)
        for (int w = 0; w < 2; ++w)
        {
            const uint64_t v = LoadWordBytes (data + line * 16 + w * 8, 8);
            const uint64_t low = v & lowMask[w], high = v & ~lowMask[w];
            lowEven[w] += low & kEvenLanes;
            lowOdd[w] += (low >> 8) & kEvenLanes;
            highEven[w] += high & kEvenLanes;
            highOdd[w] += (high >> 8) & kEvenLanes;
        }

    uint32_t sums[2] = { 0, 0 };   // A, B
    for (int i = 0; i < 16; ++i)
    {
        const int w = i / 8, lane = (i % 8) / 2, r = kRotation[i];
        const bool odd = (i & 1) != 0;
        const auto low = (uint32_t) (((odd ? lowOdd[w] : lowEven[w]) >> (16 * lane)) & 0xFFFF);
        const auto high = (uint32_t) (((odd ? highOdd[w] : highEven[w]) >> (16 * lane)) & 0xFFFF);
        sums[i & 1] += (low << r) + (high >> (8 - r));
    }
    sumA = (uint16_t) sums[0];
    sumB = (uint16_t) sums[1];
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
