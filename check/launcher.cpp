#include "check.h"
#include "worker.h"
#include "progress_window.h"
#include "../desktop/desktop.h"
#include "../desktop/dialog_font.h"
#include "../settings/settings.h"
#include "../resources/resource.h"

static const char NO_SERVER[] = "サーバー名が入力されていません。";
static const char NO_USER[] = "ユーザー名が入力されていません。";
static const char NO_PASS[] = "パスワードが入力されていません。";
static const char DIALOG_FAILED[] = "ダイアログが作成できませんでした。";

// Only the first empty field of the first incomplete account is told. A
// password in the credential store is the check's to find.
static int account_complete(const AccountCopy *a)
{
    if (a->server[0] == '\0')
        ErrorBox(NO_SERVER);
    else if (a->user[0] == '\0')
        ErrorBox(NO_USER);
    else if (a->pass[0] == '\0' && !a->passInStore)
        ErrorBox(NO_PASS);
    else
        return 1;
    return 0;
}

static int accounts_complete(void)
{
    int complete = 1;
    for (int i = 0, n = settings_account_count(); complete && i < n; i++) {
        AccountCopy a;
        settings_account(i, &a);
        complete = account_complete(&a);
        SecureZeroMemory(&a, sizeof a);
    }
    return complete;
}

static void start_with_window(void)
{
    INT_PTR result = dialog_box(IDD_PROGRESS, NULL, progress_window_proc, (LPARAM)start_worker);
    if (result == -1) {
        check_ended();
        ErrorBox(DIALOG_FAILED);
    }
}

static void start_direct(void)
{
    DWORD id;
    HANDLE thread = start_worker(&id);
    if (thread)
        CloseHandle(thread);
}

// A request while a check runs starts nothing; the running check's window,
// if it is open, comes to the front so the user sees why.
static void show_running_check(void)
{
    HWND window = progress_window();
    if (window)
        SetForegroundWindow(window);
}

static void start(int automatic)
{
    if (!accounts_complete())
        return;
    if (!check_admit(automatic)) {
        show_running_check();
        return;
    }
    if (automatic && check_held_back()) {
        check_ended();
        return;
    }
    if (Settings.showProgress)
        start_with_window();
    else
        start_direct();
}

void start_check(void)
{
    start(0);
}

void start_automatic_check(void)
{
    start(1);
}
