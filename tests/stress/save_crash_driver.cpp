// The settings file and the seen-mail file under interrupted saves: a
// child process saves a new record and a new list of seen uids in a loop
// with the program's own save_settings and save_seen_file, and is killed at
// a random moment; each file must then load, with the program's own
// load_settings and load_seen_file, into either what it held before or the
// new one. Every other record carries the extension block.
// Usage: save_crash_driver <folder> [rounds]    (the child mode is internal)
#include "figures.h"
#include "program.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "pop3/seen_file.h"
#include "desktop/desktop.h"
#include "ui_driver.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <random>
#include <string>
#include <thread>
#include <atomic>

static const char READY_EVENT[] = "SorvaneSaveCrashReady";

// Records that differ in every field and in length, so that a file cut
// anywhere, or two files mixed, cannot pass for either of them.
static SettingsRecord record_for(int i)
{
    SettingsRecord r;
    memset(&r, 0, sizeof r);
    std::string pad(static_cast<size_t>(i % 40), 'x');
    snprintf(r.server, sizeof r.server, "mail%d.%s.example", i, pad.c_str());
    snprintf(r.user, sizeof r.user, "ユーザー%d", i);
    snprintf(r.pass, sizeof r.pass, "pw-%d-%s", i * 7919, pad.c_str());
    r.autoCheckTime = (i % 3 == 0) ? -i : i;
    r.showProgress = i & 1;
    snprintf(r.mailPath, sizeof r.mailPath, "C:\\メール\\%d\\%s\\mailer.exe", i, pad.c_str());
    r.mailPathAsk = (i >> 1) & 1;
    snprintf(r.oksndPath, sizeof r.oksndPath, "C:\\snd\\ok%d.wav", i);
    r.okMes = (i >> 2) & 1;
    if (i % 5)
        snprintf(r.nosndPath, sizeof r.nosndPath, "C:\\snd\\none%d.wav", i);
    r.noMes = (i >> 3) & 1;
    r.unseenOnly = i & 1;
    return r;
}

// Round i's seen list: i % 50 + 1 uids of its own, so lists differ in
// length and content. The account and the count are record i's and i.
static void seen_for(int i, SeenList *list)
{
    seen_list_free(list);
    for (int k = 0; k <= i % 50; k++) {
        std::string uid = "uid-" + std::to_string(i) + "-" + std::to_string(k);
        seen_list_add(list, uid.data(), uid.size());
    }
    seen_list_finish(list);
}

// The seen file holds round i's list, whole.
static bool seen_file_is(int i)
{
    SettingsRecord r = record_for(i);
    SeenList want, got;
    seen_list_init(&want);
    seen_list_init(&got);
    seen_for(i, &want);
    SeenMark mark;
    bool same = load_seen_file(startDirectory, SEEN_FILE_NAME, r.server, r.user, &mark, &got) == SEEN_FILE_READ && mark.count == (uint32_t)i &&
                got.count == want.count;
    for (size_t k = 0; same && k < got.count; k++)
        same = !strcmp(got.sorted[k], want.sorted[k]);
    seen_list_free(&want);
    seen_list_free(&got);
    return same;
}

static bool same(const SettingsRecord &a, const SettingsRecord &b)
{
    return !strcmp(a.server, b.server) && !strcmp(a.user, b.user) && !strcmp(a.pass, b.pass) &&
           a.autoCheckTime == b.autoCheckTime && a.showProgress == b.showProgress &&
           !strcmp(a.mailPath, b.mailPath) && a.mailPathAsk == b.mailPathAsk &&
           !strcmp(a.oksndPath, b.oksndPath) && a.okMes == b.okMes && !strcmp(a.nosndPath, b.nosndPath) &&
           a.noMes == b.noMes && a.unseenOnly == b.unseenOnly;
}

static void put_record(const SettingsRecord &r)
{
    settings_lock();
    Settings = r;
    settings_unlock();
}

static int child(const char *round)
{
    GetCurrentDirectoryA(sizeof startDirectory, startDirectory);
    int i = atoi(round);
    SettingsRecord r = record_for(i);
    put_record(r);
    SeenList seen;
    seen_list_init(&seen);
    seen_for(i, &seen);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, READY_EVENT);
    if (!ready)
        return 4;
    SetEvent(ready);
    for (;;) {
        const SeenMark mark = {(uint32_t)i, "", ""};
        if (!save_settings() || !save_seen_file(startDirectory, SEEN_FILE_NAME, r.server, r.user, &mark, &seen))
            return 3;
    }
}

static std::atomic<int> boxesSeen{0};
static std::string lastBox;

static void observe_box(HWND, const char *text, const char *caption, UINT)
{
    lastBox = std::string(caption) + ": " + text;
    boxesSeen++;
}

// A failed load asks or warns in a box on this thread; answer it so the
// run goes on and reports the failure instead of hanging.
static void dismiss_boxes(std::atomic<bool> *stop)
{
    while (!*stop) {
        ui::dismiss_all(GetCurrentProcessId());
        Sleep(50);
    }
}

static bool start_child(const std::string &self, const std::string &dir, int round, PROCESS_INFORMATION *pi)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::string cmd = "\"" + self + "\" --child " + std::to_string(round);
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    return CreateProcessA(self.c_str(), line.data(), NULL, NULL, FALSE, 0, NULL, dir.c_str(), &si, pi) != 0;
}

// Mean time of one save, so that the random moments cover whole saves.
static double time_one_save(int round)
{
    SettingsRecord r = record_for(round);
    put_record(r);
    SeenList seen;
    seen_list_init(&seen);
    seen_for(round, &seen);
    const int n = 200;
    const SeenMark mark = {(uint32_t)round, "", ""};
    double t0 = stress::now_ms();
    for (int k = 0; k < n; k++)
        save_settings() && save_seen_file(startDirectory, SEEN_FILE_NAME, r.server, r.user, &mark, &seen);
    seen_list_free(&seen);
    return (stress::now_ms() - t0) / n;
}

static void busy_wait_us(double us)
{
    double until = stress::now_ms() + us / 1000.0;
    while (stress::now_ms() < until) {
    }
}

int main(int argc, char **argv)
{
    if (argc >= 3 && !strcmp(argv[1], "--child"))
        return child(argv[2]);
    if (argc < 2) {
        fprintf(stderr, "usage: save_crash_driver <folder> [rounds]\n");
        return 2;
    }
    std::string dir = e2e::windows_path(argv[1]);
    int rounds = argc > 2 ? atoi(argv[2]) : 1000;
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    CreateDirectoryA(dir.c_str(), NULL);
    SetCurrentDirectoryA(dir.c_str());
    GetCurrentDirectoryA(sizeof startDirectory, startDirectory);
    messageBoxObserver = observe_box;
    std::atomic<bool> stop{false};
    std::thread dismisser(dismiss_boxes, &stop);

    // The file starts as a complete record 0.
    double saveMs = time_one_save(0);
    SettingsRecord held = record_for(0);
    double windowUs = saveMs * 1000.0 * 5;
    printf("one save takes %.3f ms here; kills fall at random in the first %.0f us after the child's first save begins\n",
           saveMs, windowUs);

    HANDLE ready = CreateEventA(NULL, FALSE, FALSE, READY_EVENT);
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> moment(0.0, windowUs);
    int asOld = 0, asNew = 0, tempLeft = 0, failures = 0, childEnded = 0;
    int seenHeld = 0, seenOld = 0, seenNew = 0;
    for (int round = 1; round <= rounds; round++) {
        PROCESS_INFORMATION pi;
        ResetEvent(ready);
        if (!start_child(self, dir, round, &pi)) {
            printf("round %d: the child did not start\n", round);
            failures++;
            continue;
        }
        if (WaitForSingleObject(ready, 30000) != WAIT_OBJECT_0) {
            printf("round %d: the child never became ready\n", round);
            failures++;
        }
        busy_wait_us(moment(rng));
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0)
            childEnded++; // it stopped by itself: a save failed
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);

        if (GetFileAttributesA(SETTINGS_TEMP_FILE_NAME) != INVALID_FILE_ATTRIBUTES)
            tempLeft++;
        SettingsRecord empty;
        memset(&empty, 0, sizeof empty);
        put_record(empty);
        int before = boxesSeen;
        int loaded = load_settings();
        SettingsRecord got;
        got = Settings; // this thread is the only one here
        SettingsRecord fresh = record_for(round);
        if (loaded && same(got, held)) {
            asOld++;
        } else if (loaded && same(got, fresh)) {
            asNew++;
            held = fresh;
        } else {
            failures++;
            printf("round %d: load gave %d, record matches neither (server \"%s\")%s%s\n", round, loaded, got.server,
                   boxesSeen != before ? "; box " : "", boxesSeen != before ? lastBox.c_str() : "");
        }
        if (seen_file_is(seenHeld)) {
            seenOld++;
        } else if (seen_file_is(round)) {
            seenNew++;
            seenHeld = round;
        } else {
            failures++;
            printf("round %d: the seen-mail file matches neither list\n", round);
        }
        if (round % 100 == 0)
            printf("  %d rounds: %d old, %d new, %d with a cut temporary file, %d failures\n", round, asOld, asNew,
                   tempLeft, failures);
        fflush(stdout);
    }
    stop = true;
    dismisser.join();
    printf("interrupted saves: %d rounds, file loaded as the old record %d times, as the new one %d times; "
           "a cut temporary file was left %d times; a save failed on its own %d times; failures %d\n",
           rounds, asOld, asNew, tempLeft, childEnded, failures);
    printf("seen-mail file: loaded as the old list %d times, as the new one %d times\n", seenOld, seenNew);
    return failures || childEnded ? 1 : 0;
}
