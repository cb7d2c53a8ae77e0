#include "progress_window.h"
#include "../desktop/wide_text.h"
#include "../settings/settings.h"
#include "../resources/resource.h"

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

// With more than one account: one line each, "<label>: <step>", made when
// the window opens in place of the two lines of the first account.
enum { ROW_HEIGHT_DLU = 11, FIRST_ROW_DLU = 7 };
static int rowCount;
static HWND rows[MAX_ACCOUNTS];
static char rowLabels[MAX_ACCOUNTS][ACCOUNT_LABEL_CAPACITY];

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

static int dialog_units(HWND dlg, int y)
{
    RECT r = {0, 0, 0, y};
    MapDialogRect(dlg, &r);
    return r.bottom;
}

static void move_by(HWND dlg, HWND control, int dy)
{
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(NULL, dlg, (POINT *)&r, 2);
    SetWindowPos(control, NULL, r.left, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The rows take the place of the two lines, and the window grows by the
// rows beyond two.
static void make_rows(HWND dlg)
{
    rowCount = settings_account_count();
    if (rowCount < 2)
        return;
    RECT line;
    HWND step = GetDlgItem(dlg, IDC_STATUS_STEP), font = (HWND)SendMessageA(step, WM_GETFONT, 0, 0);
    GetWindowRect(step, &line);
    MapWindowPoints(NULL, dlg, (POINT *)&line, 2);
    ShowWindow(step, SW_HIDE);
    ShowWindow(GetDlgItem(dlg, IDC_STATUS_DETAIL), SW_HIDE);
    int height = dialog_units(dlg, ROW_HEIGHT_DLU), grow = height * (rowCount - 2);
    for (int i = 0; i < rowCount; i++) {
        AccountCopy a;
        settings_account(i, &a);
        account_label(a.user, a.server, rowLabels[i]);
        SecureZeroMemory(&a, sizeof a);
        rows[i] = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, line.left,
                                  line.top + height * i, line.right - line.left, line.bottom - line.top, dlg, NULL,
                                  NULL, NULL);
        SendMessageA(rows[i], WM_SETFONT, (WPARAM)font, 0);
        show_control_text(rows[i], rowLabels[i]);
    }
    move_by(dlg, GetDlgItem(dlg, IDC_CANCEL_BUTTON), grow);
    RECT w;
    GetWindowRect(dlg, &w);
    SetWindowPos(dlg, NULL, 0, 0, w.right - w.left, w.bottom - w.top + grow, SWP_NOMOVE | SWP_NOZORDER);
}

static void on_init(HWND dlg, WorkerStart start_worker)
{
    progressWindow = dlg;
    lstrcpynA(windowServer, Settings.server, sizeof windowServer);
    make_rows(dlg);
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
    rowCount = 0; // the rows went with the window
}

static int from_own_worker(WPARAM sender)
{
    return windowWorkerId != 0 && (DWORD)sender == windowWorkerId;
}

// A request names an account, a line and a text by number, behind a tag
// that no small number or handle carries; anything else is ignored.
enum { STATUS_REQUEST_TAG = 0x5300 };
static LPARAM status_request(int account, int line, int text)
{
    return MAKELPARAM(text, STATUS_REQUEST_TAG + account * 2 + line);
}

static void show_row(unsigned account, unsigned text)
{
    char shown[ACCOUNT_LABEL_CAPACITY + 64];
    if (account >= (unsigned)rowCount || text == STATUS_SERVER)
        return;
    wsprintfA(shown, "%s: %s", rowLabels[account], STATUS_TEXTS[text]); // fits: the texts are short
    show_control_text(rows[account], shown);
}

static void show_status(HWND dlg, LPARAM request)
{
    unsigned text = LOWORD(request), where = HIWORD(request) - STATUS_REQUEST_TAG;
    unsigned account = where / 2, line = where % 2;
    if (text >= STATUS_TEXT_COUNT || HIWORD(request) < STATUS_REQUEST_TAG || account >= MAX_ACCOUNTS)
        return;
    if (rowCount >= 2) {
        if (line == STATUS_STEP_LINE)
            show_row(account, text);
        return;
    }
    if (account != 0)
        return;
    int control = line == STATUS_STEP_LINE ? IDC_STATUS_STEP : IDC_STATUS_DETAIL;
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

void progress_window_status(DWORD worker, int account, int line, int text)
{
    HWND window = progressWindow;
    if (window)
        SendMessageA(window, status_message(), worker, status_request(account, line, text));
}

void progress_window_close(void)
{
    HWND window = progressWindow;
    if (window)
        SendMessageA(window, close_message(), GetCurrentThreadId(), 0);
}
