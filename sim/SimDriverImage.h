#pragma once
// Flash driver files for the simulated module: building them (tests, the
// demo's data folder, benchmarks) and reading back the names they carry.
#include <cstdint>
#include <string>
#include <vector>
#include <juce_core/juce_core.h>

/** One region of a driver's geometry table. */
struct SimRegion
{
    uint16_t sectorKiB = 0;   ///< sector size in KiB
    uint16_t count = 0;       ///< number of sectors of that size
};

/** Builds a driver file: a 16-byte head, the region table, four zero bytes,
    the MCU name and the flash name (16 bytes each, padded with 0xFF), then
    filler up to `totalSize` bytes (when larger). Names are cut at 16 bytes. */
std::vector<uint8_t> MakeSimDriver (const juce::String& mcuName, const juce::String& flashName,
                                    const std::vector<SimRegion>& regions, size_t totalSize = 0);

/** The flash name a driver carries: the second 16-byte field behind the first
    all-zero table entry (the first is the MCU name), ending at the first NUL or
    after the last byte that is not 0xFF; the bytes as they are. Empty when the
    data is too short. */
std::string SimDriverFlashName (const uint8_t* data, size_t size);
/** The MCU name a driver carries, read the same way. */
std::string SimDriverMcuName (const uint8_t* data, size_t size);
