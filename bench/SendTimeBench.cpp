// The time a send of one data block (4689 bytes) takes its caller, on the
// raw MIDI core against a simulated USB-MIDI interface at USB full speed
// with a small buffer: written directly (the caller waits while the device
// drains) and through the output's writer thread (the caller only queues).
// Between two sends the device drains completely, as it does while the link
// waits for the module's acknowledgement.
#if defined(KESTRAVA_RAWMIDI)
#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>
#include <unistd.h>
#include "bench/BenchSupport.h"
#include "link/QueuedOutPort.h"
#include "link/rawmidi/FdMidiPorts.h"
#include "sim/StreamMidiInterface.h"

static void BM_SendTimeToCaller (benchmark::State& state)
{
    const bool queued = state.range (0) != 0;
    StreamMidiInterface::Settings settings;
    settings.socketBuffer = 1;   // the kernel's smallest: the block does not fit at once
    StreamMidiInterface device (settings);
    const int fd = ::dup (device.HostFd());
    std::unique_ptr<MidiOutPort> out = std::make_unique<FdMidiOutPort> (fd, [fd] { ::close (fd); });
    if (queued)
        out = WithWriterThread (std::move (out));

    std::vector<uint8_t> data (4687);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (uint8_t) ((i * 13) & 0x7F);
    const auto block = juce::MidiMessage::createSysExMessage (data.data(), (int) data.size());
    uint64_t sent = 0;
    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        out->sendMessageNow (block);
        const auto took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime (std::chrono::duration<double> (took).count());
        sent += (uint64_t) block.getRawDataSize();
        while (device.BytesTaken() < sent)   // the device drains before the next block
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
}
BENCHMARK (BM_SendTimeToCaller)->ArgName ("writer_thread")->Arg (0)->Arg (1)
    ->UseManualTime()->Unit (benchmark::kMicrosecond)->Iterations (BenchSmoke() ? 2 : 20);
#endif
