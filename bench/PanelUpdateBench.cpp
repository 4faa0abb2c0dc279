// Whole updates of a 16 MiB image through the real panel: the model update
// (boot image, zero blocks, the special driver, verify groups of erase,
// program, read back and compare, the marker's piece last) against a
// zero-latency module, against a module with realistic latencies (on a quiet
// machine and beside busy loops), and from a module in application mode that
// the update first switches into its loader. Each shows the module's hash of
// every command it received as its label: the same update sends the same bytes.
#include <benchmark/benchmark.h>
#include <cinttypes>
#include <cstdio>
#include "bench/BenchSupport.h"
#include "bench/BusyLoops.h"
#include "bench/UpdateRig.h"

namespace
{
    /** One update per iteration, each on a fresh panel and module, with `busyLoops`
        low-priority busy loops beside it; reports MB/s of image. */
    void RunUpdates (benchmark::State& state, const SimLatencies& latencies, bool reportEfficiency,
                     SimMode startMode = SimMode::Loader, int busyLoops = 0)
    {
        const int size = ModelImageBytes();
        double seconds = 0, busy = 0, longestGap = 0;
        uint64_t wireHash = 0;
        for (auto _ : state)
        {
            state.PauseTiming();
            UpdateRig rig ("QVM410", kChip16MiB, 64, 256, latencies, startMode);
            const auto image = rig.harness.MakeImage ("image.bin", size);
            BusyLoops loops (busyLoops);
            state.ResumeTiming();

            const auto outcome = rig.Run (image, 600000);

            state.PauseTiming();
            if (! outcome.completed || ! rig.FlashHolds (PanelHarness::Bytes (image)))
            {
                state.SkipWithError ((outcome.completed ? "the flash does not hold the image" : outcome.why).c_str());
                break;
            }
            seconds += outcome.seconds;
            busy += outcome.moduleBusySeconds;
            longestGap = std::max (longestGap, outcome.longestGapMs);
            wireHash = outcome.wireHash;
            state.ResumeTiming();
        }
        if (seconds <= 0)
            return;
        char label[40];
        std::snprintf (label, sizeof (label), "wire %016" PRIx64, wireHash);
        state.SetLabel (label);
        const double images = (double) state.iterations();
        state.counters["image_MB/s"] = (double) size * images / seconds / 1e6;
        state.counters["loop_gap_max_ms"] = longestGap;
        if (reportEfficiency)
        {
            state.counters["module_busy_s"] = busy / images;
            state.counters["efficiency"] = busy / seconds;
        }
    }
}

// The update as fast as the host can drive it: the module answers at once.
static void BM_UpdateZeroLatency (benchmark::State& state)
{
    RunUpdates (state, SimLatencies {}, false);
}
BENCHMARK (BM_UpdateZeroLatency)->Unit (benchmark::kMillisecond)->UseRealTime()->Iterations (3);

// The update against a module that takes its time: 4 ms per 4 KiB block
// acknowledged (driver and program), 100 ms per sector erased, 3 ms per
// block read, 2 ms per flash check, 1 ms per identity reply. Efficiency is
// the module's busy time over the wall time of the update; busy_loops 2 runs
// it beside two busy loops at the lowest priority.
static void BM_UpdateRealisticLatency (benchmark::State& state)
{
    RunUpdates (state, SimLatencies::Realistic(), true, SimMode::Loader, (int) state.range (0));
}
BENCHMARK (BM_UpdateRealisticLatency)->ArgName ("busy_loops")->Arg (0)->Arg (2)
    ->Unit (benchmark::kMillisecond)->UseRealTime()->Iterations (1);

// The update of a module in application mode at zero latency: the switch
// into the loader, with its pause of 3.6 s before the loader probe, is part
// of the span, and so of loop_gap_max_ms.
static void BM_UpdateFromApplicationMode (benchmark::State& state)
{
    RunUpdates (state, SimLatencies {}, false, SimMode::Application);
}
BENCHMARK (BM_UpdateFromApplicationMode)->Unit (benchmark::kMillisecond)->UseRealTime()->Iterations (1);
