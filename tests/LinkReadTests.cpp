// Reading the module's flash into a file (lengths, the flash end, time-out
// and checksum retries with their limit), comparing files, and a whole
// program, read-back and compare through the simulated module.
#include <csignal>
#include <future>
#include <sys/resource.h>
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

    /** While it lives, files cannot grow beyond `limit` bytes, as on a disk that is
        full there (0: no limit). A write beyond fails instead of ending the process. */
    struct FileSizeLimit
    {
        explicit FileSizeLimit (rlim_t limit)
        {
            if (limit == 0)
                return;
            previous = std::signal (SIGXFSZ, SIG_IGN);
            active = ::getrlimit (RLIMIT_FSIZE, &saved) == 0;
            rlimit lower = saved;
            lower.rlim_cur = limit;
            active = active && ::setrlimit (RLIMIT_FSIZE, &lower) == 0;
            EXPECT_TRUE (active);
        }
        ~FileSizeLimit()
        {
            if (active)
                ::setrlimit (RLIMIT_FSIZE, &saved);
            if (previous != SIG_ERR)
                std::signal (SIGXFSZ, previous);
        }
        rlimit saved {};
        bool active = false;
        void (*previous) (int) = SIG_ERR;   // the handler before, once replaced
    };

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
        size_t Read (int offset, int length, bool* failed = nullptr, int page = 0)
        {
            module->clearRecords();
            return RunStep ([&] { return link->ReadToFile (out.getFullPathName(), page, offset, length); }, failed);
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

TEST (LinkRead, ReadAtOrBeyondTheFlashSizeOrTheWiresReachIsNotStarted)
{
    ReadRig rig;
    ASSERT_TRUE (rig.ReadyForFlash (kSmallFlash));
    // Offsets at and past the flash's end; pages the 28-bit word address does not reach, and a negative one.
    struct Case { int page, offset; const char* why; };
    for (const Case c : { Case { 0, 0x40000, "beyond the flash size" }, Case { 0, 0x50000, "beyond the flash size" },
                          Case { 0x4000, 0, "beyond the flash address space" }, Case { -1, 0, "beyond the flash address space" } })
    {
        SCOPED_TRACE (juce::String (c.page) + " " + juce::String (c.offset));
        bool failed = false;
        const auto from = rig.Read (c.offset, 0, &failed, c.page);
        EXPECT_TRUE (failed);
        EXPECT_EQ (rig.module->receivedCount (SimCommand::ReadBlock), 0);
        EXPECT_EQ (rig.timeline.Count (kStepStartMessage, 1, from), 1);
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);
        EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());
        EXPECT_TRUE (rig.timeline.Log (from).contains (c.why));
        EXPECT_TRUE (rig.timeline.Log (from).endsWith ("\n"));
        EXPECT_FALSE (rig.link->IsReadFileOpen());
        EXPECT_FALSE (rig.link->isTimerRunning());
    }
    // The link is not stuck: the next read runs.
    rig.Read (0, 0x1000);
    EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0, 0x1000));
}

TEST (LinkRead, AReadFileThatCannotBeCreatedOrWrittenIsErrorCode20)
{
    ReadRig rig;
    ASSERT_TRUE (rig.ReadyForFlash (kSmallFlash));
    const juce::File full ("/dev/full");   // every write to it fails as on a full disk
    if (! full.exists())
        GTEST_SKIP() << "no /dev/full here";

    // A block is stored after the next one is requested: that request is the last.
    // A regular file is written over an earlier, longer one, on a disk that fills
    // at `limit` bytes (when the requests stop there depends on the C library's buffer).
    struct Case { const char* name; juce::File file; int length; bool failsAtOnce; int requests; rlim_t limit; };
    const Case cases[] = {
        { "cannot be created", rig.folder.getChildFile ("none/read.bin"), 0x1000, true, 0, 0 },
        { "disk full at a block", full, 0x3000, false, 2, 0 },
        { "disk full when the file is closed", full, 0x800, false, 1, 0 },
        { "over a longer file, disk full at a block", rig.out, 0x3000, false, -1, 0x1800 },
        { "over a longer file, disk full when the file is closed", rig.out, 0x1800, false, -1, 0x1400 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const std::vector<uint8_t> earlier (0x4000, 0xEE);
        if (c.limit != 0)
        {
            ASSERT_TRUE (c.file.replaceWithData (earlier.data(), earlier.size()));
        }
        rig.module->clearRecords();
        bool failed = ! c.failsAtOnce;
        size_t from = 0;
        {
            const FileSizeLimit disk (c.limit);
            from = rig.RunStep ([&] { return rig.link->ReadToFile (c.file.getFullPathName(), 0, 0, c.length); }, &failed);
        }
        EXPECT_EQ (failed, c.failsAtOnce);
        EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 20\n"));
        EXPECT_LT (rig.timeline.Find (kBoxEvent, -1, from), rig.timeline.Find (kStepStartMessage, 1, from));
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);
        EXPECT_EQ (rig.timeline.FindLog ("Read finished.", from), -1);
        if (c.requests >= 0)
        {
            EXPECT_EQ (rig.module->receivedCount (SimCommand::ReadBlock), c.requests);
        }
        EXPECT_FALSE (rig.link->IsReadFileOpen());
        EXPECT_FALSE (rig.link->isTimerRunning());

        // The file holds the bytes this read stored and nothing of the earlier one,
        // or, where that could not be written, it is gone and the log says so.
        if (c.limit == 0)
            continue;
        const auto log = rig.timeline.Log (from);
        if (c.file.existsAsFile())
        {
            const auto kept = Rig::ReadFile (c.file);
            EXPECT_LE (kept.size(), (size_t) c.length);
            EXPECT_EQ (kept, Slice (rig.flash, 0, kept.size()));
            EXPECT_FALSE (log.contains ("removed")) << log;
        }
        else
        {
            EXPECT_TRUE (log.contains ("read.bin could not be written: it was removed.\n")) << log;
        }
    }
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
    rig.Read (0, 0x2000);
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
    EXPECT_EQ (rig.out.getSize(), 0);   // the earlier read's bytes are not passed off as this one's

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

TEST (LinkCompare, AReplyArrivingWhileTheCompareRunsIsHandledAtOnce)
{
    Rig rig;
    const auto bytes = Pattern (0x3000, 14);
    const auto a = rig.WriteFile ("a.bin", bytes).getFullPathName();
    const auto b = rig.WriteFile ("b.bin", bytes).getFullPathName();

    // The MIDI input thread delivers a reply just as the compare reports its result.
    struct Pane : CLogEditor
    {
        std::function<void (const juce::String&)> onText;
        void Append (const juce::String& text) override { onText (text); }
    };
    Pane pane;
    CLogger log;
    log.SetEditor (&pane);
    rig.link->SetLogger (&log);
    std::future<void> reply;
    bool handledAtOnce = false;
    pane.onText = [&] (const juce::String& text)
    {
        if (! text.startsWith ("Compare OK"))
            return;
        reply = std::async (std::launch::async, [&]
        {
            const uint8_t readData[] = { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x01, 0x00, 0x00, 0x00, 0xF7 };
            rig.link->handleIncomingMidiMessage (nullptr, juce::MidiMessage (readData, (int) sizeof (readData), 0.0));
        });
        handledAtOnce = reply.wait_for (std::chrono::seconds (5)) == std::future_status::ready;
    };
    EXPECT_FALSE (rig.link->CompareFiles (a, 0, b));
    ASSERT_TRUE (reply.valid());
    reply.wait();
    EXPECT_TRUE (handledAtOnce);
    rig.link->SetLogger (&rig.logger);
    log.SetEditor (nullptr);
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

    // The compare reads the written file as it is on disk now: one replaced after
    // it was programmed, keeping its size and time stamp, does not pass.
    rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, imageFile, src, offset, 0); });
    rig.RunStep ([&] { return rig.link->ReadToFile (readFile, 0, offset, length); });
    const auto stamp = juce::File (imageFile).getLastModificationTime();
    auto changed = image;
    changed[(size_t) src + 5] ^= 0xFF;
    rig.WriteFile ("image.bin", changed);
    ASSERT_TRUE (juce::File (imageFile).setLastModificationTime (stamp));
    from = rig.RunStep ([&] { return rig.link->CompareFiles (imageFile, src, readFile); });
    EXPECT_EQ (rig.timeline.Log (from), "Start comparing...\nCompare FAIL!\n\nRetry 2!\n");
}

TEST (LinkRead, ALateReplyNeverCountsForAnotherBlock)
{
    // The answer to one read block comes late: the module stalls (that answer and
    // every later one wait, then all come in order, one more for each time the
    // block was asked for again), or that answer alone is held back while later
    // ones overtake it. Whatever the replies' shape, the file holds the flash.
    struct Late { int after, ms; };
    struct Case
    {
        const char* what;
        int fsFlag, chunkGroups;           // the module: FS or HS, 8-byte groups a chunk (0: one)
        bool announce;                     // its chunks announce each other (else wait for Continue)
        int readMs;                        // its time per block
        std::vector<Late> late;            // the read blocks answered late (after so many others)
        SimLateAnswer how;
        const char* logged;                // the log holds this
    };
    const auto stall = SimLateAnswer::Stall, held = SimLateAnswer::Held;
    const Case cases[] = {
        { "HS, 1.2 s", 0, 0, true, 0, { { 2, 1200 } }, stall, "Time out, retry...1\nLate reply dropped.\nRead finished.\n" },
        { "FS, 3 s", 1, 0, true, 0, { { 2, 3000 } }, stall, "\nLate reply dropped.\nLate reply dropped.\nLate reply dropped.\n" },
        { "HS, twice", 0, 0, true, 0, { { 1, 1200 }, { 5, 1200 } }, stall, "Late reply dropped.\n" },
        { "HS, in chunks that announce each other", 0, 100, true, 0, { { 2, 1200 } }, stall, "Late reply dropped.\n" },
        { "HS, in chunks continued on request", 0, 100, false, 0, { { 2, 1200 } }, stall, "Time out, retry...1.\n" },
        { "FS, held 2 s while the blocks after it are read",
          1, 0, true, 15, { { 2, 2000 } }, held, "Late reply: reading again from 1800.\n" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SimModuleConfig config;
        config.fsFlag = c.fsFlag;
        config.readChunkGroups = c.chunkGroups;
        config.announceChunks = c.announce;
        config.latencies.read = std::chrono::milliseconds (c.readMs);
        ReadRig rig (config);
        ASSERT_TRUE (rig.ReadyForFlash (kSmallFlash));
        for (const auto& l : c.late)
            rig.module->delayRead (l.after, std::chrono::milliseconds (l.ms), c.how);
        const int length = c.readMs > 0 ? 0x40000 : 0x8000;
        const auto from = rig.Read (0, length);
        EXPECT_EQ (Rig::ReadFile (rig.out), Slice (rig.flash, 0, (size_t) length));
        EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
        EXPECT_TRUE (rig.timeline.Log (from).contains (c.logged)) << rig.timeline.Log (from);
        EXPECT_FALSE (rig.link->IsReadFileOpen());
    }
}

TEST (LinkRead, ACheckALateReplyMayHaveReachedTakesItsRangeAsDiffering)
{
    // An erased 64 KiB range checked as erased; the answer to its third block
    // comes late. Dropped as it comes, it costs nothing ("in place"); held back
    // past the quiet period that gives it up, it may reach any later block, and
    // the range is written rather than trusted.
    struct Case { const char* what; int readMs; SimLateAnswer how; int lateMs; int done; const char* logged; };
    const Case cases[] = {
        { "1.2 s late", 0, SimLateAnswer::Stall, 1200, Communication::kDoneInPlace, "Late reply dropped.\nIn place.\n" },
        { "held 2 s", 40, SimLateAnswer::Held, 2000, 0, "Late reply: the range is taken as differing.\n" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SimModuleConfig config;
        config.fsFlag = 0;
        config.latencies.read = std::chrono::milliseconds (c.readMs);
        ReadRig rig (config);
        ASSERT_TRUE (rig.ReadyForFlash (kSmallFlash));
        rig.module->eraseWholeFlash();
        rig.module->delayRead (2, std::chrono::milliseconds (c.lateMs), c.how);
        const auto from = rig.RunStep ([&] { return rig.link->CheckRange (0, {}, 0, 0, 0x10000, Communication::kFillErased); });
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, c.done, from), 1);
        EXPECT_TRUE (rig.timeline.Log (from).contains (c.logged)) << rig.timeline.Log (from);
        EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());
    }
}
