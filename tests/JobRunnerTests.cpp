// The step queue through the real panel and the simulated module: starting,
// failing to start, retrying a verify group, progress accounting, and the
// record's shared places.
#include <algorithm>
#include <map>
#include <gtest/gtest.h>
#include "tests/PanelTestSupport.h"

namespace
{
    constexpr int kGroupWords = 0x8000;   // one 64 KiB sector of the demo chip, in words

    juce::String MatchingDriver (const PanelHarness& h)
    {
        return h.folder.getChildFile ("Drivers/QVM410_KV29F064.bin").getFullPathName();
    }

    /** Queues a verify group as the workflows do: upload, erase and program, read back, compare. */
    void AddGroup (MainComponent& panel, const juce::String& driver, const juce::String& file, int words)
    {
        auto& r = panel.GetJobRunner();
        r.AddSendDriver (driver.toWideCharPointer());
        r.AddEraseProgram (file.toWideCharPointer(), 0, words, words, kGroupWords);
        r.AddRead (panel.GetCompareTempPath(), 0, words, kGroupWords);
        r.AddCompare (file.toWideCharPointer(), 2 * words, panel.GetCompareTempPath());
    }

    /** Runs the loop until the queue has been run out and emptied at the job's end. */
    bool WaitQueueDone (MainComponent& panel)
    {
        return RunLoopUntil ([&] { return panel.GetJobRunner().GetStepCount() == 0
                                          && panel.GetJobRunner().GetCurrentStep() == nullptr; }, 60000);
    }

    /** Erases the module did, per byte address. */
    std::map<uint64_t, int> EraseCounts (const SimulatedModule& module)
    {
        std::map<uint64_t, int> counts;
        for (auto& op : module.operations())
            if (op.kind == SimFlashOp::Erase)
                ++counts[op.address];
        return counts;
    }

    /** A connected panel with one module, set up as a running job sees it. */
    struct RunnerFixture
    {
        explicit RunnerFixture (int fsFlag = 1)
        {
            module = h.AddModule (SimMode::Loader, fsFlag);
            h.Start();
            connected = h.WaitConnected();
            // Steps run while the update flow is in a job phase: the link's timer is then the watchdog.
            g_nJobPhase = 8;
        }
        ~RunnerFixture() { g_nJobPhase = 0; }

        PanelHarness h;
        std::shared_ptr<SimulatedModule> module;
        bool connected = false;
    };
}

TEST (JobRunner, AnEmptyQueueIsExhaustedAtOnceAndClearStepsLeavesNoCurrentStep)
{
    PanelHarness h;
    auto& runner = h.Start().GetJobRunner();
    EXPECT_TRUE (runner.RunNext());
    EXPECT_EQ (runner.GetCurrentStep(), nullptr);
    EXPECT_TRUE (runner.RunNext());

    runner.AddCheckFlash (0);
    runner.ClearSteps();
    EXPECT_EQ (runner.GetStepCount(), 0);
    EXPECT_EQ (runner.GetNextIndex(), 0);
    EXPECT_EQ (runner.GetCurrentStep(), nullptr);
    EXPECT_TRUE (runner.RunNext());
}

TEST (JobRunner, AFirstStepThatCannotStartEmptiesTheQueue)
{
    RunnerFixture f;
    ASSERT_TRUE (f.connected);
    auto& panel = *f.h.panel;
    auto& runner = panel.GetJobRunner();
    const auto missing = f.h.folder.getChildFile ("Drivers/missing.bin").getFullPathName();
    const auto sample = f.h.folder.getChildFile ("Sample.bin").getFullPathName();

    runner.AddSendDriver (missing.toWideCharPointer());
    runner.AddCheckFlash (0);
    AddGroup (panel, MatchingDriver (f.h), sample, 0);
    EXPECT_FALSE (runner.RunNext());
    EXPECT_EQ (runner.GetStepCount(), 0);
    EXPECT_EQ (runner.GetCurrentStep(), nullptr);
    EXPECT_TRUE (runner.RunNext());
    EXPECT_EQ (f.h.boxes.size(), 1u);

    // The stop notification restores the panel; nothing of the queue ever reached the module.
    PumpMessages (100);
    EXPECT_TRUE (panel.GetMCUCombo()->isEnabled());
    EXPECT_EQ (f.module->receivedCount (SimCommand::LoadDriver), 0);
    EXPECT_EQ (f.module->receivedCount (SimCommand::CheckFlash), 0);
    EXPECT_EQ (f.module->receivedCount (SimCommand::EraseSector), 0);
}

TEST (JobRunner, AFailedCompareInTheSecondGroupRestartsThatGroupOnlyAndIsNotCountedTwice)
{
    RunnerFixture f;
    ASSERT_TRUE (f.connected);
    auto& panel = *f.h.panel;
    auto& runner = panel.GetJobRunner();
    // The first sector's data is erased flash (0xFF): a program block lost there changes
    // nothing, so the 17th lost block is the first one of the second group.
    auto image = f.h.MakeImage ("two.bin", 4 * kGroupWords);
    {
        auto bytes = PanelHarness::Bytes (image);
        std::fill (bytes.begin(), bytes.begin() + 0x10000, (uint8_t) 0xFF);
        image.replaceWithData (bytes.data(), bytes.size());
    }
    const int blocksPerGroup = 0x10000 / 4096;

    AddGroup (panel, MatchingDriver (f.h), image.getFullPathName(), 0);
    AddGroup (panel, MatchingDriver (f.h), image.getFullPathName(), kGroupWords);
    f.module->loseNextProgramBlocks (blocksPerGroup + 1);
    runner.RunNext();

    ASSERT_TRUE (WaitQueueDone (panel)) << panel.GetLogText();
    EXPECT_TRUE (f.h.boxes.empty());
    // Group 0 once, group 1 twice: three uploads, sector 0 erased once, sector 1 twice.
    EXPECT_EQ (f.module->receivedCount (SimCommand::LoadDriver), 3);
    auto erases = EraseCounts (*f.module);
    EXPECT_EQ (erases[0], 1);
    EXPECT_EQ (erases[0x10000], 2);
    EXPECT_EQ (f.module->receivedCount (SimCommand::ProgramBlock), 3 * blocksPerGroup);
    EXPECT_EQ (f.module->readFlash (0, 0x20000), PanelHarness::Bytes (image));
    // Each program step counted once: 2 x 64 KiB.
    EXPECT_EQ (panel.GetDoneBytes(), 0x20000);
}

TEST (JobRunner, AFailedCompareInTheFirstGroupRestartsAtStepZero)
{
    RunnerFixture f;
    ASSERT_TRUE (f.connected);
    auto& panel = *f.h.panel;
    const auto image = f.h.MakeImage ("one.bin", 2 * kGroupWords);

    AddGroup (panel, MatchingDriver (f.h), image.getFullPathName(), 0);
    f.module->loseNextProgramBlocks (1);
    panel.GetJobRunner().RunNext();

    ASSERT_TRUE (WaitQueueDone (panel)) << panel.GetLogText();
    EXPECT_TRUE (f.h.boxes.empty());
    EXPECT_EQ (f.module->receivedCount (SimCommand::LoadDriver), 2);
    EXPECT_EQ (EraseCounts (*f.module)[0], 2);
    EXPECT_EQ (f.module->readFlash (0, 0x10000), PanelHarness::Bytes (image));
    EXPECT_EQ (panel.GetDoneBytes(), 0x10000);
}

TEST (JobRunner, ACheckedGroupRetriedAfterAFailedCompareStartsAtItsUploadAndChecksNoMore)
{
    RunnerFixture f;
    ASSERT_TRUE (f.connected);
    auto& panel = *f.h.panel;
    auto& runner = panel.GetJobRunner();
    const auto image = f.h.MakeImage ("one.bin", 2 * kGroupWords);
    const auto file = image.getFullPathName();

    // The erased sector differs at its first block: the check reads that one and lets the group write.
    runner.AddSendDriver (MatchingDriver (f.h).toWideCharPointer());
    runner.AddCheck (file.toWideCharPointer(), 0, 0, 0, kGroupWords, Communication::kFillFile, 3, 0x10000);
    runner.AddEraseProgram (file.toWideCharPointer(), 0, 0, 0, kGroupWords);
    runner.AddRead (panel.GetCompareTempPath(), 0, 0, kGroupWords);
    runner.AddCompare (file.toWideCharPointer(), 0, panel.GetCompareTempPath());
    f.module->loseNextProgramBlocks (1);
    runner.RunNext();

    ASSERT_TRUE (WaitQueueDone (panel)) << panel.GetLogText();
    EXPECT_TRUE (f.h.boxes.empty());
    EXPECT_EQ (f.module->receivedCount (SimCommand::LoadDriver), 2);
    EXPECT_EQ (EraseCounts (*f.module)[0], 2);
    EXPECT_EQ (f.module->receivedCount (SimCommand::ReadBlock), 1 + 2 * 16);
    EXPECT_EQ (f.module->readFlash (0, 0x10000), PanelHarness::Bytes (image));
}

TEST (JobRunner, AFailedCompareWithFewerThanFourStepsRunRestartsAtStepZero)
{
    RunnerFixture f (0);   // no read trailer: a damaged read reaches the compare
    ASSERT_TRUE (f.connected);
    auto& panel = *f.h.panel;
    auto& runner = panel.GetJobRunner();
    const auto image = f.h.MakeImage ("flash.bin", 2 * kGroupWords);
    f.module->preloadFlash (0, PanelHarness::Bytes (image));

    runner.AddSendDriver (MatchingDriver (f.h).toWideCharPointer());
    runner.AddRead (panel.GetCompareTempPath(), 0, 0, kGroupWords);
    runner.AddCompare (image.getFullPathName().toWideCharPointer(), 0, panel.GetCompareTempPath());
    f.module->damageNextReads (SimReadDamage::Data, 1);
    runner.RunNext();

    ASSERT_TRUE (WaitQueueDone (panel)) << panel.GetLogText();
    EXPECT_TRUE (f.h.boxes.empty());
    // The whole three-step queue ran twice.
    EXPECT_EQ (f.module->receivedCount (SimCommand::LoadDriver), 2);
    EXPECT_EQ (f.module->receivedCount (SimCommand::ReadBlock), 2 * (2 * kGroupWords / 4096));
    EXPECT_EQ (panel.GetDoneBytes(), 0);
}

TEST (JobRunner, AStepFinishedNotificationWithNoStepRunningIsIgnored)
{
    RunnerFixture f;
    ASSERT_TRUE (f.connected);
    auto& panel = *f.h.panel;
    auto& runner = panel.GetJobRunner();
    runner.AddSendDriver (MatchingDriver (f.h).toWideCharPointer());
    runner.AddCheckFlash (0);
    ASSERT_EQ (runner.GetCurrentStep(), nullptr);

    panel.handleMessage (NotifyMessage (kStepDoneMessage, 0));
    panel.handleMessage (NotifyMessage (kStepDoneMessage, 1));
    PumpMessages (100);
    // Nothing started, nothing ended: the queue waits as it was, the lists stay disabled.
    EXPECT_EQ (runner.GetNextIndex(), 0);
    EXPECT_EQ (runner.GetStepCount(), 2);
    EXPECT_EQ (f.module->receivedCount (SimCommand::LoadDriver), 0);
    EXPECT_FALSE (panel.GetMCUCombo()->isEnabled());
    EXPECT_TRUE (f.h.boxes.empty());
    runner.ClearSteps();
}

TEST (JobRunner, StepRecordsShareThePathPlaceWithThePageAndTheArgumentsWithTheSecondPath)
{
    PanelHarness h;
    auto& runner = h.Start().GetJobRunner();
    const wchar_t* written = L"/data/written.bin";
    const wchar_t* readBack = L"/data/read back.rom";

    runner.AddCheckFlash (0x400);
    runner.AddCompare (written, 0x1234, readBack);
    runner.AddProgramZero (3, 0x7800);
    runner.AddErase (1, 0x20000, 0x10000);
    ASSERT_EQ (runner.GetStepCount(), 4);

    const auto& check = runner.GetStep (0);
    EXPECT_EQ (check.nKind, kStepCheckFlash);
    int32_t inPathPlace = 0;
    std::memcpy (&inPathPlace, check.szPath, sizeof (inPathPlace));
    EXPECT_EQ (inPathPlace, 0x400);

    const auto& compare = runner.GetStep (1);
    EXPECT_EQ (compare.nKind, kStepCompare);
    EXPECT_EQ (std::wstring (compare.szPath), written);
    EXPECT_EQ (compare.nArg0, 0x1234);
    EXPECT_EQ (static_cast<const void*> (compare.szPath2), static_cast<const void*> (&compare.nArg1));
    EXPECT_EQ (std::wstring (compare.szPath2), readBack);

    const auto& zero = runner.GetStep (2);
    EXPECT_EQ (zero.nKind, kStepProgramZero);
    EXPECT_EQ (zero.nArg0, 3);
    EXPECT_EQ (zero.nArg1, 0);
    EXPECT_EQ (zero.nArg2, 0x7800);
    EXPECT_EQ (zero.nArg3, 0x800);

    const auto& erase = runner.GetStep (3);
    EXPECT_EQ (erase.nKind, kStepErase);
    EXPECT_EQ (erase.nArg0, 1);
    EXPECT_EQ (erase.nArg2, 0x20000);
    EXPECT_EQ (erase.nArg3, 0x10000);
    runner.ClearSteps();
}

TEST (JobRunner, APathLongerThanTheBufferIsCutAndTerminated)
{
    PanelHarness h;
    auto& runner = h.Start().GetJobRunner();
    const auto longPath = juce::String::repeatedString ("d", 400);
    runner.AddSendDriver (longPath.toWideCharPointer());
    EXPECT_EQ (std::wstring (runner.GetStep (0).szPath).size(), (size_t) kMaxPath - 1);
    runner.ClearSteps();
}

TEST (JobRunner, AutoPaceStepsDownRungByRungWhileTheSignsOfARunStayWithinTheirWindow)
{
    // { ms of the sign, a step finished just before it, the verdict, the pace then in use }
    struct Sign { double atMs; bool afterFinishedStep; CAutoPace::Verdict verdict; SysExPace pace; };
    using V = CAutoPace::Verdict;
    const Sign signs[] = {
        { 0, false, V::Slower, { 255, 85 } },
        { 14000, false, V::Slower, { 96, 32 } },
        { 15001, false, V::Bound, { 96, 32 } },       // the run began at 0: too long since
        { 60000, true, V::Slower, { 48, 24 } },       // a finished step broke the run
        { 61000, false, V::Floor, { 48, 24 } },
    };
    CAutoPace pace;
    pace.Begin ({});
    for (const auto& s : signs)
    {
        if (s.afterFinishedStep)
            pace.StepFinished();
        EXPECT_EQ (pace.StepDown (s.atMs), s.verdict) << s.atMs;
        EXPECT_EQ (pace.Current(), s.pace) << s.atMs;
        EXPECT_EQ (FoundSysExPace(), s.pace) << "the outputs send at the pace in use";
    }
    EXPECT_TRUE (pace.Start().IsOff());
    SetFoundSysExPace ({});
}
