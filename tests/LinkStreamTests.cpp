// Between the link and the wire: the byte-stream assembler that turns reads
// of any size into whole messages (and what a WinMM input hands over into
// them), the writer thread that keeps every send from waiting for the device,
// and the bounds on what a device or driver may keep the program waiting for.
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <gtest/gtest.h>
#include "link/ClosingDevices.h"
#include "link/DeliveryGate.h"
#include "link/MidiStreamAssembler.h"
#include "link/QueuedOutPort.h"
#include "link/SysExPace.h"
#include "link/winmm/LongSendWait.h"
#include "link/winmm/WinMmNames.h"
#include "link/winmm/WinMmStream.h"
#include "tests/LinkTestRig.h"

namespace
{
    using Bytes = std::vector<uint8_t>;
    using Messages = std::vector<Bytes>;

    Messages Assemble (MidiStreamAssembler& a, const Bytes& stream, const std::vector<size_t>& cuts)
    {
        Messages out;
        const MidiStreamAssembler::Emit emit = [&] (const uint8_t* p, int n) { out.emplace_back (p, p + n); };
        size_t from = 0;
        for (size_t cut : cuts)
        {
            a.Feed (stream.data() + from, cut - from, emit);
            from = cut;
        }
        a.Feed (stream.data() + from, stream.size() - from, emit);
        return out;
    }

    struct AssemblyCase
    {
        const char* name;
        Bytes stream;
        Messages expected;
        uint64_t damaged = 0, oversized = 0;
        size_t bound = MidiStreamAssembler::kDefaultSysExBound;
    };
}

TEST (LinkStream, AssemblerGivesWholeMessagesHoweverTheStreamIsCut)
{
    const AssemblyCase cases[] = {
        { "sysex", { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x00, 0x00, 0xF7 },
          { { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x00, 0x00, 0xF7 } } },
        { "real-time bytes pass through a sysex", { 0xF0, 0x01, 0xF8, 0x02, 0xFE, 0x03, 0xF7 },
          { { 0xF8 }, { 0xFE }, { 0xF0, 0x01, 0x02, 0x03, 0xF7 } } },
        { "a status byte ends a sysex as damaged", { 0xF0, 0x01, 0x02, 0x90, 0x40, 0x7F },
          { { 0x90, 0x40, 0x7F } }, 1 },
        { "a second F0 ends the first sysex as damaged", { 0xF0, 0x01, 0xF0, 0x02, 0xF7 },
          { { 0xF0, 0x02, 0xF7 } }, 1 },
        { "several messages in one read", { 0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7, 0xB0, 0x07, 0x64, 0xF6 },
          { { 0xF0, 0x01, 0xF7 }, { 0xF0, 0x02, 0xF7 }, { 0xB0, 0x07, 0x64 }, { 0xF6 } } },
        { "running status", { 0x90, 0x40, 0x7F, 0x41, 0x7F, 0xF8, 0x42, 0x00, 0xC0, 0x05, 0x06 },
          { { 0x90, 0x40, 0x7F }, { 0x90, 0x41, 0x7F }, { 0xF8 }, { 0x90, 0x42, 0x00 }, { 0xC0, 0x05 }, { 0xC0, 0x06 } } },
        { "system common and sysex end running status", { 0x90, 0x40, 0x7F, 0xF1, 0x10, 0x41, 0x7F, 0xF7, 0x42 },
          { { 0x90, 0x40, 0x7F }, { 0xF1, 0x10 } } },
        { "stray data and a stray F7 are ignored", { 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7 },
          { { 0xF0, 0x03, 0xF7 } } },
        { "a sysex of exactly the bound is kept", { 0xF0, 1, 2, 3, 4, 5, 6, 0xF7 },
          { { 0xF0, 1, 2, 3, 4, 5, 6, 0xF7 } }, 0, 0, 8 },
        { "a longer sysex is dropped and counted", { 0xF0, 1, 2, 3, 4, 5, 6, 7, 0xF8, 8, 0xF7, 0xF0, 9, 0xF7 },
          { { 0xF8 }, { 0xF0, 9, 0xF7 } }, 0, 1, 8 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        // Whole, in every cut in two, and byte by byte: the same messages every time.
        std::vector<std::vector<size_t>> cutsList { {} };
        for (size_t k = 1; k < c.stream.size(); ++k)
            cutsList.push_back ({ k });
        std::vector<size_t> everyByte;
        for (size_t k = 1; k < c.stream.size(); ++k)
            everyByte.push_back (k);
        cutsList.push_back (everyByte);

        for (const auto& cuts : cutsList)
        {
            MidiStreamAssembler a (c.bound);
            EXPECT_EQ (Assemble (a, c.stream, cuts), c.expected) << "cuts " << cuts.size() << (cuts.empty() ? 0 : cuts[0]);
            EXPECT_EQ (a.DamagedSysEx(), c.damaged);
            EXPECT_EQ (a.OversizedSysEx(), c.oversized);
        }
    }
}

TEST (LinkStream, WinMmInputJoinsSysExBuffersAndUnpacksShortMessages)
{
    // What a WinMM driver hands over, in order: short messages packed into a
    // number, SysEx buffers given back full or at an F7, a buffer it found invalid.
    struct Event { enum Kind { Short, Long, Error } kind; uint32_t packed; Bytes bytes; };
    struct Case { const char* name; std::vector<Event> events; Messages expected; int damaged; };

    Bytes answer { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x01 };   // a read-back answer of 1032 bytes
    for (int i = 0; answer.size() < 1031; ++i)
        answer.push_back ((uint8_t) (i & 0x7F));
    answer.push_back (0xF7);
    std::vector<Event> inBuffersOf256;   // as in buffers of 256 bytes, a clock byte between two of them
    for (size_t from = 0; from < answer.size(); from += 256)
    {
        inBuffersOf256.push_back ({ Event::Long, 0, Bytes (answer.begin() + (long) from, answer.begin() + (long) std::min (answer.size(), from + 256)) });
        if (from == 512)
            inBuffersOf256.push_back ({ Event::Short, 0xF8, {} });
    }
    const Bytes reply { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x00, 0x00, 0xF7 };

    // A whole read-back answer of 4689 bytes, in the few-byte buffers of Windows' MIDI service.
    Bytes block { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x01, 0x00 };
    for (int i = 0; block.size() < 4688; ++i)
        block.push_back ((uint8_t) ((i * 5) & 0x7F));
    block.push_back (0xF7);
    const auto inPieces = [&] (size_t piece, int damagedPiece)
    {
        std::vector<Event> events;
        for (size_t from = 0, k = 0; from < block.size(); from += piece, ++k)
        {
            Bytes bytes (block.begin() + (long) from, block.begin() + (long) std::min (block.size(), from + piece));
            if ((int) k == damagedPiece)
                events.push_back ({ Event::Error, 0, {} });   // the driver found it invalid
            else
                events.push_back ({ Event::Long, 0, bytes });
        }
        events.push_back ({ Event::Long, 0, reply });
        return events;
    };

    const Case cases[] = {
        { "a 4689-byte answer in pieces of 1 byte", inPieces (1, -1), { block, reply }, 0 },
        { "a 4689-byte answer in pieces of 6 bytes", inPieces (6, -1), { block, reply }, 0 },
        { "a 4689-byte answer in pieces of 100 bytes", inPieces (100, -1), { block, reply }, 0 },
        { "a damaged piece costs its answer only", inPieces (100, 20), { reply }, 1 },
        { "a damaged 6-byte piece costs its answer only", inPieces (6, 3), { reply }, 1 },
        { "an answer across five buffers, real-time between them", inBuffersOf256, { { 0xF8 }, answer }, 0 },
        { "a short message takes only the bytes its status has",
          { { Event::Short, 0x7F4090, {} }, { Event::Short, 0x7F3305C0, {} }, { Event::Short, 0x7F40F8, {} }, { Event::Short, 0x7F7F00, {} } },
          { { 0x90, 0x40, 0x7F }, { 0xC0, 0x05 }, { 0xF8 } }, 0 },
        { "the end of one answer and a whole second one in one buffer",
          { { Event::Long, 0, { 0xF0, 0x00, 0x20 } }, { Event::Long, 0, { 0x54, 0x7D, 0x00, 0x00, 0xF7, 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x00, 0x00, 0xF7 } } },
          { reply, reply }, 0 },
        { "a buffer found invalid drops the answer in progress, and the next arrives whole",
          { { Event::Long, 0, { 0xF0, 0x00, 0x20 } }, { Event::Error, 0, {} }, { Event::Long, 0, { 0x54, 0x7D, 0xF7 } }, { Event::Long, 0, reply } },
          { reply }, 1 },
    };

    struct Handler : MidiInHandler
    {
        Messages got;
        int damaged = 0;
        void handleIncomingMidiMessage (MidiInPort*, const juce::MidiMessage& m) override
        {
            got.emplace_back (m.getRawData(), m.getRawData() + m.getRawDataSize());
        }
        void handleDroppedSysEx (MidiInPort*, bool oversized) override { damaged += oversized ? 100 : 1; }
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Handler handler;
        const std::atomic<bool> stopped { false };
        WinMmStream stream (nullptr, &handler, stopped);
        for (const auto& e : c.events)
        {
            if (e.kind == Event::Short)
                stream.ShortMessage (e.packed);
            else if (e.kind == Event::Long)
                stream.LongData (e.bytes.data(), e.bytes.size());
            else
                stream.LongError();
        }
        EXPECT_EQ (handler.got, c.expected);
        EXPECT_EQ (handler.damaged, c.damaged);
    }
}

TEST (LinkStream, APaceIsReadAsBytesAndMilliseconds)
{
    const std::pair<const char*, std::optional<SysExPace>> cases[] = {
        { " 256 : 90 ", SysExPace { 256, 90 } }, { "16:0", SysExPace { 16, 0 } }, { "65536:1000", SysExPace { 65536, 1000 } },
        { "", SysExPace {} }, { "0", SysExPace {} }, { "0:50", SysExPace {} }, { "256", std::nullopt }, { "15:90", std::nullopt },
        { "65537:0", std::nullopt }, { "256:1001", std::nullopt }, { "-256:90", std::nullopt }, { "256:90ms", std::nullopt },
        { "256:", std::nullopt }, { "99999999999:1", std::nullopt },
    };
    for (const auto& [text, pace] : cases)
        EXPECT_EQ (ParseSysExPace (text), pace) << text;
    EXPECT_EQ (SysExPaceText ({ 256, 90 }), "256:90");
    EXPECT_EQ (SysExPaceText ({}), "0");

    // The command line's pace wins over the settings file's for the run.
    SetSettingsSysExPace ({ 256, 90 });
    EXPECT_EQ (CurrentSysExPace(), (SysExPace { 256, 90 }));
    SetRunSysExPace (SysExPace {});
    EXPECT_TRUE (CurrentSysExPace().IsOff());
    SetRunSysExPace (std::nullopt);
    SetSettingsSysExPace ({});
    EXPECT_TRUE (CurrentSysExPace().IsOff());

    // "auto" in any case; it sends at the pace found so far, and a fixed run pace wins over it.
    EXPECT_EQ (ParsePaceChoice (" Auto "), (PaceChoice { true, {} }));
    EXPECT_EQ (ParsePaceChoice ("256:90"), (PaceChoice { false, { 256, 90 } }));
    EXPECT_EQ (ParsePaceChoice ("automatic"), std::nullopt);
    EXPECT_EQ (PaceChoiceText ({ true, {} }), "auto");
    SetSettingsPaceChoice ({ true, {} });
    SetFoundSysExPace ({ 96, 32 });
    EXPECT_EQ (CurrentSysExPace(), (SysExPace { 96, 32 }));
    SetRunSysExPace (SysExPace {});
    EXPECT_TRUE (CurrentSysExPace().IsOff());
    SetRunSysExPace (std::nullopt);
    SetSettingsSysExPace ({});
    SetFoundSysExPace ({});

    // The ladder from whole down to its floor; from a pace off the ladder, to smaller pieces at no faster a rate.
    std::vector<SysExPace> walked;
    for (auto p = SlowerAutoPace ({}); p; p = SlowerAutoPace (*p))
        walked.push_back (*p);
    EXPECT_EQ (walked, (std::vector<SysExPace> { { 255, 85 }, { 96, 32 }, { 48, 24 } }));
    EXPECT_EQ (SlowerAutoPace ({ 128, 40 }), (SysExPace { 96, 32 }));
    EXPECT_EQ (SlowerAutoPace ({ 256, 90 }), (SysExPace { 48, 24 }));
    EXPECT_EQ (SlowerAutoPace ({ 16, 10 }), std::nullopt);
    for (const auto& step : kAutoPaceSteps)
    {
        EXPECT_EQ (step.pieceBytes % 3, 0);
        EXPECT_LE (step.pieceBytes, 3 * step.gapMs) << "faster than the wire";
    }
}

TEST (LinkStream, APacedSysExLeavesInPiecesWithGapsAndTheSameBytes)
{
    Bytes block { 0xF0 };
    for (int i = 0; block.size() < 4688; ++i)
        block.push_back ((uint8_t) ((i * 3) & 0x7F));
    block.push_back (0xF7);
    const Bytes command { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 };

    struct Case
    {
        const char* name;
        const Bytes* message;
        SysExPace pace;
        std::vector<size_t> pieces;   // their sizes, in order
        int gapMs;                    // the pauses in all
        int failAt = -1;              // this piece cannot be sent
        int closeAfter = -1;          // the output closes once this many pieces have left
    };
    const SysExPace off {};
    const std::vector<size_t> of256 = [] { std::vector<size_t> v (18, 256); v.push_back (81); return v; }();
    const Case cases[] = {
        { "off: the whole message at once", &block, off, { 4689 }, 0 },
        { "256:90: about 1.6 s for a block", &block, { 256, 90 }, of256, 18 * 90 },
        { "256:0: pieces without pauses", &block, { 256, 0 }, of256, 0 },
        { "a command fits one piece", &command, { 16, 90 }, { 12 }, 0 },
        { "Windows, pacing off: buffers of 2048 bytes", &block, WinMmSysExPace (off, false), { 2048, 2048, 593 }, 0 },
        { "Windows, a larger pace: still 2048", &block, WinMmSysExPace ({ 4096, 20 }, false), { 2048, 2048, 593 }, 40 },
        { "Windows, a smaller pace", &block, WinMmSysExPace ({ 1024, 5 }, false), { 1024, 1024, 1024, 1024, 593 }, 20 },
        { "Wine: whole, paced or not", &block, WinMmSysExPace ({ 256, 90 }, true), { 4689 }, 0 },
        { "a piece that fails ends the send", &block, { 2048, 10 }, { 2048, 2048 }, 10, 1 },
        { "closing drops the rest and ends the message", &block, { 2048, 10 }, { 2048, 2048, 1 }, 10, -1, 2 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Bytes wire;
        std::vector<size_t> pieces;
        int waited = 0, told = 0;
        SysExPieces how;
        how.send = [&] (const uint8_t* b, size_t n)
        {
            pieces.push_back (n);
            if ((int) pieces.size() - 1 == c.failAt)
                return false;
            wire.insert (wire.end(), b, b + n);
            return true;
        };
        how.wait = [&] (std::chrono::milliseconds ms) { waited += (int) ms.count(); };
        how.pieceLeft = [&] { return ++told != c.closeAfter; };
        const auto& m = *c.message;
        EXPECT_EQ (SendSysExInPieces (m.data(), m.size(), c.pace, how), c.failAt < 0);
        EXPECT_EQ (pieces, c.pieces);
        EXPECT_EQ (waited, c.gapMs);
        if (c.failAt >= 0)
            continue;
        if (c.closeAfter < 0)
        {
            EXPECT_EQ (wire, m);   // the same bytes, in the same order
        }
        else
        {
            EXPECT_EQ (Bytes (wire.begin(), wire.end() - 1), Bytes (m.begin(), m.begin() + (long) wire.size() - 1));
            EXPECT_EQ (wire.back(), 0xF7);
        }
    }
}

namespace
{
    /** An output whose device takes each message only when the test lets it. */
    struct Gate
    {
        std::mutex lock;
        std::condition_variable changed;
        bool open = false;
        int entered = 0, resets = 0;
        bool closed = false;
        std::vector<int> got;   // the note numbers, in the order they went out

        template <typename Condition>
        bool WaitUntil (Condition c)
        {
            std::unique_lock<std::mutex> l (lock);
            return changed.wait_for (l, std::chrono::seconds (20), c);
        }
        void Open()
        {
            { const std::lock_guard<std::mutex> l (lock); open = true; }
            changed.notify_all();
        }
    };

    class GatePort : public MidiOutPort
    {
    public:
        explicit GatePort (std::shared_ptr<Gate> g) : gate (std::move (g)) {}
        ~GatePort() override
        {
            { const std::lock_guard<std::mutex> l (gate->lock); gate->closed = true; }
            gate->changed.notify_all();
        }
        void sendMessageNow (const juce::MidiMessage& m) override
        {
            std::unique_lock<std::mutex> l (gate->lock);
            ++gate->entered;
            gate->changed.notify_all();
            gate->changed.wait (l, [this] { return gate->open; });   // as long as the device takes
            gate->got.push_back (m.getNoteNumber());
            gate->changed.notify_all();
        }
        void reset() override
        {
            { const std::lock_guard<std::mutex> l (gate->lock); ++gate->resets; }
            gate->changed.notify_all();
        }

    private:
        std::shared_ptr<Gate> gate;
    };

    juce::MidiMessage Note (int n) { return juce::MidiMessage::noteOn (1, n, (juce::uint8) 100); }
}

TEST (LinkStream, SendsReturnWhileTheDeviceIsBusyAndLeaveInOrder)
{
    auto gate = std::make_shared<Gate>();
    auto out = WithWriterThread (std::make_unique<GatePort> (gate));
    // The device holds the first message for as long as the test likes: every send still returns.
    for (int n = 0; n < 20; ++n)
        out->sendMessageNow (Note (n));
    ASSERT_TRUE (gate->WaitUntil ([&] { return gate->entered == 1; }));
    gate->Open();
    ASSERT_TRUE (gate->WaitUntil ([&] { return gate->got.size() == 20; }));
    for (int n = 0; n < 20; ++n)
        EXPECT_EQ (gate->got[(size_t) n], n);
}

TEST (LinkStream, ResetDropsWhatIsQueuedAndTheOutputGoesOn)
{
    auto gate = std::make_shared<Gate>();
    auto out = WithWriterThread (std::make_unique<GatePort> (gate));
    for (int n = 0; n < 10; ++n)
        out->sendMessageNow (Note (n));
    ASSERT_TRUE (gate->WaitUntil ([&] { return gate->entered == 1; }));
    out->reset();
    gate->Open();
    ASSERT_TRUE (gate->WaitUntil ([&] { return gate->resets == 1; }));
    out->sendMessageNow (Note (50));
    ASSERT_TRUE (gate->WaitUntil ([&] { return gate->got.size() == 2; }));
    EXPECT_EQ (gate->got, (std::vector<int> { 0, 50 }));   // the one on its way, then the new one
}

TEST (LinkStream, CloseLeavesAWriteThatNeverEndsBehind)
{
    auto gate = std::make_shared<Gate>();
    auto out = WithWriterThread (std::make_unique<GatePort> (gate), std::chrono::milliseconds (20));
    out->sendMessageNow (Note (1));
    out->sendMessageNow (Note (2));
    ASSERT_TRUE (gate->WaitUntil ([&] { return gate->entered == 1; }));
    out.reset();   // returns although the device never takes the message
    EXPECT_EQ (AbandonedWriters(), 1);
    EXPECT_FALSE (gate->closed);

    // Once the write ends after all, the left-behind thread closes the device; the rest was dropped.
    gate->Open();
    ASSERT_TRUE (gate->WaitUntil ([&] { return gate->closed; }));
    ASSERT_TRUE (RunLoopUntil ([] { return AbandonedWriters() == 0; }));
    EXPECT_EQ (gate->got, (std::vector<int> { 1 }));
}

TEST (LinkStream, ABlockThatNeverLeavesEndsAsASilentModuleDoes)
{
    // The outputs pass messages to the bus until the device hangs: from then
    // on a write never ends. The watchdog sees no answer: "Error Code 7\n".
    struct HangingSource : MidiPortSource
    {
        struct Hang { std::mutex lock; std::condition_variable released; bool hung = false, free = false; };
        struct Port : MidiOutPort
        {
            std::unique_ptr<MidiOutPort> inner;
            std::shared_ptr<Hang> hang;
            void sendMessageNow (const juce::MidiMessage& m) override
            {
                std::unique_lock<std::mutex> l (hang->lock);
                hang->released.wait (l, [this] { return ! hang->hung || hang->free; });
                if (! hang->hung)
                    inner->sendMessageNow (m);
            }
            void reset() override {}
        };
        std::shared_ptr<VirtualMidiBus> bus;
        std::shared_ptr<Hang> hang = std::make_shared<Hang>();
        MidiPortList listPorts() override { return bus->listPorts(); }
        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& p, MidiInHandler* h) override { return bus->openInput (p, h); }
        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& p) override
        {
            auto port = std::make_unique<Port>();
            port->inner = bus->openOutput (p);
            port->hang = hang;
            return port->inner == nullptr ? nullptr : WithWriterThread (std::move (port));
        }
    };

    linktest::Rig rig;
    auto module = rig.AddModule();
    auto source = std::make_shared<HangingSource>();
    source->bus = rig.bus;
    SetMidiPortSource (source);
    ASSERT_TRUE (rig.ConnectForJob());

    { const std::lock_guard<std::mutex> l (source->hang->lock); source->hang->hung = true; }
    const auto from = rig.RunStep ([&] { return rig.link->SendDriver (rig.MakeDriver (linktest::kUniform64).getFullPathName().toWideCharPointer()); });
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ({ "Error Code 7\n" }));
    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 0);

    { const std::lock_guard<std::mutex> l (source->hang->lock); source->hang->free = true; }
    source->hang->released.notify_all();
}

TEST (LinkStream, AClosingDeviceCostsItsOwnPortOneScanAndNoOtherAny)
{
    using namespace std::chrono;
    const auto seconds = [] (steady_clock::time_point since) { return duration<double> (steady_clock::now() - since).count(); };
    {
        const ClosingDevice hung ("hw:1,0,0");
        EXPECT_FALSE (DeviceCloseEnded ("hw:1,0,0", milliseconds (20)));   // the first opening waits, in vain
        const auto start = steady_clock::now();
        EXPECT_FALSE (DeviceCloseEnded ("hw:1,0,0", minutes (5)));         // later ones do not wait at all
        EXPECT_TRUE (DeviceCloseEnded ("hw:2,0,0", minutes (5)));          // nor does any other device
        EXPECT_LT (seconds (start), 60.0);
    }
    EXPECT_TRUE (DeviceCloseEnded ("hw:1,0,0", minutes (5)));   // the close has ended

    // A close that ends while the first opening waits lets it open.
    auto slow = std::make_unique<ClosingDevice> ("hw:1,0,0");
    auto opening = std::async (std::launch::async, [] { return DeviceCloseEnded ("hw:1,0,0", minutes (5)); });
    slow.reset();
    EXPECT_TRUE (opening.get());
}

TEST (LinkStream, NoDeliveryRunsOnceTheGateIsClosed)
{
    DeliveryGate gate;
    gate.Open();
    std::atomic<bool> closed { false }, ending { false };
    std::atomic<int> delivered { 0 }, afterClose { 0 }, attempts { 0 };
    std::thread input ([&]
    {
        while (! ending)
        {
            gate.Deliver ([&]
            {
                ++delivered;
                std::this_thread::yield();   // a delivery that takes a moment
                if (closed)
                    ++afterClose;
            });
            ++attempts;
        }
    });
    ASSERT_TRUE (RunLoopUntil ([&] { return delivered > 100; }));
    gate.Close();
    closed = true;
    const int seen = attempts;
    ASSERT_TRUE (RunLoopUntil ([&] { return attempts > seen + 100; }));   // the thread goes on calling
    ending = true;
    input.join();
    EXPECT_EQ (afterClose.load(), 0);

    // Closed from inside a delivery: that one ends, and is the last.
    DeliveryGate inner;
    inner.Open();
    int calls = 0;
    inner.Deliver ([&] { ++calls; inner.Close(); });
    inner.Deliver ([&] { ++calls; });
    EXPECT_EQ (calls, 1);
}

TEST (LinkStream, ALongMessageTheDriverKeepsIsWaitedForABoundedTime)
{
    // A driver on a clock of the test's own: it gives the buffer back after
    // `backAfter`, or only when reset, or never.
    struct Case { const char* name; size_t bytes; double backAfter; bool backAtReset; LongSendEnd end; };
    const Case cases[] = {
        { "a block, sent at the wire's pace", 4689, 1.5, false, LongSendEnd::Sent },
        { "a block the service never gives back", 4689, -1, false, LongSendEnd::Kept },
        { "given back when reset", 4689, -1, true, LongSendEnd::Stopped },
        { "a probe, kept", 9, -1, false, LongSendEnd::Kept },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        LongSendWait::Clock::time_point clock {};
        bool reset = false;
        const auto elapsed = [&] { return std::chrono::duration<double> (clock - LongSendWait::Clock::time_point {}).count(); };
        LongSendWait w;
        w.done = [&] { return (c.backAfter >= 0 && elapsed() >= c.backAfter) || (reset && c.backAtReset); };
        w.wait = [&] (std::chrono::milliseconds ms) { clock += ms; };
        w.reset = [&] { reset = true; };
        w.now = [&] { return clock; };
        EXPECT_EQ (AwaitLongSend (c.bytes, w), c.end);
        const double bound = std::chrono::duration<double> (LongSendBound (c.bytes)).count();
        EXPECT_GE (bound, 2.0 * (double) c.bytes / 3125.0);   // twice what a 31,250-baud wire takes
        if (c.end == LongSendEnd::Kept)
        {
            EXPECT_NEAR (elapsed(), bound + std::chrono::duration<double> (kLongSendResetWait).count(), 0.06);
        }
        EXPECT_EQ (reset, c.end != LongSendEnd::Sent);
    }

    // The close that follows a buffer left with the driver: refused while the
    // driver holds it, so the driver is reset and the close tried again.
    struct Close { const char* name; std::vector<CloseTry> tries; bool closed; int resets; };
    const Close closes[] = {
        { "closed at once", { CloseTry::Closed }, true, 0 },
        { "closed once reset", { CloseTry::StillPlaying, CloseTry::Closed }, true, 1 },
        { "never lets go", std::vector<CloseTry> (kCloseTries + 5, CloseTry::StillPlaying), false, kCloseTries - 1 },
        { "another error", { CloseTry::Failed }, false, 0 },
    };
    for (const auto& c : closes)
    {
        SCOPED_TRACE (c.name);
        size_t next = 0;
        int resets = 0;
        EXPECT_EQ (CloseAfterResets ([&] { return c.tries[next++]; }, [&] { ++resets; }), c.closed);
        EXPECT_EQ (resets, c.resets);
    }
}

TEST (LinkStream, ADriverThatHangsInItsDescriptionCostsItsDeviceTheListingsUntilItAnswers)
{
    struct Gate
    {
        std::mutex lock;
        std::condition_variable opened;
        bool open = false;
    };
    auto gate = std::make_shared<Gate>();
    auto asked = std::make_shared<std::atomic<int>> (0);   // descriptions of the device that hangs
    const auto describe = [gate, asked] (unsigned i)
    {
        if (i == 1)
        {
            ++*asked;
            std::unique_lock<std::mutex> l (gate->lock);
            gate->opened.wait (l, [&] { return gate->open; });
        }
        return WinMmDevice { "Port " + juce::String (i), {} };
    };
    const auto names = [&]
    {
        juce::StringArray n;
        for (const auto& d : DescribeWinMmWithin (3, "test-in", describe, std::chrono::milliseconds (50)))
            n.add (d.name);
        return n;
    };
    TakeDriverNotices();
    EXPECT_EQ (names(), juce::StringArray ({ "Port 0", "", "Port 2" }));
    EXPECT_TRUE (TakeDriverNotices().contains ("device 1: its driver did not tell its name in time"));
    // Still hung: left out at once, not asked again, and said once.
    EXPECT_EQ (names(), juce::StringArray ({ "Port 0", "", "Port 2" }));
    EXPECT_EQ (asked->load(), 1);
    EXPECT_EQ (TakeDriverNotices(), "");
    EXPECT_EQ (HungCalls(), 1);
    {
        const std::lock_guard<std::mutex> l (gate->lock);
        gate->open = true;
    }
    gate->opened.notify_all();
    ASSERT_TRUE (RunLoopUntil ([] { return HungCalls() == 0; }));
    EXPECT_EQ (names(), juce::StringArray ({ "Port 0", "Port 1", "Port 2" }));
}
