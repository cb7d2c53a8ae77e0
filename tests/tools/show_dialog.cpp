// Shows one of the program's dialogs for a picture: scripts/screenshots.sh
// runs it inside Wine's virtual desktop. Once the dialog stands, its window
// rectangle goes to "dialog-rect.txt" in the current directory; the dialog
// closes when "dialog-done.txt" appears there (or after 20 seconds).
#include "settings/password_dialog.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"
#include "shell/about.h"
#include "desktop/dialog_font.h"
#include "resource.h"
#include <stdio.h>
#include <string.h>
#include <thread>

namespace {

const char *caption_of(const char *name)
{
    if (!strcmp(name, "settings")) return "Sorvane - 動作設定";
    if (!strcmp(name, "password")) return "Sorvane - パスワード設定";
    if (!strcmp(name, "progress")) return "Sorvane - 新着メール確認";
    if (!strcmp(name, "about")) return "バージョン情報";
    return NULL;
}

void fill_sample_record()
{
    lstrcpynA(Settings.server, "pop.example.jp", sizeof Settings.server);
    lstrcpynA(Settings.user, "taro", sizeof Settings.user);
    lstrcpynA(Settings.pass, "secret", sizeof Settings.pass);
    lstrcpynA(Settings.mailPath, "C:\\Program Files\\Mailer\\mailer.exe", sizeof Settings.mailPath);
    lstrcpynA(Settings.oksndPath, "C:\\Windows\\Media\\chimes.wav", sizeof Settings.oksndPath);
    Settings.autoCheckTime = 10;
    Settings.showProgress = 1;
    Settings.okMes = 1;
    Settings.noMes = 1;
}

// The progress window as it stands before the check's first status line.
INT_PTR CALLBACK still_progress(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE || message == WM_COMMAND)
        EndDialog(dialog, 0);
    return FALSE;
}

void report_and_close(const char *caption, int endId)
{
    // The caption is code page 932 whatever the system's code page is.
    WCHAR wide[64];
    MultiByteToWideChar(932, 0, caption, -1, wide, 64);
    HWND dialog = NULL;
    for (int i = 0; i < 200 && !dialog; i++, Sleep(50))
        dialog = FindWindowW(L"#32770", wide);
    if (!dialog)
        return;
    Sleep(500);
    RECT r;
    GetWindowRect(dialog, &r);
    FILE *f = fopen("dialog-rect.txt", "w");
    if (f) {
        fprintf(f, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
        fclose(f);
    }
    for (int i = 0; i < 400 && GetFileAttributesA("dialog-done.txt") == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(50);
    PostMessageA(dialog, WM_COMMAND, endId, 0);
}

} // namespace

int main(int argc, char **argv)
{
    const char *name = argc > 1 ? argv[1] : "";
    const char *caption = caption_of(name);
    if (!caption) {
        fprintf(stderr, "usage: show_dialog settings|password|progress|about\n");
        return 2;
    }
    int endId = !strcmp(name, "about") ? IDOK : IDC_CANCEL_BUTTON;
    std::thread helper(report_and_close, caption, endId);
    if (!strcmp(name, "settings")) {
        fill_sample_record();
        run_settings_dialog(NULL);
    } else if (!strcmp(name, "password")) {
        run_password_dialog(NULL, Settings.pass);
    } else if (!strcmp(name, "progress")) {
        dialog_box(IDD_PROGRESS, NULL, still_progress, 0);
    } else {
        run_about_box();
    }
    helper.join();
    return 0;
}
