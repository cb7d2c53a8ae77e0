#include "shell.h"
#include "about.h"
#include "program.h"
#include "../check/check.h"
#include "../desktop/desktop.h"
#include "../resources/resource.h"
#include "../settings/settings.h"
#include "../settings/settings_dialog.h"
#include <string.h>

// The icon record is used in its first-version form, which every Windows
// shell accepts.
#ifndef _WIN64
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "first-version NOTIFYICONDATAA is 88 bytes");
#endif

static const char SETTINGS_DIALOG_FAILED[] = "動作設定ダイアログが表示できませんでした。";
static const char ABOUT_DIALOG_FAILED[] = "バージョン情報ダイアログが表示できませんでした。";
static const char HELP_DOCUMENT[] = "Readme.htm";

NOTIFYICONDATAA trayIconData;
HMENU TrayMenu;
UINT checkTimerId;
int settingsDialogFree;

void add_tray_icon(HWND window)
{
    memset(&trayIconData, 0, sizeof trayIconData);
    trayIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    trayIconData.hWnd = window;
    trayIconData.uID = TRAY_ICON_ID;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
    trayIconData.hIcon = (HICON)LoadImageA(programInstance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON,
                                           16, 16, LR_DEFAULTCOLOR);
    GetWindowTextA(window, trayIconData.szTip, sizeof trayIconData.szTip);
    Shell_NotifyIconA(NIM_ADD, &trayIconData);
    settingsDialogFree = 1;
}

// After the shell restarts it has forgotten every icon; the record that
// added ours adds it again.
void readd_tray_icon(void)
{
    if (trayIconData.hWnd)
        Shell_NotifyIconA(NIM_ADD, &trayIconData);
}

int build_tray_menu(void)
{
    TrayMenu = CreatePopupMenu();
    AppendMenuA(TrayMenu, MF_STRING, CMD_CHECK_NOW, "メールチェック開始(&S)");
    AppendMenuA(TrayMenu, MF_STRING, CMD_SETTINGS, "動作設定(&P)...");
    AppendMenuA(TrayMenu, MF_SEPARATOR, 0, NULL);
    AppendMenuA(TrayMenu, MF_STRING, CMD_HELP, "ヘルプ(&H)");
    AppendMenuA(TrayMenu, MF_STRING, CMD_ABOUT, "バージョン情報(&A)...");
    AppendMenuA(TrayMenu, MF_SEPARATOR, 0, NULL);
    AppendMenuA(TrayMenu, MF_STRING, CMD_EXIT, "終了(&X)");
    return TrayMenu != NULL;
}

int start_check_timer(HWND window)
{
    checkTimerId = CHECK_TIMER_ID;
    return SetTimer(window, CHECK_TIMER_ID, CHECK_TIMER_PERIOD_MS, NULL) != 0;
}

void remove_tray(HWND window)
{
    Shell_NotifyIconA(NIM_DELETE, &trayIconData);
    DestroyMenu(TrayMenu);
    TrayMenu = NULL;
    KillTimer(window, checkTimerId);
}

static void show_tray_menu(HWND window)
{
    POINT cursor;
    GetCursorPos(&cursor);
    SetForegroundWindow(window);
    TrackPopupMenu(TrayMenu, 0, cursor.x, cursor.y, 0, window, NULL);
    // Without this the menu stays open when the user clicks elsewhere.
    PostMessageA(window, WM_NULL, 0, 0);
}

void on_tray_notify(HWND window, WPARAM iconId, LPARAM mouseMessage)
{
    if (iconId != TRAY_ICON_ID)
        return;
    if (mouseMessage == WM_LBUTTONDOWN)
        start_check();
    else if (mouseMessage == WM_RBUTTONUP)
        show_tray_menu(window);
}

int show_settings_dialog(void)
{
    if (run_settings_dialog() == -1) {
        ErrorBox(SETTINGS_DIALOG_FAILED);
        return 0;
    }
    return 1;
}

static void open_settings_from_menu(void)
{
    if (!settingsDialogFree)
        return;
    settingsDialogFree = 0;
    show_settings_dialog();
    settingsDialogFree = 1;
}

void on_command(HWND window, int commandId)
{
    switch (commandId) {
    case CMD_CHECK_NOW:
        start_check();
        break;
    case CMD_SETTINGS:
        open_settings_from_menu();
        break;
    case CMD_HELP:
        ShellOpenIn(startDirectory, HELP_DOCUMENT);
        break;
    case CMD_ABOUT:
        if (run_about_box() == -1)
            ErrorBox(ABOUT_DIALOG_FAILED);
        break;
    case CMD_EXIT:
        if (shellStarting)
            exitHeldBack = 1;
        else
            DestroyWindow(window);
        break;
    }
}

// The countdown is tested as an unsigned number, and the product with 60
// is formed in unsigned arithmetic, so no stored value can make it undefined.
void on_timer_tick(void)
{
    unsigned countdown = (unsigned)checkCountdown;
    if (countdown == 0)
        return;
    checkCountdown = (int)(countdown - 1);
    if (checkCountdown != 0 || Settings.server[0] == '\0')
        return;
    start_check();
    checkCountdown = (int)((unsigned)Settings.autoCheckTime * 60u);
}
