// The raw MIDI backend's core on file descriptors, against a simulated
// USB-MIDI interface at the other end of a socket: messages cross whole
// whatever the reads and writes cut them into, a device that never drains
// holds neither the caller nor the close, and a whole update runs through it.
#if defined(KESTRAVA_RAWMIDI)
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include "link/QueuedOutPort.h"
#include "link/rawmidi/FdMidiPorts.h"
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
        EXPECT_FALSE (out.Failed());
        EXPECT_EQ (device.BadSysEx(), 0u);
        EXPECT_EQ (in.DamagedSysEx() + in.OversizedSysEx(), 0u);
        in.stop();
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
