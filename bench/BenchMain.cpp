// Entry point of the benchmark program: JUCE's message machinery is up (the
// device link posts its notifications through it) on the thread that runs
// the benchmarks. Started as a child of the program, it runs that one update.
#include <benchmark/benchmark.h>
#include <cstring>
#include <juce_gui_basics/juce_gui_basics.h>
#include "bench/HostCpuChild.h"

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    if (argc > 1 && std::strcmp (argv[1], kHostCpuChildFlag) == 0)
        return RunHostCpuChild();
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
