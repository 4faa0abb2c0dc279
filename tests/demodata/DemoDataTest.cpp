// Checks the demo's data folder as the build lays it out beside KestravaDemo:
// the driver files read back in the driver format, the module's driver is
// there and is not the first one tried, and the fixed files are usable.
#include "demo/DemoChip.h"
#include <gtest/gtest.h>
#include <juce_graphics/juce_graphics.h>
#include <algorithm>
#include <cstring>
#include <set>

namespace
{
const juce::File kDataDir (KESTRAVA_DEMO_DATA_DIR);

struct Driver
{
    juce::String file;
    std::string mcu, flash;
    int64_t sectors = 0, bytes = 0;
    std::vector<std::pair<int, int>> regions;
};

std::vector<uint8_t> Load (const juce::File& f)
{
    juce::MemoryBlock mb;
    EXPECT_TRUE (f.loadFileAsData (mb)) << f.getFullPathName();
    auto* p = static_cast<const uint8_t*> (mb.getData());
    return { p, p + mb.getSize() };
}

// A name ends at its first NUL or after the last byte that is not 0xFF.
std::string Name (const uint8_t* p)
{
    size_t n = 16;
    while (n > 0 && p[n - 1] == 0xFF) --n;
    return std::string (reinterpret_cast<const char*> (p), strnlen (reinterpret_cast<const char*> (p), n));
}

// Reads a driver file; fails the test when the layout is broken.
Driver ReadDriver (const juce::File& f)
{
    const auto d = Load (f);
    Driver r;
    r.file = f.getFileName();
    size_t at = 16;
    for (;;)
    {
        if (at + 4 > d.size()) { ADD_FAILURE() << "table runs off the end: " << r.file; return r; }
        const int kib = d[at] | d[at + 1] << 8, count = d[at + 2] | d[at + 3] << 8;
        at += 4;
        if (kib == 0 && count == 0) break;
        EXPECT_GT (count, 0) << "a zero count before the terminator: " << r.file;
        EXPECT_GT (kib, 0) << r.file;
        r.regions.emplace_back (kib, count);
        r.sectors += count;
        r.bytes += int64_t (kib) * 1024 * count;
    }
    if (at + 32 > d.size()) { ADD_FAILURE() << "names cut short: " << r.file; return r; }
    r.mcu = Name (&d[at]);
    r.flash = Name (&d[at + 16]);
    EXPECT_GT (d.size(), at + 32 + 1024) << "no driver code behind the names: " << r.file;
    return r;
}

std::vector<Driver> DriversInTryOrder()
{
    auto files = kDataDir.getChildFile ("Drivers").findChildFiles (juce::File::findFilesAndDirectories, false, "*");
    std::sort (files.begin(), files.end(), [] (const juce::File& a, const juce::File& b)
               { return a.getFileName().compareIgnoreCase (b.getFileName()) < 0; });
    std::vector<Driver> out;
    for (const auto& f : files)
    {
        EXPECT_FALSE (f.isDirectory()) << f.getFileName();
        EXPECT_FALSE (f.getFileName().startsWithChar ('.')) << f.getFileName();
        EXPECT_TRUE (f.hasFileExtension ("bin")) << f.getFileName();
        out.push_back (ReadDriver (f));
    }
    return out;
}

bool IsModuleChip (const Driver& d)
{
    return d.flash == DemoChip::kFlashName;
}

void ExpectModuleGeometry (const Driver& d)
{
    ASSERT_EQ (d.regions.size(), 1u) << d.file;
    EXPECT_EQ (d.regions[0].first, DemoChip::kSectorKiB) << d.file;
    EXPECT_EQ (d.regions[0].second, DemoChip::kSectorCount) << d.file;
}

bool HasMarker (const std::vector<uint8_t>& d, size_t at)
{
    return d.size() > at + 1 && d[at] == 'B' && d[at + 1] == 'D';
}
} // namespace

TEST (DemoData, DriversReadBackAndTheModuleDriverIsNotTriedFirst)
{
    const auto drivers = DriversInTryOrder();
    ASSERT_GE (drivers.size(), 3u);

    EXPECT_FALSE (IsModuleChip (drivers.front())) << "the first driver tried must not match";
    const auto match = std::find_if (drivers.begin(), drivers.end(), IsModuleChip);
    ASSERT_NE (match, drivers.end());
    EXPECT_EQ (match->file, DemoChip::kMatchingDriverFile);
    EXPECT_EQ (match->mcu, DemoChip::kMcuName);
    ExpectModuleGeometry (*match);

    // Several chips and MCUs, some the module does not have; names up to 16 characters.
    std::set<std::string> mcus, flashes;
    bool sixteen = false, foreign = false, fullImage = false, twoChip = false;
    for (const auto& d : drivers)
    {
        EXPECT_LE (d.mcu.size(), 16u);
        EXPECT_LE (d.flash.size(), 16u);
        EXPECT_FALSE (d.mcu.empty() || d.flash.empty()) << d.file;
        EXPECT_LE (d.bytes, int64_t (1) << 29) << "beyond a 28-bit word address: " << d.file;
        mcus.insert (d.mcu);
        flashes.insert (d.flash);
        sixteen |= d.mcu.size() == 16 || d.flash.size() == 16;
        foreign |= ! IsModuleChip (d);
        fullImage |= d.sectors == 0x600 && d.bytes == 0x0C000000;
        twoChip |= d.flash == "S29GL256x2_R";
    }
    EXPECT_TRUE (mcus.count ("QVM410") && mcus.count ("QVM428"));
    EXPECT_GE (flashes.size(), 3u);
    EXPECT_TRUE (sixteen);
    EXPECT_TRUE (foreign);
    EXPECT_TRUE (fullImage) << "a 1536-sector driver for full images";
    EXPECT_TRUE (twoChip);
}

TEST (DemoData, SpecialDriversDriveTheModuleChip)
{
    for (const char* name : { "Special.bin", "Special418.bin" })
    {
        const auto d = ReadDriver (kDataDir.getChildFile ("QvDoc").getChildFile (name));
        EXPECT_EQ (d.flash, DemoChip::kFlashName) << name;
        ExpectModuleGeometry (d);
    }
}

TEST (DemoData, ImagesHoldDataThatVerifyCanTell)
{
    const auto sample = Load (kDataDir.getChildFile (DemoChip::kSampleImageFile));
    EXPECT_EQ ((int) sample.size(), DemoChip::kSampleImageSize);
    EXPECT_GT (sample.size(), 0x60000u);
    EXPECT_TRUE (HasMarker (sample, 0xFFF8));
    EXPECT_FALSE (HasMarker (sample, 0x3FFF8));
    EXPECT_EQ (std::count (sample.begin(), sample.end(), 0xFF), 0) << "0xFF cannot be told from erased flash";

    // Every 4 KiB block differs from every other, so a misplaced block shows up.
    std::set<std::vector<uint8_t>> blocks;
    for (size_t at = 0; at < sample.size(); at += 4096)
        blocks.emplace (sample.begin() + (long) at, sample.begin() + (long) at + 4096);
    EXPECT_EQ (blocks.size(), sample.size() / 4096);

    for (const char* name : { "boot2.bin", "flashpgm.bin" })
    {
        const auto boot = Load (kDataDir.getChildFile ("QvDoc").getChildFile (name));
        EXPECT_GE (boot.size(), 0x10000u) << name << " must cover the boot length";
        EXPECT_EQ (std::count (boot.begin(), boot.end(), 0xFF), 0) << name;
    }
}

TEST (DemoData, LogoIsAWideTransparentPng)
{
    const auto file = kDataDir.getChildFile ("QvDoc").getChildFile ("Logo.PNG");
    juce::FileInputStream in (file);
    ASSERT_TRUE (in.openedOk());
    juce::PNGImageFormat png;
    const auto image = png.decodeImage (in);
    ASSERT_TRUE (image.isValid());
    EXPECT_EQ (image.getWidth(), 272);
    EXPECT_EQ (image.getHeight(), 52);
    EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), 0);
    EXPECT_EQ (image.getPixelAt (271, 51).getAlpha(), 0);

    int opaque = 0;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            opaque += image.getPixelAt (x, y).getAlpha() > 200;
    EXPECT_GT (opaque, 272 * 52 / 8) << "the logo should fill its picture";
}
