#pragma once
// Sample flash driver files for the demo's data folder: a 16-byte head, the
// sector region table closed by four zero bytes, the MCU and flash names
// (16 bytes each, padded with 0xFF), then bytes standing for the driver code.
#include <cstdint>
#include <vector>
#include <juce_core/juce_core.h>

/** One region of a flash chip: sectors of one size, one after another. */
struct DemoRegion
{
    uint16_t sectorKiB;   ///< sector size in KiB
    uint16_t count;       ///< number of sectors of that size
};

/** Everything that makes one driver file. */
struct DemoDriverSpec
{
    juce::String fileName;            ///< file name in the folder it is written to
    juce::String mcuName;             ///< MCU name, at most 16 ASCII characters
    juce::String flashName;           ///< flash chip name, at most 16 ASCII characters
    std::vector<DemoRegion> regions;  ///< sector regions in address order
    int codeBytes;                    ///< length of the stand-in driver code
    uint32_t seed;                    ///< seed of the stand-in code bytes
};

/** The drivers of the demo's "Drivers" folder. */
std::vector<DemoDriverSpec> DemoDriverSpecs();

/** The drivers the model workflows upload from "QvDoc": Special.bin and Special418.bin. */
std::vector<DemoDriverSpec> DemoSpecialDriverSpecs();

/** Builds the bytes of one driver file. */
juce::MemoryBlock BuildDriverFile (const DemoDriverSpec& spec);
