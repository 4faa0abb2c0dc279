#pragma once
// Deterministic stand-in data: every byte depends on its offset and a seed, so
// a block written to the wrong place or not at all shows up in a compare.
// No byte is 0xFF, the value of erased flash.
#include <cstddef>
#include <cstdint>

/** The pattern byte at one offset for one seed. */
inline uint8_t PatternByte (uint64_t offset, uint32_t seed)
{
    uint32_t x = (uint32_t) (offset >> 2) * 0x9E3779B1u ^ seed ^ (uint32_t) (offset >> 34);
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    const auto b = (uint8_t) (x >> (8 * (offset & 3)));
    return b == 0xFF ? (uint8_t) 0xA5 : b;
}

/** Fills `size` bytes with the pattern, the first byte being the one at `startOffset`. */
inline void FillPattern (uint8_t* data, size_t size, uint64_t startOffset, uint32_t seed)
{
    for (size_t i = 0; i < size; ++i)
        data[i] = PatternByte (startOffset + i, seed);
}
