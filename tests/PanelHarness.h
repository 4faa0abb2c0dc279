#pragma once
// The real panel, headless, wired to simulated modules on a virtual bus, with
// a temporary data folder and the box and quit hooks set.
#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>
#include "store/shared/ProgramHooks.h"
#include "app/MainComponent.h"
#include "store/shared/ProgramGlobals.h"
#include "platform/ProgramFolder.h"
#include "sim/SimulatedModule.h"
#include "sim/VirtualMidiBus.h"
#include "tests/TestUtil.h"

/** One message box the program showed. */
struct BoxRecord
{
    juce::MessageBoxIconType icon;
    juce::String title;
    juce::String text;
    std::optional<JobOutcome> outcome;   ///< the outcome the panel reported since the last box that ends a job
};

/** What the panel reports that tests look at: the outcome until the next box
    takes it, and every piece of log text as it is written (the pane itself is
    cleared by each workflow). */
struct PanelRecorder : JobObserver
{
    std::optional<JobOutcome> pending;   ///< the last outcome no box has taken yet
    juce::String text;                   ///< everything logged since the panel was built
    std::function<void()> onConnected;   ///< called as each answered cycle is shown
    void OnConnected (bool) override { if (onConnected) onConnected(); }
    void OnPhase (FlowPhase) override {}
    void OnStep (int, int, const _STR_JOB_STEP&) override {}
    void OnProgress (const char*, int64_t, int64_t) override {}
    void OnOutcome (const JobOutcome& o) override { pending = o; }
    void OnLogText (const juce::String& t) override { text += t; }
};

class PanelHarness
{
public:
    /** A data folder with the demo's drivers and QvDoc files (unless `withDemoData` is false). */
    explicit PanelHarness (bool withDemoData = true)
        : folder (juce::File::createTempFile ("kestrava-data"))
    {
        ResetGlobalsForTests();
        folder.createDirectory();
        if (withDemoData)
        {
            const juce::File demo (KESTRAVA_BINARY_DIR "/demo");
            demo.getChildFile ("Drivers").copyDirectoryTo (folder.getChildFile ("Drivers"));
            demo.getChildFile ("QvDoc").copyDirectoryTo (folder.getChildFile ("QvDoc"));
            // The shipped folder has no settings; a demo run by hand may have left its own.
            folder.getChildFile ("QvDoc").getChildFile ("config.ini").deleteFile();
            demo.getChildFile ("Sample.bin").copyFileTo (folder.getChildFile ("Sample.bin"));
        }
        SetProgramFolderForTests (folder);
        SetMessageBoxHook ([this] (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text)
                           {
                               // A warning ends nothing: the outcome waits for the box that does.
                               const bool warning = icon == juce::MessageBoxIconType::WarningIcon;
                               boxes.push_back ({ icon, title, text, warning ? std::nullopt : std::exchange (recorder.pending, std::nullopt) });
                           });
        SetQuitHook ([this] { ++quits; });
        bus = std::make_shared<VirtualMidiBus>();
        SetMidiPortSource (bus);
    }

    ~PanelHarness()
    {
        panel.reset();
        PumpMessages (10);
        SetMessageBoxHook (nullptr);
        SetQuitHook (nullptr);
        SetMidiPortSource (nullptr);
        bus.reset();
        folder.deleteRecursively();
    }

    /** A module with the demo's chip, zero latency. */
    std::shared_ptr<SimulatedModule> AddModule (SimMode mode = SimMode::Loader, int fsFlag = 1)
    {
        SimModuleConfig c;
        c.startMode = mode;
        c.fsFlag = fsFlag;
        c.chipName = "KV29F064";
        c.restartAbsenceMs = 200;
        c.portsInsertedOnReturn = 1;
        return bus->addModule (c);
    }

    /** Builds the panel (the program's start-up). */
    MainComponent& Start()
    {
        panel = std::make_unique<MainComponent>();
        panel->SetJobObserver (&recorder);
        return *panel;
    }

    /** Runs the loop until the panel shows a connected module. */
    bool WaitConnected (int boundMs = 10000)
    {
        return RunLoopUntil ([this] { return panel->GetProgramButton()->isEnabled() && g_bConnected.load(); }, boundMs);
    }

    /** Chooses a file as "Browse..." would. */
    void Choose (const juce::File& file)
    {
        SetFileChooserHook ([file] { return file; });
        panel->GetBrowseButton()->triggerClick();
        PumpMessages (5);
        SetFileChooserHook (nullptr);
    }

    /** Presses "Program" as a user would. */
    void PressProgram()
    {
        panel->GetProgramButton()->triggerClick();
    }

    /** Runs the loop until a box with this text was shown. */
    bool WaitForBox (const juce::String& text, int boundMs = 60000)
    {
        return RunLoopUntil ([&] { return HasBox (text); }, boundMs);
    }

    /** Whether a box with this text was shown. */
    bool HasBox (const juce::String& text) const
    {
        for (auto& b : boxes)
            if (b.text == text)
                return true;
        return false;
    }

    /** Empty when every box that ends a job came right after the outcome its
        text tells (a front end without the window learns the end only from
        that outcome); else what did not. */
    juce::String BoxesWithoutTheirOutcome() const
    {
        for (auto& b : boxes)
        {
            const auto text = b.text.trimEnd();
            if (b.icon == juce::MessageBoxIconType::WarningIcon)
                continue;
            auto kind = JobOutcome::Kind::Error;
            int code = 0;
            if (text == "It is Completed,Please Restart Device")
                kind = JobOutcome::Kind::Done;
            else if (text == "Time Out,Please Check Help.")
                kind = JobOutcome::Kind::TimedOut;
            else if (text.startsWith ("Error Code "))
                code = text.getTrailingIntValue();
            if (! b.outcome)
                return "[" + text + "] came without an outcome";
            if (b.outcome->kind != kind || b.outcome->code != code || b.outcome->text != b.text)
                return "[" + text + "] came with outcome " + juce::String ((int) b.outcome->kind) + " code "
                       + juce::String (b.outcome->code) + " [" + b.outcome->text + "]";
        }
        return {};
    }

    /** An image of `size` bytes of patterned data with the marker at 0xFFF8 (and 0x3FFF8). */
    juce::File MakeImage (const juce::String& name, int size, bool lowMarker = true, bool highMarker = false, uint8_t seed = 1)
    {
        juce::MemoryBlock data ((size_t) size);
        auto* p = static_cast<uint8_t*> (data.getData());
        for (int i = 0; i < size; ++i)
            p[i] = (uint8_t) (((uint32_t) i * 131u + ((uint32_t) i >> 9) * 7u + seed) & 0xFFu);
        if (lowMarker && size > 0xFFF9) { p[0xFFF8] = 'B'; p[0xFFF9] = 'D'; }
        if (highMarker && size > 0x3FFF9) { p[0x3FFF8] = 'B'; p[0x3FFF9] = 'D'; }
        auto f = folder.getChildFile (name);
        f.replaceWithData (data.getData(), data.getSize());
        return f;
    }

    /** The bytes of a file. */
    static std::vector<uint8_t> Bytes (const juce::File& f)
    {
        juce::MemoryBlock mb;
        f.loadFileAsData (mb);
        auto* p = static_cast<const uint8_t*> (mb.getData());
        return std::vector<uint8_t> (p, p + mb.getSize());
    }

    juce::File folder;
    std::shared_ptr<VirtualMidiBus> bus;
    std::unique_ptr<MainComponent> panel;
    std::vector<BoxRecord> boxes;
    PanelRecorder recorder;   // attached when the panel is built
    std::atomic<int> quits { 0 };
};
