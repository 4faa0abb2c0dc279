// The raw MIDI backend's core on file descriptors, against a simulated
// USB-MIDI interface at the other end of a socket: messages cross whole
// whatever the reads and writes cut them into, a device that never drains
// holds neither the caller nor the close, and a whole update runs through it.
// Also what the backend reads from the kernel (its listing, the information
// files of busy ports), the paced SysEx of the sequencer route and the wait
// for what is still queued when an output is closed; and, on the hardware
// stage's real kernel, a card that takes nothing closed and opened again.
#if defined(KESTRAVA_RAWMIDI)
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <future>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include "link/QueuedOutPort.h"
#include "link/rawmidi/AlsaRawMidi.h"
#include "link/rawmidi/CardLocation.h"
#include "link/rawmidi/FdMidiPorts.h"
#include "link/rawmidi/OutputDrain.h"
#include "link/rawmidi/PacedSysEx.h"
#include "link/rawmidi/RawMidiPortSource.h"
#include "link/rawmidi/RawMidiProc.h"
#include "link/rawmidi/SeqMidiOut.h"
#include "link/rawmidi/SequencerLocations.h"
#include "sim/StreamMidiInterface.h"
#include "tests/SimTestHost.h"
#include "tests/UpdateFlowSupport.h"

namespace
{
    using Messages = std::vector<Bytes>;

    /** A SysEx of `size` bytes in all, its data bytes patterned. */
    juce::MidiMessage SysEx (int size, int seed)
    {
        Bytes data ((size_t) size - 2);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = (uint8_t) ((i * 7 + (size_t) seed) & 0x7F);
        return juce::MidiMessage::createSysExMessage (data.data(), (int) data.size());
    }

    Bytes BytesOf (const juce::MidiMessage& m)
    {
        return Bytes (m.getRawData(), m.getRawData() + m.getRawDataSize());
    }

    /** Whole messages received, in order (from the interface's or an input's thread). */
    struct Received : MidiInHandler
    {
        void handleIncomingMidiMessage (MidiInPort*, const juce::MidiMessage& m) override { Take (m); }
        void handleDroppedSysEx (MidiInPort*, bool oversized) override { ++(oversized ? oversizedDrops : damagedDrops); }
        std::atomic<int> damagedDrops { 0 }, oversizedDrops { 0 };
        std::mutex lock;
        std::condition_variable more;
        Messages got;
        void Take (const juce::MidiMessage& m)
        {
            { const std::lock_guard<std::mutex> l (lock); got.push_back (BytesOf (m)); }
            more.notify_all();
        }
        bool WaitFor (size_t n)
        {
            std::unique_lock<std::mutex> l (lock);
            return more.wait_for (l, std::chrono::seconds (60), [&] { return got.size() >= n; });
        }
    };

    /** The host's ends of the stream: a port of each direction on its own descriptor. */
    int Dup (const StreamMidiInterface& device) { return ::dup (device.HostFd()); }
    FdCloser Closer (int fd) { return [fd] { ::close (fd); }; }

    /** A port source with one port pair: the host's end of an interface. */
    class StreamPortSource : public MidiPortSource
    {
    public:
        explicit StreamPortSource (StreamMidiInterface& d) : device (d) {}
        MidiPortList listPorts() override
        {
            const MidiPortInfo port { "USB MIDI Interface MIDI 1", "hw:1,0,0", "rawmidi" };
            return { { port }, { port } };
        }
        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo&, MidiInHandler* handler) override
        {
            const int fd = Dup (device);
            return std::make_unique<FdMidiInPort> (fd, handler, Closer (fd));
        }
        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo&) override
        {
            const int fd = Dup (device);
            return WithWriterThread (std::make_unique<FdMidiOutPort> (fd, Closer (fd)));
        }

    private:
        StreamMidiInterface& device;
    };
}

TEST (LinkFdPorts, MessagesCrossAUsbMidiInterfaceWholeBothWays)
{
    struct Case { const char* name; bool shortWrites; };
    for (const Case c : { Case { "blocking writes", false }, Case { "short writes", true } })
    {
        SCOPED_TRACE (c.name);
        StreamMidiInterface::Settings settings;
        settings.bytesPerFrame = 512;        // faster than USB, to keep the test short; reads still cut every message
        settings.hostNonBlocking = c.shortWrites;
        Received atDevice;   // outlives the interface, whose thread hands it messages
        StreamMidiInterface device (settings);
        device.SetReceiver ([&] (const juce::MidiMessage& m) { atDevice.Take (m); });

        const int outFd = Dup (device), inFd = Dup (device);
        FdMidiOutPort out (outFd, Closer (outFd));
        Received atHost;
        FdMidiInPort in (inFd, &atHost, Closer (inFd));
        in.start();

        const std::vector<juce::MidiMessage> messages { SysEx (4689, 1), juce::MidiMessage::noteOn (1, 60, (juce::uint8) 90),
                                                        SysEx (12, 2), SysEx (20000, 3), juce::MidiMessage (0xF8) };
        for (auto& m : messages)
        {
            out.sendMessageNow (m);
            device.Send (m);
        }
        ASSERT_TRUE (atDevice.WaitFor (messages.size()));
        ASSERT_TRUE (atHost.WaitFor (messages.size()));
        for (size_t i = 0; i < messages.size(); ++i)
        {
            EXPECT_EQ (atDevice.got[i], BytesOf (messages[i])) << i;
            EXPECT_EQ (atHost.got[i], BytesOf (messages[i])) << i;
        }
        EXPECT_FALSE (out.hasFailed());
        EXPECT_EQ (device.BadSysEx(), 0u);
        EXPECT_EQ (in.DamagedSysEx() + in.OversizedSysEx(), 0u);
        in.stop();
    }
}

TEST (LinkFdPorts, EachSysExTheInputDropsIsToldToItsHandler)
{
    int p[2];
    ASSERT_EQ (::pipe (p), 0);
    Received handler;
    FdMidiInPort in (p[0], &handler, Closer (p[0]), 16);
    in.start();
    const Bytes bytes { 0xF0, 0x00, 0x20, 0x54, 0x90, 0x3C, 0x40,                        // damaged: a note cuts it
                        0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0xF7,  // oversized for a bound of 16
                        0xF0, 0x00, 0x20, 0x54, 0x7D, 0x00, 0x00, 0xF7 };                  // whole
    ASSERT_EQ (::write (p[1], bytes.data(), bytes.size()), (ssize_t) bytes.size());
    ASSERT_TRUE (handler.WaitFor (2));   // the note and the whole SysEx
    EXPECT_EQ (handler.damagedDrops.load(), 1);
    EXPECT_EQ (handler.oversizedDrops.load(), 1);
    in.stop();
    ::close (p[1]);
}

TEST (LinkFdPorts, TheKernelsInformationFileTellsWhoHoldsASubstreamAndTheRoomLeft)
{
    // As /proc/asound/card1/midi0 reads while aseqdump holds the input and an output is open.
    const std::string text = "UM-ONE\n\n"
                             "Output 0\n  Tx bytes     : 9378\n  Owner PID    : 311\n  Mode         : native\n"
                             "  Buffer size  : 4096\n  Avail        : 3072\n"
                             "Output 1\n  Tx bytes     : 0\n"
                             "Input 0\n  Rx bytes     : 18\n  Owner PID    : 4242\n  Buffer size  : 4096\n"
                             "  Avail        : 0\n  Overruns     : 0\n";
    struct Case { bool output; int sub; bool present; bool opened; int pid; long size; long avail; };
    for (const Case c : { Case { true, 0, true, true, 311, 4096, 3072 }, Case { true, 1, true, false, -1, -1, -1 },
                          Case { false, 0, true, true, 4242, 4096, 0 }, Case { false, 1, false, false, -1, -1, -1 } })
    {
        SCOPED_TRACE ((c.output ? "Output " : "Input ") + std::to_string (c.sub));
        const auto info = ParseRawMidiProc (text, c.output, c.sub);
        ASSERT_EQ (info.has_value(), c.present);
        if (! c.present)
            continue;
        EXPECT_EQ (info->opened, c.opened);
        EXPECT_EQ (info->ownerPid, c.pid);
        EXPECT_EQ (info->bufferSize, c.size);
        EXPECT_EQ (info->avail, c.avail);
    }

    const auto input = *ParseRawMidiProc (text, false, 0);
    EXPECT_EQ (DescribeHolder (input, ParseProcessName ("aseqdump\n")), "aseqdump (PID 4242)");
    EXPECT_EQ (DescribeHolder (input, ""), "PID 4242");   // the holder has ended meanwhile
    EXPECT_EQ (DescribeHolder (RawMidiSubstreamInfo {}, "aseqdump"), "");

    int card = -1, device = -1, sub = -1;
    EXPECT_TRUE (ParseRawIdentifier ("hw:1,0,2", card, device, sub));
    EXPECT_EQ (card * 100 + device * 10 + sub, 102);
    for (const char* other : { "20-0", "hw:1,0", "hw:1,0,0x", "" })
        EXPECT_FALSE (ParseRawIdentifier (other, card, device, sub)) << other;
}

TEST (LinkFdPorts, TheListingKeepsEachDirectionsNameAndItsCardsPlaceAndOtherProgramsPortsOnlyWhenAsked)
{
    EXPECT_EQ (RawMidiPortName ("UM-ONE", "UM-ONE MIDI 1"), "UM-ONE MIDI 1");
    EXPECT_EQ (RawMidiPortName ("Gadget", "f_midi"), "Gadget: f_midi");
    EXPECT_EQ (RawMidiPortName ("Gadget", ""), "Gadget");

    // A card's location is that of its USB device (not of the interface the
    // card is made on), or the device's own path; nothing outside the device tree.
    const std::pair<const char*, const char*> locations[] = {
        { "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.4/1-2.4:1.1", "pci0000:00/0000:00:14.0/usb1/1-2/1-2.4" },
        { "/sys/devices/platform/dummy_hcd.0/usb5/5-1/5-1:1.0", "platform/dummy_hcd.0/usb5/5-1" },
        { "/sys/devices/pci0000:00/0000:00:1f.3", "pci0000:00/0000:00:1f.3" },
        { "/sys/devices/", "" }, { "/sys/class/sound/card1", "" }, { "", "" } };
    for (auto [path, location] : locations)
        EXPECT_EQ (DeviceLocation (path), location) << path;

    // A USB-MIDI device whose jack strings differ per direction, and an output-only port.
    const auto raw = JoinRawMidiStreams ({ { "hw:1,0,0", "Synth: Synth MIDI In", 1, true, "usb1/1-2,0,0" },
                                           { "hw:1,0,0", "Synth: Synth MIDI Out", 1, false, "usb1/1-2,0,0" },
                                           { "hw:1,0,1", "Synth: Synth Thru", 1, false, "usb1/1-2,0,1" } });
    ASSERT_EQ (raw.size(), 2u);
    EXPECT_EQ (raw[0].inputName, "Synth: Synth MIDI In");
    EXPECT_EQ (raw[0].outputName, "Synth: Synth MIDI Out");
    EXPECT_EQ (raw[1].inputName, "");

    // The sequencer shows the card (client 20) and two programs.
    MidiPortList sequencer;
    sequencer.inputs = { { "Synth MIDI 1", "20-0", "alsa-seq" }, { "aseqdump", "128-0", "alsa-seq" } };
    sequencer.outputs = { { "Synth MIDI 1", "20-0", "alsa-seq" }, { "DAW out", "129-0", "alsa-seq" } };
    struct Case { bool others; std::vector<juce::String> inputs, outputs; };
    for (const Case& c : { Case { false, { "Synth: Synth MIDI In" }, { "Synth: Synth MIDI Out", "Synth: Synth Thru" } },
                          Case { true, { "Synth: Synth MIDI In", "aseqdump" },
                                 { "Synth: Synth MIDI Out", "Synth: Synth Thru", "DAW out" } } })
    {
        SCOPED_TRACE (c.others);
        const auto list = ComposeLinuxPorts (raw, { { 20, 1 } }, sequencer, c.others);
        EXPECT_EQ (NamesOf (list.inputs), juce::StringArray (c.inputs.data(), (int) c.inputs.size()));
        EXPECT_EQ (NamesOf (list.outputs), juce::StringArray (c.outputs.data(), (int) c.outputs.size()));
        EXPECT_EQ (list.outputs[0].identifier, "hw:1,0,0");
        EXPECT_EQ (list.outputs[0].backend, "rawmidi");
        EXPECT_EQ (list.outputs[1].location, "usb1/1-2,0,1");
    }

    // Through the sequencer alone, the card's client ports carry its location too.
    LocateCardClientPorts (sequencer, { { 20, 1 }, { 24, 2 } }, [] (int card) { return card == 1 ? "usb1/1-2" : ""; });
    EXPECT_EQ (sequencer.inputs[0].location, "usb1/1-2,seq:0");
    EXPECT_EQ (sequencer.outputs[0].location, "usb1/1-2,seq:0");
    EXPECT_EQ (sequencer.inputs[1].location, "");
}

TEST (LinkFdPorts, PacedSysExLeavesInEventsThatEachFitTheCardsRoom)
{
    // A card's output buffer that drains at a wire's rate on a clock of the test's own.
    struct Card
    {
        long capacity = 4096, bytesPerSecond = 0;
        bool readable = true, isCard = true;
        double queued = 0;
        SysExPacing::Clock::time_point clock {};
        Bytes wire;
        std::vector<size_t> events;
        bool overrun = false;

        SysExPacing Pacing()
        {
            SysExPacing p;
            if (isCard)
                p.room = [this] { return readable ? capacity - (long) std::ceil (queued) : -1L; };
            p.capacity = readable ? capacity : -1;
            p.send = [this] (const uint8_t* b, size_t n)
            {
                if ((double) n > (double) capacity - queued)
                    overrun = true;   // the kernel drops what does not fit
                else
                    wire.insert (wire.end(), b, b + n);
                queued += (double) n;
                events.push_back (n);
                return true;
            };
            p.sleep = [this] (std::chrono::microseconds us)
            {
                clock += us;
                queued = std::max (0.0, queued - (double) us.count() * (double) bytesPerSecond / 1e6);
            };
            p.now = [this] { return clock; };
            return p;
        }
    };

    const auto block = SysEx (4689, 5);
    const Bytes sent = BytesOf (block);
    struct Case { const char* name; long capacity, rate; bool readable, isCard, ok; size_t largest; double leastSeconds; SysExPace pace {}; };
    const Case cases[] = {
        { "USB card, default buffer", 4096, 300000, true, true, true, 512, 0.0 },
        { "USB card, paced 256:90: the gap after each event but the last", 4096, 300000, true, true, true, 256, 1.6, { 256, 90 } },
        { "31,250-baud wire, buffer made small", 300, 3125, true, true, true, 300, 1.0 },
        { "buffer cannot be read: the wire's rate is assumed", 4096, 3125, false, true, true, 512, 0.18 },
        { "a program's port: nothing to wait for", 1 << 20, 0, true, false, true, 512, 0.0 },
        { "a card that takes nothing more", 4096, 0, true, true, false, 512, 5.0 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        Card card;
        card.capacity = c.capacity;
        card.bytesPerSecond = c.rate;
        card.readable = c.readable;
        card.isCard = c.isCard;
        card.queued = c.ok ? 0 : 4000;   // the stuck card is nearly full already
        auto pacing = card.Pacing();
        pacing.pace = c.pace;
        EXPECT_EQ (SendPaced (sent.data(), sent.size(), pacing), c.ok);
        EXPECT_FALSE (card.overrun);
        for (auto n : card.events)
            EXPECT_LE (n, c.largest);
        EXPECT_GE (std::chrono::duration<double> (card.clock - SysExPacing::Clock::time_point {}).count(), c.leastSeconds);
        if (c.ok)
        {
            EXPECT_EQ (card.wire, sent);   // the first event starts with F0, the last ends with F7
        }
    }
}

TEST (LinkFdPorts, ADeviceThatNeverDrainsHoldsNeitherTheCallerNorTheClose)
{
    Received atDevice;
    StreamMidiInterface device;
    device.Hold (true);
    device.SetReceiver ([&] (const juce::MidiMessage& m) { atDevice.Take (m); });

    const int fd = Dup (device);
    auto out = WithWriterThread (std::make_unique<FdMidiOutPort> (fd, Closer (fd)), std::chrono::milliseconds (20));
    for (int i = 0; i < 8; ++i)   // far more than the stream holds: the writer blocks in the first ones
        out->sendMessageNow (SysEx (4689, i));
    out.reset();
    EXPECT_EQ (AbandonedWriters(), 1);

    // The device drains after all: the write in progress ends and the thread closes the descriptor.
    device.Hold (false);
    ASSERT_TRUE (RunLoopUntil ([] { return AbandonedWriters() == 0; }, 60000));
    ASSERT_TRUE (atDevice.WaitFor (1));
    EXPECT_EQ (atDevice.got[0], BytesOf (SysEx (4689, 0)));
}

TEST (LinkFdPorts, AnInputWithoutItsWakePipeStillStops)
{
    int p[2];
    ASSERT_EQ (::pipe (p), 0);
    Received handler;
    std::unique_ptr<FdMidiInPort> in;
    {
        // UBSan checks a type the first time it meets it through a pipe of
        // its own: the port's types are met once while pipes can be made.
        int q[2];
        ASSERT_EQ (::pipe (q), 0);
        { FdMidiInPort met (q[0], &handler, Closer (q[0])); }
        ::close (q[1]);

        // No descriptor is left for the port's own pipe.
        rlimit old {};
        ASSERT_EQ (::getrlimit (RLIMIT_NOFILE, &old), 0);
        const int lowestFree = ::open ("/dev/null", O_RDONLY);
        ASSERT_GE (lowestFree, 0);
        ::close (lowestFree);
        rlimit none = old;
        none.rlim_cur = (rlim_t) lowestFree;
        ASSERT_EQ (::setrlimit (RLIMIT_NOFILE, &none), 0);
        int probe[2];
        const bool refused = ::pipe (probe) != 0;
        in = std::make_unique<FdMidiInPort> (p[0], &handler, Closer (p[0]));
        ::setrlimit (RLIMIT_NOFILE, &old);
        ASSERT_TRUE (refused);
    }
    in->start();
    const uint8_t probe[] = { 0xF0, 0x00, 0x20, 0x54, 0x05, 0x06, 0x00, 0xF7 };
    ASSERT_EQ (::write (p[1], probe, sizeof (probe)), (ssize_t) sizeof (probe));
    ASSERT_TRUE (handler.WaitFor (1));
    auto stopping = std::async (std::launch::async, [&] { in->stop(); });
    const bool stopped = stopping.wait_for (std::chrono::seconds (20)) == std::future_status::ready;
    if (! stopped)
        (void) ::write (p[1], probe, 1);   // lets a reader that never looks at the request end
    EXPECT_TRUE (stopped);
    stopping.wait();
    ::close (p[1]);
}

TEST (LinkFdPorts, AClosedOutputGivesWhatIsQueuedTheWiresTimeAndNoMore)
{
    // A card's buffer on a clock of the test's own, drained at `rate` bytes
    // per second; `takesNothingAfter`: it stops there.
    struct Case { const char* name; long queued; double rate; double takesNothingAfter; bool drained; double leastSeconds, mostSeconds; };
    const Case cases[] = {
        { "nothing queued", 0, 0, 0, true, 0, 0 },
        { "a block at USB speed", 4689, 300000, -1, true, 0.0, 0.05 },
        { "a block at the wire's pace", 4689, 3125, -1, true, 1.4, 1.6 },
        { "a probe to a device that takes nothing", 9, 0, 0, false, 0.0, 0.21 },
        { "a block to a device that stops half way", 4689, 3125, 0.5, false, 0.7, 0.75 },
        { "a device slower than any wire", 4689, 1000, -1, false, 1.6, 1.62 },
        { "a card gone", -1, 0, 0, false, 0, 0 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        QueuedOutput::Clock::time_point clock {};
        const auto seconds = [&] { return std::chrono::duration<double> (clock - QueuedOutput::Clock::time_point {}).count(); };
        const auto queued = [&]
        {
            if (c.queued < 0)
                return -1L;
            const double moving = c.takesNothingAfter >= 0 ? std::min (seconds(), c.takesNothingAfter) : seconds();
            return std::max (0L, c.queued - (long) (moving * c.rate));
        };
        const QueuedOutput output { queued, [&] (std::chrono::microseconds us) { clock += us; }, [&] { return clock; } };
        EXPECT_EQ (WaitOutputDrained (output), c.drained);
        EXPECT_GE (seconds(), c.leastSeconds);
        EXPECT_LE (seconds(), c.mostSeconds);
    }
}

TEST (LinkFdPorts, ABoundedWriteGivesUpOnADeviceThatNeverDrains)
{
    int pipeFds[2];
    ASSERT_EQ (::pipe2 (pipeFds, O_NONBLOCK), 0);
    const auto small = BytesOf (SysEx (16, 1));
    const auto large = BytesOf (SysEx (1 << 17, 2));   // more than the pipe holds
    EXPECT_TRUE (WriteWhole (pipeFds[1], small.data(), small.size(), 0));
    EXPECT_FALSE (WriteWhole (pipeFds[1], large.data(), large.size(), 50));
    ::close (pipeFds[0]);
    ::close (pipeFds[1]);
}

// Run by the hardware stage on a real kernel (tests/hardware/): the output of
// a card whose far end takes nothing, named by KESTRAVA_STALLED_RAWMIDI
// ("hw:C,D,S"; the rig's gadget card seen from its device side while nobody
// reads the host side). Its output is closed with bytes queued, directly and
// through the card's sequencer port, and opened again meanwhile.
TEST (LinkFdPorts, ACardThatTakesNothingIsClosedWithoutHoldingTheProgram)
{
    const char* stalled = std::getenv ("KESTRAVA_STALLED_RAWMIDI");
    if (stalled == nullptr)
        GTEST_SKIP() << "no card that takes nothing (KESTRAVA_STALLED_RAWMIDI); the hardware stage runs this";
    using namespace std::chrono;
    const auto seconds = [] (steady_clock::time_point since) { return duration<double> (steady_clock::now() - since).count(); };
    int card = -1, device = -1, sub = -1;
    ASSERT_TRUE (ParseRawIdentifier (stalled, card, device, sub));
    const auto queued = [&]
    {
        const auto info = ParseRawMidiProc (ReadRawMidiProc (card, device), true, sub);
        return info.has_value() && info->avail >= 0 ? info->bufferSize - info->avail : 0L;
    };
    auto source = MakeRawMidiPortSource (false);
    const auto ports = source->listPorts();
    const auto find = [&] (const std::vector<MidiPortInfo>& side)
    {
        const auto it = std::find_if (side.begin(), side.end(), [&] (const MidiPortInfo& p) { return p.identifier == stalled; });
        return it != side.end() ? *it : MidiPortInfo {};
    };
    const auto out = find (ports.outputs), in = find (ports.inputs);
    ASSERT_TRUE (out.name.isNotEmpty() && in.name.isNotEmpty()) << stalled << " is not listed";

    // Directly: what is queued is dropped at the close, which returns at once
    // and leaves the card to be opened again at once.
    auto port = source->openOutput (out);
    ASSERT_NE (port, nullptr);
    for (int i = 0; i < 5; ++i)   // more than the far end's requests take: the rest stays in the card's buffer
        port->sendMessageNow (SysEx (4689, i));
    ASSERT_TRUE (RunLoopUntil ([&] { return queued() >= 4689; }, 20000));
    auto start = steady_clock::now();
    port.reset();
    EXPECT_LT (seconds (start), 2.0);
    EXPECT_EQ (AbandonedWriters(), 0);
    start = steady_clock::now();
    port = source->openOutput (out);
    EXPECT_NE (port, nullptr);
    EXPECT_LT (seconds (start), 2.0);
    port.reset();

    // Through the card's sequencer port: the kernel waits (up to 10 s) for the
    // card's buffer as the program unsubscribes, on the writer thread. Opening
    // the output meanwhile costs one short wait, then none; the input opens.
    const auto route = CardSequencerPort (card, device, sub);
    ASSERT_FALSE (route.empty());
    port = WithWriterThread (OpenSequencerOutput (route, {}), milliseconds (1000));
    ASSERT_NE (port, nullptr);
    port->sendMessageNow (SysEx (2000, 1));   // the far end takes nothing more: it stays in the card's buffer
    ASSERT_TRUE (RunLoopUntil ([&] { return queued() >= 2000; }, 20000));
    port.reset();
    ASSERT_EQ (AbandonedWriters(), 1) << "the unsubscribing ended at once: the far end took the bytes after all";
    start = steady_clock::now();
    EXPECT_EQ (source->openOutput (out), nullptr);
    EXPECT_EQ (source->openOutput (out), nullptr);
    Received handler;
    auto input = source->openInput (in, &handler);
    EXPECT_NE (input, nullptr);
    input.reset();
    EXPECT_LT (seconds (start), 3.0);
    ASSERT_TRUE (RunLoopUntil ([] { return AbandonedWriters() == 0; }, 30000));
    EXPECT_NE (source->openOutput (out), nullptr);
}

TEST (UpdateFlowRawMidi, WholeUpdateOverAByteStreamAtUsbFullSpeed)
{
    // The panel on the raw MIDI core; the simulated module behind a USB-MIDI
    // interface that moves one full-speed packet (48 MIDI bytes) each way per 1 ms frame.
    PanelHarness h;
    auto module = h.bus->addModule (flow::ModuleConfig (SimMode::Loader));
    module->preloadFlash (0, std::vector<uint8_t> (0x20000, 0x00));
    auto usb = std::make_unique<StreamMidiInterface>();
    auto& device = *usb;

    // The interface passes the host's messages to the module and the module's back.
    struct Relay : MidiInHandler
    {
        StreamMidiInterface* device = nullptr;
        void handleIncomingMidiMessage (MidiInPort*, const juce::MidiMessage& m) override { device->Send (m); }
    } relay;
    relay.device = &device;
    auto toModule = h.bus->openOutputNamed ("Sim Sound Module");
    auto fromModule = h.bus->openInputNamed ("Sim Sound Module", &relay);
    ASSERT_TRUE (toModule != nullptr && fromModule != nullptr);
    fromModule->start();
    device.SetReceiver ([&] (const juce::MidiMessage& m) { toModule->sendMessageNow (m); });
    SetMidiPortSource (std::make_shared<StreamPortSource> (device));

    h.Start();
    ASSERT_TRUE (h.WaitConnected (20000));
    const auto image = h.MakeImage ("small.bin", 0x10000);
    const auto bytes = PanelHarness::Bytes (image);
    h.Choose (image);
    ASSERT_TRUE (flow::Press (h));
    ASSERT_TRUE (flow::RunUntilBoxes (h, 1, 240000)) << flow::Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << flow::BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, flow::kCompleted);

    // Every block crossed whole: nothing damaged on either side, the flash holds the file.
    EXPECT_TRUE (flow::FlashHolds (*module, 0, bytes, 0, bytes.size()));
    EXPECT_EQ (module->receivedCount (SimCommand::ProgramBlock), 16);
    EXPECT_EQ (device.BadSysEx(), 0u);
    EXPECT_FALSE (h.panel->GetLogText().contains ("retry"));

    h.panel.reset();
    fromModule->stop();
    usb.reset();   // its thread ends before the port it feeds
}
#endif
