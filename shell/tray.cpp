#include "shell.h"
#include "about.h"
#include "../desktop/program.h"
#include "../check/check.h"
#include "../check/notify.h"
#include "../check/wake.h"
#include "../desktop/desktop.h"
#include "../desktop/wide_text.h"
#include "../resources/resource.h"
#include "../settings/settings.h"
#include "../settings/settings_dialog.h"
#include <string.h>

// The icon record is used in its first-version form, which every Windows
// shell accepts. That form carries 64 bytes of tip: the shell reads no more,
// whatever the header's record holds.
#ifndef _WIN64
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "first-version NOTIFYICONDATAA is 88 bytes");
static_assert(NOTIFYICONDATAW_V1_SIZE == 152, "first-version NOTIFYICONDATAW is 152 bytes");
#endif
static_assert(sizeof(((NOTIFYICONDATAA *)0)->szTip) >= TRAY_TIP_CAPACITY, "the tip fits the record");

static const char SETTINGS_DIALOG_FAILED[] = "動作設定ダイアログが表示できませんでした。";
static const char ABOUT_DIALOG_FAILED[] = "バージョン情報ダイアログが表示できませんでした。";
static const char HELP_DOCUMENT[] = "Readme.htm";

static const char TRAY_TIP_START[] = "Sorvane"; // until the first check ends
static const char TIP_NEW_MAIL[] = "Sorvane - 新着 ";
static const char TIP_NEW_MAIL_UNIT[] = " 通";
static const char TIP_NO_NEW_MAIL[] = "Sorvane - 新着なし";
static const char TIP_FAILED[] = "Sorvane - 確認できませんでした";
static const char TIP_OFFLINE[] = "Sorvane - サーバーに接続できません";
static const char TIP_SOME_FAILED[] = "、確認できないアカウントあり"; // after the count
static const char TIP_HELD[] = "Sorvane - ログイン間隔のため確認を見送り";
static const char TIP_SOME_HELD[] = "、ログイン間隔で見送りあり"; // after the result

static NOTIFYICONDATAA trayIconData;
static HMENU TrayMenu;
static UINT checkTimerId; // 0 when the timer could not start
static int settingsDialogFree;

const NOTIFYICONDATAA *tray_icon_record(void)
{
    return &trayIconData;
}

HMENU tray_menu(void)
{
    return TrayMenu;
}

int settings_dialog_free(void)
{
    return settingsDialogFree;
}

// The three faces of the icon: the last check found nothing new (or the
// new mail has been taken to the mail program), new mail waits, the last
// check failed.
enum { TRAY_NORMAL, TRAY_NEW_MAIL, TRAY_FAILED, TRAY_STATE_COUNT };
static const WORD TRAY_ICON_RESOURCES[TRAY_STATE_COUNT] = {IDI_APP, IDI_NEW_MAIL, IDI_CHECK_FAILED};
static HICON trayIcons[TRAY_STATE_COUNT];
static int trayState;

// The record is kept in code page 932, the program's texts; the shell is
// given its wide first-version form, so that the tip reads right under any
// system code page.
static BOOL notify_shell(DWORD message)
{
    NOTIFYICONDATAW wide;
    memset(&wide, 0, sizeof wide);
    wide.cbSize = NOTIFYICONDATAW_V1_SIZE;
    wide.hWnd = trayIconData.hWnd;
    wide.uID = trayIconData.uID;
    wide.uFlags = trayIconData.uFlags;
    wide.uCallbackMessage = trayIconData.uCallbackMessage;
    wide.hIcon = trayIconData.hIcon;
    wide_from_932(trayIconData.szTip, -1, wide.szTip, 64);
    return Shell_NotifyIconW(message, &wide);
}

static HICON tray_icon(int state)
{
    if (!trayIcons[state])
        trayIcons[state] = (HICON)LoadImageA(programInstance, MAKEINTRESOURCEA(TRAY_ICON_RESOURCES[state]),
                                             IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    return trayIcons[state];
}

void add_tray_icon(HWND window)
{
    memset(&trayIconData, 0, sizeof trayIconData);
    trayIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    trayIconData.hWnd = window;
    trayIconData.uID = TRAY_ICON_ID;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
    trayState = TRAY_NORMAL;
    trayIconData.hIcon = tray_icon(TRAY_NORMAL);
    tray_tip_append(trayIconData.szTip, TRAY_TIP_START);
    notify_shell(NIM_ADD);
    settingsDialogFree = 1;
}

// After the shell restarts it has forgotten every icon; the record that
// added ours adds it again.
void readd_tray_icon(void)
{
    if (trayIconData.hWnd)
        notify_shell(NIM_ADD);
}

// How many bytes of `text` fit in `room` without splitting a character:
// the texts are code page 932 whatever the system's code page is, and half
// a double-byte character would show as another character, or swallow the
// terminating NUL in a shell that reads the pair.
static size_t whole_characters(const char *text, size_t room)
{
    size_t n = 0;
    for (;;) {
        size_t width = IsDBCSLeadByteEx(932, (BYTE)text[n]) ? 2 : 1;
        if (!text[n] || n + width > room || (width == 2 && !text[n + 1]))
            return n;
        n += width;
    }
}

void tray_tip_append(char *tip, const char *text)
{
    size_t used = strlen(tip);
    if (used >= TRAY_TIP_CAPACITY - 1)
        return;
    size_t n = whole_characters(text, TRAY_TIP_CAPACITY - 1 - used);
    memcpy(tip + used, text, n);
    tip[used + n] = '\0';
}

static void tip_append(const char *text)
{
    tray_tip_append(trayIconData.szTip, text);
}

static void tip_append_number(unsigned long value, int width)
{
    char digits[12];
    char *p = digits + sizeof digits - 1;
    *p = '\0';
    int n = 0;
    do {
        *--p = (char)('0' + value % 10);
        value /= 10;
        n++;
    } while (value || n < width);
    tip_append(p);
}

// "<what happened> (hh:mm)", the time of the check's end on this machine.
// With several accounts, new mail says when one of them failed, and a
// result says when one was left out, too soon to log in again.
static void set_tip(const char *what, unsigned long newCount, int someFailed = 0, int someHeld = 0)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    trayIconData.szTip[0] = '\0';
    tip_append(what);
    if (what == TIP_NEW_MAIL) {
        tip_append_number(newCount, 1);
        tip_append(TIP_NEW_MAIL_UNIT);
        if (someFailed)
            tip_append(TIP_SOME_FAILED);
    }
    if (someHeld)
        tip_append(TIP_SOME_HELD);
    tip_append(" (");
    tip_append_number(now.wHour, 2);
    tip_append(":");
    tip_append_number(now.wMinute, 2);
    tip_append(")");
}

static void show_state(int state)
{
    trayState = state;
    trayIconData.hIcon = tray_icon(state);
    notify_shell(NIM_MODIFY);
}

void on_check_outcome(WPARAM outcome, LPARAM newCount)
{
    wake_check_outcome((int)outcome);
    int someFailed = (outcome & CHECK_SOME_FAILED) != 0, someHeld = (outcome & CHECK_SOME_HELD) != 0;
    outcome &= ~(WPARAM)(CHECK_WAS_AUTOMATIC | CHECK_WAS_OFFLINE | CHECK_SOME_FAILED | CHECK_SOME_HELD);
    switch (outcome) {
    case CHECK_OUTCOME_NEW_MAIL:
        set_tip(TIP_NEW_MAIL, (unsigned long)newCount, someFailed, someHeld);
        show_state(TRAY_NEW_MAIL);
        break;
    case CHECK_OUTCOME_NO_NEW_MAIL:
        set_tip(TIP_NO_NEW_MAIL, 0, 0, someHeld);
        show_state(TRAY_NORMAL);
        break;
    case CHECK_OUTCOME_HELD:
        // The icon still tells the last result; the tip says why none came.
        set_tip(TIP_HELD, 0);
        notify_shell(NIM_MODIFY);
        break;
    case CHECK_OUTCOME_FAILED:
        set_tip(TIP_FAILED, 0);
        show_state(TRAY_FAILED);
        break;
    case CHECK_OUTCOME_OFFLINE:
        set_tip(TIP_OFFLINE, 0);
        show_state(TRAY_FAILED);
        break;
    case CHECK_OUTCOME_MAIL_PROGRAM_STARTED:
        // The tip still tells what the check found; only "waiting" ends.
        if (trayState == TRAY_NEW_MAIL)
            show_state(TRAY_NORMAL);
        break;
    }
}

static void append_item(int id, const char *text)
{
    WCHAR wide[64];
    wide_from_932(text, -1, wide, 64);
    AppendMenuW(TrayMenu, MF_STRING, id, wide);
}

// The balloon needs the second-version record; the icon's own record
// stays the first version, which every shell takes for everything else.
static void show_balloon(const char *title, const char *text, int flags)
{
    NOTIFYICONDATAW balloon;
    memset(&balloon, 0, sizeof balloon);
    balloon.cbSize = NOTIFYICONDATAW_V2_SIZE;
    balloon.hWnd = trayIconData.hWnd;
    balloon.uID = TRAY_ICON_ID;
    balloon.uFlags = NIF_INFO;
    wide_from_932(title, -1, balloon.szInfoTitle, sizeof balloon.szInfoTitle / sizeof *balloon.szInfoTitle);
    wide_from_932(text, -1, balloon.szInfo, sizeof balloon.szInfo / sizeof *balloon.szInfo);
    // Windows itself keeps such a balloon back while the user presents.
    balloon.dwInfoFlags = NIIF_INFO | (flags & NOTIFICATION_RESPECT_QUIET_TIME ? NIIF_RESPECT_QUIET_TIME : 0);
    Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

// Which balloon stands: a click on the new-mail one opens the mail program.
static int balloonNewMail;

void on_check_notification(WPARAM flags, LPARAM block)
{
    const char *title = (const char *)block;
    balloonNewMail = (flags & NOTIFICATION_NEW_MAIL) != 0;
    if (trayIconData.hWnd)
        show_balloon(title, title + strlen(title) + 1, (int)flags);
    HeapFree(GetProcessHeap(), 0, (void *)block);
}

// The balloon went, clicked or not: its sound goes with it, as with the box.
static void on_balloon_gone(LPARAM event)
{
    stop_sound();
    if (event == NIN_BALLOONUSERCLICK && balloonNewMail && notify_open_mail_program())
        on_check_outcome(CHECK_OUTCOME_MAIL_PROGRAM_STARTED, 0);
    balloonNewMail = 0;
}

int build_tray_menu(void)
{
    TrayMenu = CreatePopupMenu();
    append_item(CMD_CHECK_NOW, "メールチェック開始(&S)");
    append_item(CMD_SETTINGS, "動作設定(&P)...");
    AppendMenuW(TrayMenu, MF_SEPARATOR, 0, NULL);
    append_item(CMD_HELP, "ヘルプ(&H)");
    append_item(CMD_ABOUT, "バージョン情報(&A)...");
    AppendMenuW(TrayMenu, MF_SEPARATOR, 0, NULL);
    append_item(CMD_EXIT, "終了(&X)");
    return TrayMenu != NULL;
}

int start_check_timer(HWND window)
{
    checkTimerId = SetTimer(window, CHECK_TIMER_ID, CHECK_TIMER_PERIOD_MS, NULL) ? CHECK_TIMER_ID : 0;
    return checkTimerId != 0;
}

void remove_tray(HWND window)
{
    notify_shell(NIM_DELETE);
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
    else if (mouseMessage == NIN_BALLOONUSERCLICK || mouseMessage == NIN_BALLOONTIMEOUT ||
             mouseMessage == NIN_BALLOONHIDE)
        on_balloon_gone(mouseMessage);
}

int show_settings_dialog(void)
{
    if (run_settings_dialog(start_check) == -1) {
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
        request_exit(window);
        break;
    }
}

// The countdown is tested as an unsigned number, and the product with 60
// is formed in unsigned arithmetic, so no stored value can make it undefined.
//
// While the machine is suspended no automatic check starts; after a wake,
// or when the network comes back after an automatic check that could not
// reach the server, the wake logic starts one, and the countdown is then
// armed as after any automatic check.
static void count_down(void)
{
    if (wake_tick()) {
        start_automatic_check();
        if (checkCountdown != 0)
            checkCountdown = (int)((unsigned)Settings.autoCheckTime * 60u);
        return;
    }
    unsigned countdown = (unsigned)checkCountdown;
    if (countdown == 0 || wake_suspended())
        return;
    checkCountdown = (int)(countdown - 1);
    if (checkCountdown != 0 || Settings.server[0] == '\0')
        return;
    start_automatic_check();
    checkCountdown = (int)((unsigned)Settings.autoCheckTime * 60u);
}

// Last, a result's box that waited while the user presented: it runs a
// nested loop, in which the next ticks count on.
void on_timer_tick(void)
{
    count_down();
    notify_show_held();
}

// WM_POWERBROADCAST. Automatic checks are on once the countdown is armed.
void on_power(WPARAM event)
{
    if (event == PBT_APMSUSPEND)
        wake_suspending();
    else if (event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND)
        wake_resumed(checkCountdown != 0 && Settings.server[0] != '\0');
}
