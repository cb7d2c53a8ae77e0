// Times checks of the real program from the request to the result, the
// way a user would see them: the check command is posted to the resident
// program and the clock stops when the result message appears. Then the
// program is left alone and its footprint sampled over the idle period.
//
// Usage: bench_driver <sorvane.exe> <start folder> <server> <user> <password>
//          [checks] [idle seconds] [unseen | headers]
#include "figures.h"
#include "program.h"
#include "texts.h"
#include "ui_driver.h"
#include <stdio.h>
#include <string.h>
#include <stdlib.h>

using namespace e2e;
using texts::RESULT_CAPTION;

namespace {


Program app;

// The result box, polled every millisecond so the poll adds little to the
// time measured. Each poll asks for the dialogs of that caption alone:
// going through every window of the desktop, asking each for its class,
// owner and text, would keep Wine's server busy while the program is
// creating the box, and slow the very thing measured.
HWND wait_result(DWORD timeoutMs)
{
    double until = stress::now_ms() + timeoutMs;
    while (stress::now_ms() < until) {
        HWND h = NULL;
        while ((h = FindWindowExA(NULL, h, ui::DIALOG_CLASS, RESULT_CAPTION)) != NULL) {
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid == app.pid() && IsWindowVisible(h) && ui::is_message_box(h))
                return h;
        }
        Sleep(1);
    }
    return NULL;
}

// Wall-clock Unix milliseconds, comparable with the relay's log.
double wall_ms()
{
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    ULONGLONG t = ((ULONGLONG)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return (double)(t - 116444736000000000ULL) / 10000.0;
}

// No box open, nor still ending its modal loop.
bool idle()
{
    return ui::dialogs_alive(app.pid()) == 0;
}

// One check in milliseconds, or a negative number when no result came.
double timed_check(int *refused)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        double t0 = stress::now_ms(), wall0 = wall_ms();
        app.command(CMD_CHECK_NOW);
        HWND box = wait_result(5000);
        double ms = stress::now_ms() - t0;
        if (box) {
            printf("program check wall %.1f %.1f\n", wall0, wall0 + ms);
            ui::answer(ui::read_box(box), IDOK);
            ui::wait_until(idle, 10000, 5);
            // Let the check's thread end before the next request.
            Sleep(200);
            return ms;
        }
        ++*refused;
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 6) {
        fprintf(stderr, "usage: bench_driver <sorvane.exe> <start folder> <server> <user> <password> [checks] "
                        "[idle seconds] [unseen | headers]\n");
        return 2;
    }
    e2e::programPath = e2e::windows_path(argv[1]);
    std::string dir = e2e::windows_path(argv[2]);
    int checks = argc > 6 ? atoi(argv[6]) : 30;
    int idleSeconds = argc > 7 ? atoi(argv[7]) : 600;
    // "unseen": the setting that asks UIDL after STAT; "headers": the one
    // that lists sender and subject of new mail (TOP after STAT). Their
    // lines are labelled so, the usual ones "program".
    const char *variant = argc > 8 ? argv[8] : "";
    bool unseen = strcmp(variant, "unseen") == 0, headers = strcmp(variant, "headers") == 0;
    bool two = strcmp(variant, "two") == 0; // a second account on the same server, checked beside the first
    const char *label = unseen ? "unseen" : headers ? "headers" : two ? "two" : "program";

    CreateDirectoryA(dir.c_str(), NULL);
    e2e::FileSettings s;
    s.server = argv[3];
    s.user = argv[4];
    s.pass = argv[5];
    s.showProgress = 0;
    s.okMes = 1;
    s.noMes = 1;
    s.unseenOnly = unseen;
    s.showHeaders = headers;
    e2e::write_settings_file(dir, s);
    if (two)
        e2e::write_more_accounts(dir, {{s.server, "many", "many-pass", 0}});
    if (!app.start(dir) || !app.main_window()) {
        printf("the program did not start\n");
        return 1;
    }
    HWND first = wait_result(30000);
    if (!first) {
        printf("the start-up check showed no result\n");
        return 1;
    }
    ui::answer(ui::read_box(first), IDOK);
    ui::wait_until(idle, 10000);
    Sleep(500);

    std::vector<double> times;
    int refused = 0, failed = 0;
    for (int i = 0; i < checks; i++) {
        double ms = timed_check(&refused);
        if (ms < 0)
            failed++;
        else
            times.push_back(ms);
    }
    for (double t : times)
        printf("%s check ms %.1f\n", label, t);
    printf("%s checks: %zu timed, %d without result, %d requests repeated\n", label, times.size(), failed, refused);
    printf("%s median ms %.1f\n", label, stress::median(times));
    fflush(stdout);

    // Idle: nothing but the one-second timer.
    stress::Figures a = stress::sample(app.pid(), e2e::programPath);
    printf("idle start: %s\n", stress::describe(a).c_str());
    fflush(stdout);
    Sleep((DWORD)idleSeconds * 1000);
    stress::Figures b = stress::sample(app.pid(), e2e::programPath);
    printf("idle end after %d s: %s\n", idleSeconds, stress::describe(b).c_str());
    printf("idle CPU seconds %.3f (GetProcessTimes), %.2f (Linux utime + stime)\n",
           b.cpuSeconds >= 0 && a.cpuSeconds >= 0 ? b.cpuSeconds - a.cpuSeconds : -1.0,
           b.unixCpuSeconds >= 0 && a.unixCpuSeconds >= 0 ? b.unixCpuSeconds - a.unixCpuSeconds : -1.0);
    app.command(CMD_EXIT);
    DWORD code = app.wait_exit(15000);
    printf("exit code %lu\n", (unsigned long)code);
    return failed || code != 0 ? 1 : 0;
}
