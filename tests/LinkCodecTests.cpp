// The wire encodings: addresses, the 8-to-7 data encoding both ways and the
// read block trailer.
#include <gtest/gtest.h>
#include <algorithm>
#include <random>
#include <vector>
#include "link/SysExCodec.h"

TEST (LinkCodec, AddressTravelsAsFourSevenBitGroupsOfTheWordAddress)
{
    uint8_t a[4];
    EncodeAddress (a, 0x123456 / 2);
    EXPECT_EQ ((std::vector<uint8_t> (a, a + 4)), (std::vector<uint8_t> { 0x00, 0x24, 0x34, 0x2B }));
    EncodeAddress (a, 0x4000000);   // page 0x400
    EXPECT_EQ ((std::vector<uint8_t> (a, a + 4)), (std::vector<uint8_t> { 0x20, 0x00, 0x00, 0x00 }));
    EncodeAddress (a, 0x0FFFFFFF);
    EXPECT_EQ ((std::vector<uint8_t> (a, a + 4)), (std::vector<uint8_t> { 0x7F, 0x7F, 0x7F, 0x7F }));
}

TEST (LinkCodec, FullBlockOfFFEncodesAsSevenBitGroupsAndALoneLastByte)
{
    std::vector<uint8_t> block (kBlockBytes, 0xFF), out (kEncodedBlockBytes + 16, 0);
    const int n = Encode8to7 (block.data(), kBlockBytes, out.data());
    ASSERT_EQ (n, kEncodedBlockBytes);
    for (int i = 0; i < 585 * 8; ++i)
        ASSERT_EQ (out[(size_t) i], 0x7F) << i;
    EXPECT_EQ (out[585 * 8], 0x7F);
    EXPECT_EQ (out[585 * 8 + 1], 0x01);
    for (int i = 0; i < n; ++i)
        ASSERT_LT (out[(size_t) i], 0x80);
}

TEST (LinkCodec, TopBitsGoToTheGroupByteInDescendingOrder)
{
    const uint8_t data[] = { 0x80, 0x01, 0x82 };
    uint8_t out[8];
    ASSERT_EQ (Encode8to7 (data, 3, out), 4);
    EXPECT_EQ (out[0], 0x00);
    EXPECT_EQ (out[1], 0x01);
    EXPECT_EQ (out[2], 0x02);
    EXPECT_EQ (out[3], 0b101);
}

TEST (LinkCodec, DecodeUndoesTheModulesEncodingWhateverTheChunking)
{
    // The module encodes groups of 7 bytes into 8 (the read direction).
    std::vector<uint8_t> data (kBlockBytes);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (uint8_t) (i * 37 + (i >> 8));
    std::vector<uint8_t> enc (kEncodedBlockBytes + 8);
    const int n = Encode8to7 (data.data(), kBlockBytes, enc.data());

    for (int chunk : { 8, 16, 512, 4096, n })
    {
        std::vector<uint8_t> out (kBlockBytes, 0);
        int fill = 0;
        for (int pos = 0; pos < n; pos += chunk)
        {
            const int len = std::min (chunk, n - pos);
            fill += Decode7to8 (enc.data() + pos, len, out.data() + fill, kBlockBytes - fill);
        }
        EXPECT_EQ (fill, kBlockBytes) << chunk;
        EXPECT_EQ (out, data) << chunk;
    }
}

TEST (LinkCodec, DecodeOfNineBytesYieldsSevenAndNeverWritesBeyondCapacity)
{
    const uint8_t payload[9] = { 1, 2, 3, 4, 5, 6, 7, 0x7F, 0x55 };
    uint8_t out[16] = {};
    EXPECT_EQ (Decode7to8 (payload, 9, out, 16), 7);
    EXPECT_EQ (out[0], 0x81);
    EXPECT_EQ (out[6], 0x87);

    uint8_t small[3] = { 0xAA, 0xAA, 0xAA };
    EXPECT_EQ (Decode7to8 (payload, 9, small, 2), 7);   // reports all, stores two
    EXPECT_EQ (small[2], 0xAA);
}

TEST (LinkCodec, TrailerVectors)
{
    std::vector<uint8_t> block (kBlockBytes + kTrailerBytes, 0);
    auto trailer = [&] {
        WriteBlockTrailer (block.data(), block.data() + kBlockBytes);
        return std::vector<uint8_t> (block.begin() + kBlockBytes, block.end());
    };
    std::fill (block.begin(), block.begin() + kBlockBytes, 0x01);
    EXPECT_EQ (trailer(), (std::vector<uint8_t> { 0x00, 0xFF, 0x00, 0xFF }));
    std::fill (block.begin(), block.begin() + kBlockBytes, 0xFF);
    EXPECT_EQ (trailer(), (std::vector<uint8_t> { 0x00, 0xF8, 0x00, 0xF8 }));
    std::fill (block.begin(), block.begin() + kBlockBytes, 0x00);
    block[1] = 0x80;
    EXPECT_EQ (trailer(), (std::vector<uint8_t> { 0x40, 0x00, 0x00, 0x00 }));
    block[1] = 0x00;
    block[0] = 0x80;
    EXPECT_EQ (trailer(), (std::vector<uint8_t> { 0x00, 0x00, 0x01, 0x00 }));
    EXPECT_TRUE (BlockTrailerMatches (block.data()));
    block[kBlockBytes + 2] ^= 1;
    EXPECT_FALSE (BlockTrailerMatches (block.data()));
}

namespace
{
    // The encodings byte by byte, as they are defined, to hold the codec's word-at-a-time loops to.
    std::vector<uint8_t> EncodeByBytes (const std::vector<uint8_t>& data)
    {
        std::vector<uint8_t> out;
        for (size_t pos = 0; pos < data.size(); pos += 7)
        {
            const size_t k = std::min<size_t> (7, data.size() - pos);
            uint8_t tops = 0;
            for (size_t j = 0; j < k; ++j)
            {
                out.push_back ((uint8_t) (data[pos + j] & 0x7F));
                tops = (uint8_t) (tops | ((data[pos + j] >> 7) << (k - 1 - j)));
            }
            out.push_back (tops);
        }
        return out;
    }

    std::vector<uint8_t> DecodeByBytes (const std::vector<uint8_t>& encoded)
    {
        std::vector<uint8_t> out;
        for (size_t pos = 0; pos + 2 <= encoded.size(); pos += 8)
        {
            const size_t n = std::min<size_t> (8, encoded.size() - pos);
            for (size_t j = 0; j + 1 < n; ++j)
                out.push_back ((uint8_t) ((encoded[pos + j] & 0x7F) | (((encoded[pos + n - 1] >> (n - 2 - j)) & 1) << 7)));
        }
        return out;
    }

    std::vector<uint8_t> TrailerByBytes (const uint8_t* block)
    {
        unsigned a = 0, b = 0;
        for (int i = 0; i < kBlockBytes; ++i)
        {
            const int j = (i % 16) / 2, r = (i & 1) ? 7 - j : (j + 1) % 8;
            const unsigned rotated = ((block[i] << r) | (block[i] >> ((8 - r) % 8))) & 0xFFu;
            ((i & 1) ? b : a) += rotated;
        }
        return { (uint8_t) b, (uint8_t) (b >> 8), (uint8_t) a, (uint8_t) (a >> 8) };
    }
}

TEST (LinkCodec, WordAtATimeLoopsGiveTheBytesOfTheDefinition)
{
    std::mt19937 random (7);
    // Random bytes, then bytes with every top bit set, then with none.
    for (const uint8_t orMask : { 0x00, 0x80 })
        for (const uint8_t andMask : { 0xFF, 0x7F })
            for (int length = 0; length <= kBlockBytes + kTrailerBytes; length += length < 40 ? 1 : 509)
            {
                SCOPED_TRACE (length);
                std::vector<uint8_t> data ((size_t) length);
                for (auto& b : data)
                    b = (uint8_t) ((random() | orMask) & andMask);
                const auto expected = EncodeByBytes (data);
                std::vector<uint8_t> encoded (expected.size() + 8, 0xAA);
                ASSERT_EQ (Encode8to7 (data.data(), length, encoded.data()), (int) expected.size());
                ASSERT_EQ (std::vector<uint8_t> (encoded.begin(), encoded.begin() + (long) expected.size()), expected);
                EXPECT_EQ (encoded[expected.size()], 0xAA);

                // Decoding any bytes (top bits set too), into room for all, some or none of them.
                std::vector<uint8_t> noise ((size_t) length);
                for (auto& b : noise)
                    b = (uint8_t) random();
                const auto decoded = DecodeByBytes (noise);
                for (const int capacity : { (int) decoded.size(), (int) decoded.size() / 2, 6, 0 })
                {
                    std::vector<uint8_t> out (decoded.size() + 8, 0xAA);
                    const int room = std::min (capacity, (int) decoded.size());
                    ASSERT_EQ (Decode7to8 (noise.data(), length, out.data(), room), (int) decoded.size());
                    EXPECT_TRUE (std::equal (decoded.begin(), decoded.begin() + room, out.begin()));
                    EXPECT_TRUE (std::all_of (out.begin() + room, out.end(), [] (uint8_t b) { return b == 0xAA; }));
                }
            }

    std::vector<uint8_t> block (kBlockBytes + kTrailerBytes);
    for (const uint8_t fill : { 0x00, 0xFF, 0x5A })
        for (int round = 0; round < 8; ++round)
        {
            for (auto& b : block)
                b = round == 0 ? fill : (uint8_t) random();
            WriteBlockTrailer (block.data(), block.data() + kBlockBytes);
            EXPECT_EQ (std::vector<uint8_t> (block.begin() + kBlockBytes, block.end()), TrailerByBytes (block.data()));
        }
}
