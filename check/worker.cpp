#include "worker.h"
#include "check.h"
#include "notify.h"
#include "progress_window.h"
#include "../desktop/desktop.h"
#include "../net/net_session.h"
#include "../pop3/pop3_session.h"
#include "../pop3/seen_file.h"
#include "../settings/settings.h"
#include "resource.h"
#include <string.h>

static_assert((int)POP3_ACCOUNT_TEXT_CAPACITY == (int)ACCOUNT_TEXT_CAPACITY, "the account copy holds the settings' texts");
static_assert((int)POP3_FOLDER_CAPACITY >= (int)START_DIRECTORY_CAPACITY, "the account copy holds the start directory");

static const char THREAD_FAILED[] = "新着メール確認スレッドの作成に失敗しました。";

static volatile LONG timeLimitMs = 30000;

// Set when a check is admitted, cleared by its worker as the very last
// thing it does (or where no worker could start), so that the progress
// window and its worker never serve two checks.
static volatile LONG checkRunning;
// Whether the admitted check is one nobody asked for; read by its worker.
static volatile LONG checkAutomatic;

// What servers said of themselves (CAPA), kept for as long as the program
// runs; one check at a time uses it.
static Pop3Memory serverMemory;

// How many times the machine went to sleep; a check compares its start
// with its end.
static volatile LONG suspends;

// Where outcomes are posted; only values cross the threads.
static HWND volatile outcomeWindow;

void set_check_time_limit(DWORD ms)
{
    InterlockedExchange(&timeLimitMs, (LONG)ms);
}

int check_running(void)
{
    return InterlockedCompareExchange(&checkRunning, 0, 0) != 0;
}

int check_admit(int automatic)
{
    if (InterlockedCompareExchange(&checkRunning, 1, 0) != 0)
        return 0;
    InterlockedExchange(&checkAutomatic, automatic);
    return 1;
}

void check_ended(void)
{
    InterlockedExchange(&checkRunning, 0);
}

void check_machine_suspending(void)
{
    InterlockedIncrement(&suspends);
}

void check_report_to(HWND window)
{
    outcomeWindow = window;
}

static void post_outcome(int outcome, unsigned long newCount)
{
    HWND window = outcomeWindow;
    if (window)
        PostMessageA(window, CHECK_OUTCOME_MESSAGE, (WPARAM)outcome, (LPARAM)newCount);
}

// A check nobody asked for that could not reach the server keeps quiet
// when the user set it so: the tray says why. Anything else is told.
static int quiet_failure(const Pop3Outcome *outcome, int automatic)
{
    return !outcome->ok && automatic && outcome->offline && settings_quiet_offline();
}

static int outcome_of(const Pop3Outcome *outcome, int automatic)
{
    int flags = (automatic ? CHECK_WAS_AUTOMATIC : 0) | (!outcome->ok && outcome->offline ? CHECK_WAS_OFFLINE : 0);
    if (!outcome->ok)
        return (quiet_failure(outcome, automatic) ? CHECK_OUTCOME_OFFLINE : CHECK_OUTCOME_FAILED) | flags;
    return (outcome->newMail ? CHECK_OUTCOME_NEW_MAIL : CHECK_OUTCOME_NO_NEW_MAIL) | flags;
}

static void post_mail_program_started(void)
{
    post_outcome(CHECK_OUTCOME_MAIL_PROGRAM_STARTED, 0);
}

// The title and text go in one block of the process heap, which the
// receiver frees; the worker does not wait for the notification.
static int post_notification(const char *title, const char *text, int flags)
{
    HWND window = outcomeWindow;
    size_t t = lstrlenA(title) + 1, n = lstrlenA(text) + 1;
    char *block = window ? (char *)HeapAlloc(GetProcessHeap(), 0, t + n) : NULL;
    if (!block)
        return 0;
    memcpy(block, title, t);
    memcpy(block + t, text, n);
    if (PostMessageA(window, CHECK_NOTIFICATION_MESSAGE, (WPARAM)flags, (LPARAM)block))
        return 1;
    HeapFree(GetProcessHeap(), 0, block);
    return 0;
}

// The one copy of the account this check uses, for every step and for
// the seen-mail file.
static void take_account(Pop3Account *account)
{
    AccountCopy s;
    settings_account(&s);
    memset(account, 0, sizeof *account);
    memcpy(account->server, s.server, sizeof account->server);
    memcpy(account->user, s.user, sizeof account->user);
    memcpy(account->pass, s.pass, sizeof account->pass);
    account->unseenOnly = s.unseenOnly;
    account->showHeaders = s.showHeaders;
    account->pages = header_code_pages();
    lstrcpynA(account->folder, startDirectory, sizeof account->folder);
    SecureZeroMemory(&s, sizeof s);
}

// showProgress is read afresh before every write.
static void write_status(void *, int line, int text)
{
    if (settings_show_progress())
        progress_window_status(line == STATUS_STEP_LINE ? IDC_STATUS_STEP : IDC_STATUS_DETAIL, text);
}

// A thread's first window costs more than the ones after it: under Wine,
// several milliseconds go to the thread's own connection to the display.
// Made and destroyed, never shown, while the first command's reply is on
// its way, it takes that cost off the time between the last reply and the
// box that tells the result (or a failure).
static void prepare_windows(void *)
{
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    if (window)
        DestroyWindow(window);
}

// A message of the program's own, with the system's code after it so
// that a user can report it.
static void show_failure(const Pop3Outcome *outcome)
{
    char text[256];
    if (outcome->code)
        wsprintfA(text, "%s(0x%08lX)", outcome->failure, (unsigned long)outcome->code);
    else
        lstrcpynA(text, outcome->failure, sizeof text);
    ErrorBox(text);
}

// Every ending in the same order: the seen mail kept (after a clean logout
// only), the account wiped, the outcome posted to the tray, the error box
// (the connection stays open while it is shown), the connection and the
// socket layer, the result actions after a clean logout, the close
// request, and last the one-check flag.
static DWORD WINAPI run_pop3_check(LPVOID)
{
    int automatic = InterlockedCompareExchange(&checkAutomatic, 0, 0) != 0;
    LONG suspendsAtStart = InterlockedCompareExchange(&suspends, 0, 0);
    Pop3Account account;
    Pop3Seen seen;
    Pop3Outcome outcome;
    NetSession network;
    NetLink link;
    take_account(&account);
    net_session_begin(&network, &link);
    // The result actions may start the mail program through the shell.
    int shellReady = shell_thread_begin();
    seen_mail_begin(&account, &seen);
    seen.memory = &serverMemory;

    const Pop3Status status = {NULL, write_status, prepare_windows};
    int ok = pop3_session_run(&account, &link, (uint32_t)timeLimitMs, &status, &seen, &outcome);
    if (!ok && InterlockedCompareExchange(&suspends, 0, 0) != suspendsAtStart)
        outcome.offline = 1;
    seen_mail_end(&account, &seen, ok);
    SecureZeroMemory(&account, sizeof account);
    post_outcome(outcome_of(&outcome, automatic), outcome.newCount);
    if (!ok && !quiet_failure(&outcome, automatic))
        show_failure(&outcome);
    net_session_end(&network);
    if (ok) {
        if (outcome.newMail)
            notify_new_mail(post_mail_program_started, &outcome.arrived, post_notification, automatic);
        else
            notify_no_mail(post_notification, automatic);
    }
    shell_thread_end(shellReady);
    progress_window_close();
    check_ended();
    ExitThread(0);
    return 0;
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
