// A whole write cycle through the device link against the zero-latency
// simulated module on the virtual bus: erase and program a file, read the
// flash back into a file, compare the two. 16 MiB (256 KiB when smoke-run).
#include <benchmark/benchmark.h>
#include <atomic>
#include <chrono>
#include <memory>
#include "store/shared/ProgramHooks.h"
#include "bench/BenchSupport.h"
#include "link/Communication.h"
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "sim/SimDriverImage.h"
#include "sim/VirtualMidiBus.h"

namespace
{
    /** Counts the link's notifications (message thread). */
    class StepCounter : public juce::MessageListener
    {
    public:
        void handleMessage (const juce::Message& m) override
        {
            if (auto* n = AsNotify (m))
            {
                if (n->intParameter1 == kConnectedMessage)
                    ++connected;
                else if (n->intParameter1 == kStepDoneMessage)
                    ++(n->intParameter2 == 0 ? done : retry);
                else if (n->intParameter1 == kStepStartMessage && n->intParameter2 == 1)
                    ++stopped;
            }
        }
        int connected = 0, done = 0, retry = 0, stopped = 0;
    };

    /** The bus, one module, a link bound to it with a driver for `flashBytes` of flash, and the image file. */
    struct Bench
    {
        explicit Bench (int flashBytes)
            : folder (juce::File::createTempFile ("kestrava-bench"))
        {
            ResetGlobalsForTests();
            folder.createDirectory();
            SetMessageBoxHook ([this] (juce::MessageBoxIconType, const juce::String&, const juce::String& text) { box = text; });
            bus = std::make_shared<VirtualMidiBus>();
            SetMidiPortSource (bus);
            SimModuleConfig c;
            c.chipName = "SIM29GL128";
            c.keepCommandLog = false;
            module = bus->addModule (c);

            link = std::make_unique<Communication>();
            link->SetListener (&counter);
            link->SetWordMode (false);

            const auto sectors = (uint16_t) (flashBytes / 0x10000);
            const auto driverBytes = MakeSimDriver ("SIMMCU", c.chipName, { { 64, sectors } }, 8192);
            const auto driver = folder.getChildFile ("driver.bin");
            driver.replaceWithData (driverBytes.data(), driverBytes.size());

            juce::MemoryBlock data ((size_t) flashBytes);
            auto* p = static_cast<uint8_t*> (data.getData());
            for (int i = 0; i < flashBytes; ++i)
                p[i] = (uint8_t) ((i * 131 + (i >> 12) * 7 + 29) & 0xFF);
            image = folder.getChildFile ("image.bin");
            image.replaceWithData (data.getData(), data.getSize());
            readBack = folder.getChildFile ("readback.bin");

            link->Connect();
            ready = BenchRunLoopUntil ([this] { return counter.connected > 0; }, 10000);
            link->StopTimer();
            g_nJobPhase = 3;   // a job runs: the link's timer is the reply watchdog
            ready = ready && ! link->SendDriver (driver.getFullPathName().toWideCharPointer()) && WaitStep();
        }

        ~Bench()
        {
            link.reset();
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
            SetMessageBoxHook (nullptr);
            SetMidiPortSource (nullptr);
            bus.reset();
            folder.deleteRecursively();
            ResetGlobalsForTests();
        }

        /** Waits for the running step; true when it finished without a failure. */
        bool WaitStep()
        {
            const int before = counter.done + counter.retry + counter.stopped;
            return BenchRunLoopUntil ([&] { return counter.done + counter.retry + counter.stopped > before; })
                && counter.retry == 0 && counter.stopped == 0 && box.isEmpty();
        }

        juce::File folder, image, readBack;
        StepCounter counter;
        std::shared_ptr<VirtualMidiBus> bus;
        std::shared_ptr<SimulatedModule> module;
        std::unique_ptr<Communication> link;
        juce::String box;
        bool ready = false;
    };

    double Seconds (std::chrono::steady_clock::duration d)
    {
        return std::chrono::duration<double> (d).count();
    }
}

static void BM_ProgramReadCompare (benchmark::State& state)
{
    const int size = BenchSmoke() ? 0x40000 : 0x1000000;
    Bench bench (size);
    if (! bench.ready)
    {
        state.SkipWithError ("the module was not found or refused the driver");
        return;
    }

    using Clock = std::chrono::steady_clock;
    double program = 0, read = 0, compare = 0;
    for (auto _ : state)
    {
        const auto t0 = Clock::now();
        const bool ok = ! bench.link->EraseAndProgramFile (0, bench.image.getFullPathName(), 0, 0, 0) && bench.WaitStep();
        const auto t1 = Clock::now();
        const bool ok2 = ok && ! bench.link->ReadToFile (bench.readBack.getFullPathName(), 0, 0, 0) && bench.WaitStep();
        const auto t2 = Clock::now();
        const bool ok3 = ok2 && ! bench.link->CompareFiles (bench.image.getFullPathName(), 0, bench.readBack.getFullPathName())
                         && bench.WaitStep();
        const auto t3 = Clock::now();
        if (! ok3)
        {
            const std::string why = ("the write cycle failed: " + bench.box).toStdString();
            state.SkipWithError (why.c_str());
            break;
        }
        program += Seconds (t1 - t0);
        read += Seconds (t2 - t1);
        compare += Seconds (t3 - t2);
    }

    const double mib = (double) size / (1024.0 * 1024.0) * (double) state.iterations();
    state.SetBytesProcessed ((int64_t) state.iterations() * size);
    if (program > 0 && read > 0 && compare > 0)
    {
        state.counters["program_MiB/s"] = mib / program;
        state.counters["read_MiB/s"] = mib / read;
        state.counters["compare_MiB/s"] = mib / compare;
    }
}
BENCHMARK (BM_ProgramReadCompare)->Unit (benchmark::kMillisecond)->UseRealTime();
