// The program wired to a simulated sound module: a newcomer can watch a
// whole update without hardware.
#include "app/Application.h"
#include "app/MainComponent.h"
#include "demo/DemoModule.h"
#include "sim/SimulatedModule.h"
#include "sim/VirtualMidiBus.h"

namespace
{
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

        module = bus->addModule (DemoModuleConfig());
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
