// A full image of 0x0C000000 bytes (a sparse file: zeros and the "BD"
// marker) through the real panel with the 1536-sector driver: the bytes the
// process reads, its peak resident memory, the longest turn of the message
// loop and the wall time.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <unistd.h>
#include "bench/BenchSupport.h"
#include "bench/ProcessStats.h"
#include "bench/UpdateRig.h"

namespace
{
    constexpr int64_t kFullImageBytes = 0x0C000000;
    constexpr uint32_t kMarker = 0xFFF8;

    /** A sparse file of `size` bytes holding only the marker. */
    bool MakeSparseImage (const juce::File& file, int64_t size)
    {
        std::FILE* f = std::fopen (file.getFullPathName().toRawUTF8(), "wb");
        if (f == nullptr)
            return false;
        bool ok = ::ftruncate (::fileno (f), (off_t) size) == 0;
        ok = ok && std::fseek (f, kMarker, SEEK_SET) == 0 && std::fwrite ("BD", 1, 2, f) == 2;
        return std::fclose (f) == 0 && ok;
    }

    /** Whether the flash holds the sparse image, looked at 16 MiB at a time. */
    bool FlashHoldsSparseImage (const SimulatedModule& module, int64_t size)
    {
        constexpr size_t kPiece = 16u << 20;
        for (int64_t at = 0; at < size; at += (int64_t) kPiece)
        {
            const auto n = (size_t) std::min<int64_t> ((int64_t) kPiece, size - at);
            const auto flash = module.readFlash ((uint64_t) at, n);
            for (size_t i = 0; i < n; ++i)
            {
                const int64_t address = at + (int64_t) i;
                const uint8_t expected = address == kMarker ? 'B' : address == kMarker + 1 ? 'D' : 0;
                if (flash[i] != expected)
                    return false;
            }
        }
        return true;
    }
}

// One update of the full image (1 MiB when smoke-run) on a module with the
// 192 MiB chip, zero latency.
static void BM_FullImageUpdate (benchmark::State& state)
{
    const int64_t size = BenchSmoke() ? 0x100000 : kFullImageBytes;
    for (auto _ : state)
    {
        state.PauseTiming();
        UpdateRig rig ("QVM428", "KV29H192", 128, 1536, SimLatencies {});
        const auto image = rig.harness.folder.getChildFile ("full.bin");
        if (! MakeSparseImage (image, size))
        {
            state.SkipWithError ("the sparse image could not be made");
            break;
        }
        const auto readBefore = proc::BytesRead();
        const auto residentBefore = proc::ResidentBytes();
        const bool peakReset = proc::ResetPeakResident();
        state.ResumeTiming();

        const auto outcome = rig.Run (image, 1800000);

        state.PauseTiming();
        const auto read = proc::BytesRead() - readBefore;
        const auto peak = proc::PeakResidentBytes();
        if (! outcome.completed || ! FlashHoldsSparseImage (*rig.module, size))
        {
            state.SkipWithError ((outcome.completed ? "the flash does not hold the image" : outcome.why).c_str());
            break;
        }
        constexpr double MiB = 1024.0 * 1024.0;
        state.counters["image_MiB"] = (double) size / MiB;
        state.counters["read_per_image"] = (double) read / (double) size;
        state.counters["rss_before_MiB"] = (double) residentBefore / MiB;
        state.counters["rss_peak_MiB"] = peakReset ? (double) peak / MiB : -1.0;
        state.counters["image_MB/s"] = (double) size / outcome.seconds / 1e6;
        state.counters["loop_gap_max_ms"] = outcome.longestGapMs;
        state.ResumeTiming();
    }
}
BENCHMARK (BM_FullImageUpdate)->Unit (benchmark::kMillisecond)->UseRealTime()->Iterations (1);
