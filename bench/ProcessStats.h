#pragma once
// What the kernel counts for this process: bytes read through read calls,
// resident memory now and at its peak (the peak can be reset), CPU time and
// context switches.
#include <cstdint>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace proc
{
/** A "name: value" field of a /proc/self file, or -1. */
inline int64_t Field (const char* file, const std::string& name)
{
    std::ifstream in (file);
    std::string key;
    while (in >> key)
    {
        int64_t value = -1;
        if (key == name + ":" && (in >> value))
            return value;
        std::getline (in, key);
    }
    return -1;
}

/** Bytes the process has read through read calls so far (files, pipes, sockets). */
inline int64_t BytesRead() { return Field ("/proc/self/io", "rchar"); }

/** Resident memory now, in bytes. */
inline int64_t ResidentBytes() { return Field ("/proc/self/status", "VmRSS") * 1024; }

/** The peak of resident memory since the start or the last reset, in bytes. */
inline int64_t PeakResidentBytes() { return Field ("/proc/self/status", "VmHWM") * 1024; }

/** CPU time of every thread of the process so far, user and system, in seconds. */
inline double CpuSeconds()
{
    rusage usage {};
    ::getrusage (RUSAGE_SELF, &usage);
    const auto seconds = [] (const timeval& t) { return (double) t.tv_sec + (double) t.tv_usec * 1e-6; };
    return seconds (usage.ru_utime) + seconds (usage.ru_stime);
}

/** Context switches of every thread of the process so far, voluntary (a thread
    waited) and involuntary (it was preempted). */
inline int64_t ContextSwitches()
{
    rusage usage {};
    ::getrusage (RUSAGE_SELF, &usage);
    return (int64_t) usage.ru_nvcsw + (int64_t) usage.ru_nivcsw;
}

/** Starts a new peak from the present resident memory; false where the kernel does not offer it. */
inline bool ResetPeakResident()
{
    std::ofstream out ("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool> (out);
}
} // namespace proc
