// The panel's connection half of its notification handling: status texts and
// colours, the time-out after 91 unanswered cycles, the two-devices warning,
// and dropped files.
#include <condition_variable>
#include <mutex>
#include <gtest/gtest.h>
#include "link/BoundedPorts.h"
#include "tests/PanelTestSupport.h"

namespace
{
    const juce::Colour kSearching (128, 0, 0);
    const juce::Colour kConnected (0, 0, 255);
    const juce::String kTimeOut ("Time Out,Please Check Help.\n");

    void Deliver (MainComponent& panel, int code, int argument = 0)
    {
        panel.handleMessage (NotifyMessage (code, argument));
    }

    void DeliverDrop (MainComponent& panel, int argument, std::unique_ptr<MessagePayload> payload)
    {
        panel.handleMessage (NotifyMessage (kFileDropMessage, argument, 0, std::move (payload)));
    }

    int CountBoxes (const PanelHarness& h, const juce::String& text)
    {
        int n = 0;
        for (auto& b : h.boxes)
            n += b.text == text ? 1 : 0;
        return n;
    }
}

TEST (PanelConnection, WithTheLogoBothFlagsShowTheModuleNameInBlueAndEnableProgram)
{
    PanelHarness h;
    auto& panel = h.Start();
    for (int fs : { 1, 0 })
    {
        Deliver (panel, kConnectedMessage, fs);
        EXPECT_EQ (panel.GetStatusText(), "Vorlenz module connected.");
        EXPECT_EQ (panel.GetStatusColour(), kConnected);
        EXPECT_TRUE (panel.GetProgramButton()->isEnabled());

        Deliver (panel, kNotFoundMessage);
        EXPECT_EQ (panel.GetStatusText(), "Vorlenz module is connecting...");
        EXPECT_EQ (panel.GetStatusColour(), kSearching);
        EXPECT_FALSE (panel.GetProgramButton()->isEnabled());
    }
}

TEST (PanelConnection, WithoutTheLogoTheFsFlagPicksFsOrHsDirectlyAfterTheText)
{
    PanelHarness h;
    h.folder.getChildFile ("QvDoc/Logo.PNG").deleteFile();
    auto& panel = h.Start();
    Deliver (panel, kConnectedMessage, 1);
    EXPECT_EQ (panel.GetStatusText(), "QVM Connected.(FS)");
    EXPECT_EQ (panel.GetStatusColour(), kConnected);
    Deliver (panel, kConnectedMessage, 0);
    EXPECT_EQ (panel.GetStatusText(), "QVM Connected.(HS)");
    Deliver (panel, kNotFoundMessage);
    EXPECT_EQ (panel.GetStatusText(), "QVM Connecting...");
    EXPECT_EQ (panel.GetStatusColour(), kSearching);
    EXPECT_FALSE (panel.GetProgramButton()->isEnabled());
}

TEST (PanelConnection, AnHsModuleOnTheBusIsShownConnectedWithoutTheLogo)
{
    PanelHarness h;
    h.folder.getChildFile ("QvDoc/Logo.PNG").deleteFile();
    h.AddModule (SimMode::Loader, 0);
    auto& panel = h.Start();
    ASSERT_TRUE (h.WaitConnected());
    EXPECT_EQ (panel.GetStatusText(), "QVM Connected.(HS)");
    EXPECT_EQ (panel.GetStatusColour(), kConnected);
    EXPECT_TRUE (h.boxes.empty());
}

TEST (PanelConnection, NinetyUnansweredCyclesOnlyRepaintAndTheNinetyFirstTimesOut)
{
    PanelHarness h;
    auto& panel = h.Start();
    ASSERT_EQ (g_nSearchTicks, 0);
    for (int i = 0; i < 90; ++i)
        Deliver (panel, kNotFoundMessage);
    EXPECT_TRUE (h.boxes.empty());
    EXPECT_EQ (g_nSearchTicks, 90);
    EXPECT_EQ (panel.GetStatusText(), "Vorlenz module is connecting...");

    Deliver (panel, kNotFoundMessage);
    ASSERT_EQ (h.boxes.size(), 1u);
    EXPECT_EQ (h.boxes[0].text, kTimeOut);
    EXPECT_EQ (h.boxes[0].title, "");
    EXPECT_EQ (h.boxes[0].icon, juce::MessageBoxIconType::NoIcon);
    EXPECT_EQ (h.BoxesWithoutTheirOutcome(), "");
    // The search starts again from zero: another 90 cycles pass quietly.
    EXPECT_EQ (g_nSearchTicks, 0);
    EXPECT_FALSE (panel.GetProgramButton()->isEnabled());
    for (int i = 0; i < 90; ++i)
        Deliver (panel, kNotFoundMessage);
    EXPECT_EQ (h.boxes.size(), 1u);
    Deliver (panel, kNotFoundMessage);
    EXPECT_EQ (CountBoxes (h, kTimeOut), 2);

    // Under an open file dialog the count stops at its bound, however long the
    // dialog stays: the first cycle after it times out.
    SetFileChooserHook ([&] { for (int i = 0; i < 300; ++i) Deliver (panel, kNotFoundMessage); return juce::File(); });
    panel.buttonClicked (panel.GetBrowseButton());
    SetFileChooserHook (nullptr);
    EXPECT_EQ (CountBoxes (h, kTimeOut), 2);
    Deliver (panel, kNotFoundMessage);
    EXPECT_EQ (CountBoxes (h, kTimeOut), 3);
}

TEST (PanelConnection, AConnectionInBetweenRestartsTheCount)
{
    PanelHarness h;
    auto& panel = h.Start();
    for (int i = 0; i < 60; ++i)
        Deliver (panel, kNotFoundMessage);
    Deliver (panel, kConnectedMessage, 1);
    EXPECT_EQ (g_nSearchTicks, 0);
    for (int i = 0; i < 90; ++i)
        Deliver (panel, kNotFoundMessage);
    EXPECT_TRUE (h.boxes.empty());
    Deliver (panel, kNotFoundMessage);
    EXPECT_EQ (CountBoxes (h, kTimeOut), 1);
}

TEST (PanelConnection, TheTimeOutLetsTheLinkSearchAgain)
{
    PanelHarness h;
    auto& panel = h.Start();
    for (int i = 0; i < 91; ++i)
        Deliver (panel, kNotFoundMessage);
    ASSERT_EQ (CountBoxes (h, kTimeOut), 1);
    // A module plugged in after the time-out is found by the restarted search.
    h.AddModule();
    EXPECT_TRUE (h.WaitConnected());
}

TEST (PanelConnection, TwoDevicesGiveTheWarningBoxWithItsTwoLinesAndChangeNothingElse)
{
    PanelHarness h;
    auto& panel = h.Start();
    Deliver (panel, kConnectedMessage, 1);
    Deliver (panel, kTwoDevicesMessage);
    ASSERT_EQ (h.boxes.size(), 1u);
    EXPECT_EQ (h.boxes[0].icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (h.boxes[0].title, "Warning");
    EXPECT_EQ (h.boxes[0].text, juce::String::fromUTF8 ("Two or more devices, please confirm.    \n"
                                                        "\xe5\xa4\x9a\xe4\xb8\xaa\xe8\xae\xbe\xe5\xa4\x87"
                                                        "\xe8\xbf\x9e\xe6\x8e\xa5,\xe8\xaf\xb7\xe7\xa1\xae\xe8\xae\xa4!"));
    EXPECT_EQ (panel.GetStatusText(), "Vorlenz module connected.");
    EXPECT_TRUE (panel.GetProgramButton()->isEnabled());

    // Never beneath an open file dialog: the warning waits for a later cycle.
    SetFileChooserHook ([&] { Deliver (panel, kTwoDevicesMessage); return juce::File(); });
    panel.buttonClicked (panel.GetBrowseButton());
    SetFileChooserHook (nullptr);
    EXPECT_EQ (h.boxes.size(), 1u);
}

TEST (PanelConnection, TwoLoaderModulesOnTheBusRaiseTheWarning)
{
    PanelHarness h;
    h.AddModule();
    SimModuleConfig second;
    second.inputName = second.outputName = "Second Sound Module";
    second.chipName = "KV29F064";
    h.bus->addModule (second);
    h.Start();
    EXPECT_TRUE (RunLoopUntil ([&] { return ! h.boxes.empty(); }, 10000));
    ASSERT_FALSE (h.boxes.empty());
    EXPECT_EQ (h.boxes[0].title, "Warning");
}

TEST (PanelConnection, ADroppedFileBecomesTheChosenFileWithItsTooltipAndSize)
{
    PanelHarness h;
    auto& panel = h.Start();
    const auto image = paneltest::WriteImage (h.folder.getChildFile ("dropped.rom"), 0x1234);

    // Through the drop button, as a user drops the file.
    panel.GetBrowseButton()->filesDropped ({ image.getFullPathName() }, 1, 1);
    ASSERT_TRUE (RunLoopUntil ([&] { return panel.GetFileLabelText() == image.getFullPathName(); }));
    auto* label = dynamic_cast<juce::Label*> (panel.GetWidgets()[15]);
    EXPECT_EQ (label->getTooltip(), image.getFullPathName());
    EXPECT_EQ (g_nFileSize.load(), 0x1234);
}

TEST (PanelConnection, BrowseWhileTheSwitchWaitsForTheFirstAnswerCallsItOffButNotOnceItRuns)
{
    PanelHarness h;
    auto& panel = h.Start();
    const auto image = paneltest::WriteImage (h.folder.getChildFile ("chosen.bin"), 0x1234);
    SetFileChooserHook ([&] { return image; });
    // Waiting for the loader, the update is under way: its file stays.
    g_nSwitchState = 2;
    panel.buttonClicked (panel.GetBrowseButton());
    EXPECT_EQ (panel.GetFileLabelText(), "No file selected.");
    EXPECT_EQ (g_nSwitchState.load(), 2);
    // Waiting for the module's first answer, nothing has gone to it: the click is taken back.
    g_nSwitchState = 1;
    panel.buttonClicked (panel.GetBrowseButton());
    SetFileChooserHook (nullptr);
    EXPECT_EQ (panel.GetFileLabelText(), image.getFullPathName());
    EXPECT_EQ (g_nFileSize.load(), 0x1234);
    EXPECT_EQ (g_nSwitchState.load(), 0);
    EXPECT_TRUE (h.boxes.empty());
}

TEST (PanelConnection, ADropWithAnotherCodeOrWithoutAPathChangesNothing)
{
    PanelHarness h;
    auto& panel = h.Start();
    const auto path = h.folder.getChildFile ("Sample.bin").getFullPathName();
    auto* label = dynamic_cast<juce::Label*> (panel.GetWidgets()[15]);

    DeliverDrop (panel, 0x6001, std::make_unique<TextPayload> (path));
    DeliverDrop (panel, 0, std::make_unique<TextPayload> (path));
    DeliverDrop (panel, kFileDropCode, nullptr);
    DeliverDrop (panel, kFileDropCode, std::make_unique<TextPayload> (juce::String()));
    DeliverDrop (panel, kFileDropCode, std::make_unique<ProgressRecord> (1, 2));
    EXPECT_EQ (panel.GetFileLabelText(), "No file selected.");
    EXPECT_EQ (label->getTooltip(), "No file selected.");
    EXPECT_EQ (g_nFileSize.load(), 0);
    EXPECT_TRUE (h.boxes.empty());

    // The right code with a path is taken.
    DeliverDrop (panel, kFileDropCode, std::make_unique<TextPayload> (path));
    EXPECT_EQ (panel.GetFileLabelText(), path);
    EXPECT_EQ (label->getTooltip(), path);
}

TEST (PanelConnection, PresenceKeepsReconnectDisabledAndUnknownCodesAreIgnored)
{
    PanelHarness h;
    auto& panel = h.Start();
    Deliver (panel, kPresenceMessage, 1);
    EXPECT_FALSE (panel.GetWidgets()[0]->isEnabled());
    const auto status = panel.GetStatusText();
    Deliver (panel, 0x5009);
    Deliver (panel, kLogAppendMessage);
    panel.handleMessage (juce::Message());   // not a notification at all
    EXPECT_EQ (panel.GetStatusText(), status);
    EXPECT_TRUE (h.boxes.empty());
}

TEST (PanelConnection, APortWhoseDriverHangsCostsItsScansButNeitherTheWindowNorTheOtherPorts)
{
    // An interface beside the bus whose driver does not return from opening
    // or closing until the test lets it.
    struct Hanging : MidiPortSource
    {
        struct In : MidiInPort
        {
            void start() override {}
            void stop() override {}
        };
        struct Out : MidiOutPort
        {
            std::function<void()> wait;
            ~Out() override { wait(); }
            void sendMessageNow (const juce::MidiMessage&) override {}
            void reset() override {}
        };

        std::shared_ptr<MidiPortSource> bus;
        const MidiPortInfo port { "Hung Interface", "hung:0", "test" };
        std::mutex lock;
        std::condition_variable released;
        bool free = false;
        std::atomic<int> opens { 0 };
        std::atomic<MidiInHandler*> handler { nullptr };

        void Wait()
        {
            std::unique_lock<std::mutex> l (lock);
            released.wait (l, [this] { return free; });
        }
        void Release()
        {
            {
                const std::lock_guard<std::mutex> l (lock);
                free = true;
            }
            released.notify_all();
        }
        MidiPortList listPorts() override
        {
            auto list = bus->listPorts();
            list.inputs.push_back (port);
            list.outputs.push_back (port);
            return list;
        }
        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& p, MidiInHandler* h) override
        {
            if (p.identifier != port.identifier)
                return bus->openInput (p, h);
            Wait();
            handler = h;
            return std::make_unique<In>();
        }
        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& p) override
        {
            if (p.identifier != port.identifier)
                return bus->openOutput (p);
            ++opens;
            Wait();
            auto out = std::make_unique<Out>();
            out->wait = [this] { Wait(); };
            return out;
        }
    };

    PanelHarness h;
    auto hanging = std::make_shared<Hanging>();
    hanging->bus = h.bus;
    const auto bounded = WithBoundedCalls (hanging, std::chrono::milliseconds (100));
    SetMidiPortSource (bounded);
    auto& panel = h.Start();

    // Nothing answers: the search goes on, one cycle after another, while the interface hangs.
    ASSERT_TRUE (RunLoopUntil ([] { return g_nSearchTicks >= 4; }, 20000)) << panel.GetLogText();
    EXPECT_EQ (hanging->opens.load(), 1) << "a hung device is not opened again";
    EXPECT_TRUE (panel.GetLogText().contains ("MIDI port \"Hung Interface\": its driver did not return from opening within 100 ms"))
        << panel.GetLogText();

    // A module on the bus is found meanwhile.
    h.AddModule();
    ASSERT_TRUE (h.WaitConnected());

    // Once the driver returns, the port is opened again at the next scan.
    hanging->Release();
    ASSERT_TRUE (RunLoopUntil ([] { return HungCalls() == 0; }));
    panel.GetJobRunner().GetLink().Reset();
    ASSERT_TRUE (RunLoopUntil ([&] { return hanging->opens.load() >= 2; }));

    // An input stopped or closed hands nothing on, whatever its driver still delivers.
    struct Count : MidiInHandler
    {
        int n = 0;
        void handleIncomingMidiMessage (MidiInPort*, const juce::MidiMessage&) override { ++n; }
    } count;
    auto in = bounded->openInput (hanging->port, &count);
    ASSERT_NE (in, nullptr);
    const auto deliver = [&] { hanging->handler.load()->handleIncomingMidiMessage (nullptr, juce::MidiMessage (0x90, 60, 100)); };
    in->start();
    deliver();
    in->stop();
    deliver();
    EXPECT_EQ (count.n, 1);
    h.panel.reset();
    SetMidiPortSource (h.bus);
}
