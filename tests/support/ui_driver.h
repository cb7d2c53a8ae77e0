// A small driver for the program's windows, used from a helper thread inside
// a test program and from the separate black-box driver alike. Everything
// goes through messages that work across threads and processes; texts are
// read with WM_GETTEXT, which the system marshals between processes.
#ifndef SORVANE_UI_DRIVER_H
#define SORVANE_UI_DRIVER_H

#include <windows.h>
#include <string>
#include <vector>

namespace ui {

const char DIALOG_CLASS[] = "#32770";
const int MESSAGE_BOX_TEXT_ID = 0xFFFF;
const DWORD DEFAULT_WAIT_MS = 10000;

struct Control {
    HWND hwnd;
    int id;
    std::string cls;
    std::string text;
    LONG style;
    RECT rect; // in the parent's client coordinates
};

struct Box {
    HWND hwnd = NULL;
    std::string caption;
    std::string text;
    std::vector<int> buttons; // ids of the visible buttons, in order
    explicit operator bool() const { return hwnd != NULL; }
};

// Top-level windows. `cls` or `caption` NULL matches any. `pid` 0 matches
// windows of every process.
HWND find_window(const char *cls, const char *caption, DWORD pid = 0);
std::vector<HWND> find_windows(const char *cls, const char *caption, DWORD pid = 0);
HWND wait_window(const char *cls, const char *caption, DWORD timeoutMs = DEFAULT_WAIT_MS, DWORD pid = 0);
// Until the window is destroyed. An ended dialog is hidden at once but
// destroyed only when its modal loop has finished, and that loop drops a
// message it takes in between (Wine): so wait for this, not for hiding,
// before posting anything to the window's thread.
bool wait_gone(HWND hwnd, DWORD timeoutMs = DEFAULT_WAIT_MS);
// Dialogs and message boxes of `pid` that exist, shown or hidden.
size_t dialogs_alive(DWORD pid);

// Texts and controls.
std::string text_of(HWND hwnd);
std::string item_text(HWND dlg, int id);
std::vector<Control> children(HWND parent);

// Input, as a user would give it.
void click(HWND dlg, int id);                       // a button press
void set_item_text(HWND dlg, int id, const std::string &text);      // code page 932
void set_item_wtext(HWND dlg, int id, const std::wstring &text);    // any character
void set_check(HWND dlg, int id, bool checked);
bool is_checked(HWND dlg, int id);
void close_request(HWND hwnd);                      // the title bar's close box
void press_key(HWND dlg, UINT vk);                  // a key in the dialog

// Message boxes: a dialog with the static text control 0xFFFF.
bool is_message_box(HWND hwnd);
// A balloon the shell shows for a tray icon (a visible tooltip of the
// balloon style, in any process), or NULL.
HWND shown_balloon();
Box read_box(HWND hwnd);
Box wait_box(const char *caption, DWORD timeoutMs = DEFAULT_WAIT_MS, DWORD pid = 0);
void answer(const Box &box, int buttonId);
// Answers a message box with its last button (Cancel or No where it has
// one), or asks a dialog to cancel and close.
void dismiss(HWND hwnd);
// Dismisses every dialog and message box of a process (0: this one) that is
// still open: the clean-up after a failed expectation, so that no test hangs.
int dismiss_all(DWORD pid = 0);
// Called with what each dismissed window showed (for a dialog, its caption
// and the texts of its labels); the test programs' watchdog fails the test
// with it. NULL (the default) for none.
typedef void (*DismissHook)(const Box &window);
void set_dismiss_hook(DismissHook hook);

// Lets time pass in steps of `stepMs` until `done` holds or the time is up.
template <class F> bool wait_until(F done, DWORD timeoutMs = DEFAULT_WAIT_MS, DWORD stepMs = 20)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(stepMs);
    }
}

} // namespace ui

#endif
