// The host's CPU time per 4 KiB block of an update: the model update of a
// 16 MiB image through the real panel against the zero-latency simulated
// module, one update alone and four at once. Each update runs in a process of
// its own (this program started again as a child), which counts its own CPU
// time and blocks from "Program" to the completion box: user and system time
// of every thread, the simulated module and bus included (they run in the
// same process). A block is a 4 KiB data block sent (driver and program
// blocks) or a 4 KiB block read back.
#include <benchmark/benchmark.h>
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <set>
#include "bench/HostCpuChild.h"
#include "bench/UpdateRig.h"

namespace
{
    const juce::String kReportTag ("host-cpu:");

    /** What one child reported. */
    struct ChildReport
    {
        bool ok = false;
        juce::String why;          ///< what went wrong otherwise
        double cpuSeconds = 0;
        int64_t blocks = 0;
        int64_t switches = 0;
        double seconds = 0;
        uint64_t wireHash = 0;
    };

    /** The report line in a child's output. */
    ChildReport ParseReport (const juce::String& output)
    {
        ChildReport r;
        const auto at = output.indexOf (kReportTag);
        if (at < 0)
        {
            r.why = "the child reported nothing: " + output.trim().substring (0, 200);
            return r;
        }
        const auto fields = juce::StringArray::fromTokens (output.substring (at + kReportTag.length()).upToFirstOccurrenceOf ("\n", false, false).trim(), " ", "");
        if (fields.size() != 5 || fields[0] == "failed")
        {
            r.why = output.substring (at).trim();
            return r;
        }
        r.cpuSeconds = fields[0].getDoubleValue();
        r.blocks = fields[1].getLargeIntValue();
        r.seconds = fields[2].getDoubleValue();
        r.switches = fields[3].getLargeIntValue();
        r.wireHash = (uint64_t) std::strtoull (fields[4].toRawUTF8(), nullptr, 16);
        r.ok = r.blocks > 0;
        if (! r.ok)
            r.why = "the child counted no blocks";
        return r;
    }
}

int RunHostCpuChild()
{
    UpdateRig rig ("QVM410", kChip16MiB, 64, 256, SimLatencies {});
    const auto image = rig.harness.MakeImage ("image.bin", ModelImageBytes());
    const auto outcome = rig.Run (image, 600000);
    if (! outcome.completed || ! rig.FlashHolds (PanelHarness::Bytes (image)))
    {
        std::printf ("%s failed %s\n", kReportTag.toRawUTF8(),
                     outcome.completed ? "the flash does not hold the image" : outcome.why.c_str());
        return 1;
    }
    std::printf ("%s %.6f %" PRId64 " %.6f %" PRId64 " %016" PRIx64 "\n", kReportTag.toRawUTF8(),
                 outcome.cpuSeconds, outcome.blocks, outcome.seconds, outcome.contextSwitches, outcome.wireHash);
    return 0;
}

// `processes` updates at once, each in a child process; cpu_us_per_block is
// the CPU time of all of them over their blocks, cpu_us_per_block_max the
// worst single process's, switches_per_block their threads' context switches
// (each a wait and a wake-up, the larger part of what a block costs the kernel).
static void BM_HostCpuPerBlock (benchmark::State& state)
{
    const int processes = (int) state.range (0);
    const auto program = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName();
    double cpu = 0, worst = 0, seconds = 0;
    int64_t blocks = 0, switches = 0;
    std::set<uint64_t> wires;
    for (auto _ : state)
    {
        std::vector<std::unique_ptr<juce::ChildProcess>> children;
        for (int i = 0; i < processes; ++i)
        {
            children.push_back (std::make_unique<juce::ChildProcess>());
            if (! children.back()->start (juce::StringArray { program, kHostCpuChildFlag }, juce::ChildProcess::wantStdOut))
            {
                state.SkipWithError ("a child could not be started");
                return;
            }
        }
        for (auto& child : children)
        {
            const auto report = ParseReport (child->readAllProcessOutput());
            child->waitForProcessToFinish (60000);
            if (! report.ok)
            {
                state.SkipWithError (report.why.toRawUTF8());
                return;
            }
            cpu += report.cpuSeconds;
            worst = std::max (worst, report.cpuSeconds / (double) report.blocks);
            blocks += report.blocks;
            switches += report.switches;
            seconds = std::max (seconds, report.seconds);
            wires.insert (report.wireHash);
        }
    }
    char label[48];
    if (wires.size() == 1)
        std::snprintf (label, sizeof (label), "wire %016" PRIx64, *wires.begin());
    else
        std::snprintf (label, sizeof (label), "wire differs between updates");
    state.SetLabel (label);
    const double updates = (double) processes * (double) state.iterations();
    state.counters["cpu_us_per_block"] = cpu / (double) blocks * 1e6;
    state.counters["cpu_us_per_block_max"] = worst * 1e6;
    state.counters["switches_per_block"] = (double) switches / (double) blocks;
    state.counters["blocks"] = (double) blocks / updates;
    state.counters["cpu_s"] = cpu / updates;
    state.counters["update_s_max"] = seconds;
}
BENCHMARK (BM_HostCpuPerBlock)->ArgName ("processes")->Arg (1)->Arg (4)
    ->Unit (benchmark::kMillisecond)->UseRealTime()->Iterations (3);
