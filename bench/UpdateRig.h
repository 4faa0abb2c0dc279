#pragma once
// A whole update through the real panel, headless, against one simulated
// module on the virtual bus: the module waits in its loader (or runs its
// application firmware, and the update switches it into the loader), the
// image is chosen as "Browse..." chooses it, "Program" is pressed, and the
// loop runs as the program runs it until the completion box.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "bench/AppLoop.h"
#include "bench/BenchSupport.h"
#include "bench/ProcessStats.h"
#include "sim/SimDriverImage.h"
#include "tests/PanelHarness.h"

/** The completion box's text. */
inline const juce::String kUpdateCompleted ("It is Completed,Please Restart Device\n");

/** The chip of the model update's module: 256 sectors of 64 KiB, 16 MiB (the model
    update writes 64 KiB pieces, so its chips have 64 KiB sectors). */
inline const juce::String kChip16MiB ("KV29F128");

/** Bytes of the model update's image: 16 MiB, 1 MiB when smoke-run. */
inline int ModelImageBytes() { return BenchSmoke() ? 0x100000 : 0x1000000; }

/** What one update showed. */
struct UpdateOutcome
{
    bool completed = false;          ///< the completion box and nothing else
    std::string why;                 ///< what went wrong otherwise
    double seconds = 0;              ///< from "Program" to the completion box
    double moduleBusySeconds = 0;    ///< the module's own busy time in that span
    double longestGapMs = 0;         ///< the longest turn of the message loop in that span
    double cpuSeconds = 0;           ///< CPU time of the whole process (user and system) in that span
    int64_t contextSwitches = 0;     ///< context switches of all its threads in that span
    int64_t blocks = 0;              ///< 4 KiB blocks in that span: driver and program blocks sent, blocks read back
    uint64_t wireHash = 0;           ///< the module's hash of every command it received but the probes
};

class UpdateRig
{
public:
    /** The panel and a module in its loader with the chip `chip` of `sectors` sectors
        of `sectorKiB`, answering after `latencies`, running `startMode`. The data folder
        gets a driver for that chip (unless the demo's has one) and special drivers made for it. */
    UpdateRig (const juce::String& mcu, const juce::String& chip, int sectorKiB, int sectors, const SimLatencies& latencies,
               SimMode startMode = SimMode::Loader)
    {
        const std::vector<SimRegion> regions { { (uint16_t) sectorKiB, (uint16_t) sectors } };
        const auto driver = harness.folder.getChildFile ("Drivers").getChildFile (mcu + "_" + chip + ".bin");
        if (! driver.existsAsFile())
        {
            const auto bytes = MakeSimDriver (mcu, chip, regions, 8192);
            driver.replaceWithData (bytes.data(), bytes.size());
        }
        const auto qvdoc = harness.folder.getChildFile ("QvDoc");
        for (auto [file, mcu] : { std::pair { "Special.bin", "QVM410" }, std::pair { "Special418.bin", "QVM428" } })
        {
            const auto bytes = MakeSimDriver (mcu, chip, regions, 8192);
            qvdoc.getChildFile (file).replaceWithData (bytes.data(), bytes.size());
        }

        SimModuleConfig c;
        c.startMode = startMode;
        c.chipName = chip;
        c.latencies = latencies;
        c.keepCommandLog = false;
        module = harness.bus->addModule (c);
        harness.Start();
    }

    /** Chooses `image`, presses "Program" once the module shows as connected and
        runs until a box shows. */
    UpdateOutcome Run (const juce::File& image, int boundMs)
    {
        UpdateOutcome out;
        if (! loop.RunUntil ([this] { return connected(); }, 15000))
            return fail (out, "the module never showed as connected");
        harness.Choose (image);

        // A click between two probe cycles does nothing; press again then.
        using Clock = std::chrono::steady_clock;
        auto start = Clock::now();
        auto busyBefore = module->busyTime();
        double cpuBefore = 0;
        int64_t blocksBefore = 0, switchesBefore = 0;
        bool started = false;
        for (int attempt = 0; attempt < 5 && ! started; ++attempt)
        {
            loop.RunUntil ([this] { return connected(); }, 15000);
            start = Clock::now();
            busyBefore = module->busyTime();
            blocksBefore = blocks();
            switchesBefore = proc::ContextSwitches();
            cpuBefore = proc::CpuSeconds();
            TellProfiler ("enable");
            harness.PressProgram();
            started = loop.RunUntil ([this] { return g_nJobPhase.load() != 0 || g_nSwitchState.load() != 0
                                                      || ! harness.boxes.empty(); }, 3000);
        }
        if (! started)
            return fail (out, "\"Program\" never started the update");

        loop.ResetGap();
        const bool ended = loop.RunUntil ([this] { return ! harness.boxes.empty(); }, boundMs);
        out.cpuSeconds = proc::CpuSeconds() - cpuBefore;
        out.contextSwitches = proc::ContextSwitches() - switchesBefore;
        TellProfiler ("disable");
        out.seconds = std::chrono::duration<double> (Clock::now() - start).count();
        out.blocks = blocks() - blocksBefore;
        out.moduleBusySeconds = std::chrono::duration<double> (module->busyTime() - busyBefore).count();
        out.longestGapMs = loop.LongestGapMs();
        out.wireHash = module->commandHash();
        if (! ended)
            return fail (out, "no box within the bound");
        if (harness.boxes.size() != 1 || harness.boxes[0].text != kUpdateCompleted)
            return fail (out, "the update ended with \"" + harness.boxes[0].text.trimEnd().toStdString() + "\"");
        out.completed = true;
        return out;
    }

    /** Whether the module's flash holds `bytes` from address 0. */
    bool FlashHolds (const std::vector<uint8_t>& bytes) const
    {
        const auto flash = module->readFlash (0, bytes.size());
        return std::memcmp (flash.data(), bytes.data(), bytes.size()) == 0;
    }

    PanelHarness harness;                         ///< panel, bus, data folder and hooks
    std::shared_ptr<SimulatedModule> module;      ///< the module being updated
    AppLoop loop;                                 ///< the message loop as the program runs it

private:
    bool connected() const { return harness.panel->GetProgramButton()->isEnabled() && g_bConnected.load(); }

    /** With KESTRAVA_PERF_CONTROL naming the control FIFO of `perf record --control`
        (started with -D -1), the profile covers the update's span only. */
    static void TellProfiler (const char* command)
    {
        if (const char* fifo = std::getenv ("KESTRAVA_PERF_CONTROL"))
            if (std::FILE* f = std::fopen (fifo, "w"))
            {
                std::fprintf (f, "%s\n", command);
                std::fclose (f);
            }
    }

    int64_t blocks() const
    {
        return (int64_t) module->receivedCount (SimCommand::DriverBlock) + module->receivedCount (SimCommand::ProgramBlock)
             + module->receivedCount (SimCommand::ReadBlock);
    }

    static UpdateOutcome& fail (UpdateOutcome& out, const std::string& why)
    {
        out.completed = false;
        out.why = why;
        return out;
    }
};
