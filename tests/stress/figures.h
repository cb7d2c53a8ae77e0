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
};

Figures sample(DWORD pid);
std::string describe(const Figures &f);

// Median of a list of milliseconds (the list is sorted in place).
double median(std::vector<double> &ms);

// Milliseconds since an arbitrary start, to the performance counter's
// resolution.
double now_ms();

// A Unix path (as the scripts give it) made into one Wine can open.
std::string windows_path(std::string path);

} // namespace stress

#endif
