// Reading the module's flash into a file (lengths, the flash end, time-out
// and checksum retries with their limit), comparing files, and a whole
// program, read-back and compare through the simulated module.
#include <gtest/gtest.h>
#include "tests/LinkTestRig.h"

using namespace linktest;

namespace
{
    const std::vector<SimRegion> kSmallFlash { { 64, 4 } };   // 256 KiB

    std::vector<uint8_t> Slice (const std::vector<uint8_t>& v, size_t from, size_t n)
    {
        return std::vector<uint8_t> (v.begin() + (long) from, v.begin() + (long) (from + n));
    }

    struct ReadRig : Rig
    {
        std::shared_ptr<SimulatedModule> module;
        std::vector<uint8_t> flash = Pattern (0x40000, 9);
        juce::File out;

        explicit ReadRig (SimModuleConfig c = {})
        {
            module = AddModule (c);
            module->preloadFlash (0, flash);
            out = folder.getChildFile ("read.bin");
        }
        size_t Read (int offset, int length, bool* failed = nullptr)
        {
            module->clearRecords();
            return RunStep ([&] { return link->ReadToFile (out.getFullPathName(), 0, offset, length); }, failed);
        }
    };
}

TEST (LinkRead, LengthsAreCutToTheFlashAndEachBlockIsRequestedOnce)
{
    ReadRig rig;
    ASSERT_TRUE (rig.ReadyForFlash (kSmallFlash));

    // Length 0 reads to the end of the flash.
    auto from = rig.Read (0x10000, 0);
    EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0x10000, 0x30000));
    EXPECT_EQ (rig.module->receivedCount (SimCommand::ReadBlock), 48);
    const auto progress = rig.timeline.Progress (3, from);
    ASSERT_EQ (progress.size(), 48u);
    EXPECT_EQ (progress.front(), std::make_pair (0, 0x30000));
    EXPECT_EQ (progress.back(), std::make_pair (0x2F000, 0x30000));
    EXPECT_EQ (rig.timeline.Log (from), "Reading 8000\nRead finished.\n");
    EXPECT_EQ (rig.timeline.Count (kStepStartMessage, 0, from), 2);
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
    EXPECT_FALSE (rig.link->isTimerRunning());
    EXPECT_FALSE (rig.link->IsReadFileOpen());

    // 0x1800: two blocks, 0x1800 bytes stored.
    from = rig.Read (0, 0x1800);
    EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0, 0x1800));
    EXPECT_EQ (rig.module->receivedCount (SimCommand::ReadBlock), 2);
    EXPECT_EQ (rig.timeline.Progress (3, from), (std::vector<std::pair<int, int>> { { 0, 0x1800 }, { 0x1000, 0x1800 } }));

    // A range running past the end of the flash stops there.
    rig.Read (0x3F000, 0x2000);
    EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0x3F000, 0x1000));

    // Word mode: offset and length in words.
    rig.link->SetWordMode (true);
    from = rig.Read (0x8000, 0x800);
    EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0x10000, 0x1000));
    EXPECT_EQ (rig.timeline.Log (from), "Reading 8000\nRead finished.\n");
}

TEST (LinkRead, ReadAtOrBeyondTheFlashSizeIsNotStarted)
{
    ReadRig rig;
    ASSERT_TRUE (rig.ReadyForFlash (kSmallFlash));
    for (const int offset : { 0x40000, 0x50000 })
    {
        SCOPED_TRACE (offset);
        bool failed = false;
        const auto from = rig.Read (offset, 0, &failed);
        EXPECT_TRUE (failed);
        EXPECT_EQ (rig.module->receivedCount (SimCommand::ReadBlock), 0);
        EXPECT_EQ (rig.timeline.Count (kStepStartMessage, 1, from), 1);
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);
        EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());
        EXPECT_TRUE (rig.timeline.Log (from).contains ("beyond the flash size"));
        EXPECT_TRUE (rig.timeline.Log (from).endsWith ("\n"));
        EXPECT_FALSE (rig.link->IsReadFileOpen());
        EXPECT_FALSE (rig.link->isTimerRunning());
    }
    // The link is not stuck: the next read runs.
    rig.Read (0, 0x1000);
    EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0, 0x1000));
}

TEST (LinkRead, TwoTimeOutsThenSuccessAreLoggedOnOneLine)
{
    ReadRig rig;
    ASSERT_TRUE (rig.ReadyForFlash (kSmallFlash));
    rig.module->dropNextReplies (SimCommand::ReadBlock, 2);
    const auto from = rig.Read (0, 0x2000);
    EXPECT_EQ (rig.timeline.Log (from), "Reading 0\nTime out, retry...1,2\nRead finished.\n");
    EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0, 0x2000));
    EXPECT_EQ (rig.module->receivedCount (SimCommand::ReadBlock), 4);
    EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());
}

TEST (LinkRead, EleventhTimeOutEndsTheReadAndClosesItsFile)
{
    ReadRig rig;
    ASSERT_TRUE (rig.ReadyForFlash (kSmallFlash));
    bool openAtBox = true;
    rig.onBox = [&] (const juce::String&) { openAtBox = rig.link->IsReadFileOpen(); };
    rig.module->dropNextReplies (SimCommand::ReadBlock, 11);
    auto from = rig.Read (0, 0x1000);

    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 6\n"));
    EXPECT_LT (rig.timeline.Find (kBoxEvent, -1, from), rig.timeline.Find (kStepStartMessage, 1, from));
    EXPECT_EQ (rig.timeline.Log (from), "Reading 0\nTime out, retry...1,2,3,4,5,6,7,8,9,10");
    EXPECT_EQ (rig.module->receivedCount (SimCommand::ReadBlock), 11);
    EXPECT_FALSE (openAtBox);
    EXPECT_FALSE (rig.link->isTimerRunning());

    // The next read has a fresh allowance and a fresh file.
    from = rig.Read (0x1000, 0x1000);
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
    EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0x1000, 0x1000));
}

TEST (LinkRead, DamagedBlocksAreRequestedAgainWithinTheSameAllowance)
{
    ReadRig rig;
    ASSERT_TRUE (rig.ReadyForFlash (kSmallFlash));
    ASSERT_TRUE (rig.link->IsFS());

    // Two damaged copies of the first block, then a good one.
    rig.module->damageNextReads (SimReadDamage::Data, 2);
    auto from = rig.Read (0, 0x2000);
    EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0, 0x2000));
    EXPECT_EQ (rig.module->receivedCount (SimCommand::ReadBlock), 4);
    EXPECT_EQ (rig.timeline.Log (from), "Reading 0\n..\nRead finished.\n");

    // A trailer that never matches: eleven tries, then "Error Code 6".
    rig.module->damageNextReads (SimReadDamage::Trailer, 11);
    from = rig.Read (0, 0x2000);
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 6\n"));
    EXPECT_EQ (rig.module->receivedCount (SimCommand::ReadBlock), 11);
    EXPECT_FALSE (rig.link->IsReadFileOpen());
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);
}

TEST (LinkCompare, ResultsByLengthAndContent)
{
    Rig rig;
    const auto written = Pattern (0x30000, 11);
    const auto writtenFile = rig.WriteFile ("written.bin", written).getFullPathName();

    auto differing = Slice (written, 0x10000, 0x20000);
    differing[0x1A345 - 0x10000] ^= 0x10;   // in the second chunk the compare takes

    struct Case { const char* name; std::vector<uint8_t> read; const char* log; int done; int64_t difference; };
    const Case cases[] = {
        { "equal", Slice (written, 0x10000, 0x20000), "Start comparing...\nCompare OK!\n\n", 0, -1 },
        { "read shorter", Slice (written, 0x10000, 0x18000), "Start comparing...\nCompare OK! (One file is longer.)\n\n", 0, -1 },
        { "read empty", {}, "Start comparing...\nCompare OK! (One file is longer.)\n\n", 0, -1 },
        { "one byte differs", differing, "Start comparing...\nCompare FAIL!\n\nRetry 1!\n", 1, 0x1A345 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto readFile = rig.WriteFile ("read.bin", c.read).getFullPathName();
        bool failed = true;
        const auto from = rig.RunStep ([&] { return rig.link->CompareFiles (writtenFile, 0x10000, readFile); }, &failed);
        EXPECT_FALSE (failed);
        EXPECT_EQ (rig.timeline.Log (from), c.log);
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, c.done, from), 1);
        EXPECT_EQ (rig.link->GetFirstDifference(), c.difference);
    }

    // The written file ends before the source offset: the step stops without a box.
    const auto readFile = rig.WriteFile ("read.bin", Slice (written, 0, 0x100)).getFullPathName();
    bool failed = false;
    auto from = rig.RunStep ([&] { return rig.link->CompareFiles (writtenFile, 0x30001, readFile); }, &failed);
    EXPECT_TRUE (failed);
    EXPECT_EQ (rig.timeline.Log (from), "Start comparing...\nWrite file length < Source offset!\n");
    EXPECT_EQ (rig.timeline.Count (kStepStartMessage, 1, from), 1);
    EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());

    // Files that cannot be opened.
    const auto missing = rig.folder.getChildFile ("missing.bin").getFullPathName();
    from = rig.RunStep ([&] { return rig.link->CompareFiles (missing, 0, readFile); }, &failed);
    EXPECT_TRUE (failed);
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 9\n"));
    from = rig.RunStep ([&] { return rig.link->CompareFiles (writtenFile, 0, missing); }, &failed);
    EXPECT_TRUE (failed);
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 10\n"));
}

TEST (LinkCompare, TenFailuresAreRetriedAndTheEleventhIsAnError)
{
    Rig rig;
    const auto written = Pattern (0x3000, 12);
    auto differing = written;
    differing.back() ^= 0x01;   // only the last byte differs
    const auto writtenFile = rig.WriteFile ("written.bin", written).getFullPathName();
    const auto badFile = rig.WriteFile ("bad.bin", differing).getFullPathName();
    const auto goodFile = rig.WriteFile ("good.bin", written).getFullPathName();

    // A success between failures starts the count again.
    rig.RunStep ([&] { return rig.link->CompareFiles (writtenFile, 0, badFile); });
    rig.RunStep ([&] { return rig.link->CompareFiles (writtenFile, 0, goodFile); });
    EXPECT_EQ (rig.link->GetCompareRetries(), 0);

    for (int i = 1; i <= 10; ++i)
    {
        bool failed = true;
        const auto from = rig.RunStep ([&] { return rig.link->CompareFiles (writtenFile, 0, badFile); }, &failed);
        EXPECT_FALSE (failed);
        EXPECT_EQ (rig.timeline.Log (from), "Start comparing...\nCompare FAIL!\n\nRetry " + juce::String (i) + "!\n");
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 1, from), 1);
        EXPECT_EQ (rig.link->GetCompareRetries(), i);
    }
    bool failed = false;
    const auto from = rig.RunStep ([&] { return rig.link->CompareFiles (writtenFile, 0, badFile); }, &failed);
    EXPECT_TRUE (failed);
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 11\n"));
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);
    EXPECT_EQ (rig.link->GetCompareRetries(), 0);
}

TEST (LinkRoundTrip, ProgramAndReadBackHoldExactlyTheFilesBytes)
{
    Rig rig;
    SimModuleConfig c;
    c.readChunkGroups = 100;
    c.announceChunks = false;
    auto module = rig.AddModule (c);
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));

    const auto image = Pattern (0x23456, 13);
    const auto imageFile = rig.WriteFile ("image.bin", image).getFullPathName();
    const auto readFile = rig.folder.getChildFile ("readback.bin").getFullPathName();
    const int src = 0x1000, offset = 0x20000, length = 0x23456 - 0x1000;
    const auto expected = Slice (image, (size_t) src, (size_t) length);

    auto from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, imageFile, src, offset, 0); });
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
    rig.RunStep ([&] { return rig.link->ReadToFile (readFile, 0, offset, length); });
    from = rig.RunStep ([&] { return rig.link->CompareFiles (imageFile, src, readFile); });
    EXPECT_EQ (rig.timeline.Log (from), "Start comparing...\nCompare OK!\n\n");
    EXPECT_EQ (module->readFlash ((uint64_t) offset, (size_t) length), expected);
    EXPECT_EQ (Rig::ReadFile (juce::File (readFile)), expected);
    EXPECT_TRUE (rig.timeline.Boxes().isEmpty());

    // A block that does not take shows up in the compare, which asks for a retry.
    module->loseNextProgramBlocks (1);
    rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, imageFile, src, offset, 0); });
    rig.RunStep ([&] { return rig.link->ReadToFile (readFile, 0, offset, length); });
    from = rig.RunStep ([&] { return rig.link->CompareFiles (imageFile, src, readFile); });
    EXPECT_EQ (rig.timeline.Log (from), "Start comparing...\nCompare FAIL!\n\nRetry 1!\n");
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 1, from), 1);

    // The image programmed last is compared from memory, but only while the file
    // on disk is unchanged: a file changed since is compared as it is now.
    rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, imageFile, src, offset, 0); });
    rig.RunStep ([&] { return rig.link->ReadToFile (readFile, 0, offset, length); });
    auto changed = image;
    changed[(size_t) src + 5] ^= 0xFF;
    rig.WriteFile ("image.bin", changed);
    juce::File (imageFile).setLastModificationTime (juce::Time::getCurrentTime() + juce::RelativeTime::seconds (5));
    from = rig.RunStep ([&] { return rig.link->CompareFiles (imageFile, src, readFile); });
    EXPECT_EQ (rig.timeline.Log (from), "Start comparing...\nCompare FAIL!\n\nRetry 2!\n");
}
