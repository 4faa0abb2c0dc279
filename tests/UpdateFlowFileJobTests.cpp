// Whole updates of small images (the file workflow) through the real panel
// against a module in loader mode: the driver search, word and byte units,
// FS and HS reads, the end of the job.
#include "tests/UpdateFlowSupport.h"

using namespace flow;

TEST (UpdateFlowFileJob, LoaderModeModuleAndSmallFileGetTheFileWorkflowUpToTheEnd)
{
    PanelHarness h;
    // A name beginning with '.' is never tried: this one would stop the search with an upload error.
    h.folder.getChildFile ("Drivers/.junk").replaceWithText ("not a driver");
    // Sectors that take a while to erase: the job runs for several turns of the
    // loop with its bar moving, so the scratch files below are planted mid-job.
    auto config = ModuleConfig (SimMode::Loader);
    config.latencies.erase = std::chrono::milliseconds (40);
    auto module = h.bus->addModule (config);
    // Old contents everywhere: what is programmed must have been erased first, and what lies beyond stays.
    module->preloadFlash (0, std::vector<uint8_t> (0x80000, 0x00));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());

    // Larger than the sectors it fills, smaller than 0x60000: the file workflow even on a QVM410.
    const auto image = h.MakeImage ("small.bin", 0x50000);
    const auto bytes = PanelHarness::Bytes (image);
    h.Choose (image);
    ASSERT_EQ (g_nFileSize.load(), 0x50000);
    const auto started = juce::Time::getMillisecondCounter();
    ASSERT_TRUE (Press (h));
    EXPECT_TRUE (RunLoopUntil ([&] { return ! h.panel->GetProgramButton()->isEnabled(); }, 5000));
    // A "connected" notification still queued enables the button again; a click then does nothing.
    h.panel->handleMessage (NotifyMessage (kConnectedMessage, 1));
    ASSERT_TRUE (h.panel->GetProgramButton()->isEnabled());
    h.PressProgram();

    // Scratch files that appear while the job runs are gone at its end.
    const juce::File qvdoc = h.folder.getChildFile ("QvDoc");
    const juce::File scratch[] = { qvdoc.getChildFile ("Comparetemp.rom"), h.folder.getChildFile ("flashpgm.rom"),
                                   h.folder.getChildFile ("SEC0.rom"), h.folder.getChildFile ("SEC1.rom") };
    bool planted = false;
    ProgressWatch watch;
    ASSERT_TRUE (RunUntilBoxes (h, 1, 60000, &watch, [&]
    {
        if (! planted && h.boxes.empty() && h.panel->GetProgress() > 0.0)   // never after the job has ended
        {
            planted = true;
            for (int i = 1; i < 4; ++i)
                scratch[i].replaceWithText ("left over");
        }
    })) << Diagnose (h, module.get());
    const auto wall = juce::Time::getMillisecondCounter() - started;

    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, kCompleted);
    EXPECT_EQ (h.boxes[0].icon, juce::MessageBoxIconType::NoIcon);
    EXPECT_EQ (h.boxes[0].title, juce::String());
    EXPECT_EQ (h.quits.load(), 1);

    // The driver search: the matching driver is the third file, then the list's upload and check.
    EXPECT_EQ (CountBefore (*module, SimCommand::CheckFlash, SimCommand::EraseSector), 4);
    EXPECT_EQ (CountBefore (*module, SimCommand::LoadDriver, SimCommand::EraseSector), 5);
    auto* types = h.panel->GetFlashTypeCombo();
    EXPECT_EQ (types->getNumItems(), 3);
    EXPECT_EQ (types->getSelectedId(), 3);
    EXPECT_EQ (types->getText(), "KV29F064");
    // The record of the accepted driver names the MCU; the list shows what the update flow set.
    EXPECT_EQ (g_strMCUName, "QVM410");
    EXPECT_EQ (h.panel->GetMCUCombo()->getText(), "QVM428");

    // Three verify groups of 128 KiB; the last one programs what is left of the file.
    EXPECT_EQ (Programmed (*module), (std::vector<Range> { { 0, 0x20000 }, { 0x20000, 0x20000 }, { 0x40000, 0x10000 } }));
    EXPECT_EQ (Erased (*module), Sectors (0, 0x50000, 0x10000));
    EXPECT_TRUE (FlashHolds (*module, 0, bytes, 0, bytes.size()));
    EXPECT_TRUE (FlashIsAll (*module, 0x50000, 0x30000, 0x00));

    // The bar only went forward and ended full.
    EXPECT_FALSE (watch.invalid);
    EXPECT_FALSE (watch.wentBack);
    EXPECT_DOUBLE_EQ (h.panel->GetProgress(), 1.0);

    // The end: scratch files deleted, the elapsed time logged last, the link's timer stopped.
    EXPECT_TRUE (planted);
    for (auto& f : scratch)
        EXPECT_FALSE (f.exists()) << f.getFullPathName();
    const auto log = h.panel->GetLogText();
    EXPECT_TRUE (IsJobLog (log)) << log;
    EXPECT_LE (ElapsedMs (log), (int64_t) wall);
    EXPECT_EQ (log.indexOf ("Compare FAIL"), -1);
    EXPECT_FALSE (h.panel->GetJobRunner().GetLink().isTimerRunning());
    EXPECT_TRUE (h.panel->GetMCUCombo()->isEnabled());
}

TEST (UpdateFlowFileJob, ByteUnitsGiveTheSameFlashAsWordUnits)
{
    PanelHarness h;
    auto module = h.bus->addModule (ModuleConfig (SimMode::Loader));
    module->preloadFlash (0, std::vector<uint8_t> (0x60000, 0x00));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    h.panel->SetWordMode (false);

    const auto image = h.MakeImage ("bytes.bin", 0x60000, true, false, 9);
    const auto bytes = PanelHarness::Bytes (image);
    h.Choose (image);
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 60000)) << Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, kCompleted);

    EXPECT_FALSE (h.panel->GetJobRunner().GetLink().IsWordMode());
    // The same ranges as in word units, and the whole image in place.
    EXPECT_EQ (Programmed (*module), (std::vector<Range> { { 0, 0x20000 }, { 0x20000, 0x20000 }, { 0x40000, 0x20000 } }));
    EXPECT_EQ (Erased (*module), Sectors (0, 0x60000, 0x10000));
    EXPECT_TRUE (FlashHolds (*module, 0, bytes, 0, bytes.size()));
    EXPECT_EQ (h.panel->GetLogText().indexOf ("Compare FAIL"), -1);
    EXPECT_EQ (h.panel->GetTotalBytes(), 0x60000);
    EXPECT_EQ (h.panel->GetDoneBytes(), 0x60000);
}

TEST (UpdateFlowFileJob, FsModuleChecksEveryReadBlockByItsTrailer)
{
    PanelHarness h;
    auto module = h.bus->addModule (ModuleConfig (SimMode::Loader, 1));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    EXPECT_TRUE (h.panel->GetJobRunner().GetLink().IsFS());

    const auto image = h.MakeImage ("fs.bin", 0x40000);
    h.Choose (image);
    // One flipped bit in a read block: the trailer shows it, the block is asked for again.
    module->damageNextReads (SimReadDamage::Data, 1);
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 60000)) << Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, kCompleted);

    const auto log = h.panel->GetLogText();
    EXPECT_EQ (log.indexOf ("Compare FAIL"), -1) << log;
    EXPECT_EQ (Programmed (*module).size(), 2u);
    EXPECT_GT (module->receivedCount (SimCommand::ReadBlock), 0x40000 / 4096);
    EXPECT_TRUE (FlashHolds (*module, 0, PanelHarness::Bytes (image), 0, 0x40000));
}

TEST (UpdateFlowFileJob, HsModuleReadsWithoutTrailerAndTheCompareCatchesDamage)
{
    PanelHarness h;
    auto module = h.bus->addModule (ModuleConfig (SimMode::Loader, 0));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    EXPECT_FALSE (h.panel->GetJobRunner().GetLink().IsFS());

    const auto image = h.MakeImage ("hs.bin", 0x40000);
    h.Choose (image);
    // Without a trailer a flipped bit passes the read; the compare fails and the group is repeated.
    module->damageNextReads (SimReadDamage::Data, 1);
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 60000)) << Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, kCompleted);

    const auto log = h.panel->GetLogText();
    EXPECT_NE (log.indexOf ("Compare FAIL!\n\nRetry 1!\n"), -1) << log;
    EXPECT_EQ (module->receivedCount (SimCommand::ReadBlock), 3 * 0x20000 / 4096);
    EXPECT_EQ (Programmed (*module), (std::vector<Range> { { 0, 0x20000 }, { 0, 0x20000 }, { 0x20000, 0x20000 } }));
    EXPECT_TRUE (FlashHolds (*module, 0, PanelHarness::Bytes (image), 0, 0x40000));
}
