// Runs a modal dialog on the test's own thread while a helper thread works
// it through its real window, as a user would. When the script is done and
// the dialog is still open, the test fails and the dialog is dismissed, so
// that no test hangs.
#ifndef SORVANE_DIALOG_HARNESS_H
#define SORVANE_DIALOG_HARNESS_H

#include <gtest/gtest.h>
#include "box_script.h"
#include <functional>
#include <thread>

namespace harness {

inline HWND wait_dialog(const char *caption, DWORD timeoutMs = ui::DEFAULT_WAIT_MS)
{
    return ui::wait_window(ui::DIALOG_CLASS, caption, timeoutMs, GetCurrentProcessId());
}

// True when `dialog` is still open, and shown, after the dialog manager
// has had time to act on what was sent to it.
inline bool stays_open(HWND dialog, DWORD ms = 600)
{
    return !ui::wait_until([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, ms);
}

// A message box of this process with the given caption; answers it with
// `button` and returns what it showed.
inline ui::Box answer_box(const char *caption, int button)
{
    ui::Box b = ui::wait_box(caption, ui::DEFAULT_WAIT_MS, GetCurrentProcessId());
    EXPECT_TRUE(b) << "no message box \"" << caption << "\"";
    if (b) {
        ui::answer(b, button);
        ui::wait_gone(b.hwnd);
    }
    return b;
}

inline INT_PTR run_driven(const char *caption, std::function<INT_PTR()> run, std::function<void(HWND)> drive)
{
    std::thread helper([&] {
        HWND dialog = wait_dialog(caption);
        if (!dialog) {
            ADD_FAILURE() << "dialog \"" << caption << "\" did not open";
            return;
        }
        drive(dialog);
        if (ui::wait_gone(dialog, 3000))
            return;
        ADD_FAILURE() << "dialog \"" << caption << "\" still open after the script";
        while (IsWindow(dialog)) {
            ui::dismiss_all();
            Sleep(100);
        }
    });
    INT_PTR result = run();
    helper.join();
    return result;
}

} // namespace harness

#endif
