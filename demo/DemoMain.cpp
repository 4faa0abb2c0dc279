// The program wired to a simulated sound module: a newcomer can watch a
// whole update without hardware.
#include "app/Application.h"
#include "app/MainComponent.h"
#include "app/Startup.h"
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

    /** The demo's bus: a sound card port that must never be opened, then the module. */
    std::shared_ptr<VirtualMidiBus> MakeDemoBus (std::shared_ptr<SimulatedModule>& module)
    {
        auto bus = std::make_shared<VirtualMidiBus>();
        bus->addSoundBlasterPorts();
        module = bus->addModule (DemoModuleConfig());
        return bus;
    }
}

class KestravaDemoApplication : public JUCEDemoApplication
{
public:
    void initialise (const juce::String& commandLine) override
    {
        // A machine has other MIDI ports too: the demo's bus has one that must never be opened.
        bus = MakeDemoBus (module);
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

#if JUCE_WINDOWS
START_JUCE_APPLICATION (KestravaDemoApplication)
#else
JUCE_CREATE_APPLICATION_DEFINE (KestravaDemoApplication)

int main (int argc, char* argv[])
{
    const auto ports = []
    {
        std::shared_ptr<SimulatedModule> module;
        return std::shared_ptr<MidiPortSource> (MakeDemoBus (module));
    };
    return RunProgram (argc, argv, { "KestravaDemo", kAppVersion, ports }, &juce_CreateApplication);
}
#endif
