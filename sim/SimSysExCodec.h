#pragma once
// The simulated module's own side of the wire encodings: 8-to-7 data, word
// addresses and the read block's checksum trailer.
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t kSimBlockBytes = 4096;     ///< one data block
constexpr size_t kSimTrailerBytes = 4;      ///< checksum trailer of a read block in FS mode
constexpr size_t kSimEncodedBlock = 4682;   ///< a 4096-byte block in the 8-to-7 encoding

/** Appends `size` bytes in the 8-to-7 encoding: groups of up to 7 bytes with
    their top bits cleared, each followed by a byte holding the removed top
    bits (top bit of byte j of a k-byte group at bit k-1-j). */
void SimEncode8to7 (const uint8_t* data, size_t size, std::vector<uint8_t>& out);
/** Appends the decoding of `size` encoded bytes: groups of up to 8, n-1 data
    bytes then the top-bit byte; a lone last byte yields nothing. */
void SimDecode8to7 (const uint8_t* encoded, size_t size, std::vector<uint8_t>& out);
/** Length of `size` bytes once encoded. */
size_t SimEncodedLength (size_t size);

/** Reads a word address from four 7-bit groups, most significant first. */
uint32_t SimReadWordAddress (const uint8_t* groups);
/** Writes a word address as four 7-bit groups, most significant first. */
void SimWriteWordAddress (uint32_t wordAddress, uint8_t* groups);

/** The 4-byte trailer of a 4096-byte read block: sum B low, B high, sum A low,
    A high, over 256 lines of 16 bytes; even byte 2j rotated left by (j+1) mod 8
    into A, odd byte 2j+1 rotated left by 7-j into B. */
void SimReadTrailer (const uint8_t* block, uint8_t* trailer);
