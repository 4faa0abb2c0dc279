#pragma once
// The benchmark program started again as a child that runs one update in a
// process of its own (the link's and the panel's state is global to a
// process) and prints its figures on stdout.

/** The first argument that makes the program such a child. */
constexpr const char* kHostCpuChildFlag = "--host_cpu_child";

/** Runs the model update once at zero latency and prints one report line; returns the exit status. */
int RunHostCpuChild();
