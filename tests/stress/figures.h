// The footprint of another process as Windows reports it: what a leak of
// handles, threads, window objects or memory would make grow.
#ifndef SORVANE_STRESS_FIGURES_H
#define SORVANE_STRESS_FIGURES_H

#include <windows.h>
#include <string>
#include <vector>

namespace stress {

struct Figures {
    bool ok = false;         // the process could be opened at all
    long handles = -1;       // GetProcessHandleCount; -1 when refused
    long threads = -1;       // Toolhelp snapshot
    long userObjects = -1;   // GetGuiResources(GR_USEROBJECTS)
    long gdiObjects = -1;    // GetGuiResources(GR_GDIOBJECTS)
    long long privateBytes = -1; // PROCESS_MEMORY_COUNTERS_EX.PrivateUsage
    double cpuSeconds = -1;  // kernel + user time
    // The same process seen from Linux, where Wine runs it: what Wine does
    // not report through the calls above is visible here.
    long unixPid = -1;
    long unixThreads = -1;   // /proc/<pid>/status Threads (Wine's own threads too)
    long unixFds = -1;       // open file descriptors (files and sockets)
    long long rssAnonBytes = -1; // resident anonymous memory: the heap and stacks
    double unixCpuSeconds = -1;  // utime + stime from /proc/<pid>/stat
};

// `programPath` (as the program was started) finds the Linux process of a
// program of this Wine prefix.
Figures sample(DWORD pid, const std::string &programPath);
std::string describe(const Figures &f);

// Median of a list of milliseconds (the list is sorted in place).
double median(std::vector<double> &ms);

// Milliseconds since an arbitrary start, to the performance counter's
// resolution.
double now_ms();


} // namespace stress

#endif
