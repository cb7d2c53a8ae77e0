#include "check.h"
#include "pop3_check.h"
#include "progress_window.h"
#include "../desktop/desktop.h"
#include "../settings/settings.h"
#include "../shell/program.h"
#include "../shell/shell.h"
#include "resource.h"

static const char NO_SERVER[] = "サーバー名が入力されていません。";
static const char NO_USER[] = "ユーザー名が入力されていません。";
static const char NO_PASS[] = "パスワードが入力されていません。";
static const char DIALOG_FAILED[] = "ダイアログが作成できませんでした。";
static const char THREAD_FAILED[] = "新着メール確認スレッドの作成に失敗しました。";

// One check at a time: set when start_check admits a check, cleared by its
// worker as the very last thing it does (or where no worker could start).
// progressWindow and workerThread thus never serve two checks.
static volatile LONG checkRunning;

int check_running(void)
{
    return InterlockedCompareExchange(&checkRunning, 0, 0) != 0;
}

void check_ended(void)
{
    InterlockedExchange(&checkRunning, 0);
}

// Only values cross the threads; without a main window (the test programs)
// nobody is told.
void post_check_outcome(int outcome, unsigned long newCount)
{
    HWND window = mainWindow;
    if (window)
        PostMessageA(window, CHECK_OUTCOME_MESSAGE, (WPARAM)outcome, (LPARAM)newCount);
}

HANDLE start_worker(DWORD *threadId)
{
    HANDLE thread = CreateThread(NULL, 0, run_pop3_check, NULL, 0, threadId);
    if (!thread) {
        ErrorBox(THREAD_FAILED);
        check_ended();
    }
    return thread;
}

// Only the first empty field is told.
static int account_complete(void)
{
    SettingsRecord s;
    settings_snapshot(&s);
    if (s.server[0] == '\0')
        ErrorBox(NO_SERVER);
    else if (s.user[0] == '\0')
        ErrorBox(NO_USER);
    else if (s.pass[0] == '\0')
        ErrorBox(NO_PASS);
    else
        return 1;
    return 0;
}

static void start_with_window(void)
{
    INT_PTR result = DialogBoxParamA(programInstance, MAKEINTRESOURCEA(IDD_PROGRESS), NULL,
                                     progress_window_proc, 0);
    if (result == -1) {
        check_ended();
        ErrorBox(DIALOG_FAILED);
    }
}

static void start_direct(void)
{
    DWORD id;
    progressWindow = NULL;
    HANDLE thread = start_worker(&id);
    if (thread)
        CloseHandle(thread);
}

// A request while a check runs starts nothing; the running check's window,
// if it is open, comes to the front so the user sees why.
static void show_running_check(void)
{
    HWND window = progressWindow;
    if (window)
        SetForegroundWindow(window);
}

void start_check(void)
{
    if (!account_complete())
        return;
    if (InterlockedCompareExchange(&checkRunning, 1, 0) != 0) {
        show_running_check();
        return;
    }
    SettingsRecord s;
    settings_snapshot(&s);
    if (s.showProgress)
        start_with_window();
    else
        start_direct();
}
