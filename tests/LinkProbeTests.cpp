// Finding the module: port discovery, the two probes and their alternation,
// binding by the loader's identity reply, the FS flag, the switch into the
// loader, Reset and the quit path, all over the virtual bus.
#include <utility>
#if defined(KESTRAVA_RAWMIDI)
 #include <fcntl.h>
 #include <unistd.h>
#endif
#include <gtest/gtest.h>
#include "app/Application.h"
#include "link/winmm/WinMmNames.h"
#include "tests/LinkTestRig.h"

using namespace linktest;

namespace
{
    enum class Probe { Loader, Application, Other };

    Probe KindOf (const juce::MidiMessage& m, int* index = nullptr)
    {
        if (! m.isSysEx())
            return Probe::Other;
        const uint8_t* d = m.getSysExData();
        const int n = m.getSysExDataSize();
        if (n == 7 && d[3] == 0x7D && d[4] == 0x08 && d[6] == 0x01)
        {
            if (index != nullptr)
                *index = d[5];
            return Probe::Loader;
        }
        if (n == 5 && d[3] == 0x05 && d[4] == 0x06)
            return Probe::Application;
        return Probe::Other;
    }

    int LoaderProbeIndex (const SimulatedModule& module)
    {
        const auto probes = module.received (SimCommand::LoaderProbe);
        return probes.empty() ? -1 : probes.back().bytes[5];
    }
}

TEST (LinkProbe, NothingConnectedAlternatesProbesWithAFreshScanEachCycle)
{
    Rig rig;
    auto port = rig.bus->addSilentPorts ("USB MIDI Interface");
    rig.link->Connect();
    ASSERT_TRUE (rig.WaitFor (kNotFoundMessage, 0, 3));
    ASSERT_TRUE (rig.bus->waitForIdle());

    // Connect sends the loader probe; the unanswered cycles then switch kind each time.
    const auto got = port->received();
    ASSERT_GE (got.size(), 4u);
    const Probe expected[] = { Probe::Loader, Probe::Loader, Probe::Application, Probe::Loader };
    for (size_t i = 0; i < 4; ++i)
    {
        int index = -1;
        EXPECT_EQ (KindOf (got[i], &index), expected[i]) << i;
        if (expected[i] == Probe::Loader)
        {
            EXPECT_EQ (index, 0);
        }
    }
    EXPECT_EQ (rig.timeline.Count (kNotFoundMessage), 3);
    EXPECT_EQ (rig.timeline.Count (kConnectedMessage), 0);
    EXPECT_EQ (rig.timeline.Count (kPresenceMessage), 0);
    EXPECT_FALSE (g_bConnected.load());
    EXPECT_EQ (g_nDeviceFamily.load(), 2);
    EXPECT_EQ (rig.bus->outputOpenAttempts ("USB MIDI Interface"), 4);   // Connect and three rescans
    EXPECT_FALSE (rig.link->HasBoundPair());
}

TEST (LinkProbe, LoaderBindsItsOwnPortPairAndSoundBlasterPortsStayClosed)
{
    Rig rig;
    auto usb = rig.bus->addSilentPorts ("USB MIDI Interface");
    rig.bus->addSoundBlasterPorts();
    rig.bus->addSilentPorts ("CREATIVE SOUND BLASTER Live! MIDI");
    auto other = rig.bus->addSilentPorts ("My Creative Sound Blaster MIDI Out");
    auto module = rig.AddModule();

    ASSERT_TRUE (rig.ConnectForJob());
    EXPECT_EQ (rig.timeline.Count (kConnectedMessage, 1), 1);
    EXPECT_TRUE (rig.link->IsFS());
    EXPECT_EQ (rig.bus->openAttempts (kSoundBlasterPortName), 0);
    EXPECT_EQ (rig.bus->openAttempts ("CREATIVE SOUND BLASTER Live! MIDI"), 0);
    EXPECT_GT (rig.bus->openAttempts ("My Creative Sound Blaster MIDI Out"), 0);

    // Each output was probed with its own index; the module names its own.
    ASSERT_TRUE (rig.bus->waitForIdle());
    int index = -1;
    ASSERT_EQ (usb->receivedCount(), 1);
    EXPECT_EQ (KindOf (usb->received()[0], &index), Probe::Loader);
    EXPECT_EQ (index, 0);
    ASSERT_EQ (other->receivedCount(), 1);
    EXPECT_EQ (KindOf (other->received()[0], &index), Probe::Loader);
    EXPECT_EQ (index, 3);
    EXPECT_EQ (LoaderProbeIndex (*module), 4);

    // The bound pair is the module's: an upload reaches it and nothing else.
    usb->clearReceived();
    other->clearReceived();
    ASSERT_TRUE (rig.UploadDriver (rig.MakeDriver (kUniform64)));
    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 1);
    ASSERT_TRUE (rig.bus->waitForIdle());
    EXPECT_EQ (usb->receivedCount(), 0);
    EXPECT_EQ (other->receivedCount(), 0);
}

TEST (LinkProbe, TheSoundBlasterRuleReadsALinuxRawNameAsTheCardsAndThenThePortsOwn)
{
    struct Case { const char* name; const char* backend; bool skipped; };
    const Case cases[] = {
        { "Creative Sound Blaster MIDI Out", "winmm", true },
        { "My Creative Sound Blaster MIDI Out", "winmm", false },
        { "Creative Sound Blaster MIDI Out", "alsa-seq", true },
        { "Some Program: Creative Sound Blaster MIDI Out", "alsa-seq", false },   // a name of its own, not a card's
        // Raw names on Linux: "<card name>: <port name>" (the port's alone when it begins with the card's).
        { "Creative Sound Blaster X-Fi: Creative Sound Blaster X-Fi MIDI 1", "rawmidi", true },
        { "SB Live! 5.1 [SB0220]: CREATIVE SOUND BLASTER MIDI Out", "rawmidi", true },
        // The names Creative's cards have under Linux's own drivers do not carry the words.
        { "SB Live! 5.1 [SB0220]: EMU10K1 MPU-401 (UART)", "rawmidi", false },
        { "SB Audigy 2 ZS [SB0350]: Audigy MPU-401 (UART)", "rawmidi", false },
        { "Sound Blaster 16: SB16 MIDI", "rawmidi", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ (IsSkippedSoundCardPort ({ c.name, "id", c.backend }), c.skipped) << c.name << " / " << c.backend;
}

TEST (LinkProbe, AWinMmPortIsOpenedByItsNumberOfNowAndNeverAsAnotherPort)
{
    // Two modules of one kind, then a device whose driver tells its interface.
    const char* const path = R"(\\?\usb#vid_1209&pid_7a00#6&1a2b3c4d&0&2#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\global)";
    const std::vector<WinMmDevice> before { { "Rig Module", "" }, { "Rig Module", "" }, { "USB MIDI", path } };
    const auto listed = ListWinMmPorts (before);
    ASSERT_EQ (listed.size(), 3u);
    EXPECT_EQ (NamesOf (listed), juce::StringArray ({ "Rig Module", "Rig Module-2", "USB MIDI" }));
    EXPECT_EQ (listed[1].identifier, "Rig Module-2");
    EXPECT_EQ (listed[2].identifier, path);
    EXPECT_EQ (listed[2].backend, "winmm");

    // The first module restarts into its loader: its number goes; the device
    // with the interface is found at its new number, under its name only.
    const auto now = ListWinMmPorts ({ { "Rig Module", "" }, { "USB MIDI", path } });
    EXPECT_EQ (FindWinMmPort (now, listed[2]), 1);
    EXPECT_EQ (FindWinMmPort (now, listed[1]), -1);   // "Rig Module-2" is gone
    auto renamed = ListWinMmPorts ({ { "Loader", path } });
    EXPECT_EQ (FindWinMmPort (renamed, listed[2]), -1);   // that interface is another port now

    // After the open, the handle tells which device the number reached: a
    // device that came or went in between moved the numbers.
    const char* const otherPath = R"(\\?\usb#vid_1209&pid_7a01#6&1a2b3c4d&0&3#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\global)";
    struct Case { size_t listed; WinMmDevice opened; bool same; };
    const Case cases[] = {
        { 2, { "USB MIDI", path }, true },
        { 2, { "USB MIDI", otherPath }, false },             // another device of that name
        { 2, { "USB MIDI", "" }, true },                     // the handle tells no interface: the name decides
        { 2, { "Rig Module", "" }, false },
        { 1, { "Rig Module", "" }, true },                   // a duplicate's number is the listing's own
        { 0, { "Loader", "" }, false },
        { 0, { "", "" }, true },                             // a handle that tells nothing is taken at its word
    };
    for (const auto& c : cases)
        EXPECT_EQ (IsListedWinMmDevice (listed[c.listed], c.opened), c.same)
            << listed[c.listed].name << " opened as " << c.opened.name << " " << c.opened.interfacePath;
    EXPECT_TRUE (IsListedWinMmDevice (ListWinMmPorts ({ { "MIDI-2", "" } })[0], { "MIDI-2", "" }));   // a name that ends in a number
}

TEST (LinkProbe, IdentityRepliesNamingNoOpenedOutputBindNothing)
{
    Rig rig;
    auto broken = rig.bus->addSilentPorts ("Broken Port");
    broken->setOpenFails (true);
    // Answers every loader probe twice: naming an output that does not exist,
    // and naming the output that failed to open.
    rig.bus->addScriptedPorts ("Confused Device", [] (ScriptedPortPair& pair, const juce::MidiMessage& m)
    {
        if (KindOf (m) != Probe::Loader)
            return;
        pair.sendSysEx ({ 0x00, 0x20, 0x54, 0x7D, 0x09, 99, 0x01 });
        pair.sendSysEx ({ 0x00, 0x20, 0x54, 0x7D, 0x09, 0x00, 0x01 });
    });

    rig.link->Connect();
    ASSERT_TRUE (rig.WaitFor (kNotFoundMessage, 0, 2));
    EXPECT_EQ (rig.timeline.Count (kConnectedMessage), 0);
    EXPECT_EQ (rig.timeline.Count (kTwoDevicesMessage), 0);
    EXPECT_FALSE (rig.link->HasBoundPair());
}

TEST (LinkProbe, SecondLoaderInTheSameCycleIsReportedAndTheFirstStaysBound)
{
    Rig rig;
    SimModuleConfig a, b;
    a.inputName = a.outputName = "Module A";
    b.inputName = b.outputName = "Module B";
    auto first = rig.AddModule (a);
    auto second = rig.AddModule (b);

    ASSERT_TRUE (rig.ConnectForJob());
    ASSERT_TRUE (rig.WaitFor (kTwoDevicesMessage));
    EXPECT_EQ (rig.timeline.Count (kConnectedMessage), 1);
    EXPECT_LT (rig.timeline.Find (kConnectedMessage), rig.timeline.Find (kTwoDevicesMessage));

    ASSERT_TRUE (rig.UploadDriver (rig.MakeDriver (kUniform64)));
    ASSERT_TRUE (rig.bus->waitForIdle());
    EXPECT_EQ (first->receivedCount (SimCommand::LoadDriver), 1);
    EXPECT_EQ (second->receivedCount (SimCommand::LoadDriver), 0);
}

TEST (LinkProbe, ApplicationModeModulesAnswerTheApplicationProbeAndBindNothing)
{
    // Two modules in application mode: each answered cycle is reported once,
    // and a second application answer is no second device.
    Rig rig;
    SimModuleConfig a, b;
    a.startMode = b.startMode = SimMode::Application;
    a.inputName = a.outputName = "Module A";
    b.inputName = b.outputName = "Module B";
    rig.AddModule (a);
    rig.AddModule (b);

    rig.link->Connect();
    ASSERT_TRUE (rig.WaitFor (kPresenceMessage, 1, 2));
    rig.link->StopTimer();
    PumpMessages (5);

    const auto& t = rig.timeline;
    EXPECT_EQ (t.Count (kNotFoundMessage), 2);   // the loader probes of Connect and the first tick
    EXPECT_GE (t.Count (kConnectedMessage, 0), 2);
    EXPECT_EQ (t.Count (kTwoDevicesMessage), 0);
    EXPECT_LT (t.Find (kConnectedMessage), t.Find (kPresenceMessage));
    EXPECT_TRUE (g_bConnected.load());
    EXPECT_EQ (g_nDeviceFamily.load(), 1);
    EXPECT_FALSE (rig.link->HasBoundPair());
}

TEST (LinkProbe, SwitchIntoTheLoaderFindsTheModuleAgainOnOtherPorts)
{
    Rig rig;
    rig.bus->addSilentPorts ("USB MIDI Interface");
    SimModuleConfig c;
    c.startMode = SimMode::Application;
    c.restartAbsenceMs = 50;
    c.portsInsertedOnReturn = 1;
    auto module = rig.AddModule (c);

    rig.link->Connect();
    ASSERT_TRUE (rig.WaitFor (kConnectedMessage, 0));
    EXPECT_EQ (g_nJobPhase.load(), 0);

    // "Program" on a module in application mode: the next application answer starts the switch.
    g_nSwitchState = 1;
    ASSERT_TRUE (rig.WaitFor (kModeSwitchMessage, 0));
    EXPECT_EQ (g_nJobPhase.load(), 1);
    EXPECT_EQ (g_nSwitchState.load(), 2);

    // What the panel does next: restart the module, wait, rescan and probe the loader.
    rig.link->RequestUpdateMode();
    ASSERT_TRUE (RunLoopUntil ([&] { return module->isPresent() && module->mode() == SimMode::Loader; }));
    const int newIndex = rig.bus->getOutputNames().indexOf ("Sim Sound Module");
    EXPECT_EQ (newIndex, 2);   // a port appeared before it
    const auto from = rig.Mark();
    rig.link->ClosePorts();
    rig.link->FindDevices();
    rig.link->ProbeLoader();
    ASSERT_TRUE (rig.WaitFor (kModeSwitchMessage, 1, 1, from));
    EXPECT_EQ (g_nSwitchState.load(), 0);
    EXPECT_EQ (rig.timeline.Count (kConnectedMessage, -1, from), 0);
    EXPECT_EQ (rig.timeline.Count (kNotFoundMessage, -1, from), 0);   // back at the first probe: nothing else happens
    EXPECT_EQ (LoaderProbeIndex (*module), newIndex);
    ASSERT_TRUE (rig.link->HasBoundPair());

    // The job starts on the new binding.
    rig.link->StopTimer();
    ASSERT_TRUE (rig.UploadDriver (rig.MakeDriver (kUniform64)));
    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 1);
}

TEST (LinkProbe, FsFlagFollowsTheSeventhByteAndResetProbesTheLoaderFirst)
{
    Rig rig;
    auto module = rig.AddModule();
    rig.link->Connect();
    ASSERT_TRUE (rig.WaitFor (kConnectedMessage, 1));

    struct Case { int flag; bool fs; };
    for (const Case c : { Case { -1, false }, Case { 1, true }, Case { 0, false }, Case { 1, true }, Case { 2, false } })
    {
        SCOPED_TRACE (c.flag);
        module->setFsFlag (c.flag);
        module->clearRecords();
        g_bFullImage = true;
        g_strMCUName = "something";
        const auto from = rig.Mark();
        rig.link->Reset();
        EXPECT_EQ (g_strMCUName, "123");
        EXPECT_FALSE (g_bFullImage.load());
        EXPECT_EQ (g_nDeviceFamily.load(), 0);
        ASSERT_TRUE (rig.WaitFor (kConnectedMessage, -1, 1, from));
        const auto& e = rig.timeline.events[(size_t) rig.timeline.Find (kConnectedMessage, -1, from)];
        EXPECT_EQ (e.arg, c.fs ? 1 : 0);
        EXPECT_EQ (rig.link->IsFS(), c.fs);
        ASSERT_TRUE (rig.bus->waitForIdle());
        // The first probe after Reset is the loader's, on the freshly opened ports.
        const auto got = module->received();
        ASSERT_FALSE (got.empty());
        EXPECT_EQ (got[0].kind, SimCommand::LoaderProbe);
        EXPECT_TRUE (rig.link->HasBoundPair());
    }
}

TEST (LinkProbe, QuitCommandIsCarriedOutByTheTimerWhichClosesThePortsFirst)
{
    Rig rig;
    rig.bus->addSilentPorts ("USB MIDI Interface");
    rig.AddModule();
    rig.link->Connect();
    ASSERT_TRUE (rig.WaitFor (kConnectedMessage));
    ASSERT_GT (rig.link->CountOpenPorts(), 0);

    // The quit command (Ctrl+Q) only asks, as the close button does.
    JUCEDemoApplication app;
    EXPECT_TRUE (app.perform (juce::ApplicationCommandTarget::InvocationInfo (juce::StandardApplicationCommandIDs::quit)));
    EXPECT_TRUE (g_bQuitRequested.load());
    EXPECT_EQ (rig.quits, 0);
    ASSERT_TRUE (RunLoopUntil ([&] { return rig.quits > 0; }));
    EXPECT_EQ (rig.quits, 1);
    EXPECT_FALSE (rig.link->isTimerRunning());
    EXPECT_FALSE (g_bPortsOpen.load());
    EXPECT_EQ (rig.link->CountOpenPorts(), 0);
    EXPECT_TRUE (rig.link->HasBoundPair());   // the bound pair outlives the scan's ports
    ASSERT_TRUE (rig.bus->waitForIdle());
    EXPECT_EQ (rig.bus->livePortObjects(), 2);
}

TEST (LinkProbe, OnlyTheFirst128OutputsGetTheLoaderProbe)
{
    Rig rig;
    auto module = rig.AddModule();
    std::vector<std::shared_ptr<SilentPortPair>> ports;
    for (int i = 0; i < 129; ++i)
        ports.push_back (rig.bus->addSilentPorts ("Port " + juce::String (i + 1)));
    ASSERT_EQ (rig.bus->getOutputNames().size(), 130);

    ASSERT_TRUE (rig.ConnectForJob());
    ASSERT_TRUE (rig.bus->waitForIdle());
    EXPECT_EQ (LoaderProbeIndex (*module), 0);
    int index = -1;
    ASSERT_EQ (ports[126]->receivedCount(), 1);   // output 127
    EXPECT_EQ (KindOf (ports[126]->received()[0], &index), Probe::Loader);
    EXPECT_EQ (index, 127);
    EXPECT_EQ (ports[127]->receivedCount(), 0);   // output 128
    EXPECT_EQ (ports[128]->receivedCount(), 0);
}

TEST (LinkProbe, WhatOpensIsWhatWasListedEvenWhenDevicesShiftMeanwhile)
{
    // Right after the listing a sound card port appears at the head of the
    // device list, as ports do while a module re-enumerates: the ports opened
    // are still the listed ones, never the one that took a listed index.
    struct ShiftingSource : MidiPortSource
    {
        std::shared_ptr<VirtualMidiBus> bus;
        bool shifted = false;
        MidiPortList listPorts() override
        {
            auto listed = bus->listPorts();
            if (! std::exchange (shifted, true))
                bus->addDevice (std::make_shared<SilentPortPair> (kSoundBlasterPortName), 0);
            return listed;
        }
        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& p, MidiInHandler* h) override { return bus->openInput (p, h); }
        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& p) override { return bus->openOutput (p); }
    };

    Rig rig;
    auto module = rig.AddModule();
    auto shifting = std::make_shared<ShiftingSource>();
    shifting->bus = rig.bus;
    SetMidiPortSource (shifting);

    ASSERT_TRUE (rig.ConnectForJob());
    EXPECT_EQ (rig.bus->openAttempts (kSoundBlasterPortName), 0);
    EXPECT_EQ (LoaderProbeIndex (*module), 0);
}

#if defined(KESTRAVA_RAWMIDI)
TEST (LinkProbe, AnUnreachableSequencerIsLoggedOnceAndNothingGoesToStandardError)
{
    if (juce::File ("/dev/snd/seq").exists())
        GTEST_SKIP() << "this machine has a sequencer";
    Rig rig;
    SetMidiPortSource (MakeSystemMidiPortSource (true));   // other programs' ports: the sequencer is asked
    const auto errors = juce::File::createTempFile ("stderr");
    std::fflush (stderr);
    const int saved = ::dup (2);
    const int file = ::open (errors.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2 (file, 2);
    rig.link->Connect();
    const bool cycles = rig.WaitFor (kNotFoundMessage, 0, 3);
    std::fflush (stderr);
    ::dup2 (saved, 2);
    ::close (saved);
    ::close (file);
    ASSERT_TRUE (cycles);

    // Four scans, one line in the log; the status texts are the panel's business and unchanged.
    const auto log = rig.timeline.Log();
    EXPECT_EQ (juce::StringArray::fromLines (log).indexOf ("MIDI: the ALSA sequencer cannot be reached: open /dev/snd/seq failed: No such file or directory"), 0) << log;
    EXPECT_EQ (log.indexOf ("sequencer"), log.lastIndexOf ("sequencer")) << log;
    EXPECT_EQ (errors.loadFileAsString(), juce::String());
    errors.deleteFile();
}
#endif
