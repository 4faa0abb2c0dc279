#pragma once
// Up to eight bytes as one 64-bit word, the first byte in the lowest bits
// whatever the machine's byte order: the codecs work a word at a time.
#include <cstddef>
#include <cstdint>
#include <cstring>

/** `n` (at most 8) bytes from `p`, the first in bits 0 to 7; the missing high bytes are zero. */
inline uint64_t LoadWordBytes (const uint8_t* p, size_t n)
{
    uint64_t v = 0;
    std::memcpy (&v, p, n);
   #if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64 (v);
   #endif
    return v;
}

/** The lowest `n` (at most 8) bytes of `v` to `p`, bits 0 to 7 first. */
inline void StoreWordBytes (uint8_t* p, uint64_t v, size_t n)
{
   #if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64 (v);
   #endif
    std::memcpy (p, &v, n);
}
