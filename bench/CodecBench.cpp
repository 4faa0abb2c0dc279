// The per-block work of the wire: encoding a data block, decoding a read
// block and checking its trailer.
#include <benchmark/benchmark.h>
#include <vector>
#include "link/SysExCodec.h"

namespace
{
    std::vector<uint8_t> BlockBytes (size_t size)
    {
        std::vector<uint8_t> out (size);
        for (size_t i = 0; i < size; ++i)
            out[i] = (uint8_t) ((i * 131 + (i >> 7)) & 0xFF);
        return out;
    }
}

// One 4096-byte data block into its 4682 wire bytes.
static void BM_EncodeDataBlock (benchmark::State& state)
{
    const auto block = BlockBytes (kBlockBytes);
    std::vector<uint8_t> out (kEncodedBlockBytes + 16);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize (Encode8to7 (block.data(), kBlockBytes, out.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed ((int64_t) state.iterations() * kBlockBytes);
}
BENCHMARK (BM_EncodeDataBlock);

// One FS read block (4096 data bytes and the 4-byte trailer) from its wire bytes.
static void BM_DecodeReadBlock (benchmark::State& state)
{
    constexpr int size = kBlockBytes + kTrailerBytes;
    auto block = BlockBytes (size);
    WriteBlockTrailer (block.data(), block.data() + kBlockBytes);
    std::vector<uint8_t> wire (Encoded8to7Length (size) + 16);
    const int encoded = Encode8to7 (block.data(), size, wire.data());
    std::vector<uint8_t> out (size);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize (Decode7to8 (wire.data(), encoded, out.data(), size));
        benchmark::ClobberMemory();
    }
    if (out != block)
        state.SkipWithError ("the decoded block differs");
    state.SetBytesProcessed ((int64_t) state.iterations() * size);
}
BENCHMARK (BM_DecodeReadBlock);

// The checksum trailer of one read block, checked as the link checks it.
static void BM_BlockTrailer (benchmark::State& state)
{
    auto block = BlockBytes (kBlockBytes + kTrailerBytes);
    WriteBlockTrailer (block.data(), block.data() + kBlockBytes);
    for (auto _ : state)
        benchmark::DoNotOptimize (BlockTrailerMatches (block.data()));
    if (! BlockTrailerMatches (block.data()))
        state.SkipWithError ("the trailer does not match");
    state.SetBytesProcessed ((int64_t) state.iterations() * kBlockBytes);
}
BENCHMARK (BM_BlockTrailer);
