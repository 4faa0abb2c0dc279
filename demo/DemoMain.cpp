// The program wired to a simulated sound module: a newcomer can watch a
// whole update without hardware.
#include "app/Application.h"
#include "app/MainComponent.h"
#include "demo/DemoChip.h"
#include "sim/SimulatedModule.h"
#include "sim/VirtualMidiBus.h"

namespace
{
    /** Realistic but short module timings, so the progress bar can be watched. */
    SimLatencies DemoLatencies()
    {
        using std::chrono::microseconds;
        SimLatencies l;
        l.probe = microseconds (2000);
        l.blockAck = microseconds (6000);
        l.check = microseconds (3000);
        l.erase = microseconds (40000);
        l.read = microseconds (4000);
        return l;
    }

    /** Mirrors the status line into a file named by KESTRAVA_STATUS_FILE, for
        the GUI checks that cannot read the window's pixels. */
    class StatusMirror : private juce::Timer
    {
    public:
        StatusMirror (JUCEDemoApplication& a, juce::File f) : app (a), file (std::move (f)) { startTimer (100); }
        ~StatusMirror() override { stopTimer(); }

    private:
        void timerCallback() override
        {
            auto* window = app.GetWindow();
            auto* panel = window != nullptr ? window->GetPanel() : nullptr;
            if (panel == nullptr)
                return;
            const auto text = panel->GetStatusText();
            if (text != last)
            {
                last = text;
                file.replaceWithText (text + "\n");
            }
        }

        JUCEDemoApplication& app;
        juce::File file;
        juce::String last;
    };
}

class KestravaDemoApplication : public JUCEDemoApplication
{
public:
    void initialise (const juce::String& commandLine) override
    {
        bus = std::make_shared<VirtualMidiBus>();
        // A machine has other MIDI ports too; this one must never be opened.
        bus->addSoundBlasterPorts();

        SimModuleConfig config;
        config.inputName = "Kestrava Demo Module";
        config.outputName = "Kestrava Demo Module";
        config.startMode = SimMode::Application;
        config.fsFlag = 1;
        config.chipName = DemoChip::kFlashName;
        config.restartAbsenceMs = 1200;
        config.portsInsertedOnReturn = 1;   // it comes back behind a new port, as after a USB restart
        config.readChunkGroups = 128;
        config.announceChunks = false;
        config.keepCommandLog = false;
        config.latencies = DemoLatencies();
        module = bus->addModule (config);
        SetMidiPortSource (bus);

        JUCEDemoApplication::initialise (commandLine);

        const auto statusPath = juce::SystemStats::getEnvironmentVariable ("KESTRAVA_STATUS_FILE", {});
        if (statusPath.isNotEmpty())
            statusMirror = std::make_unique<StatusMirror> (*this, juce::File (statusPath));
    }

    void shutdown() override
    {
        statusMirror.reset();
        JUCEDemoApplication::shutdown();
    }

    const juce::String getApplicationName() override { return "Kestrava"; }

private:
    std::shared_ptr<VirtualMidiBus> bus;
    std::shared_ptr<SimulatedModule> module;
    std::unique_ptr<StatusMirror> statusMirror;
};

START_JUCE_APPLICATION (KestravaDemoApplication)
