// Updates that fail, through the real panel against the simulated module:
// each shows its box, leaves the update flow at rest with the connection
// restarted, and a second "Program" works again.
#include <filesystem>
#include "sim/LossyPorts.h"
#include "tests/PanelTestSupport.h"
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

    /** Presses "Program" as the module's answer to a probe cycle is shown, with `fault`
        set up before the next probe goes out: the fault comes right after the click. */
    ::testing::AssertionResult PressAfterAnswer (PanelHarness& h, const std::function<void()>& fault)
    {
        bool pressed = false;
        h.recorder.onConnected = [&]
        {
            if (pressed || ! g_bConnected)
                return;
            pressed = true;
            fault();
            h.PressProgram();
        };
        const bool switching = RunLoopUntil ([] { return g_nSwitchState.load() != 0; }, 15000);
        h.recorder.onConnected = nullptr;
        if (! switching)
            return ::testing::AssertionFailure() << "\"Program\" did not start the switch; status " << h.panel->GetStatusText();
        return ::testing::AssertionSuccess();
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

TEST (UpdateFlowFailure, AnswersLostRightAfterProgramCancelNothing)
{
    // Each fault starts with the first probe after the click. "Another file": while the
    // switch waits, a file dropped is for the next "Program", which then writes it.
    struct Case { const char* name; int lost; int loaderAfterMs; bool dropFile; int restarts; };
    for (const Case c : { Case { "one answer lost", 1, -1, false, 1 }, Case { "two answers lost", 2, -1, false, 1 },
                          Case { "back in its loader on its own", 0, 1500, false, 0 },
                          Case { "another file while it waits", 3, -1, true, 1 } })
    {
        SCOPED_TRACE (c.name);
        PanelHarness h;
        auto module = h.AddModule (SimMode::Application);
        h.Start();
        auto image = h.MakeImage ("image.bin", 0x40000);
        h.Choose (image);
        ASSERT_TRUE (PressAfterAnswer (h, [&]
        {
            if (c.lost > 0)
                module->dropNextReplies (SimCommand::ApplicationProbe, c.lost);
            else
                module->vanishAtNext (SimCommand::ApplicationProbe, c.loaderAfterMs, SimMode::Loader, 1);
        }));

        // The switch waits through the unanswered cycles, shown as a search.
        bool searchedWhileWaiting = false;
        const auto watch = [&]
        {
            if (g_nSwitchState != 1 || ! h.panel->GetStatusText().contains ("connecting"))
                return;
            searchedWhileWaiting = true;
            EXPECT_FALSE (h.panel->GetProgramButton()->isEnabled());
            if (c.dropFile && image.getFileName() == "image.bin")
            {
                image = h.MakeImage ("other.bin", 0x20000, true, false, 9);
                h.panel->GetBrowseButton()->filesDropped ({ image.getFullPathName() }, 5, 5);
                ASSERT_TRUE (RunLoopUntil ([&] { return g_nFileSize.load() == 0x20000; }, 3000));
                EXPECT_EQ (g_nSwitchState.load(), 0);
                EXPECT_EQ (g_hFind, nullptr);
                EXPECT_EQ (module->receivedCount (SimCommand::Restart), 0);
            }
        };
        if (c.dropFile)
        {
            ASSERT_TRUE (RunLoopUntil ([&] { watch(); return g_nFileSize.load() == 0x20000; }, 10000));
            ASSERT_TRUE (Press (h));
        }
        ASSERT_TRUE (RunUntilBoxes (h, 1, 60000, nullptr, watch)) << Diagnose (h, module.get());
        EXPECT_TRUE (searchedWhileWaiting);
        EXPECT_EQ (h.boxes[0].text, kCompleted) << BoxTexts (h);
        EXPECT_EQ (module->receivedCount (SimCommand::Restart), c.restarts);
        EXPECT_TRUE (FlashHolds (*module, 0, PanelHarness::Bytes (image), 0, (size_t) image.getSize()));
        EXPECT_EQ (h.BoxesWithoutTheirOutcome(), "");
    }
}

TEST (UpdateFlowFailure, AModuleThatNeverComesBackEndsInTheSearchTimeOut)
{
    // Gone before its application answer (the search's unanswered cycles count), or
    // after its restart into the loader (the link counts, and says nothing until the end).
    for (const bool restarted : { false, true })
    {
        SCOPED_TRACE (restarted ? "after its restart" : "before its application answer");
        PanelHarness h;
        auto module = h.AddModule (SimMode::Application);
        h.Start();
        h.Choose (h.MakeImage ("image.bin", 0x40000));
        ASSERT_TRUE (PressAfterAnswer (h, [&]
        {
            if (restarted)
                module->setRestartAbsence (-1);
            else
                module->vanishAtNext (SimCommand::ApplicationProbe);
        }));
        if (restarted)
        {
            ASSERT_TRUE (RunLoopUntil ([&] { return g_nSwitchState == 2 && ! h.panel->IsSwitchPausing(); }, 10000));
            EXPECT_EQ (h.panel->GetStatusText(), "Vorlenz module connected.");   // nothing changes while it restarts
        }

        // The link's cycles, run by hand: a minute of them takes no minute here.
        auto& link = h.panel->GetJobRunner().GetLink();
        const int waiting = g_nSwitchState.load();
        int cycles = 0;
        while (h.boxes.empty() && cycles < 200)
        {
            link.StopTimer();
            link.timerCallback();
            link.StopTimer();
            ++cycles;
            PumpMessages (2);
            if (! h.boxes.empty())
                break;
            ASSERT_EQ (g_nSwitchState.load(), waiting) << "cycle " << cycles;
            if (restarted)
            {
                ASSERT_EQ (g_nSearchTicks, 0) << "cycle " << cycles;
            }
        }
        ASSERT_EQ (h.boxes.size(), 1u) << Diagnose (h, module.get());
        EXPECT_EQ (h.boxes[0].text, "Time Out,Please Check Help.\n");
        EXPECT_EQ (h.BoxesWithoutTheirOutcome(), "");
        // The probe that found it, then 91 unanswered cycles; after the restart, 91 loader probes.
        EXPECT_EQ (cycles, restarted ? 91 : 92);
        EXPECT_EQ (g_nSwitchState.load(), 0);
        EXPECT_TRUE (FlowAtRest (h));
        EXPECT_EQ (module->receivedCount (SimCommand::Restart), restarted ? 1 : 0);
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

TEST (UpdateFlowFailure, OnlyWhatChangedWritesEveryDifferenceRetriesItsComparesAndReadsDamagedChecksAgain)
{
    // The module holds the 0x60000-byte image of the file write but for one byte; sectors of 64 KiB.
    struct Case
    {
        const char* what;
        uint64_t flipped;                        ///< the byte that differs
        int lostBlocks;                          ///< program blocks lost (16 a sector)
        int damagedReads;                        ///< read blocks answered with a flipped data bit
        std::vector<Range> programmed;           ///< what is written in the end
        const char* logged;                      ///< what the log says
    };
    const Case cases[] = {
        { "a difference in a sector's last byte", 0x2FFFF, 0, 0, { { 0x20000, 0x10000 } }, "Differs at 17800.\n" },
        { "a compare failing twice after the write", 0x10000, 2 * 16, 0, { { 0x10000, 0x10000 } }, "Retry 2!\n" },
        { "damaged blocks of the first check", 0x50000, 0, 3, { { 0x50000, 0x10000 } }, "...\nIn place.\n" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        PanelHarness h;
        auto module = h.bus->addModule (ModuleConfig (SimMode::Loader));
        const auto image = h.MakeImage ("image.bin", 0x60000);
        auto start = PanelHarness::Bytes (image);
        start[c.flipped] = (uint8_t) ~start[c.flipped];
        module->preloadFlash (0, start);
        h.Start();
        h.panel->SetOnlyChanged (true);
        ASSERT_TRUE (h.WaitConnected());
        h.Choose (image);
        module->loseNextProgramBlocks (c.lostBlocks);
        ASSERT_TRUE (Press (h));
        // The checks begin once the driver is found: the damage is meant for one of them.
        RunLoopUntil ([&] { return g_nJobPhase >= 3; }, 30000);
        module->damageNextReads (SimReadDamage::Data, c.damagedReads);
        ASSERT_TRUE (RunUntilBoxes (h, 1, 60000)) << Diagnose (h, module.get());
        EXPECT_EQ (h.boxes[0].text, kCompleted);
        EXPECT_EQ (Programmed (*module), c.programmed);
        EXPECT_TRUE (FlashHolds (*module, 0, PanelHarness::Bytes (image), 0, 0x60000));
        EXPECT_NE (h.panel->GetLogText().indexOf (c.logged), -1) << h.panel->GetLogText();
        EXPECT_EQ (h.panel->GetInPlaceBytes(), 0x50000);
        EXPECT_EQ (h.panel->GetWrittenBytes(), 0x10000);
        EXPECT_DOUBLE_EQ (h.panel->GetProgress(), 1.0);
    }
}

TEST (UpdateFlowFailure, ALateReadReplyNeitherHidesADifferenceNorFailsTheReadBack)
{
    // The image of the file write (0x60000 bytes, sectors of 64 KiB) is erased in
    // its third sector; the module holds it but for that sector's last block,
    // which holds older bytes. The answer to the sector's third block comes late,
    // in its check (only what changed) or in its read-back: both read the two
    // sectors before it first.
    struct Case { const char* what; bool onlyChanged; int fsFlag; int lateMs; };
    const Case cases[] = {
        { "only what changed, 1.2 s late", true, 1, 1200 },
        { "only what changed, HS, 3 s late", true, 0, 3000 },
        { "the full update's read-back, 1.2 s late", false, 1, 1200 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        PanelHarness h;
        auto module = h.bus->addModule (ModuleConfig (SimMode::Loader, c.fsFlag));
        const auto file = h.MakeImage ("image.bin", 0x60000);
        auto image = PanelHarness::Bytes (file);
        std::fill (image.begin() + 0x20000, image.begin() + 0x30000, (uint8_t) 0xFF);
        ASSERT_TRUE (file.replaceWithData (image.data(), image.size()));
        auto start = image;
        for (size_t i = 0x2F000; i < 0x30000; ++i)
            start[i] = (uint8_t) i;
        module->preloadFlash (0, start);
        h.Start();
        h.panel->SetOnlyChanged (c.onlyChanged);
        ASSERT_TRUE (h.WaitConnected());
        h.Choose (file);
        module->delayRead (2 * 16 + 2, std::chrono::milliseconds (c.lateMs));
        ASSERT_TRUE (Press (h));
        ASSERT_TRUE (RunUntilBoxes (h, 1, 60000)) << Diagnose (h, module.get());
        EXPECT_EQ (h.boxes[0].text, kCompleted);
        EXPECT_TRUE (FlashHolds (*module, 0, image, 0, 0x60000));
        const auto log = h.panel->GetLogText();
        EXPECT_NE (log.indexOf ("Late reply dropped.\n"), -1) << log;
        EXPECT_EQ (log.indexOf ("Compare FAIL"), -1) << log;
    }
}

TEST (UpdateFlowFailure, PacingAutoStepsDownWhereBytesAreLostAndRemembersThePaceThatCompleted)
{
    // The module behind a cheap interface: a buffer of `buffer` bytes drained at
    // the wire's 3125 bytes/s, losing what overflows (0: a card that loses nothing).
    struct Case
    {
        const char* what;
        const char* pacing;        ///< [Pacing] at the start ([Update] OnlyChanged=1 with `onlyChanged`)
        size_t buffer;
        bool onlyChanged;
        std::function<void (SimulatedModule&)> fault;   ///< armed before "Program"
        const char* box;           ///< how the update ends
        const char* steps;         ///< the paces stepped down to, in order
        const char* found;         ///< [Pacing] Found.<port> afterwards; null: no such key
        bool atSlowestPace;        ///< the outcome says the interface loses bytes whatever the pace
    };
    const auto none = [] (SimulatedModule&) {};
    const Case cases[] = {
        { "nothing remembered (a value that is no pace counts as none): one step, in the driver search",
          "Pace= Auto\nFound.Sim Sound Module=fast\n", 384, false, none, "It is Completed,Please Restart Device\n",
          "255:85", "255:85", false },
        { "the pace found before: no step, nothing rewritten", "Pace=auto\nFound.Sim Sound Module=255:85\n", 384, false, none,
          "It is Completed,Please Restart Device\n", "", "255:85", false },
        { "a compare failing on an interface known to lose bytes: one rung",
          "Pace=auto\nFound.Sim Sound Module=255:85\n", 384, false, [] (SimulatedModule& m) { m.loseNextProgramBlocks (32); },
          "It is Completed,Please Restart Device\n", "96:32", "96:32", false },
        { "a card that loses nothing and a failing compare: whole throughout", "Pace=auto\n", 0, false,
          [] (SimulatedModule& m) { m.loseNextProgramBlocks (32); }, "It is Completed,Please Restart Device\n", "", nullptr, false },
        { "a program block refused, only what changed: its group again from its upload", "Pace=auto\n", 0, true,
          [] (SimulatedModule& m) { m.failNext (SimCommand::ProgramBlock, 2); }, "It is Completed,Please Restart Device\n",
          "255:85", "255:85", false },
        { "a fixed pace: never a Found key", "Pace=256:90\n", 384, false, none, "It is Completed,Please Restart Device\n",
          "", nullptr, false },
        { "lost even at the slowest pace", "Pace=auto\n", 40, false, none, "Error Code 5\n", "255:85 96:32 48:24", nullptr, true },
        { "the module unplugged while programming: no step, its code at once", "Pace=auto\n", 0, false,
          [] (SimulatedModule& m) { m.vanishAfter (SimCommand::ProgramBlock, 40); }, "Error Code 7\n", "", nullptr, false },
    };
    int searchChecks = -1;   // flash checks of an update that loses nothing in its search
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        PanelHarness h;
        auto module = h.bus->addModule (ModuleConfig (SimMode::Loader));
        if (c.buffer > 0)
            SetMidiPortSource (BehindLossyInterface (h.bus, c.buffer));
        const auto pacing = juce::String ("[Pacing]\n") + c.pacing + (c.onlyChanged ? "[Update]\nOnlyChanged=1\n" : "");
        ASSERT_TRUE (paneltest::ConfigFile (h).replaceWithText (pacing));
        h.Start();
        ASSERT_TRUE (h.WaitConnected());
        const auto image = h.MakeImage ("image.bin", 0x40000);
        h.Choose (image);
        c.fault (*module);
        const auto pressed = juce::Time::getMillisecondCounterHiRes();
        ASSERT_TRUE (Press (h));
        ASSERT_TRUE (RunUntilBoxes (h, 1, 90000)) << Diagnose (h, module.get());
        ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
        EXPECT_EQ (h.boxes[0].text, c.box) << h.recorder.text;
        // Within the bound, also where every rung is tried.
        EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - pressed, 30000.0);

        juce::StringArray steps;
        h.panel->GetLogText();   // what is still gathering reaches the recorder
        const auto& log = h.recorder.text;
        for (int at = log.indexOf ("from now on"); at >= 0; at = log.indexOf (at + 1, "from now on"))
            steps.add (log.substring (at).fromFirstOccurrenceOf ("(pacing ", false, false).upToFirstOccurrenceOf (")", false, false));
        EXPECT_EQ (steps.joinIntoString (" "), c.steps) << log;
        ASSERT_TRUE (h.boxes[0].outcome.has_value());
        EXPECT_EQ (h.boxes[0].outcome->lostAtSlowestPace, c.atSlowestPace);
        if (kCompleted == c.box)
        {
            EXPECT_TRUE (FlashHolds (*module, 0, PanelHarness::Bytes (image), 0, 0x40000));
            EXPECT_EQ (h.boxes[0].outcome->foundPace.has_value(), juce::String (c.pacing).containsIgnoreCase ("auto"));
            // A step down in the search leaves its order alone: the drivers are checked as without a loss.
            const int checks = module->receivedCount (SimCommand::CheckFlash);
            if (searchChecks < 0)
                searchChecks = checks;
            EXPECT_EQ (checks, searchChecks);
        }
        h.panel.reset();

        // Pace stays as written; Found only where "auto" ended at a pace other than the one it started with.
        const auto written = paneltest::ConfigFile (h).loadFileAsString().replace ("\r\n", "\n");
        EXPECT_TRUE (written.contains (juce::String (c.pacing).upToFirstOccurrenceOf ("\n", true, false))) << written;
        if (c.found != nullptr)
            EXPECT_TRUE (written.contains (juce::String ("Found.Sim Sound Module=") + c.found + "\n")) << written;
        else
            EXPECT_FALSE (written.contains ("Found.")) << written;
    }
    SetSettingsSysExPace ({});
    SetFoundSysExPace ({});
}
