// The progress window that stands on the screen while a check runs with
// showProgress set. It lives on the user-interface thread; the worker
// reaches it only through progress_window_status and progress_window_close.
#ifndef SORVANE_PROGRESS_WINDOW_H
#define SORVANE_PROGRESS_WINDOW_H

#include <windows.h>
#include "../pop3/pop3_session.h" // StatusText

// The open progress window, or NULL. Set when the window opens and cleared
// when it is destroyed, so a closed window's handle is never used again.
HWND progress_window(void);
// The worker thread the open window started (for the tests); the window
// releases it when it closes.
HANDLE progress_window_worker(void);

// How the window starts its check's worker: given as the dialog's
// parameter (DialogBoxParam's last argument).
typedef HANDLE (*WorkerStart)(DWORD *threadId);

// The dialog procedure of template IDD_PROGRESS.
INT_PTR CALLBACK progress_window_proc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);

// From a check's threads: show a StatusText on a StatusLine of account
// `account` (0 for the first), or close the window, of the window that
// the check's worker `worker` (a thread id) opened. With one account the
// window shows both lines; with more, one line each, labelled, with its
// current step. Each waits until the window's thread has handled it; with
// no such window it does nothing.
void progress_window_status(DWORD worker, int account, int line, int text);
void progress_window_close(void);

#endif
