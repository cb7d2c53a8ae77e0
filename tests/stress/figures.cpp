#include "figures.h"
#include "program.h"
#include <psapi.h>
#include <tlhelp32.h>
#include <algorithm>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

static std::string lower(std::string s)
{
    for (char &c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

// The Linux process whose program name is the program's and whose
// WINEPREFIX is ours: other Wine prefixes may run a program of that name.
static long find_unix_pid(const std::string &programPath)
{
    char prefix[MAX_PATH] = "";
    GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    std::string wantPrefix = std::string("WINEPREFIX=") + prefix;
    std::string wantPath = lower(programPath);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("Z:\\proc\\*", &fd);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    long found = -1;
    do {
        long pid = atol(fd.cFileName);
        if (pid <= 0 || found > 0)
            continue;
        std::string base = std::string("Z:\\proc\\") + fd.cFileName;
        // Only the program name counts: a driver names the program among
        // its arguments.
        std::string cmd = lower(e2e::read_file(base + "\\cmdline").c_str());
        if (cmd.find(wantPath) == std::string::npos)
            continue;
        std::string env = e2e::read_file(base + "\\environ");
        if (env.find(wantPrefix + std::string(1, '\0')) != std::string::npos)
            found = pid;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return found;
}

static long long status_value(const std::string &status, const char *key)
{
    size_t at = status.find(key);
    return at == std::string::npos ? -1 : atoll(status.c_str() + at + strlen(key));
}

static long count_fds(long pid)
{
    WIN32_FIND_DATAA fd;
    std::string pattern = "Z:\\proc\\" + std::to_string(pid) + "\\fd\\*";
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    long n = 0;
    do {
        if (fd.cFileName[0] != '.')
            n++;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return n;
}

static void sample_unix(Figures &f, const std::string &programPath)
{
    static long cachedPid = -1;
    static std::string cachedPath;
    if (cachedPid <= 0 || cachedPath != programPath
        || e2e::read_file("Z:\\proc\\" + std::to_string(cachedPid) + "\\cmdline").empty()) {
        cachedPid = find_unix_pid(programPath);
        cachedPath = programPath;
    }
    if (cachedPid <= 0)
        return;
    std::string status = e2e::read_file("Z:\\proc\\" + std::to_string(cachedPid) + "\\status");
    f.unixPid = cachedPid;
    f.unixThreads = (long)status_value(status, "Threads:");
    long long kb = status_value(status, "RssAnon:");
    f.rssAnonBytes = kb < 0 ? -1 : kb * 1024;
    f.unixFds = count_fds(cachedPid);
    // Fields 14 and 15 of stat, counted after the command name's ")".
    std::string stat = e2e::read_file("Z:\\proc\\" + std::to_string(cachedPid) + "\\stat");
    size_t at = stat.rfind(')');
    if (at != std::string::npos) {
        const char *p = stat.c_str() + at + 2;
        long long v[13] = {};
        for (int i = 0; i < 13 && *p; i++) {
            while (*p && *p != ' ')
                p++;
            while (*p == ' ')
                p++;
            v[i] = atoll(p);
        }
        // After ")": state is field 3, so utime (14) and stime (15) are
        // the 11th and 12th numbers after the state.
        f.unixCpuSeconds = (double)(v[10] + v[11]) / 100.0; // USER_HZ
    }
}

Figures sample(DWORD pid, const std::string &programPath)
{
    Figures f;
    sample_unix(f, programPath);
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
    char line[512];
    snprintf(line, sizeof line,
             "handles %ld, threads %ld, USER objects %ld, GDI objects %ld, private bytes %lld, CPU %.3f s | "
             "Linux pid %ld: threads %ld, fds %ld, RssAnon %lld, CPU %.2f s",
             f.handles, f.threads, f.userObjects, f.gdiObjects, f.privateBytes, f.cpuSeconds, f.unixPid,
             f.unixThreads, f.unixFds, f.rssAnonBytes, f.unixCpuSeconds);
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

} // namespace stress
