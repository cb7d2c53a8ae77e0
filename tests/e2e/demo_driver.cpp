// The demo: writes a settings file for the local mail server's demo
// account, starts the program against it and saves
// pictures of what the user sees (the tray icon in the taskbar, the
// progress window, the result message). With --keep it leaves the program
// running for the user to try; without it, it answers the result and ends
// the program through its menu. With --tls-progress SERVER it checks that
// server instead and saves the progress window as it shows the TLS
// handshake. With --arrived SERVER it checks the demo account that holds
// mail with Japanese senders and subjects twice: once with the list in the
// box, once with the result as a balloon of the tray icon, saving both.
#include "program.h"
#include "texts.h"
#include "ui_driver.h"
#include <stdio.h>
#include <string.h>
#include <vector>

static void show_saved(const std::string &path)
{
    if (e2e::save_screen(path))
        printf("saved %s\n", path.c_str());
}

using e2e::CMD_EXIT;
using e2e::IDC_STATUS_STEP;
const char HANDSHAKE_STEP[] = "暗号化された接続を確立しています...";

// The demo account of the local mail server, three messages waiting, with
// the progress window and both messages.
static void write_demo_account(const char *start, const char *server)
{
    e2e::write_account(start, server, "three", "three-pass", e2e::SHOW_PROGRESS | e2e::OK_MESSAGE | e2e::NO_MESSAGE);
}

// One check of `server` with the progress window; its picture is taken
// while the window shows the handshake (the script puts a slow link in
// front of the server so that the step lasts).
static int tls_progress(const char *start, const std::string &pictures, const char *server)
{
    write_demo_account(start, server);
    e2e::Program app;
    if (!app.start(start)) {
        fprintf(stderr, "cannot start the program\n");
        return 1;
    }
    HWND progress = ui::wait_window(ui::DIALOG_CLASS, texts::PROGRESS_CAPTION, 20000, app.pid());
    bool seen = progress && ui::wait_until([&] { return ui::item_text(progress, IDC_STATUS_STEP) == HANDSHAKE_STEP; },
                                           20000, 5);
    if (seen)
        show_saved(pictures + "\\progress-tls.bmp");
    else
        fprintf(stderr, "the progress window showed no handshake\n");
    ui::Box result = ui::wait_box(NULL, 40000, app.pid());
    if (result)
        printf("the program says: %s\n", result.text.c_str());
    if (result)
        ui::answer(result, IDOK);
    if (progress)
        ui::wait_gone(progress);
    app.command(CMD_EXIT);
    DWORD code = app.wait_exit();
    return seen && result && code == 0 ? 0 : 1;
}

// What arrived, shown the two ways the settings offer.
static int arrived(const char *start, const std::string &pictures, const char *server)
{
    int failures = 0;
    for (int balloon = 0; balloon < 2; balloon++) {
        e2e::FileSettings s;
        s.server = server;
        s.user = "demo";
        s.pass = "demo-pass";
        s.okMes = s.noMes = 1;
        s.showHeaders = 1;
        s.notifyBalloon = balloon;
        e2e::write_settings_file(start, s);
        e2e::Program app;
        if (!app.start(start)) {
            fprintf(stderr, "cannot start the program\n");
            return 1;
        }
        if (!balloon) {
            ui::Box result = ui::wait_box(texts::RESULT_CAPTION, 40000, app.pid());
            if (result) {
                Sleep(300);
                show_saved(pictures + "\\arrived-box.bmp");
                printf("the program says: %s\n", result.text.c_str());
                ui::answer(result, IDOK);
                ui::wait_gone(result.hwnd);
            }
            failures += !result;
        } else {
            bool seen = ui::wait_until([] { return ui::shown_balloon() != NULL; }, 40000);
            if (seen) {
                Sleep(300);
                show_saved(pictures + "\\arrived-balloon.bmp");
            } else {
                fprintf(stderr, "no balloon came\n");
            }
            failures += !seen;
        }
        app.command(CMD_EXIT);
        failures += app.wait_exit() != 0;
    }
    return failures ? 1 : 0;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: demo_driver <sorvane.exe> <start folder> <picture folder> [--keep]\n");
        return 2;
    }
    e2e::programPath = argv[1];
    std::string pictures = argv[3];
    bool keep = argc > 4 && strcmp(argv[4], "--keep") == 0;
    if (argc > 5 && strcmp(argv[4], "--tls-progress") == 0)
        return tls_progress(argv[2], pictures, argv[5]);
    if (argc > 5 && strcmp(argv[4], "--arrived") == 0)
        return arrived(argv[2], pictures, argv[5]);

    write_demo_account(argv[2], "127.0.0.1");

    e2e::Program app;
    if (!app.start(argv[2])) {
        fprintf(stderr, "cannot start %s\n", argv[1]);
        return 1;
    }
    DWORD pid = app.pid();
    HWND progress = ui::wait_window(ui::DIALOG_CLASS, texts::PROGRESS_CAPTION, 20000, pid);
    if (progress)
        show_saved(pictures + "\\progress.bmp");
    ui::Box result = ui::wait_box(NULL, 40000, pid);
    if (!result) {
        fprintf(stderr, "no result came\n");
        return 1;
    }
    Sleep(300);
    show_saved(pictures + "\\result.bmp");
    printf("the program says: %s\n", result.text.c_str());
    if (keep) {
        printf("the program keeps running; end it from its tray menu\n");
        fflush(stdout);
        DWORD code = app.wait_exit(INFINITE);
        printf("the program ended with exit code %lu\n", code);
        return code == 0 ? 0 : 1;
    }
    ui::answer(result, IDOK);
    if (progress)
        ui::wait_gone(progress);
    Sleep(500);
    show_saved(pictures + "\\tray.bmp");
    app.command(CMD_EXIT);
    DWORD code = app.wait_exit();
    printf("the program ended with exit code %lu\n", code);
    return code == 0 ? 0 : 1;
}
