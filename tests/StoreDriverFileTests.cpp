// Sector geometry of driver files: layout, malformed tables and sizes no
// 28-bit word address can reach.
#include <gtest/gtest.h>
#include "store/DriverFile.h"
#include "PlatformTestFolder.h"
#include "StoreDriverBytes.h"

using namespace storetest;

namespace
{
    GeometryResult Geometry (const std::string& bytes, int64_t& count, std::vector<_STR_SECTOR>& sectors)
    {
        return ReadDriverGeometry (reinterpret_cast<const uint8_t*> (bytes.data()), bytes.size(), &count, &sectors);
    }
}

TEST (StoreDriverFile, OneGroupOf128SectorsOf64KiB)
{
    int64_t count = 0;
    std::vector<_STR_SECTOR> sectors;
    ASSERT_EQ (Geometry (DriverBytes ({ { 64, 128 } }, NameField ("M"), NameField ("F")), count, sectors), GeometryResult::Ok);
    EXPECT_EQ (count, 128);
    ASSERT_EQ (sectors.size(), 128u);
    EXPECT_EQ (sectors[0].nStart, 0);
    EXPECT_EQ (sectors[1].nStart, 0x10000);
    EXPECT_EQ (sectors.back().nStart + sectors.back().nSize, 0x800000);
}

TEST (StoreDriverFile, TwoGroupsLaidOutOneAfterAnother)
{
    int64_t count = 0;
    std::vector<_STR_SECTOR> sectors;
    ASSERT_EQ (Geometry (DriverBytes ({ { 8, 8 }, { 64, 127 } }, NameField ("M"), NameField ("F")), count, sectors), GeometryResult::Ok);
    EXPECT_EQ (count, 135);
    ASSERT_EQ (sectors.size(), 135u);
    EXPECT_EQ (sectors[7].nStart, 7 * 0x2000);
    EXPECT_EQ (sectors[7].nSize, 0x2000);
    EXPECT_EQ (sectors[8].nStart, 0x10000);
    EXPECT_EQ (sectors[8].nSize, 0x10000);
}

TEST (StoreDriverFile, MalformedTablesAreRefusedWithoutReadingPastTheData)
{
    int64_t count = -1;
    std::vector<_STR_SECTOR> sectors { { 1, 1 } };

    // No zero count before the end: only the counts inside the data are summed.
    const auto unterminated = DriverBytes ({ { 64, 3 }, { 64, 4 } }, "", "", false).substr (0, 24);
    EXPECT_EQ (Geometry (unterminated, count, sectors), GeometryResult::Unterminated);
    EXPECT_EQ (count, 7);
    EXPECT_TRUE (sectors.empty());

    EXPECT_EQ (Geometry (DriverBytes ({}, NameField ("M"), NameField ("F")), count, sectors), GeometryResult::Empty);
    EXPECT_EQ (count, 0);

    for (size_t size : { 0u, 15u, 16u, 19u })
    {
        const std::string shortFile (size, '\x01');
        EXPECT_EQ (Geometry (shortFile, count, sectors), GeometryResult::Unterminated) << size;
    }
    // Half an entry at the end is not an entry.
    EXPECT_EQ (Geometry (DriverBytes ({ { 64, 1 } }, "", "", false).substr (0, 20) + std::string (2, '\0'), count, sectors),
               GeometryResult::Unterminated);
    EXPECT_EQ (ReadDriverGeometry (nullptr, 100, &count, nullptr), GeometryResult::Unterminated);
}

TEST (StoreDriverFile, TenThousandRegionsAreRead)
{
    std::vector<std::pair<uint16_t, uint16_t>> regions (10000, { 4, 1 });
    int64_t count = 0;
    std::vector<_STR_SECTOR> sectors;
    ASSERT_EQ (Geometry (DriverBytes (regions, NameField ("M"), NameField ("F")), count, sectors), GeometryResult::Ok);
    EXPECT_EQ (count, 10000);
    EXPECT_EQ (sectors.back().nStart, 9999 * 4096);
}

TEST (StoreDriverFile, FlashBeyond512MiBIsRefusedBeforeAnyTableIsBuilt)
{
    int64_t count = 0;
    std::vector<_STR_SECTOR> sectors;

    EXPECT_EQ (Geometry (DriverBytes ({ { 64, 8192 } }, "", ""), count, sectors), GeometryResult::Ok);
    EXPECT_EQ (sectors.back().nStart + sectors.back().nSize, 1 << 29);

    EXPECT_EQ (Geometry (DriverBytes ({ { 64, 8192 }, { 1, 1 } }, "", ""), count, sectors), GeometryResult::TooLarge);
    EXPECT_TRUE (sectors.empty());

    // Sums that would overflow 32 bits, and huge counts of empty sectors.
    std::vector<std::pair<uint16_t, uint16_t>> huge (10000, { 65535, 65535 });
    EXPECT_EQ (Geometry (DriverBytes (huge, "", ""), count, sectors), GeometryResult::TooLarge);
    EXPECT_EQ (count, int64_t (10000) * 65535);
    EXPECT_TRUE (sectors.empty());

    std::vector<std::pair<uint16_t, uint16_t>> empty (10, { 0, 65535 });
    EXPECT_EQ (Geometry (DriverBytes (empty, "", ""), count, sectors), GeometryResult::TooLarge);
    EXPECT_TRUE (sectors.empty());
}

TEST (StoreDriverFile, ReadWholeFileHonoursItsLimit)
{
    TestFolder dir;
    const auto file = dir.WriteText ("d.bin", std::string (100000, 'x'));
    std::vector<uint8_t> data;
    ASSERT_TRUE (ReadWholeFile (file.getFullPathName().toWideCharPointer(), data));
    EXPECT_EQ (data.size(), 100000u);
    EXPECT_FALSE (ReadWholeFile (file.getFullPathName().toWideCharPointer(), data, 99999));
    EXPECT_TRUE (data.empty());
    EXPECT_FALSE (ReadWholeFile (dir.Child ("missing.bin").getFullPathName().toWideCharPointer(), data));
    EXPECT_FALSE (ReadWholeFile (dir.Get().getFullPathName().toWideCharPointer(), data));
}
