#pragma once
// The flash chip of the demo's simulated module, and the sample driver that
// matches it. The data generator writes its drivers from these values; the
// demo wires its module to the same chip, so the two always agree.

namespace DemoChip
{
/** Flash chip name the demo module has; a driver with this flash name passes the flash check. */
constexpr const char* kFlashName = "KV29F064";

/** MCU of the demo module (its application firmware answers; the loader follows). */
constexpr const char* kMcuName = "QVM410";

/** Sector size of the demo module's chip, in KiB. */
constexpr int kSectorKiB = 64;

/** Number of sectors of the demo module's chip (128 x 64 KiB = 8 MiB). */
constexpr int kSectorCount = 128;

/** File in "Drivers" that matches the demo module; the third one tried in name order. */
constexpr const char* kMatchingDriverFile = "QVM410_KV29F064.bin";

/** Sample image in the data folder, with its "BD" marker at 0xFFF8. */
constexpr const char* kSampleImageFile = "Sample.bin";

/** Size of the sample image in bytes: above 0x60000, so a model update runs. */
constexpr int kSampleImageSize = 0x100000;
} // namespace DemoChip
