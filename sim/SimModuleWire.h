#pragma once
// Bytes of the module's replies, shared by its source files. Private to sim/.
#include <cstdint>
#include <vector>

namespace SimWire
{
    constexpr uint8_t kApp = 0x05;           ///< device byte of the application firmware
    constexpr uint8_t kLoader = 0x7D;        ///< device byte of the loader
    constexpr uint64_t kPageShift = 17;      ///< a flash page is 64 K words

    /** The first five data bytes of a reply: 00 20 54, device, command. */
    inline std::vector<uint8_t> Header (uint8_t device, uint8_t command)
    {
        return { 0x00, 0x20, 0x54, device, command };
    }
}
