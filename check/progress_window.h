// The progress window that stands on the screen while a check runs with
// showProgress set. It lives on the user-interface thread; the worker
// reaches it only through progress_window_status and progress_window_close.
#ifndef SORVANE_PROGRESS_WINDOW_H
#define SORVANE_PROGRESS_WINDOW_H

#include <windows.h>

// The open progress window, or NULL. Set when the window opens and cleared
// when it is destroyed, so a closed window's handle is never used again.
// Written only on the user-interface thread.
extern HWND volatile progressWindow;
// The worker thread the window started; released when the window closes.
extern HANDLE workerThread;

// What a status line can show: an index into the window's own table of
// texts. A request carries only such an index, never an address, because
// any program on the desktop can send the window its registered messages.
enum StatusText {
    STATUS_EMPTY,
    STATUS_SERVER, // the server name, which the window takes when it opens
    STEP_WINSOCK,
    DETAIL_WINSOCK,
    STEP_LOOKUP,
    STEP_SOCKET,
    STEP_CONNECT,
    STEP_TLS,
    DETAIL_TLS_12,
    DETAIL_TLS_13,
    STEP_LOGIN,
    DETAIL_USER,
    DETAIL_PASS,
    STEP_STAT,
    DETAIL_STAT,
    DETAIL_UIDL,
    DETAIL_NO_MAIL,
    DETAIL_NEW_MAIL,
    STEP_QUIT,
    STATUS_TEXT_COUNT
};

// The dialog procedure of template IDD_PROGRESS.
INT_PTR CALLBACK progress_window_proc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam);

// From the worker thread: set a status line (IDC_STATUS_STEP or
// IDC_STATUS_DETAIL), or close the window, of the window that this
// thread's check opened. Each waits until the window's thread has handled
// it; with no such window it does nothing.
void progress_window_status(int control, StatusText text);
void progress_window_close(void);

#endif
