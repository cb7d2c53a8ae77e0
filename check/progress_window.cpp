#include "progress_window.h"
#include "../desktop/wide_text.h"
#include "../settings/settings.h"
#include "resource.h"

static HWND volatile progressWindow;
static HANDLE workerThread;

// The worker this window started. Requests carry their sender's thread id,
// and the window obeys only its own worker: a request that reaches the
// window late, or reaches another window, changes nothing.
static DWORD windowWorkerId;

// The texts of the status lines, in the order of StatusText.
static const char *const STATUS_TEXTS[] = {
    "",
    NULL, // STATUS_SERVER: windowServer
    "WinSockを初期化しています...",
    "要求：WinSock2.0",
    "サーバーを探しています...",
    "ソケットを作成中...",
    "サーバーへ接続しています...",
    "暗号化された接続を確立しています...",
    "TLS 1.2",
    "TLS 1.3",
    "ユーザー認証を試行しています...",
    "ユーザー名送信中",
    "パスワード送信中",
    "新着メールを確認しています...",
    "ステータスを受信中",
    "メールの一覧を受信中",
    "新着メールなし",
    "新着メールが届いています",
    "ログアウトしています...",
};
static_assert(sizeof STATUS_TEXTS / sizeof STATUS_TEXTS[0] == STATUS_TEXT_COUNT, "one text per StatusText");

// The server name this window shows, taken on this thread when it opens.
static char windowServer[sizeof Settings.server];

// Registered messages, so that no other window gives them a meaning.
static UINT status_message(void)
{
    return RegisterWindowMessageA("Sorvane.ProgressStatus");
}

static UINT close_message(void)
{
    return RegisterWindowMessageA("Sorvane.ProgressClose");
}

HWND progress_window(void)
{
    return progressWindow;
}

HANDLE progress_window_worker(void)
{
    return workerThread;
}

static void on_init(HWND dlg, WorkerStart start_worker)
{
    progressWindow = dlg;
    lstrcpynA(windowServer, Settings.server, sizeof windowServer);
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

// A request names a line and a text by number; anything else is ignored.
static LPARAM status_request(int control, int text)
{
    return MAKELPARAM(text, control);
}

static void show_status(HWND dlg, LPARAM request)
{
    unsigned text = LOWORD(request);
    int control = HIWORD(request);
    if (text >= STATUS_TEXT_COUNT)
        return;
    if (control != IDC_STATUS_STEP && control != IDC_STATUS_DETAIL)
        return;
    show_control_text(GetDlgItem(dlg, control), text == STATUS_SERVER ? windowServer : STATUS_TEXTS[text]);
}

INT_PTR CALLBACK progress_window_proc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        on_init(dlg, (WorkerStart)lParam);
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
        if (msg == status_message() && from_own_worker(wParam))
            show_status(dlg, lParam);
        else if (msg == close_message() && from_own_worker(wParam))
            on_close(dlg);
        break;
    }
    return 0;
}

void progress_window_status(int control, int text)
{
    HWND window = progressWindow;
    if (window)
        SendMessageA(window, status_message(), GetCurrentThreadId(), status_request(control, text));
}

void progress_window_close(void)
{
    HWND window = progressWindow;
    if (window)
        SendMessageA(window, close_message(), GetCurrentThreadId(), 0);
}
