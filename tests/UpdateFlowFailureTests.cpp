// Updates that fail, through the real panel against the simulated module:
// each shows its box, leaves the update flow at rest with the connection
// restarted, and a second "Program" works again.
#include <filesystem>
#include "tests/UpdateFlowSupport.h"

using namespace flow;

namespace
{
    /** Presses "Program" with a small image and expects the update to complete. */
    ::testing::AssertionResult SecondUpdateCompletes (PanelHarness& h, SimulatedModule& module)
    {
        const auto image = h.MakeImage ("second.bin", 0x40000, true, false, 77);
        h.Choose (image);
        module.clearRecords();
        const auto before = h.boxes.size();
        if (auto pressed = Press (h); ! pressed)
            return pressed;
        if (! RunUntilBoxes (h, before + 1, 60000))
            return ::testing::AssertionFailure() << "no box after the second \"Program\"";
        if (h.boxes.back().text != kCompleted)
            return ::testing::AssertionFailure() << "second update: " << BoxTexts (h);
        return FlashHolds (module, 0, PanelHarness::Bytes (image), 0, 0x40000);
    }

    /** Boxes with this text. */
    int CountBoxes (const PanelHarness& h, const juce::String& text)
    {
        int n = 0;
        for (auto& b : h.boxes)
            n += b.text == text ? 1 : 0;
        return n;
    }
}

TEST (UpdateFlowFailure, NoDriverThatFitsShowsErrorCode21OnceAndRestartsTheConnection)
{
    PanelHarness h;
    auto module = h.bus->addModule (ModuleConfig (SimMode::Loader, 1, "KV99X000"));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    h.Choose (h.MakeImage ("image.bin", 0x40000));

    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 30000)) << Diagnose (h, module.get());
    EXPECT_EQ (h.boxes[0].text, "Error Code 21\n");
    // Every file of the driver folder was tried once.
    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 7);
    EXPECT_EQ (module->receivedCount (SimCommand::CheckFlash), 7);
    EXPECT_EQ (g_hFind, nullptr);
    EXPECT_TRUE (BackToConnected (h, false));
    EXPECT_EQ (CountBoxes (h, "Error Code 21\n"), 1);
    EXPECT_TRUE (module->operations().empty());

    // "Program" starts a new search.
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 2, 30000));
    EXPECT_EQ (h.boxes[1].text, "Error Code 21\n");
    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 14);
    EXPECT_TRUE (BackToConnected (h, false));
    EXPECT_EQ (h.BoxesWithoutTheirOutcome(), "");
}

TEST (UpdateFlowFailure, ACloseAResetOrThePanelGoingDuringTheSwitchPauseEndItThere)
{
    enum class End { Close, Reset, PanelGone };
    for (const auto end : { End::Close, End::Reset, End::PanelGone })
    {
        SCOPED_TRACE ((int) end);
        PanelHarness h;
        auto module = h.AddModule (SimMode::Application);
        h.Start();
        ASSERT_TRUE (h.WaitConnected());
        h.Choose (h.MakeImage ("image.bin", 0x40000));
        ASSERT_TRUE (Press (h));
        ASSERT_TRUE (RunLoopUntil ([&] { return h.panel->IsSwitchPausing(); }, 10000));

        if (end == End::Close)
        {
            // Carried out within the pause: the module was never probed in its loader.
            g_bQuitRequested = true;
            ASSERT_TRUE (RunLoopUntil ([&] { return h.quits.load() > 0; }, 10000));
            EXPECT_FALSE (h.panel->IsSwitchPausing());
            EXPECT_FALSE (g_bPortsOpen.load());
            for (const auto& r : module->received (SimCommand::LoaderProbe))
                EXPECT_EQ (r.mode, SimMode::Application);
        }
        else if (end == End::Reset)
        {
            h.panel->RestartConnection();
            EXPECT_FALSE (h.panel->IsSwitchPausing());
            EXPECT_TRUE (BackToConnected (h, false));
        }
        else
        {
            h.panel.reset();
            PumpMessages (50);
        }
        EXPECT_TRUE (h.boxes.empty()) << BoxTexts (h);
    }
}

TEST (UpdateFlowFailure, AModuleGoneBeforeItsApplicationAnswerEndsTheSwitchAtOnce)
{
    // Gone for good, back in application mode, back in its loader.
    struct Case { const char* name; int returnAfterMs; SimMode mode; };
    for (const Case c : { Case { "gone", -1, SimMode::Application }, Case { "back in application mode", 2000, SimMode::Application },
                          Case { "back in its loader", 2000, SimMode::Loader } })
    {
        SCOPED_TRACE (c.name);
        PanelHarness h;
        auto module = h.AddModule (SimMode::Application);
        h.Start();
        ASSERT_TRUE (h.WaitConnected());
        h.Choose (h.MakeImage ("image.bin", 0x40000));
        module->vanishAtNext (SimCommand::ApplicationProbe, c.returnAfterMs, c.mode);
        ASSERT_TRUE (Press (h));

        // The first unanswered cycle ends the switch, not the search's time-out a minute later.
        ASSERT_TRUE (RunLoopUntil ([] { return g_nSwitchState.load() == 0; }, 3000)) << Diagnose (h, module.get());
        EXPECT_TRUE (FlowAtRest (h));
        EXPECT_EQ (g_hFind, nullptr);
        // A drop and "Browse..." choose files again.
        const auto other = h.MakeImage ("other.bin", 0x20000);
        h.panel->GetBrowseButton()->filesDropped ({ other.getFullPathName() }, 5, 5);
        EXPECT_TRUE (RunLoopUntil ([&] { return g_nFileSize.load() == 0x20000; }, 3000));
        if (c.returnAfterMs < 0)
        {
            h.Choose (h.MakeImage ("third.bin", 0x30000));
            EXPECT_EQ (g_nFileSize.load(), 0x30000);
            EXPECT_FALSE (h.panel->GetProgramButton()->isEnabled());
        }
        else
        {
            // The module that comes back is not switched by the old click; "Program" starts afresh.
            ASSERT_TRUE (h.WaitConnected (10000));
            EXPECT_EQ (module->receivedCount (SimCommand::Restart), 0);
            EXPECT_TRUE (SecondUpdateCompletes (h, *module));
        }
        EXPECT_TRUE (h.boxes.size() <= 1 && ! h.HasBox ("Time Out,Please Check Help.\n")) << BoxTexts (h);
    }
}

TEST (UpdateFlowFailure, DriverFolderWithNothingToTryShowsErrorCode21AtOnceAndKeepsTheLog)
{
    PanelHarness h;
    auto drivers = h.folder.getChildFile ("Drivers");
    ASSERT_TRUE (drivers.deleteRecursively() && drivers.createDirectory());
    // Nothing the catalog counts (no ".bin" name), a driver under a dot name, a note.
    ASSERT_TRUE (h.folder.getChildFile ("QvDoc/Special.bin").copyFileTo (drivers.getChildFile (".hidden")));
    ASSERT_TRUE (drivers.getChildFile ("notes.txt").replaceWithText ("old drivers are elsewhere\n"));
    auto module = h.bus->addModule (ModuleConfig (SimMode::Loader));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    h.Choose (h.MakeImage ("image.bin", 0x40000));

    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 10000)) << Diagnose (h, module.get());
    EXPECT_EQ (h.boxes[0].text, "Error Code 21\n");
    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 0);
    EXPECT_EQ (g_hFind, nullptr);
    EXPECT_TRUE (BackToConnected (h));
    EXPECT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    // The log keeps what start-up wrote, and says what the search passed over.
    const auto log = h.panel->GetLogText();
    EXPECT_TRUE (log.startsWith ("No flash driver found.")) << log;
    EXPECT_TRUE (log.contains ("Skipped notes.txt: it holds no sector table.\n")) << log;
}

TEST (UpdateFlowFailure, MissingDataFilesOrNoUpdateForTheMcuStopTheModelUpdateBeforeAnythingIsWritten)
{
    // Without the QVM410 driver of the chip, the QVM428 one is found first.
    const char* const qvm428 = "Drivers/QVM410_KV29F064.bin";
    struct Case { const char* name; std::vector<const char*> missing; const char* chip; const char* box; bool stoppedJob; };
    const Case cases[] = {
        { "QVM410: boot image before special driver", { "QvDoc/boot2.bin", "QvDoc/Special.bin" }, "KV29F064", "Error Code 2\n", true },
        { "QVM410: special driver", { "QvDoc/Special.bin" }, "KV29F064", "Error Code 25\n", true },
        { "QVM428: boot image before special driver", { qvm428, "QvDoc/flashpgm.bin", "QvDoc/Special418.bin" }, "KV29F064", "Error Code 4\n", true },
        { "QVM428: special driver", { qvm428, "QvDoc/Special418.bin" }, "KV29F064", "Error Code 26\n", true },
        // No workflow starts at all; the reason is in the log too.
        { "no update for the MCU", {}, "KV29F256-TOPBOOT", "No update fits the module's MCU \"QVM900-EVAL-KITS\".\n", false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        PanelHarness h;
        for (auto* name : c.missing)
            ASSERT_TRUE (h.folder.getChildFile (name).deleteFile());
        auto module = h.bus->addModule (ModuleConfig (SimMode::Loader, 1, c.chip));
        h.Start();
        ASSERT_TRUE (h.WaitConnected());
        h.Choose (h.MakeImage ("large.bin", 0x80000));

        ASSERT_TRUE (Press (h));
        ASSERT_TRUE (RunUntilBoxes (h, 1, 30000)) << Diagnose (h, module.get());
        ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
        EXPECT_EQ (h.boxes[0].text, c.box);
        EXPECT_EQ (h.panel->GetLogText().endsWith (c.box), ! c.stoppedJob);
        // The workflow started by the phase machine stopped: no phase is left behind.
        EXPECT_EQ (g_nJobPhase.load(), 0);
        EXPECT_TRUE (module->operations().empty());
        EXPECT_TRUE (BackToConnected (h, c.stoppedJob));
        EXPECT_EQ (h.quits.load(), 0);

        EXPECT_TRUE (SecondUpdateCompletes (h, *module));
        EXPECT_EQ (h.BoxesWithoutTheirOutcome(), "");
    }

    // No flash type selected (the update flow always selects one first).
    PanelHarness h;
    h.Start();
    h.panel->StartFileJob();
    EXPECT_EQ (BoxTexts (h), "[Error Code 3] ");
    EXPECT_EQ (h.BoxesWithoutTheirOutcome(), "");
}

TEST (UpdateFlowFailure, FilesThatCannotBeUsedAreRefusedBeforeTheModuleIsTouched)
{
    PanelHarness h;
    auto module = h.bus->addModule (ModuleConfig (SimMode::Loader));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());

    // No "BD" at 0xFFF8 nor at 0x3FFF8.
    h.Choose (h.MakeImage ("nomarker.bin", 0x80000, false, false));
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 10000));
    EXPECT_EQ (h.boxes[0].text, "Error Code 24\n");
    EXPECT_TRUE (BackToConnected (h));

    // A file that is gone by the time "Program" is pressed.
    const auto gone = h.MakeImage ("gone.bin", 0x40000);
    h.Choose (gone);
    ASSERT_TRUE (gone.deleteFile());
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 2, 10000));
    EXPECT_EQ (h.boxes[1].text, "Error Code 23\n");
    EXPECT_TRUE (BackToConnected (h));

    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 0);
    EXPECT_EQ (h.boxes.size(), 2u) << BoxTexts (h);
    EXPECT_TRUE (SecondUpdateCompletes (h, *module));
    EXPECT_EQ (h.BoxesWithoutTheirOutcome(), "");
}

TEST (UpdateFlowFailure, CompareFailingThreeTimesRepeatsItsGroupAndCountsItOnce)
{
    PanelHarness h;
    auto module = h.bus->addModule (ModuleConfig (SimMode::Loader));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    const auto image = h.MakeImage ("image.bin", 0x60000);
    h.Choose (image);

    // The first group's 32 blocks are lost three times over: three compares fail, the fourth passes.
    module->loseNextProgramBlocks (3 * 32);
    ASSERT_TRUE (Press (h));
    ProgressWatch watch;
    ASSERT_TRUE (RunUntilBoxes (h, 1, 60000, &watch)) << Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, kCompleted);

    const auto log = h.panel->GetLogText();
    EXPECT_NE (log.indexOf ("Retry 3!\n"), -1) << log;
    EXPECT_EQ (log.indexOf ("Retry 4!"), -1) << log;
    int lost = 0;
    for (const auto& op : module->operations())
        lost += op.kind == SimFlashOp::ProgramLost && op.address == 0 && op.length == 0x20000 ? 1 : 0;
    EXPECT_EQ (lost, 3);
    EXPECT_EQ (Programmed (*module), (std::vector<Range> { { 0, 0x20000 }, { 0x20000, 0x20000 }, { 0x40000, 0x20000 } }));
    EXPECT_TRUE (FlashHolds (*module, 0, PanelHarness::Bytes (image), 0, 0x60000));

    // The repeated writes did not count: the bar never went past the work done, nor back.
    EXPECT_EQ (h.panel->GetDoneBytes(), 0x60000);
    EXPECT_EQ (h.panel->GetTotalBytes(), 0x60000);
    EXPECT_FALSE (watch.wentBack);
    EXPECT_FALSE (watch.invalid);
    EXPECT_DOUBLE_EQ (h.panel->GetProgress(), 1.0);
}

TEST (UpdateFlowFailure, CompareThatAlwaysFailsEndsWithErrorCode11)
{
    PanelHarness h;
    auto module = h.bus->addModule (ModuleConfig (SimMode::Loader));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    h.Choose (h.MakeImage ("image.bin", 0x60000));

    module->loseNextProgramBlocks (1 << 20);
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 60000)) << Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, "Error Code 11\n");
    // Eleven writes of the first group, none of a later one.
    int lost = 0;
    for (const auto& op : module->operations())
        lost += op.kind == SimFlashOp::ProgramLost ? 1 : 0;
    EXPECT_EQ (lost, 11);
    EXPECT_TRUE (BackToConnected (h));
    EXPECT_EQ (h.quits.load(), 0);

    module->clearFaults();
    EXPECT_TRUE (SecondUpdateCompletes (h, *module));
}

TEST (UpdateFlowFailure, ModuleFallingSilentWhileProgrammingEndsWithErrorCode7)
{
    PanelHarness h;
    // Blocks that take a moment to program: the later groups run for many turns
    // of the test's loop, so the fault below is armed before they are written.
    auto config = ModuleConfig (SimMode::Loader);
    config.latencies.blockAck = std::chrono::milliseconds (3);
    auto module = h.bus->addModule (config);
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    h.Choose (h.MakeImage ("image.bin", 0x60000));

    // Once the first group is written, one program block of a later group goes unanswered.
    bool armed = false;
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 30000, nullptr, [&]
    {
        if (! armed && ! Programmed (*module).empty())
        {
            armed = true;
            module->dropNextReplies (SimCommand::ProgramBlock, 1);
        }
    })) << Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, "Error Code 7\n");
    EXPECT_TRUE (armed);
    EXPECT_TRUE (BackToConnected (h));
    EXPECT_EQ (h.quits.load(), 0);

    // A corrected image of the same size takes the old one's place, keeping its
    // time stamp as a copy does: the next update writes and verifies that one.
    const auto image = h.folder.getChildFile ("image.bin");
    const auto stamp = image.getLastModificationTime();
    const auto corrected = PanelHarness::Bytes (h.MakeImage ("image.bin", 0x60000, true, false, 99));
    ASSERT_TRUE (image.setLastModificationTime (stamp));
    module->clearRecords();
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 2, 60000)) << Diagnose (h, module.get());
    EXPECT_EQ (h.boxes[1].text, kCompleted);
    EXPECT_TRUE (FlashHolds (*module, 0, corrected, 0, corrected.size()));
}

TEST (UpdateFlowFailure, DriverAddedAfterStartUpIsSkippedAndNeverSent)
{
    PanelHarness h;
    auto module = h.bus->addModule (ModuleConfig (SimMode::Loader));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    // A driver that fits, added after start-up: the search comes to it first, the catalog does not hold it.
    const auto added = h.folder.getChildFile ("Drivers/AAA_KV29F064.bin");
    ASSERT_TRUE (h.folder.getChildFile ("Drivers/QVM410_KV29F064.bin").copyFileTo (added));
    h.Choose (h.MakeImage ("image.bin", 0x40000));

    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 60000)) << Diagnose (h, module.get());
    EXPECT_EQ (h.boxes[0].text, kCompleted) << BoxTexts (h);
    h.panel->GetLogText();   // text still gathering goes to the recorder too
    EXPECT_TRUE (h.recorder.text.contains ("Skipped AAA_KV29F064.bin: it is not in the driver catalog")) << h.recorder.text;
    // Checked: the three QVM410 drivers of the catalog up to the one that fits, and that one again for its flash type.
    EXPECT_EQ (CountBefore (*module, SimCommand::CheckFlash, SimCommand::EraseSector), 4);
}

TEST (UpdateFlowFailure, BrowseMeasuresSizesIn64BitsAndRefusesFilesOf2GiBOrMore)
{
    PanelHarness h;
    h.Start();
    // Sparse files: their size costs no disk space.
    const auto sized = [&] (const char* name, std::uintmax_t size)
    {
        const auto f = h.folder.getChildFile (name);
        f.create();
        std::filesystem::resize_file (f.getFullPathName().toStdString(), size);
        return f;
    };

    h.Choose (sized ("full.bin", 0x0C000000));
    EXPECT_EQ (g_nFileSize.load(), 0x0C000000);
    EXPECT_TRUE (g_bFullImage.load());
    h.Choose (sized ("fullplus.rom", 0x0C000001));
    EXPECT_EQ (g_nFileSize.load(), 0x0C000001);
    EXPECT_FALSE (g_bFullImage.load());
    h.Choose (sized ("largest.bin", 0x7FFFFFFF));
    EXPECT_EQ (g_nFileSize.load(), 0x7FFFFFFF);
    EXPECT_EQ (h.panel->GetLogText().indexOf ("Please choose Write File!"), -1);

    const auto huge = sized ("huge.bin", 0x80000000u);
    h.Choose (huge);
    EXPECT_EQ (h.panel->GetFileLabelText(), huge.getFullPathName());
    EXPECT_EQ (g_nFileSize.load(), 0x7FFFFFFF);
    EXPECT_TRUE (h.panel->GetLogText().endsWith ("Please choose Write File!\n"));
    h.Choose (sized ("huger.bin", 0x100000000ull + 0x1000));
    EXPECT_EQ (g_nFileSize.load(), 0x7FFFFFFF);
}

TEST (UpdateFlowFailure, ProgressWithNothingToProgramShowsZero)
{
    PanelHarness h;
    h.Start();
    ASSERT_EQ (h.panel->GetTotalBytes(), 0);
    g_bEraseOnly = 1;
    h.panel->handleMessage (NotifyMessage (kProgressMessage, 1, 0, std::make_unique<ProgressRecord> (3, 4)));
    EXPECT_EQ (h.panel->GetProgress(), 0.0);
    EXPECT_TRUE (h.panel->GetProgressBar()->isVisible());
    g_bEraseOnly = 0;
}
