// The range checks on driver files and images the tests write: sector table
// reading, sector counting, and turning the panel's four fields into a range.
#include <gtest/gtest.h>
#include "tests/PanelTestSupport.h"

using paneltest::TakeLog;

namespace
{
    // Eight 8 KiB sectors, then three of 64 KiB: 11 sectors, 256 KiB.
    //   index:  0..7 at 0x0000..0xE000, 8 at 0x10000, 9 at 0x20000, 10 at 0x30000; end 0x40000
    const std::vector<std::pair<uint16_t, uint16_t>> kRegions = { { 8, 8 }, { 64, 3 } };

    const juce::String kFitNote ("Program length is set to fit sector size. new length is ");

    class RangeValidation : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            panel = &h.Start();
            driver = paneltest::WriteDriver (h.folder.getChildFile ("geometry.bin"), kRegions);
            TakeLog (*panel);
        }

        /** Loads the test driver's sectors; true when that failed. */
        bool Load() { return panel->LoadSectorTable (driver.getFullPathName().toWideCharPointer()); }

        /** Fills the four fields and the units, chooses an image of `size` bytes, and checks the range. */
        bool Check (const char* length, const char* fileOffset, const char* flashOffset, const char* page,
                    int imageSize, bool wordMode = false)
        {
            EXPECT_FALSE (Load());
            const auto image = paneltest::WriteImage (h.folder.getChildFile ("image.bin"), imageSize);
            panel->SetFileName (image.getFullPathName());
            panel->GetWriteLengthEditor()->setText (length);
            panel->GetFileOffsetEditor()->setText (fileOffset);
            panel->GetFlashOffsetEditor()->setText (flashOffset);
            panel->GetFlashPageEditor()->setText (page);
            panel->SetWordMode (wordMode);
            TakeLog (*panel);
            return panel->ValidateRange();
        }

        juce::String Log() { return TakeLog (*panel); }

        PanelHarness h;
        MainComponent* panel = nullptr;
        juce::File driver;
    };
}

TEST_F (RangeValidation, ASectorTableIsReadFromTheEntriesUpToTheZeroCount)
{
    EXPECT_FALSE (Load());
    EXPECT_EQ (panel->GetSectorEntries(), 11);
    EXPECT_EQ (Log(), "");
}

TEST_F (RangeValidation, AMissingDriverFileIsErrorCode22ForBothReaders)
{
    const auto missing = h.folder.getChildFile ("nope.bin").getFullPathName();
    EXPECT_TRUE (panel->LoadSectorTable (missing.toWideCharPointer()));
    EXPECT_EQ (Log(), "Error Code 22\n");

    PathCopy (g_szDriverSearch, missing.toWideCharPointer());
    EXPECT_EQ (panel->CountDriverSectors(), 1);
    EXPECT_EQ (Log(), "Error Code 22\n");
}

TEST_F (RangeValidation, ADriverWithoutSectorsIsRefusedAndCountsZero)
{
    const auto empty = paneltest::WriteDriver (h.folder.getChildFile ("empty.bin"), {});
    EXPECT_TRUE (panel->LoadSectorTable (empty.getFullPathName().toWideCharPointer()));
    EXPECT_EQ (Log(), "Flash infomation is not correct.");

    PathCopy (g_szDriverSearch, empty.getFullPathName().toWideCharPointer());
    EXPECT_EQ (panel->CountDriverSectors(), 0);
    PathCopy (g_szDriverSearch, driver.getFullPathName().toWideCharPointer());
    EXPECT_EQ (panel->CountDriverSectors(), 11);
    EXPECT_EQ (Log(), "");
}

TEST_F (RangeValidation, AnEntryListRunningToTheEndOfTheFileIsRefused)
{
    // The table stops at the end of the file, once on an entry boundary and once inside an entry.
    const auto cut = paneltest::WriteDriver (h.folder.getChildFile ("cut.bin"), { { 64, 4 } }, false);
    EXPECT_TRUE (panel->LoadSectorTable (cut.getFullPathName().toWideCharPointer()));
    EXPECT_EQ (Log(), "Flash infomation is not correct.");

    ASSERT_TRUE (cut.appendData ("\x01\x00", 2));
    EXPECT_TRUE (panel->LoadSectorTable (cut.getFullPathName().toWideCharPointer()));
    EXPECT_EQ (Log(), "Flash infomation is not correct.");

    // A file too short to reach the table at all.
    const auto tiny = h.folder.getChildFile ("tiny.bin");
    ASSERT_TRUE (tiny.replaceWithText ("short"));
    EXPECT_TRUE (panel->LoadSectorTable (tiny.getFullPathName().toWideCharPointer()));
    EXPECT_EQ (Log(), "Flash infomation is not correct.");
}

TEST_F (RangeValidation, NoFileChosenIsRefused)
{
    EXPECT_FALSE (Load());
    panel->SetFileName ("No file selected.");
    EXPECT_TRUE (panel->ValidateRange());
    EXPECT_EQ (Log(), "Please choose Write File!\n");
}

TEST_F (RangeValidation, LengthZeroRoundsUpToTheNextSectorThenCutsBackToTheFileWithBothNotes)
{
    EXPECT_FALSE (Check ("0", "0", "0", "0", 0x11000));
    EXPECT_EQ (Log(), kFitNote + "20000h bytesProgram length is set to 11000h bytes.\n");
    EXPECT_EQ (panel->GetTotalBytes(), 0x11000);
    EXPECT_EQ (panel->GetRangeFirst(), 0);
    EXPECT_EQ (panel->GetRangeEnd(), 9);
}

TEST_F (RangeValidation, LengthZeroOnAFileEndingAtASectorBoundaryGetsOnlyTheLengthNote)
{
    EXPECT_FALSE (Check ("0", "0", "10000", "0", 0x20000));
    EXPECT_EQ (Log(), "Program length is set to 20000h bytes.\n");
    EXPECT_EQ (panel->GetRangeFirst(), 8);
    EXPECT_EQ (panel->GetRangeEnd(), 10);
}

TEST_F (RangeValidation, ALengthOnASectorBoundaryLogsNothing)
{
    EXPECT_FALSE (Check ("10000", "0", "0", "0", 0x20000));
    EXPECT_EQ (Log(), "");
    EXPECT_EQ (panel->GetTotalBytes(), 0x10000);
    EXPECT_EQ (panel->GetRangeEnd(), 8);

    EXPECT_FALSE (Check ("4000", "0", "2000", "0", 0x20000));
    EXPECT_EQ (Log(), "");
    EXPECT_EQ (panel->GetRangeFirst(), 1);
    EXPECT_EQ (panel->GetRangeEnd(), 3);
}

TEST_F (RangeValidation, ALengthBeyondTheFileIsCutToTheFile)
{
    EXPECT_FALSE (Check ("30000", "1000", "0", "0", 0x11000));
    EXPECT_EQ (Log(), "Program length is larger than the file.\nProgram length is set to 10000h bytes.\n");
    EXPECT_EQ (panel->GetTotalBytes(), 0x10000);
    EXPECT_EQ (panel->GetRangeEnd(), 8);
}

TEST_F (RangeValidation, AFlashOffsetInsideASectorIsRefusedWhateverThePage)
{
    for (const char* page : { "0", "1", "400" })
        for (const char* offset : { "1000", "11000", "40000" })
        {
            SCOPED_TRACE (juce::String (page) + "/" + offset);
            EXPECT_TRUE (Check ("0", "0", offset, page, 0x20000));
            EXPECT_EQ (Log(), "Flash offset must at the start of one sector!\n");
        }
}

TEST_F (RangeValidation, WordModeDoublesFileOffsetFlashOffsetAndLength)
{
    // 0x800, 0x10000 and 0x1000 words are bytes 0x1000, 0x20000 and 0x2000. The file holds
    // 0x1800 bytes after byte 0x1000, fewer than 0x2000.
    EXPECT_FALSE (Check ("1000", "800", "10000", "0", 0x2800, true));
    EXPECT_EQ (Log(), "Program length is larger than the file.\n" + kFitNote
                          + "10000h bytesProgram length is set to 1800h bytes.\n");
    EXPECT_EQ (panel->GetRangeFirst(), 9);
    EXPECT_EQ (panel->GetRangeEnd(), 10);
    EXPECT_EQ (panel->GetTotalBytes(), 0x1800);

    // The same numbers in byte mode: offset 0x10000 is sector 8, and the file holds enough.
    EXPECT_FALSE (Check ("1000", "800", "10000", "0", 0x2800, false));
    EXPECT_EQ (panel->GetRangeFirst(), 8);
    EXPECT_EQ (Log(), kFitNote + "10000h bytesProgram length is set to 2000h bytes.\n");
}

TEST_F (RangeValidation, APageMovesTheRangeButTheSectorsStayTheChipsOwn)
{
    // Page 1 starts at byte 0x20000 of the address space; the sector walk runs relative to it.
    EXPECT_FALSE (Check ("4000", "0", "2000", "1", 0x20000));
    EXPECT_EQ (Log(), "");
    EXPECT_EQ (panel->GetRangeFirst(), 1);
    EXPECT_EQ (panel->GetRangeEnd(), 3);
    EXPECT_EQ (panel->GetTotalBytes(), 0x4000);
}

TEST_F (RangeValidation, ARangeRunningPastTheLastSectorIsCutAtTheEndOfTheChip)
{
    EXPECT_FALSE (Check ("0", "0", "30000", "0", 0x20000));
    EXPECT_EQ (Log(), kFitNote + "10000h bytesProgram length is set to 10000h bytes.\n");
    EXPECT_EQ (panel->GetRangeFirst(), 10);
    EXPECT_EQ (panel->GetRangeEnd(), panel->GetSectorEntries());
    EXPECT_EQ (panel->GetTotalBytes(), 0x10000);

    // Ending exactly at the end of the chip changes nothing and logs nothing.
    EXPECT_FALSE (Check ("10000", "0", "30000", "1", 0x20000));
    EXPECT_EQ (Log(), "");
    EXPECT_EQ (panel->GetRangeEnd(), panel->GetSectorEntries());
}

TEST_F (RangeValidation, AFileOffsetAtOrBeyondTheEndOfTheFileLeavesNothingToProgram)
{
    for (const char* length : { "0", "10", "10000" })
        for (const char* fileOffset : { "1000", "1001", "7fffffff", "ffffffff" })
        {
            SCOPED_TRACE (juce::String (length) + "/" + fileOffset);
            EXPECT_TRUE (Check (length, fileOffset, "0", "0", 0x1000));
            const auto log = Log();
            EXPECT_TRUE (log.endsWith ("Something wrong in program...\n")) << log;
            EXPECT_FALSE (log.contains ("-")) << log;
        }
    // In word mode the offset counts words: 0x800 words are the whole 0x1000-byte file.
    EXPECT_TRUE (Check ("0", "800", "0", "0", 0x1000, true));
    EXPECT_TRUE (Log().endsWith ("Something wrong in program...\n"));
}

TEST_F (RangeValidation, APageBeyondTheWiresReachOrReadAsNegativeIsRefused)
{
    // The 28-bit word address reaches 512 MiB: this 256 KiB chip still ends there at page ffe, not
    // at fff nor from 1000 on (at 4000 a 32-bit byte address wraps); ffffffff and 80000000 read as negative.
    EXPECT_FALSE (Check ("0", "0", "0", "ffe", 0x40000));
    EXPECT_EQ (panel->GetRangeEnd(), panel->GetSectorEntries());
    for (const char* page : { "fff", "1000", "4000", "ffffffff", "80000000" })
    {
        SCOPED_TRACE (page);
        EXPECT_TRUE (Check ("0", "0", "0", page, 0x40000));
        EXPECT_TRUE (Log().endsWith ("Something wrong in program...\n"));
    }
}
