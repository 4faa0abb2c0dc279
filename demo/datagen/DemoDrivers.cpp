#include "DemoDrivers.h"
#include "../DemoChip.h"
#include "DemoPattern.h"

namespace
{
constexpr int kNameBytes = 16;

void PutLE16 (juce::MemoryOutputStream& out, uint16_t v)
{
    out.writeByte ((char) (v & 0xFF));
    out.writeByte ((char) (v >> 8));
}

void PutLE32 (juce::MemoryOutputStream& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.writeByte ((char) ((v >> (8 * i)) & 0xFF));
}

void PutName (juce::MemoryOutputStream& out, const juce::String& name)
{
    const auto utf8 = name.toStdString();
    jassert ((int) utf8.size() <= kNameBytes);
    for (int i = 0; i < kNameBytes; ++i)
        out.writeByte (i < (int) utf8.size() ? utf8[(size_t) i] : (char) 0xFF);
}

std::vector<DemoRegion> ModuleChipRegions()
{
    return { { (uint16_t) DemoChip::kSectorKiB, (uint16_t) DemoChip::kSectorCount } };
}
} // namespace

std::vector<DemoDriverSpec> DemoDriverSpecs()
{
    // Tried in case-insensitive name order; the module's chip comes third.
    return {
        // 4 MiB bottom-boot chip: eight 8 KiB sectors, then 63 of 64 KiB. Not on the module.
        { "QVM410_KV29B032.bin", "QVM410", "KV29B032", { { 8, 8 }, { 64, 63 } }, 6144, 0x1b873593u },
        // 16 MiB uniform chip of 128 KiB sectors. Not on the module.
        { "QVM410_KV29D128.bin", "QVM410", "KV29D128", { { 128, 128 } }, 7168, 0x85ebca6bu },
        // The demo module's chip: 8 MiB of 64 KiB sectors.
        { DemoChip::kMatchingDriverFile, DemoChip::kMcuName, DemoChip::kFlashName, ModuleChipRegions(), 9216, 0xc2b2ae35u },
        // The same chip driven from the other MCU.
        { "QVM428_KV29F064.bin", "QVM428", DemoChip::kFlashName, ModuleChipRegions(), 8704, 0x27d4eb2fu },
        // 192 MiB chip of 1536 sectors of 128 KiB: takes a full image. Not on the module.
        { "QVM428_KV29H192.bin", "QVM428", "KV29H192", { { 128, 1536 } }, 10240, 0x165667b1u },
        // Two 32 MiB chips on two chip selects, programmed one after the other. Not on the module.
        { "QVM428_S29GL256x2_R.bin", "QVM428", "S29GL256x2_R", { { 128, 256 } }, 7680, 0x9e3779b9u },
        // 32 MiB top-boot chip; both of its names use all 16 characters. Not on the module.
        { "QVM900_KV29F256T.bin", "QVM900-EVAL-KITS", "KV29F256-TOPBOOT", { { 64, 511 }, { 8, 8 } }, 5120, 0x7feb352du },
    };
}

std::vector<DemoDriverSpec> DemoSpecialDriverSpecs()
{
    return {
        { "Special.bin", DemoChip::kMcuName, DemoChip::kFlashName, ModuleChipRegions(), 12288, 0x68e31da4u },
        { "Special418.bin", "QVM428", DemoChip::kFlashName, ModuleChipRegions(), 11776, 0xb5297a4du },
    };
}

juce::MemoryBlock BuildDriverFile (const DemoDriverSpec& spec)
{
    const int tableBytes = 4 * ((int) spec.regions.size() + 1);
    const auto codeOffset = (uint32_t) (16 + tableBytes + 2 * kNameBytes);

    juce::MemoryBlock code ((size_t) spec.codeBytes);
    FillPattern (static_cast<uint8_t*> (code.getData()), code.getSize(), 0, spec.seed);

    uint32_t sum = 0;
    for (size_t i = 0; i < code.getSize(); ++i)
        sum += static_cast<const uint8_t*> (code.getData())[i];

    juce::MemoryOutputStream out;
    // Head: tag, version, where the code starts, how long it is, its byte sum.
    out.write ("KVD", 3);
    out.writeByte (1);
    PutLE32 (out, codeOffset);
    PutLE32 (out, (uint32_t) spec.codeBytes);
    PutLE32 (out, sum);

    for (const auto& r : spec.regions)
    {
        PutLE16 (out, r.sectorKiB);
        PutLE16 (out, r.count);
    }
    PutLE32 (out, 0);

    PutName (out, spec.mcuName);
    PutName (out, spec.flashName);
    jassert (out.getPosition() == (juce::int64) codeOffset);

    out.write (code.getData(), code.getSize());
    return out.getMemoryBlock();
}
