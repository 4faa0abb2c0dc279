// Whole updates of a 16 MiB image through the real panel: the model update
// (boot image, zero blocks, the special driver, verify groups of erase,
// program, read back and compare, the marker's piece last) against a
// zero-latency module, and against a module with realistic latencies.
#include <benchmark/benchmark.h>
#include "bench/BenchSupport.h"
#include "bench/UpdateRig.h"

namespace
{
    /** The chip of the module: 256 sectors of 64 KiB, 16 MiB (the model update
        writes 64 KiB pieces, so its chips have 64 KiB sectors). */
    const juce::String kChip16MiB ("KV29F128");

    /** One update per iteration, each on a fresh panel and module; reports MB/s of image. */
    void RunUpdates (benchmark::State& state, const SimLatencies& latencies, bool reportEfficiency)
    {
        const int size = BenchSmoke() ? 0x100000 : 0x1000000;
        double seconds = 0, busy = 0, longestGap = 0;
        for (auto _ : state)
        {
            state.PauseTiming();
            UpdateRig rig ("QVM410", kChip16MiB, 64, 256, latencies);
            const auto image = rig.harness.MakeImage ("image.bin", size);
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
            state.ResumeTiming();
        }
        if (seconds <= 0)
            return;
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
// the module's busy time over the wall time of the update.
static void BM_UpdateRealisticLatency (benchmark::State& state)
{
    RunUpdates (state, SimLatencies::Realistic(), true);
}
BENCHMARK (BM_UpdateRealisticLatency)->Unit (benchmark::kMillisecond)->UseRealTime()->Iterations (1);
