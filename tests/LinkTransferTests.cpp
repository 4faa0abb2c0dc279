// Block transfers through the simulated module: driver uploads of one, two
// and three blocks, a short last block on top of programmed flash, a transfer
// ended early by the module's status, the reply watchdog (also behind a slow
// writer thread), the port failures the log tells of, and a transfer with no
// output to send on.
#include <condition_variable>
#include <gtest/gtest.h>
#include "link/QueuedOutPort.h"
#include "link/SysExPace.h"
#include "tests/LinkTestRig.h"

using namespace linktest;

namespace
{
    /** Where the bus's outputs wait before they write a block (larger than a
        command), or fail every write, as the test says. */
    struct Gate
    {
        std::mutex lock;
        std::condition_variable changed;
        bool open = true, fail = false;
        int pieceBytes = 0;    // above 0: a block leaves in pieces of this size, each one let through by a credit
        int credits = 0;
        std::atomic<const MidiInPort*> input { nullptr };   // the last input opened
        void Set (bool isOpen, bool failing = false)
        {
            { const std::lock_guard<std::mutex> l (lock); open = isOpen; fail = failing; }
            changed.notify_all();
        }
    };

    /** A bus output behind the gate (on its writer thread). */
    class GatedOut : public MidiOutPort
    {
    public:
        GatedOut (std::unique_ptr<MidiOutPort> p, std::shared_ptr<Gate> g) : port (std::move (p)), gate (std::move (g)) {}
        void sendMessageNow (const juce::MidiMessage& m) override
        {
            int pieceBytes = 0;
            {
                std::unique_lock<std::mutex> l (gate->lock);
                gate->changed.wait (l, [&] { return gate->open || m.getRawDataSize() < 100; });
                failed = gate->fail;
                pieceBytes = m.getRawDataSize() < 100 ? 0 : gate->pieceBytes;
            }
            if (pieceBytes > 0)
            {
                // Each piece waits for a credit; the bus gets the message once the last has left.
                const auto take = [this] (const uint8_t*, size_t)
                {
                    std::unique_lock<std::mutex> l (gate->lock);
                    gate->changed.wait (l, [&] { return gate->credits > 0; });
                    --gate->credits;
                    return true;
                };
                SendSysExInPieces (m.getRawData(), (size_t) m.getRawDataSize(), { pieceBytes, 0 }, PiecesTo (take, observer));
            }
            if (! failed)
                port->sendMessageNow (m);
        }
        void reset() override { port->reset(); }
        bool hasFailed() const override { return failed; }
        void setObserver (std::shared_ptr<MidiOutObserver> o) override { observer = std::move (o); }

    private:
        std::unique_ptr<MidiOutPort> port;
        std::shared_ptr<Gate> gate;
        std::atomic<bool> failed { false };
        std::shared_ptr<MidiOutObserver> observer;
    };

    /** The bus's ports, each output behind the gate and a writer thread. */
    class GatedSource : public MidiPortSource
    {
    public:
        GatedSource (std::shared_ptr<VirtualMidiBus> b, std::shared_ptr<Gate> g) : bus (std::move (b)), gate (std::move (g)) {}
        MidiPortList listPorts() override { return bus->listPorts(); }
        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& p, MidiInHandler* h) override
        {
            auto in = bus->openInput (p, h);
            gate->input = in.get();
            return in;
        }
        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& p) override
        {
            auto out = bus->openOutput (p);
            return out == nullptr ? nullptr
                                  : WithWriterThread (std::make_unique<GatedOut> (std::move (out), gate), std::chrono::milliseconds (20));
        }

    private:
        std::shared_ptr<VirtualMidiBus> bus;
        std::shared_ptr<Gate> gate;
    };
}

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

TEST (LinkTransfer, WatchdogRunsAtTheOperationsPeriodAndTimesOutAtTheNinthSilentTick)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash());
    const auto path = rig.WriteFile ("image.bin", Pattern (0x3000)).getFullPathName();
    const auto readPath = rig.folder.getChildFile ("read.bin").getFullPathName();

    struct Case
    {
        const char* name;
        SimCommand silent;                  // the command whose answer never comes
        std::function<void()> start;
        int period;                         // the timer's period while the operation waits
        const char* box;                    // shown at the ninth tick; null: the read asks again
        int sent;                           // commands of the silent kind in all
    };
    const Case cases[] = {
        { "erase", SimCommand::EraseSector, [&] { rig.link->EraseAndProgramFile (0, path, 0, 0, 0); }, 500, "Error Code 7\n", 1 },
        { "program", SimCommand::ProgramBlock, [&] { rig.link->ProgramZeroBlock (0, 0, 0x10000, 0x800); }, 500, "Error Code 7\n", 1 },
        { "read", SimCommand::ReadBlock, [&] { rig.link->ReadToFile (readPath, 0, 0, 0x2000); }, 80, nullptr, 3 },
        { "probe timer left running", SimCommand::CheckFlash,
          [&] { rig.link->StartProbeTimer(); rig.link->CheckFlash (0); }, 700, "Error Code 7\n", 1 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        module->clearRecords();
        module->dropNextReplies (c.silent, 1);
        const auto from = rig.Mark();
        c.start();
        EXPECT_EQ (rig.link->getTimerInterval(), c.period);

        // The ticks are counted here, not waited for. Read data that comes meanwhile
        // (a late reply to an earlier read) answers no other operation.
        rig.link->StopTimer();
        const uint8_t lateReadData[] = { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x01, 0x00, 0x7F, 0x7F, 0xF7 };
        for (int tick = 1; tick <= 8; ++tick)
        {
            if (c.box != nullptr)
                rig.link->handleIncomingMidiMessage (nullptr, juce::MidiMessage (lateReadData, (int) sizeof (lateReadData), 0.0));
            rig.link->timerCallback();
        }
        EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());
        EXPECT_EQ (rig.timeline.FindLog ("Time out", from), -1);
        rig.link->timerCallback();

        if (c.box != nullptr)
        {
            EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray (c.box));
            ASSERT_TRUE (rig.WaitStepEnd (from));
            EXPECT_LT (rig.timeline.Find (kBoxEvent, -1, from), rig.timeline.Find (kStepStartMessage, 1, from));
            EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);
        }
        else
        {
            // A read asks for the block again, and this time it comes; the reply
            // still owed is given up after a quiet period of the running watchdog.
            rig.link->startTimer (c.period);
            ASSERT_TRUE (rig.WaitStepEnd (from));
            EXPECT_EQ (rig.timeline.Log (from), "Reading 0\nTime out, retry...1\nRead finished.\n");
            EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
        }
        ASSERT_TRUE (rig.bus->waitForIdle());
        EXPECT_EQ (module->receivedCount (c.silent), c.sent);
        EXPECT_EQ (module->receivedCount (SimCommand::WriteStart), c.silent == SimCommand::ProgramBlock ? 1 : 0);
        EXPECT_FALSE (rig.link->isTimerRunning());
    }
}

TEST (LinkTransfer, TheWatchdogCountsFromWhenABlockHasLeftNotFromWhenItWasQueued)
{
    // Whole, the block waits in the writer thread as on a slow wire; paced, it
    // leaves in five pieces, each a while after the last (longer in all than
    // the watchdog's bound): the count restarts at each piece.
    for (const int pieceBytes : { 0, 1024 })
    {
        SCOPED_TRACE (pieceBytes);
        Rig rig;
        auto gate = std::make_shared<Gate>();
        SetMidiPortSource (std::make_shared<GatedSource> (rig.bus, gate));
        auto module = rig.AddModule();
        ASSERT_TRUE (rig.ReadyForFlash());
        module->dropNextReplies (SimCommand::ProgramBlock, 1);

        gate->pieceBytes = pieceBytes;
        gate->Set (false);
        const auto from = rig.Mark();
        ASSERT_FALSE (rig.link->ProgramZeroBlock (0, 0, 0x10000, 0x800));
        rig.link->StopTimer();
        for (int tick = 1; tick <= 8; ++tick)
            rig.link->timerCallback();
        // Once the block (or each piece) has left, the module has its whole allowance again.
        gate->Set (true);
        for (int piece = 1; piece <= (pieceBytes > 0 ? 5 : 1); ++piece)
        {
            { const std::lock_guard<std::mutex> l (gate->lock); ++gate->credits; }
            gate->changed.notify_all();
            ASSERT_TRUE (RunLoopUntil ([&] { return rig.link->GetIdleTicks() == 0; }));
            for (int tick = 1; tick <= 8; ++tick)
                rig.link->timerCallback();
            EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());
        }
        rig.link->timerCallback();
        EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 7\n"));
        ASSERT_TRUE (rig.WaitStepEnd (from));
    }
}

TEST (LinkTransfer, AFailedWriteAWriterLeftBehindAndADroppedSysExAreLogged)
{
    Rig rig;
    auto gate = std::make_shared<Gate>();
    SetMidiPortSource (std::make_shared<GatedSource> (rig.bus, gate));
    rig.AddModule();
    ASSERT_TRUE (rig.ConnectForJob());
    const juce::String port ("Sim Sound Module");

    // Writes fail: said for the port.
    auto from = rig.Mark();
    gate->Set (true, true);
    rig.link->ProbeLoader();
    rig.link->StopTimer();
    EXPECT_TRUE (rig.WaitLog ("MIDI: a message could not be written to " + port, from));

    // A block that does not leave before the ports are scanned again: its thread is left behind.
    from = rig.Mark();
    gate->Set (false);
    rig.link->SendDriver (rig.MakeDriver (kUniform64).getFullPathName().toWideCharPointer());
    rig.link->StopTimer();
    rig.link->FindDevices();
    EXPECT_TRUE (rig.WaitLog ("MIDI: " + port + " was closed while a write to it was still under way", from));
    gate->Set (true);
    ASSERT_TRUE (RunLoopUntil ([] { return AbandonedWriters() == 0; }));

    // SysEx an input dropped, by the input's name.
    from = rig.Mark();
    rig.link->handleDroppedSysEx (const_cast<MidiInPort*> (gate->input.load()), false);
    rig.link->handleDroppedSysEx (nullptr, true);
    EXPECT_TRUE (rig.WaitLog ("MIDI: a SysEx message from " + port + " was dropped: damaged", from));
    EXPECT_TRUE (rig.WaitLog ("MIDI: a SysEx message from a MIDI input was dropped: longer", from));
}

TEST (LinkTransfer, TransferWithoutABoundOutputShowsNoOutDeviceAndStopsTheStep)
{
    Rig rig;
    const auto module = rig.AddModule();
    const auto driver = rig.MakeDriver (kUniform64);
    g_nJobPhase = 3;
    // Nothing could ever answer: the step ends through the failure path, not by the watchdog.
    bool failed = false;
    rig.RunStep ([&] { return rig.link->SendDriver (driver.getFullPathName().toWideCharPointer()); }, &failed);
    EXPECT_TRUE (failed);
    EXPECT_EQ (rig.timeline.Boxes(), juce::StringArray ("No out device"));
    EXPECT_LT (rig.timeline.Find (kBoxEvent), rig.timeline.Find (kStepStartMessage, 1));
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage), 0);
    EXPECT_FALSE (rig.link->isTimerRunning());
    EXPECT_EQ (rig.timeline.Count (kProgressMessage), 0);
    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 0);
}
