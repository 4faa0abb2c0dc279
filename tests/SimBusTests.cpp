// The virtual MIDI bus: listing, opening, delivery order and threads, ports
// that vanish, and the stop() guarantee. Also the cheap interface the rig
// puts before a module, and what pacing does against its losses.
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include "link/SysExPace.h"
#include "sim/OverrunBuffer.h"
#include "tests/SimTestHost.h"

namespace
{
    juce::MidiMessage Note (int n) { return juce::MidiMessage::noteOn (1, n, (juce::uint8) 100); }
}

TEST (SimBus, ListsPresentPortsInDeviceOrderAndRecordsOpenAttempts)
{
    VirtualMidiBus bus;
    bus.addSoundBlasterPorts();
    bus.addSilentPorts ("Quiet");
    bus.addDevice (std::make_shared<ScriptedPortPair> ("In Only", "", nullptr));
    bus.addModule();

    EXPECT_EQ (bus.getInputNames(), juce::StringArray ({ kSoundBlasterPortName, "Quiet", "In Only", "Sim Sound Module" }));
    EXPECT_EQ (bus.getOutputNames(), juce::StringArray ({ kSoundBlasterPortName, "Quiet", "Sim Sound Module" }));

    SimTestHandler handler;
    const auto listed = bus.listPorts();
    EXPECT_NE (bus.openInput (listed.inputs[1], &handler), nullptr);
    EXPECT_NE (bus.openOutput (listed.outputs[2]), nullptr);
    // Only what was listed opens: an unknown identifier, or one that names another port.
    EXPECT_EQ (bus.openInput ({ "Quiet", "bus:99", "bus" }, &handler), nullptr);
    EXPECT_EQ (bus.openOutput ({ "Quiet", listed.outputs[2].identifier, "bus" }), nullptr);
    EXPECT_EQ (bus.openAttempts ("Quiet"), 1);
    EXPECT_EQ (bus.outputOpenAttempts ("Sim Sound Module"), 1);
    EXPECT_EQ (bus.openAttempts (kSoundBlasterPortName), 0);
    EXPECT_EQ (bus.livePortObjects(), 0);   // the opened ports above died at once

    // A port that refuses to open is still counted.
    auto stubborn = bus.addSilentPorts ("Stubborn");
    stubborn->setOpenFails (true);
    EXPECT_EQ (bus.openOutputNamed ("Stubborn"), nullptr);
    EXPECT_EQ (bus.openAttempts ("Stubborn"), 1);
}

TEST (SimBus, DeliversInOrderOnItsOwnThreadAndKeepsOrderAcrossDelays)
{
    VirtualMidiBus bus;
    std::atomic<bool> onSenderStack { false };
    const auto testThread = std::this_thread::get_id();
    // Answers every note with two notes, the first one later than the second
    // is asked for: the bus still delivers them in sending order.
    bus.addScriptedPorts ("Echo", [&] (ScriptedPortPair& pair, const juce::MidiMessage& m)
    {
        if (std::this_thread::get_id() == testThread)
            onSenderStack = true;
        pair.send (Note (m.getNoteNumber()), std::chrono::milliseconds (20));
        pair.send (Note (m.getNoteNumber() + 1));
    });

    SimTestLink link;
    ASSERT_TRUE (link.open (bus, "Echo"));
    for (int n = 0; n < 40; n += 2)
        link.out->sendMessageNow (Note (n));
    ASSERT_TRUE (link.handler.waitFor (40));
    EXPECT_FALSE (onSenderStack);
    EXPECT_NE (link.handler.lastThread(), testThread);
    EXPECT_TRUE (bus.waitForIdle());

    auto got = link.handler.messages();
    ASSERT_EQ (got.size(), 40u);
    for (int n = 0; n < 40; ++n)
        EXPECT_EQ (got[(size_t) n], Bytes ({ 0x90, (uint8_t) n, 100 })) << n;
}

TEST (SimBus, VanishedDeviceKillsItsPortsAndShiftsIndices)
{
    VirtualMidiBus bus;
    auto echo = bus.addScriptedPorts ("Echo", [] (ScriptedPortPair& pair, const juce::MidiMessage& m) { pair.send (m); });
    bus.addSilentPorts ("After");

    SimTestLink old;
    ASSERT_TRUE (old.open (bus, "Echo"));
    ASSERT_FALSE (old.ask ({ 0x01 }).empty());

    echo->unplug();
    EXPECT_FALSE (echo->isPresent());
    EXPECT_EQ (bus.getInputNames(), juce::StringArray ({ "After" }));
    old.send ({ 0x02 });          // dropped: the device is gone
    echo->send (Note (1));        // an unplugged device cannot send either

    echo->plugIn (2);
    EXPECT_EQ (bus.getOutputNames(), juce::StringArray ({ "Other MIDI Port 1", "Other MIDI Port 2", "Echo", "After" }));
    old.send ({ 0x03 });          // the old port objects stay dead
    SimTestLink fresh;
    ASSERT_TRUE (fresh.open (bus, "Echo"));
    EXPECT_EQ (fresh.ask ({ 0x04 }), Bytes ({ 0x04 }));
    EXPECT_TRUE (bus.waitForIdle());
    EXPECT_EQ (old.handler.count(), 1u);
    EXPECT_EQ (echo->receivedCount(), 2);   // 0x01 and 0x04 only
}

TEST (SimBus, StartStopAndSeveralPortsOnOneInput)
{
    VirtualMidiBus bus;
    auto src = bus.addSilentPorts ("Source");
    SimTestHandler a, b;
    auto inA = bus.openInputNamed ("Source", &a);
    auto inB = bus.openInputNamed ("Source", &b);
    src->send (Note (1));                       // nobody started: lost
    ASSERT_TRUE (bus.waitForIdle());
    inA->start();
    inB->start();
    src->send (Note (2));
    ASSERT_TRUE (a.waitFor (1));
    ASSERT_TRUE (b.waitFor (1));
    inA->stop();
    src->send (Note (3));
    ASSERT_TRUE (b.waitFor (2));
    EXPECT_TRUE (bus.waitForIdle());
    EXPECT_EQ (a.count(), 1u);
    EXPECT_EQ (b.at (1), Bytes ({ 0x90, 3, 100 }));
}

// A handler that blocks inside its callback until released.
struct BlockingHandler : MidiInHandler
{
    std::promise<void> entered;
    std::shared_future<void> release;
    std::atomic<bool> done { false };
    std::atomic<int> calls { 0 };
    void handleIncomingMidiMessage (MidiInPort*, const juce::MidiMessage&) override
    {
        if (calls++ == 0)
        {
            entered.set_value();
            release.wait();
            done = true;
        }
    }
};

TEST (SimBus, StopWaitsForTheRunningCallbackButNotForOtherPorts)
{
    VirtualMidiBus bus;
    auto src = bus.addSilentPorts ("Source");
    bus.addSilentPorts ("Other");
    std::promise<void> releaser;
    BlockingHandler blocking;
    blocking.release = releaser.get_future().share();
    SimTestHandler other;
    auto inBlocked = bus.openInputNamed ("Source", &blocking);
    auto inOther = bus.openInputNamed ("Other", &other);
    inBlocked->start();
    inOther->start();

    src->send (Note (1));
    blocking.entered.get_future().wait();

    // Another port stops while the blocked callback runs: no deadlock.
    auto otherStop = std::async (std::launch::async, [&] { inOther->stop(); });
    ASSERT_EQ (otherStop.wait_for (std::chrono::seconds (10)), std::future_status::ready);

    // Stopping the blocked port returns only after its callback ended.
    std::atomic<bool> sawDone { false };
    auto blockedStop = std::async (std::launch::async, [&] { inBlocked->stop(); sawDone = blocking.done.load(); });
    releaser.set_value();
    ASSERT_EQ (blockedStop.wait_for (std::chrono::seconds (10)), std::future_status::ready);
    EXPECT_TRUE (sawDone);
    src->send (Note (2));
    EXPECT_TRUE (bus.waitForIdle());
    EXPECT_EQ (blocking.calls, 1);
}

// Stops (and destroys) its own port from inside the callback.
struct SelfStoppingHandler : MidiInHandler
{
    std::unique_ptr<MidiInPort> port;
    std::atomic<int> calls { 0 };
    void handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage&) override
    {
        ++calls;
        EXPECT_EQ (source, port.get());
        port->stop();
        port.reset();
    }
};

TEST (SimBus, PortMayStopAndDieInsideItsOwnCallback)
{
    VirtualMidiBus bus;
    auto src = bus.addSilentPorts ("Source");
    SelfStoppingHandler handler;
    handler.port = bus.openInputNamed ("Source", &handler);
    handler.port->start();
    src->send (Note (1));
    src->send (Note (2));
    ASSERT_TRUE (bus.waitForIdle());
    EXPECT_EQ (handler.calls, 1);
    EXPECT_EQ (bus.livePortObjects(), 0);
}

TEST (SimBus, ALossyInterfaceLosesAWholeBlockButNoneOfAPacedOne)
{
    // A block of 4689 bytes handed over in pieces; between two pieces the
    // buffer of 384 bytes drains at 3125 bytes/s (90 ms: 281 bytes).
    std::vector<uint8_t> block { 0xF0 };
    for (int i = 0; block.size() < 4688; ++i)
        block.push_back ((uint8_t) ((i * 11) & 0x7F));
    block.push_back (0xF7);

    struct Case { const char* name; SysExPace pace; bool whole; };
    const Case cases[] = {
        { "at full speed", {}, false },
        { "in pieces of 512 bytes: more than the buffer", { 512, 90 }, false },
        { "in pieces of 256 bytes, too close together", { 256, 20 }, false },
        { "paced 256:90", { 256, 90 }, true },
        { "paced 128:40", { 128, 40 }, true },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        OverrunBuffer buffer (384, 3125);
        auto now = OverrunBuffer::Clock::time_point {};
        std::vector<uint8_t> wire;
        SysExPieces how;
        how.send = [&] (const uint8_t* b, size_t n) { buffer.Advance (now, b, n, wire); return true; };
        how.wait = [&] (std::chrono::milliseconds gap) { now += gap; };
        ASSERT_TRUE (SendSysExInPieces (block.data(), block.size(), c.pace, how));
        while (buffer.NextLeaves() != OverrunBuffer::Clock::time_point::max())
        {
            now = buffer.NextLeaves();
            buffer.Advance (now, nullptr, 0, wire);
        }
        EXPECT_EQ (wire == block, c.whole);
        EXPECT_EQ (buffer.Lost() == 0, c.whole);
        EXPECT_EQ (wire.size() + buffer.Lost(), block.size());
        // The wire never runs faster than 3125 bytes/s.
        EXPECT_GE (std::chrono::duration<double> (now - OverrunBuffer::Clock::time_point {}).count() + 1e-9, (double) wire.size() / 3125);
    }
}
