#pragma once
// The wire encodings of the module protocol.
#include <cstdint>

constexpr int kBlockBytes = 4096;         ///< one data block
constexpr int kTrailerBytes = 4;          ///< checksum trailer of a read block in FS mode
constexpr int kEncodedBlockBytes = 4682;  ///< a data block in the 8-to-7 encoding
constexpr int kDataPacketBytes = 4689;    ///< F0 00 20 54 7D 01, the encoded block, F7

/** Writes a word address as four 7-bit groups, most significant first. */
void EncodeAddress (uint8_t* out, int wordAddress);
/** 8-to-7: groups of up to 7 bytes, each followed by the byte of their top bits
    (top bit of byte j at bit k-1-j). Returns the encoded length. */
int Encode8to7 (const uint8_t* src, int length, uint8_t* dst);
/** Encoded length of `length` bytes. */
int Encoded8to7Length (int length);
/** 7-to-8: groups of up to 8 bytes, n-1 data bytes then the top-bit byte (top
    bit of data byte j at bit n-2-j); a lone last byte yields nothing. Writes at
    most `capacity` bytes to dst; returns the number of bytes decoded (which may
    exceed capacity: the excess is dropped). */
int Decode7to8 (const uint8_t* src, int length, uint8_t* dst, int capacity);
/** The block sums of a read block: A over the even bytes, B over the odd bytes
    of each 16-byte line, each byte rotated left by its place's amount. */
void ComputeBlockSums (const uint8_t* data, uint16_t& sumA, uint16_t& sumB);
/** Writes the 4-byte trailer (B low, B high, A low, A high) for 4096 bytes. */
void WriteBlockTrailer (const uint8_t* data, uint8_t* trailer);
/** Whether a 4100-byte block's trailer matches its data. */
bool BlockTrailerMatches (const uint8_t* block);
