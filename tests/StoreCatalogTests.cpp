// The driver catalogs: reading names from driver files, the folder scan, the
// MCU list and the per-MCU copies.
#include <gtest/gtest.h>
#include "store/shared/ProgramGlobals.h"
#include "store/FlashCatalog.h"
#include "PlatformTestFolder.h"
#include "StoreDriverBytes.h"
#include "StoreLogCapture.h"

using namespace storetest;

namespace
{
    class StoreCatalog : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            ResetGlobalsForTests();
            drivers = dir.Child ("Drivers");
            drivers.createDirectory();
            PathCopy (g_szDriverDir, drivers.getFullPathName());
        }
        void TearDown() override { ResetGlobalsForTests(); }

        void Driver (const char* file, const std::string& bytes)
        {
            drivers.getChildFile (file).replaceWithData (bytes.data(), bytes.size());
        }
        void Driver (const char* file, const char* mcu, const char* flash)
        {
            Driver (file, DriverBytes ({ { 64, 128 } }, NameField (mcu), NameField (flash)));
        }

        static std::vector<std::string> Names (const CFlashLinkList& list, bool mcu)
        {
            std::vector<std::string> out;
            for (auto* r = list.GetFirst(); r != nullptr; r = r->pNext)
                out.push_back (mcu ? r->szMCUName : r->szFlashName);
            return out;
        }

        TestFolder dir;
        juce::File drivers;
        LogCapture capture;
        CFlashLinkList all;
        CMCUList mcus;
    };

    using Strings = std::vector<std::string>;
}

TEST_F (StoreCatalog, EqualMCUNamesFoldIntoOneEntryAndKeepEveryDriver)
{
    Driver ("a.bin", "QV428", "S29GL");
    Driver ("b.bin", "QV410", "MX29");
    Driver ("c.bin", "QV428", "S29GL");
    Driver ("notes.txt", "QV999", "X");

    EXPECT_EQ (ScanFlashDrivers (capture.log, all, mcus), 3);
    EXPECT_EQ (Names (all, true), (Strings { "QV428", "QV410", "QV428" }));
    EXPECT_EQ (GetMCUNames (mcus), juce::StringArray ("QV428", "QV410"));
    EXPECT_EQ (capture.Text(), "");

    CFlashLinkList flashes;
    juce::StringArray names;
    ASSERT_EQ (CopyFlashRecordsForMCU (all, mcus.GetAt (1)->szName, flashes, &names), 2);
    EXPECT_EQ (names, juce::StringArray ("S29GL", "S29GL"));
    EXPECT_EQ (juce::String (flashes.GetAt (1)->szDriverPath), drivers.getChildFile ("a.bin").getFullPathName());
    EXPECT_EQ (juce::String (flashes.GetAt (2)->szDriverPath), drivers.getChildFile ("c.bin").getFullPathName());
    EXPECT_EQ (flashes.GetAt (3), nullptr);

    // A second fill replaces the first; an MCU nobody names gives nothing.
    EXPECT_EQ (CopyFlashRecordsForMCU (all, "QV410", flashes, &names), 1);
    EXPECT_EQ (names, juce::StringArray ("MX29"));
    EXPECT_EQ (CopyFlashRecordsForMCU (all, "qv410", flashes, &names), 0);
    EXPECT_EQ (flashes.GetFirst(), nullptr);
    EXPECT_TRUE (names.isEmpty());
}

TEST_F (StoreCatalog, NamesEndAtNulOrBehindTheLastNon0xFFByte)
{
    Driver ("1.bin", DriverBytes ({ { 64, 1 } }, NameField ("NULPAD", '\0'), NameField ("FFPAD")));
    Driver ("2.bin", DriverBytes ({ { 64, 1 } }, NameField ("SIXTEEN_CHARS_16"), NameField ("", '\xFF')));
    Driver ("3.bin", DriverBytes ({ { 64, 1 } }, std::string ("AB\0CD", 5) + std::string (11, '\xFF'), NameField ("X\xE9")));
    Driver ("4.bin", DriverBytes ({}, NameField ("EMPTYTABLE"), NameField ("AT36")));

    EXPECT_EQ (ScanFlashDrivers (capture.log, all, mcus), 4);
    EXPECT_EQ (Names (all, true), (Strings { "NULPAD", "SIXTEEN_CHARS_16", "AB", "EMPTYTABLE" }));
    EXPECT_EQ (Names (all, false), (Strings { "FFPAD", "", "X\xE9", "AT36" }));
    EXPECT_EQ (all.GetAt (2)->szMCUName[16], '\0');
    EXPECT_EQ (all.GetAt (3)->szMCUName[3], '\0') << "nothing of a name survives behind its end";
    EXPECT_EQ (CatalogNameToString (all.GetAt (3)->szFlashName), juce::String (juce::CharPointer_UTF8 ("X\xc3\xa9")));
}

TEST_F (StoreCatalog, FoldersAreSkippedAndUnreadableFilesCountedButNotListed)
{
    Driver ("good.bin", "MCU", "FLASH");
    drivers.getChildFile ("folder.bin").createDirectory();
    Driver ("short.bin", std::string (10, '\x01'));
    Driver ("intable.bin", DriverBytes ({ { 64, 4 }, { 8, 2 } }, "", "", false).substr (0, 22));
    Driver ("inname.bin", DriverBytes ({ { 64, 4 } }, NameField ("MCU"), "").substr (0, 16 + 8 + 16 + 5));

    EXPECT_EQ (ScanFlashDrivers (capture.log, all, mcus), 4);
    EXPECT_EQ (Names (all, true), (Strings { "MCU" }));
    EXPECT_EQ (capture.Text(),
               "Can't get flash infomation from inname.bin\n"
               "Can't get flash infomation from intable.bin\n"
               "Can't get flash infomation from short.bin\n");
}

TEST_F (StoreCatalog, MissingFilesAndFoldersAreReported)
{
    _STR_FLASH_INFO info {};
    EXPECT_EQ (ReadFlashInfo (capture.log, L"missing.bin", &info), 1);
    EXPECT_EQ (capture.Text(), "Can't open file missing.bin\n");

    drivers.deleteRecursively();
    EXPECT_EQ (ScanFlashDrivers (capture.log, all, mcus), 0);
    EXPECT_EQ (all.GetFirst(), nullptr);
    EXPECT_EQ (mcus.GetFirst(), nullptr);
}

TEST_F (StoreCatalog, ListPositionsCountFromOneAndDuplicatesAreRefused)
{
    for (const char* name : { "A", "B", "C" })
    {
        auto* record = new _STR_FLASH_NAME {};
        NarrowCopy (record->szName, name, sizeof (record->szName));
        ASSERT_EQ (mcus.Add (record), 0);
    }
    _STR_FLASH_NAME again {};
    NarrowCopy (again.szName, "B", sizeof (again.szName));
    EXPECT_EQ (mcus.Add (&again), 1);
    NarrowCopy (again.szName, "b", sizeof (again.szName));
    ASSERT_EQ (mcus.Add (new _STR_FLASH_NAME (again)), 0) << "names differing in case are different MCUs";

    EXPECT_EQ (mcus.GetAt (0), nullptr);
    EXPECT_EQ (mcus.GetAt (-1), nullptr);
    EXPECT_STREQ (mcus.GetAt (1)->szName, "A");
    EXPECT_STREQ (mcus.GetAt (4)->szName, "b");
    EXPECT_EQ (mcus.GetAt (5), nullptr);
    EXPECT_EQ (mcus.GetCount(), 4);

    mcus.MoveFirst();
    EXPECT_STREQ (mcus.GetNext()->szName, "A");
    mcus.GetNext();
    mcus.GetNext();
    mcus.GetNext();
    EXPECT_EQ (mcus.GetNext(), nullptr);
    EXPECT_EQ (mcus.GetNext(), nullptr);

    mcus.RemoveAll();
    EXPECT_EQ (mcus.GetAt (1), nullptr);
    EXPECT_EQ (mcus.GetNext(), nullptr);
    ASSERT_EQ (mcus.Add (new _STR_FLASH_NAME {}), 0) << "a removed list is usable again";
    mcus.Reset();
    EXPECT_EQ (mcus.GetCount(), 0);
}
