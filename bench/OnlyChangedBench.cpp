// "Only what changed" against a full update of the 16 MiB model image, side by
// side on modules with the realistic latencies, from four starting states: the
// module already holds the image, one sector differs, half the sectors differ,
// every sector differs. A sector that differs holds the previous release there
// (every byte different). Reports both times and their ratio.
#include <benchmark/benchmark.h>
#include "bench/BenchSupport.h"
#include "bench/UpdateRig.h"

namespace
{
    constexpr int kSectorBytes = 64 * 1024;

    /** What the module holds before the update: the image, with the sectors that
        `differs` picks holding the previous release instead. */
    template <typename Pick>
    std::vector<uint8_t> StartingFlash (const std::vector<uint8_t>& image, const std::vector<uint8_t>& previous, Pick differs)
    {
        auto flash = image;
        for (size_t s = 0; s * kSectorBytes < flash.size(); ++s)
            if (differs ((int) s))
                std::copy (previous.begin() + (long) (s * kSectorBytes),
                           previous.begin() + (long) std::min (flash.size(), (s + 1) * kSectorBytes),
                           flash.begin() + (long) (s * kSectorBytes));
        return flash;
    }

    /** One update from `start`, only what changed or in full; seconds, or a negative value with `why`. */
    double TimedUpdate (const std::vector<uint8_t>& start, bool onlyChanged, std::string& why)
    {
        UpdateRig rig ("QVM410", kChip16MiB, 64, 256, SimLatencies::Realistic());
        const auto image = rig.harness.MakeImage ("image.bin", ModelImageBytes());
        rig.module->preloadFlash (0, start);
        rig.harness.panel->SetOnlyChanged (onlyChanged);
        const auto outcome = rig.Run (image, 900000);
        if (! outcome.completed || ! rig.FlashHolds (PanelHarness::Bytes (image)))
        {
            why = outcome.completed ? "the flash does not hold the image" : outcome.why;
            return -1;
        }
        return outcome.seconds;
    }
}

// Arg: 0 the module holds the image, 1 one sector differs, 2 half the sectors
// differ, 3 every sector differs.
static void BM_OnlyChangedRatio (benchmark::State& state)
{
    const int which = (int) state.range (0);
    for (auto _ : state)
    {
        state.PauseTiming();
        std::vector<uint8_t> image, previous;
        {
            PanelHarness files;
            image = PanelHarness::Bytes (files.MakeImage ("image.bin", ModelImageBytes()));
            previous = PanelHarness::Bytes (files.MakeImage ("previous.bin", ModelImageBytes(), true, false, 2));
        }
        const int sectors = (int) (image.size() / kSectorBytes);
        const auto start = StartingFlash (image, previous, [which, sectors] (int s)
        {
            return which == 3 || (which == 2 && s % 2 == 1) || (which == 1 && s == sectors / 2);
        });
        state.ResumeTiming();

        std::string why;
        const double full = TimedUpdate (start, false, why);
        const double only = full > 0 ? TimedUpdate (start, true, why) : -1;

        state.PauseTiming();
        if (full <= 0 || only <= 0)
        {
            state.SkipWithError (why.c_str());
            break;
        }
        static const double goals[] = { 0.40, 0.45, 0.75, 1.10 };
        state.counters["full_s"] = full;
        state.counters["only_changed_s"] = only;
        state.counters["ratio"] = only / full;
        state.counters["goal"] = goals[which];
        state.ResumeTiming();
    }
}
BENCHMARK (BM_OnlyChangedRatio)->ArgName ("differs")->Arg (0)->Arg (1)->Arg (2)->Arg (3)
    ->Unit (benchmark::kMillisecond)->UseRealTime()->Iterations (1);
