#include "shell.h"
#include "../desktop/program.h"
#include "../check/check.h"
#include "../check/wake.h"
#include "../desktop/desktop.h"
#include "../desktop/wide_text.h"
#include "../resources/resource.h"
#include "../settings/settings.h"
#include "../settings/settings_file.h"

const char MAIN_WINDOW_CLASS[] = "QeSorvane Class";
const char MAIN_WINDOW_TITLE[] = "QeSorvane ConsoleWindow";

static const char STARTUP_FAILED[] = "QeSorvaneを正常に起動できませんでした。";
static const char STARTUP_FAILED_CAPTION[] = "エラー";
static const char TIMER_FAILED[] = "タイマーの初期化に失敗しました。";
static const char START_DIRECTORY_TOO_LONG[] = "起動時のフォルダーのパスが長すぎます。";
static const char START_DIRECTORY_NOT_STORABLE[] = "起動時のフォルダーのパスに、扱えない文字が含まれています。";

// 1 while init_shell runs; an exit asked for meanwhile waits for its end.
static int shellStarting;
static int exitHeldBack;

// Sent by the shell to every top-level window when the taskbar is created
// again (after the shell restarted).
static UINT taskbarCreatedMessage;

ATOM register_main_window_class(HINSTANCE instance)
{
    WNDCLASSA wc;
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = main_window_proc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszMenuName = NULL;
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassA(&wc);
}

// The start directory must be held whole: a cut path would name another
// folder, and the settings file would be written there.
static int record_start_directory(void)
{
    WCHAR wide[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, wide);
    int kept = n == 0 || n >= MAX_PATH ? TEXT_TOO_LONG : text_932_from_wide(wide, startDirectory, sizeof startDirectory);
    if (kept != TEXT_KEPT) {
        startDirectory[0] = '\0';
        ErrorBox(kept == TEXT_TOO_LONG ? START_DIRECTORY_TOO_LONG : START_DIRECTORY_NOT_STORABLE);
        return 0;
    }
    return 1;
}

int init_shell(HWND window)
{
    if (!record_start_directory())
        return 0;
    add_tray_icon(window);
    build_tray_menu();
    int loaded = load_settings();
    if (!loaded && !show_settings_dialog())
        return 0;
    if (Settings.server[0] == '\0' && !show_settings_dialog())
        return 0;
    if (!start_check_timer(window)) {
        ErrorBox(TIMER_FAILED);
        return 0;
    }
    wake_start();
    if (Settings.server[0] != '\0') {
        // The stored interval holds from the start, as if just stored: a
        // program that watches a mailbox goes on watching after a restart.
        checkCountdown = (int)((unsigned)Settings.autoCheckTime * 60u);
        // Nobody asked for this one: it may keep quiet about a missing network.
        start_automatic_check();
    }
    return 1;
}

void exit_shell(HWND window)
{
    check_report_to(NULL);
    set_current_directory(startDirectory);
    remove_tray(window);
}

static LRESULT on_create(HWND window)
{
    check_report_to(window);
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    shellStarting = 1;
    int ok = init_shell(window);
    shellStarting = 0;
    if (!ok) {
        message_box(window, STARTUP_FAILED, STARTUP_FAILED_CAPTION, MB_OK | MB_ICONWARNING);
        DestroyWindow(window);
    } else if (exitHeldBack) {
        // Carried out from the message loop, once creation has finished.
        PostMessageA(window, WM_COMMAND, CMD_EXIT, 0);
    }
    return 0;
}

void request_exit(HWND window)
{
    if (shellStarting)
        exitHeldBack = 1;
    else
        DestroyWindow(window);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return on_create(window);
    case WM_DESTROY:
        exit_shell(window);
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        request_exit(window);
        return 0;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id >= CMD_CHECK_NOW && id <= CMD_EXIT)
            on_command(window, id);
        return 0;
    }
    case WM_TIMER:
        on_timer_tick();
        return 0;
    case WM_POWERBROADCAST:
        on_power(wParam);
        return TRUE;
    case TRAY_CALLBACK_MESSAGE:
        on_tray_notify(window, wParam, lParam);
        return 0;
    case CHECK_OUTCOME_MESSAGE:
        on_check_outcome(wParam, lParam);
        return 0;
    case CHECK_NOTIFICATION_MESSAGE:
        on_check_notification(wParam, lParam);
        return 0;
    }
    if (message == taskbarCreatedMessage && message != 0) {
        readd_tray_icon();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
