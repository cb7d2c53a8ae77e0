#include "progress_window.h"
#include "pop3_check.h"
#include "resource.h"

HWND volatile progressWindow;
HANDLE workerThread;

// The worker this window started. Requests carry their sender's thread id,
// and the window obeys only its own worker: a request that reaches the
// window late, or reaches another window, changes nothing.
static DWORD windowWorkerId;

struct StatusLine {
    int control;
    const char *text;
};

// Registered messages, so that no other window gives them a meaning.
static UINT status_message(void)
{
    return RegisterWindowMessageA("Sorvane.ProgressStatus");
}

static UINT close_message(void)
{
    return RegisterWindowMessageA("Sorvane.ProgressClose");
}

static void on_init(HWND dlg)
{
    progressWindow = dlg;
    // The worker's first request is handled only after this returns, so
    // the id is in place before any request is looked at.
    workerThread = start_worker(&windowWorkerId);
    if (!workerThread) {
        windowWorkerId = 0;
        EndDialog(dlg, 0);
    }
}

static void on_close(HWND dlg)
{
    if (workerThread) {
        CloseHandle(workerThread);
        workerThread = NULL;
    }
    EndDialog(dlg, 0);
}

static void on_destroy(HWND dlg)
{
    if (progressWindow == dlg)
        progressWindow = NULL;
    windowWorkerId = 0;
}

static int from_own_worker(WPARAM sender)
{
    return windowWorkerId != 0 && (DWORD)sender == windowWorkerId;
}

INT_PTR CALLBACK progress_window_proc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        on_init(dlg);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_CANCEL_BUTTON)
            SendMessageA(dlg, WM_CLOSE, 0, 0);
        break;
    case WM_CLOSE:
        on_close(dlg);
        break;
    case WM_DESTROY:
        on_destroy(dlg);
        break;
    default:
        if (msg == status_message() && from_own_worker(wParam)) {
            const StatusLine *line = (const StatusLine *)lParam;
            SetDlgItemTextA(dlg, line->control, line->text);
        } else if (msg == close_message() && from_own_worker(wParam)) {
            on_close(dlg);
        }
        break;
    }
    return 0;
}

void progress_window_status(int control, const char *text)
{
    StatusLine line = {control, text};
    HWND window = progressWindow;
    if (window)
        SendMessageA(window, status_message(), GetCurrentThreadId(), (LPARAM)&line);
}

void progress_window_close(void)
{
    HWND window = progressWindow;
    if (window)
        SendMessageA(window, close_message(), GetCurrentThreadId(), 0);
}
