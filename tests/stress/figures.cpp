#include "figures.h"
#include <psapi.h>
#include <tlhelp32.h>
#include <algorithm>
#include <stdio.h>

namespace stress {

static long count_threads(DWORD pid)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    long n = 0;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID == pid)
            n++;
    }
    CloseHandle(snap);
    return n;
}

static double seconds_of(const FILETIME &t)
{
    ULARGE_INTEGER u;
    u.LowPart = t.dwLowDateTime;
    u.HighPart = t.dwHighDateTime;
    return (double)u.QuadPart / 1e7;
}

Figures sample(DWORD pid)
{
    Figures f;
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!p)
        return f;
    f.ok = true;
    DWORD handles = 0;
    if (GetProcessHandleCount(p, &handles))
        f.handles = (long)handles;
    f.threads = count_threads(pid);
    // GetGuiResources gives 0 for failure too; an honest 0 is impossible for
    // a process with a window, so a 0 is reported as "refused" by the reader.
    f.userObjects = (long)GetGuiResources(p, GR_USEROBJECTS);
    f.gdiObjects = (long)GetGuiResources(p, GR_GDIOBJECTS);
    PROCESS_MEMORY_COUNTERS_EX m = {};
    m.cb = sizeof m;
    if (GetProcessMemoryInfo(p, (PROCESS_MEMORY_COUNTERS *)&m, sizeof m))
        f.privateBytes = (long long)m.PrivateUsage;
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(p, &created, &exited, &kernel, &user))
        f.cpuSeconds = seconds_of(kernel) + seconds_of(user);
    CloseHandle(p);
    return f;
}

std::string describe(const Figures &f)
{
    char line[256];
    snprintf(line, sizeof line, "handles %ld, threads %ld, USER objects %ld, GDI objects %ld, private bytes %lld, CPU %.3f s",
             f.handles, f.threads, f.userObjects, f.gdiObjects, f.privateBytes, f.cpuSeconds);
    return line;
}

double median(std::vector<double> &ms)
{
    if (ms.empty())
        return 0;
    std::sort(ms.begin(), ms.end());
    size_t n = ms.size();
    return n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
}

double now_ms()
{
    static LARGE_INTEGER freq;
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)freq.QuadPart;
}

std::string windows_path(std::string path)
{
    if (!path.empty() && path[0] == '/') {
        for (char &c : path)
            if (c == '/')
                c = '\\';
        path = "Z:" + path;
    }
    return path;
}

} // namespace stress
