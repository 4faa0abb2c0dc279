// Block transfers through the simulated module: driver uploads of one, two
// and three blocks, a short last block on top of programmed flash, a transfer
// ended early by the module's status, and the reply watchdog.
#include <gtest/gtest.h>
#include "tests/LinkTestRig.h"

using namespace linktest;

TEST (LinkTransfer, DriverUploadSendsWholeBlocksAndEndsAtTheLastAcknowledgement)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ConnectForJob());

    struct Case { size_t size; int blocks; };
    for (const Case c : { Case { 5000, 2 }, Case { 4096, 1 }, Case { 10000, 3 } })
    {
        SCOPED_TRACE (c.size);
        module->clearRecords();
        const auto driverFile = rig.MakeDriver (kUniform64, c.size);
        const auto bytes = Rig::ReadFile (driverFile);
        ASSERT_EQ (bytes.size(), c.size);

        const auto from = rig.Mark();
        ASSERT_TRUE (rig.UploadDriver (driverFile)) << rig.timeline.Log (from);
        ASSERT_TRUE (rig.bus->waitForIdle());

        EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 1);
        EXPECT_EQ (module->receivedCount (SimCommand::DriverBlock), c.blocks);
        const auto received = module->driver();
        ASSERT_EQ (received.size(), (size_t) c.blocks * 4096);
        EXPECT_TRUE (std::equal (bytes.begin(), bytes.end(), received.begin()));

        // Progress counts whole blocks against the file's length, up to the last acknowledgement.
        std::vector<std::pair<int, int>> expected;
        for (int b = 1; b <= c.blocks; ++b)
            expected.emplace_back (b * 4096, (int) c.size);
        EXPECT_EQ (rig.timeline.Progress (2, from), expected);

        const auto& t = rig.timeline;
        const int start = t.Find (kProgressMessage, 2, from);
        const int hide = t.Find (kProgressMessage, 0, from);
        const int ok = t.FindLog ("Send driver OK!\n", from);
        const int done = t.Find (kStepDoneMessage, 0, from);
        ASSERT_GE (start, 0);
        EXPECT_FALSE (t.events[(size_t) start].hasRecord);
        EXPECT_LT (start, hide);
        EXPECT_LT (hide, ok);
        EXPECT_LT (ok, done);
        EXPECT_TRUE (t.Log (from).startsWith ("Sending flash driver...\n"));
        EXPECT_EQ (t.Count (kStepDoneMessage, -1, from), 1);
        EXPECT_EQ (rig.link->GetSectorCount(), 128);
    }
    EXPECT_TRUE (rig.timeline.Boxes().isEmpty());
}

TEST (LinkTransfer, ShortLastBlockLeavesTheFlashBeyondTheDataAlone)
{
    // The last block of a 5000-byte write also covers bytes 5000 to 8191 of the
    // flash: whatever fills it there must not clear bits already programmed.
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash());

    const auto before = Pattern (0x2000, 7);
    module->preloadFlash (0x10000, before);
    const auto data = std::vector<uint8_t> (5000, 0x00);
    const auto file = rig.WriteFile ("zeros.bin", data);

    const auto from = rig.Mark();
    ASSERT_FALSE (rig.link->ProgramFile (0, file.getFullPathName(), 0, 0x10000, 0));
    ASSERT_TRUE (rig.WaitStepEnd (from));
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
    EXPECT_EQ (rig.timeline.Progress (2, from), (std::vector<std::pair<int, int>> { { 4096, 5000 }, { 8192, 5000 } }));

    ASSERT_TRUE (rig.bus->waitForIdle());
    const auto starts = module->received (SimCommand::WriteStart);
    ASSERT_EQ (starts.size(), 1u);
    EXPECT_EQ (starts[0].bytes, (std::vector<uint8_t> { 0x00, 0x20, 0x54, 0x7D, 0x02, 0x00, 0x02, 0x00, 0x00, 0x00 }));
    EXPECT_EQ (module->receivedCount (SimCommand::ProgramBlock), 2);

    const auto flash = module->readFlash (0x10000, 0x2000);
    EXPECT_TRUE (std::all_of (flash.begin(), flash.begin() + 5000, [] (uint8_t b) { return b == 0; }));
    EXPECT_TRUE (std::equal (flash.begin() + 5000, flash.end(), before.begin() + 5000));
    EXPECT_EQ (rig.timeline.Log (from), "Erase finished.\nProgramming 8000\nProgram finished.\n");
}

TEST (LinkTransfer, ModuleStatusEndsTheTransferThroughTheDispatcher)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ConnectForJob());
    const auto driver = rig.MakeDriver (kUniform64, 10000);

    // Status 1 to the first block: the upload ends there, as the dispatcher says for status 1.
    module->failNext (SimCommand::DriverBlock, 1);
    auto from = rig.Mark();
    ASSERT_FALSE (rig.link->SendDriver (driver.getFullPathName().toWideCharPointer()));
    ASSERT_TRUE (rig.WaitStepEnd (from));
    ASSERT_TRUE (rig.bus->waitForIdle());
    EXPECT_EQ (module->receivedCount (SimCommand::DriverBlock), 1);
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
    EXPECT_TRUE (rig.timeline.Log (from).endsWith ("Send driver OK!\n"));
    EXPECT_TRUE (rig.timeline.Progress (2, from).empty());

    // Status 2: "Error Code 5", the box before the stop notification, no further block.
    module->clearRecords();
    module->failNext (SimCommand::DriverBlock, 2);
    from = rig.Mark();
    ASSERT_FALSE (rig.link->SendDriver (driver.getFullPathName().toWideCharPointer()));
    ASSERT_TRUE (rig.WaitStepEnd (from));
    ASSERT_TRUE (rig.bus->waitForIdle());
    EXPECT_EQ (module->receivedCount (SimCommand::DriverBlock), 1);
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 5\n"));
    EXPECT_LT (rig.timeline.Find (kBoxEvent, -1, from), rig.timeline.Find (kStepStartMessage, 1, from));
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);

    // Status 3 from the module is a time-out: "Error Code 7" at once.
    module->clearRecords();
    module->failNext (SimCommand::DriverBlock, 3);
    from = rig.Mark();
    ASSERT_FALSE (rig.link->SendDriver (driver.getFullPathName().toWideCharPointer()));
    ASSERT_TRUE (rig.WaitStepEnd (from));
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 7\n"));

    // A clean upload afterwards still works: the failed transfers left nothing behind.
    module->clearRecords();
    ASSERT_TRUE (rig.UploadDriver (driver));
    ASSERT_TRUE (rig.bus->waitForIdle());
    EXPECT_EQ (module->receivedCount (SimCommand::DriverBlock), 3);
}

TEST (LinkTransfer, SilentModuleTimesOutWithErrorCode7AndTheStopNotification)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash());
    const auto file = rig.WriteFile ("image.bin", Pattern (0x3000));

    module->dropNextReplies (SimCommand::EraseSector, 1);
    const auto from = rig.Mark();
    ASSERT_FALSE (rig.link->EraseAndProgramFile (0, file.getFullPathName(), 0, 0, 0));
    EXPECT_TRUE (rig.link->isTimerRunning());
    ASSERT_TRUE (rig.WaitStepEnd (from, 20000));

    const auto& t = rig.timeline;
    EXPECT_EQ (t.Boxes (from), juce::StringArray ("Error Code 7\n"));
    const int box = t.Find (kBoxEvent, -1, from);
    const int stop = t.Find (kStepStartMessage, 1, from);
    EXPECT_LT (box, stop);
    EXPECT_EQ (t.Count (kStepStartMessage, 0, from), 1);   // the erase had started
    EXPECT_EQ (t.Count (kStepDoneMessage, -1, from), 0);
    EXPECT_FALSE (rig.link->isTimerRunning());
    ASSERT_TRUE (rig.bus->waitForIdle());
    EXPECT_EQ (module->receivedCount (SimCommand::EraseSector), 1);
    EXPECT_EQ (module->receivedCount (SimCommand::WriteStart), 0);
}

TEST (LinkTransfer, TransferWithoutABoundOutputOnlyShowsNoOutDevice)
{
    Rig rig;
    const auto module = rig.AddModule();
    const auto driver = rig.MakeDriver (kUniform64);
    g_nJobPhase = 3;
    EXPECT_FALSE (rig.link->SendDriver (driver.getFullPathName().toWideCharPointer()));
    ASSERT_TRUE (RunLoopUntil ([&] { return ! rig.timeline.Boxes().isEmpty(); }));
    ASSERT_TRUE (rig.bus->waitForIdle());
    PumpMessages (5);
    EXPECT_EQ (rig.timeline.Boxes(), juce::StringArray ("No out device"));
    EXPECT_EQ (rig.timeline.Count (kStepStartMessage), 0);
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage), 0);
    EXPECT_EQ (rig.timeline.Count (kProgressMessage), 0);
    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 0);
}
