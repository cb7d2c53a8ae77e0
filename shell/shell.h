// The resident shell: hidden main window, tray icon, command menu and the
// one-second timer that drives automatic checks.
#ifndef SORVANE_SHELL_H
#define SORVANE_SHELL_H

#include <windows.h>
#include <shellapi.h>

extern const char MAIN_WINDOW_CLASS[]; // "QeSorvane Class"
extern const char MAIN_WINDOW_TITLE[]; // "QeSorvane ConsoleWindow"

enum {
    TRAY_ICON_ID = 3291,
    TRAY_CALLBACK_MESSAGE = 9669, // 0x25C5, a private message above WM_USER
    CHECK_TIMER_ID = 128,
    CHECK_TIMER_PERIOD_MS = 1000
};


// ---- Tray icon, menu, timer and their handlers. Found in tray.cpp.

void add_tray_icon(HWND window);
void readd_tray_icon(void);
int build_tray_menu(void);
int start_check_timer(HWND window);
void remove_tray(HWND window);

// Runs the settings dialog; when it cannot be shown, says so and gives 0.
int show_settings_dialog(void);

void on_tray_notify(HWND window, WPARAM iconId, LPARAM mouseMessage);
// CHECK_OUTCOME_MESSAGE: the icon and its tip show what the check found.
void on_check_outcome(WPARAM outcome, LPARAM newCount);
// CHECK_NOTIFICATION_MESSAGE: a result's message as the icon's balloon.
void on_check_notification(WPARAM flags, LPARAM block);
void on_command(HWND window, int commandId);
void on_timer_tick(void);
void on_power(WPARAM event);

// The first-version icon record carries 64 bytes of tip, its NUL included.
enum { TRAY_TIP_CAPACITY = 64 };
// Appends `text` to `tip` (TRAY_TIP_CAPACITY bytes), cut so that it stays
// within them and never ends in half a double-byte character of code page
// 932.
void tray_tip_append(char *tip, const char *text);

// The tray's state as the tests read it.
const NOTIFYICONDATAA *tray_icon_record(void);
HMENU tray_menu(void);
int settings_dialog_free(void); // 0 while the settings dialog of the menu is up

// ---- Start-up and shut-down of the main window (shell.cpp).
ATOM register_main_window_class(HINSTANCE instance);
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int init_shell(HWND window);
void exit_shell(HWND window);

// Exit (the menu's command, a close request): destroys the main window,
// or, while init_shell runs, holds the exit back until start-up has
// finished (the window cannot be destroyed inside its own creation).
void request_exit(HWND window);

#endif
