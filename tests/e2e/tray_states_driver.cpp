// Pictures of the tray icon's three faces for the README: the program
// against a scripted server that has new mail, then none, then breaks off;
// after each check the screen is saved with the icon's tip beside it (as
// the shell holds it), for scripts/tray-states.sh to crop and label.
// Usage: tray_states_driver <sorvane.exe> <start folder> <picture folder>
#include "pop3_peer.h"
#include "program.h"
#include "texts.h"
#include "ui_driver.h"
#include <stdio.h>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: tray_states_driver <sorvane.exe> <start folder> <picture folder>\n");
        return 2;
    }
    e2e::programPath = argv[1];
    std::string pictures = argv[3];
    const char PEER[] = "127.0.0.8";
    e2e::write_account(argv[2], PEER, "taro", "secret");

    pop3::Script failing;
    failing.greeting = pop3::close_now();
    const pop3::Script checks[] = {pop3::good_script(3), pop3::good_script(0), failing};
    const int faces[] = {e2e::Program::FACE_NEW_MAIL, e2e::Program::FACE_NORMAL, e2e::Program::FACE_FAILED};
    const char *names[] = {"new-mail", "no-new-mail", "failed"};
    const std::string tips[] = {texts::tip_new_mail(3), texts::TIP_NO_NEW_MAIL, texts::TIP_FAILED};
    e2e::Program app;
    int status = 0;
    for (int i = 0; i < 3; i++) {
        pop3::Peer peer(PEER, checks[i]);
        if (i == 0 && !app.start(argv[2])) {
            fprintf(stderr, "cannot start %s\n", argv[1]);
            return 1;
        }
        if (i > 0)
            app.command(e2e::CMD_CHECK_NOW);
        e2e::Program::TrayView v;
        bool shown = peer.wait_connections(1, 30000) && ui::wait_until(
                                                            [&] {
                                                                v = app.tray_view();
                                                                return v.found && v.face == faces[i] &&
                                                                       v.tip.compare(0, tips[i].size(), tips[i]) == 0;
                                                            },
                                                            15000);
        // Errors come in a box; the picture is of the tray alone.
        ui::Box box = ui::wait_box(NULL, i == 2 ? 5000 : 200, app.pid());
        if (box)
            ui::answer(box, IDOK);
        Sleep(500); // the shell paints on its own time; this is a picture, not a test
        if (!shown) {
            fprintf(stderr, "the tray did not show the %s state\n", names[i]);
            status = 1;
            continue;
        }
        e2e::save_screen(pictures + "\\" + names[i] + ".bmp");
        FILE *f = fopen((pictures + "\\" + names[i] + ".txt").c_str(), "wb");
        if (f) {
            fputs(v.tip.c_str(), f);
            fclose(f);
        }
        printf("%s: %s\n", names[i], v.tip.c_str());
        fflush(stdout);
    }
    app.command(e2e::CMD_EXIT);
    app.wait_exit();
    return status;
}
