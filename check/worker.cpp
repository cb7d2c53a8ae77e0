#include "worker.h"
#include "check.h"
#include "notify.h"
#include "arrived_text.h"
#include "progress_window.h"
#include "../desktop/desktop.h"
#include "../net/net_session.h"
#include "../pop3/pop3_session.h"
#include "seen_mail.h"
#include "../settings/settings.h"
#include "../resources/resource.h"
#include <string.h>

static_assert((int)POP3_ACCOUNT_TEXT_CAPACITY == (int)ACCOUNT_TEXT_CAPACITY, "the account copy holds the settings' texts");
static_assert((int)POP3_FOLDER_CAPACITY >= (int)START_DIRECTORY_CAPACITY, "the account copy holds the start directory");

static const char THREAD_FAILED[] = "新着メール確認スレッドの作成に失敗しました。";
static const char PASSWORD_NOT_IN_STORE[] =
    "パスワードが Windows の資格情報マネージャーに見つかりません。パスワードを設定し直してください。";

static volatile LONG timeLimitMs = 30000;

// Set when a check is admitted, cleared by its worker as the very last
// thing it does (or where no worker could start), so that the progress
// window and its worker never serve two checks.
static volatile LONG checkRunning;
// Whether the admitted check is one nobody asked for; read by its worker.
static volatile LONG checkAutomatic;

// What each account's server said of itself (CAPA), read from the
// account's file and kept there, and when the account last logged in;
// one check at a time uses it, each account its own.
struct KnownServer {
    Pop3Memory memory;
    int loggedIn;
    DWORD loginTick;
};
static KnownServer known[MAX_ACCOUNTS];

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
    return !outcome->ok && automatic && (outcome->offline || outcome->busy) && settings_quiet_offline();
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

// One account of a check: its copy of the account, what the session saw
// and how it ended. The first account runs on the check's own thread,
// the others each on a thread of their own.
struct AccountCheck {
    int index;
    DWORD worker; // the check's thread, which the progress window obeys
    LONG suspendsAtStart;
    Pop3Account account;
    Pop3Seen seen;
    Pop3Outcome outcome;
    int ok;
    int held; // left out of this check: its server asked for time between logins
    char label[ACCOUNT_LABEL_CAPACITY];
};

// Accounts after the first keep their seen mail in a file named by their
// server and user, so that it follows the account whatever its place.
static void name_seen_file(Pop3Account *account)
{
    unsigned long h = 2166136261u;
    for (const char *p = account->server; *p; p++)
        h = (h ^ (unsigned char)*p) * 16777619u;
    h = (h ^ '\n') * 16777619u;
    for (const char *p = account->user; *p; p++)
        h = (h ^ (unsigned char)*p) * 16777619u;
    wsprintfA(account->seenFile, "Sorvane-%08lX.seen", h & 0xFFFFFFFFu);
}

// The one copy of the account this check uses, for every step and for
// the seen-mail file; without its password when only its server is looked
// at.
static void take_account(AccountCheck *c, int index, int withPassword = 1)
{
    AccountCopy s;
    settings_account(index, &s);
    memset(c, 0, sizeof *c);
    c->index = index;
    c->worker = GetCurrentThreadId();
    c->suspendsAtStart = InterlockedCompareExchange(&suspends, 0, 0);
    if (withPassword && !settings_account_password(&s))
        c->outcome.failure = PASSWORD_NOT_IN_STORE;
    Pop3Account *account = &c->account;
    memcpy(account->server, s.server, sizeof account->server);
    memcpy(account->user, s.user, sizeof account->user);
    memcpy(account->pass, s.pass, sizeof account->pass);
    account->unseenOnly = s.unseenOnly;
    account->showHeaders = s.showHeaders;
    account->pages = header_code_pages();
    lstrcpynA(account->folder, startDirectory, sizeof account->folder);
    if (index > 0)
        name_seen_file(account);
    KnownServer *k = &known[index];
    if (strcmp(k->memory.server, account->server) || strcmp(k->memory.user, account->user))
        k->loggedIn = 0; // another account in this place
    server_memory_recall(account, &k->memory);
    account->memory = &k->memory;
    account_label(s.user, s.server, c->label);
    SecureZeroMemory(&s, sizeof s);
}

// A server that listed LOGIN-DELAY is not logged in to by a check nobody
// asked for until that time has passed since the account's last login.
static int held_back(const AccountCheck *c)
{
    const KnownServer *k = &known[c->index];
    return k->loggedIn && k->memory.asked && k->memory.loginDelay
           && GetTickCount() - k->loginTick < (unsigned long long)k->memory.loginDelay * 1000;
}

int check_held_back(void)
{
    int count = settings_account_count(), held = 0;
    for (int i = 0; i < count; i++) {
        AccountCheck c;
        take_account(&c, i, 0); // its password stays where it is kept
        held += held_back(&c);
        SecureZeroMemory(&c.account, sizeof c.account);
    }
    if (held < count)
        return 0;
    post_outcome(CHECK_OUTCOME_HELD | CHECK_WAS_AUTOMATIC, 0);
    return 1;
}

// showProgress is read afresh before every write.
static void write_status(void *self, int line, int text)
{
    const AccountCheck *c = (const AccountCheck *)self;
    if (settings_show_progress())
        progress_window_status(c->worker, c->index, line, text);
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
// What the server said of a refusal follows on a line of its own.
static void show_failure(const Pop3Outcome *outcome)
{
    char text[256 + 1 + POP3_SAID_MAX + 1];
    if (outcome->code)
        wsprintfA(text, "%s(0x%08lX)", outcome->failure, (unsigned long)outcome->code);
    else
        lstrcpynA(text, outcome->failure, 256);
    if (outcome->said[0])
        wsprintfA(text + lstrlenA(text), "\n%s", outcome->said);
    ErrorBox(text);
}

// The session of one account, up to the seen mail kept (after a clean
// logout only) and the account wiped; the connection stays open for the
// caller.
static void run_session(AccountCheck *c, NetLink *link)
{
    seen_mail_begin(&c->account, &c->seen);
    // Only the check's own thread shows boxes.
    const Pop3Status status = {c, write_status, c->index == 0 ? prepare_windows : NULL};
    KnownServer *k = &known[c->index];
    const Pop3Memory before = k->memory;
    // An account without its password ends before it connects.
    c->ok = !c->outcome.failure
            && pop3_session_run(&c->account, link, (uint32_t)timeLimitMs, &status, &c->seen, &c->outcome);
    server_memory_keep(&c->account, &before, &k->memory);
    if (c->outcome.loggedIn) {
        k->loggedIn = 1;
        k->loginTick = GetTickCount();
    }
    // A check that spanned a suspend lost its connection to the sleep.
    if (!c->ok && InterlockedCompareExchange(&suspends, 0, 0) != c->suspendsAtStart)
        c->outcome.offline = 1;
    seen_mail_end(&c->account, &c->seen, c->ok);
    SecureZeroMemory(&c->account, sizeof c->account);
}

static void run_account(AccountCheck *c)
{
    NetSession network;
    NetLink link;
    net_session_begin(&network, &link);
    run_session(c, &link);
    net_session_end(&network);
}

static DWORD WINAPI run_account_thread(LPVOID self)
{
    run_account((AccountCheck *)self);
    return 0;
}

// One account: every ending in the same order: the seen mail kept, the
// account wiped, the outcome posted to the tray, the error box (the
// connection stays open while it is shown), the connection and the socket
// layer, the result actions after a clean logout.
static void check_one(AccountCheck *c, int automatic)
{
    NetSession network;
    NetLink link;
    net_session_begin(&network, &link);
    run_session(c, &link);
    post_outcome(outcome_of(&c->outcome, automatic), c->outcome.newCount);
    if (!c->ok && !quiet_failure(&c->outcome, automatic))
        show_failure(&c->outcome);
    net_session_end(&network);
    if (c->ok) {
        if (c->outcome.newMail)
            notify_new_mail(post_mail_program_started, &c->outcome.arrived, post_notification, automatic);
        else
            notify_no_mail(post_notification, automatic);
    }
}

// Several accounts: one result for all. New mail anywhere runs the
// new-mail actions once, its message telling each account's part; else a
// failure that is not kept quiet shows one box listing them; else, with
// no failure at all, the no-mail actions.
static void tell_results(AccountCheck *checks, int count, int automatic)
{
    AccountResult results[MAX_ACCOUNTS], told[MAX_ACCOUNTS];
    unsigned long total = 0;
    int failed = 0, shown = 0, offline = 0, held = 0;
    for (int i = 0; i < count; i++) {
        const Pop3Outcome *o = &checks[i].outcome;
        AccountResult r = {checks[i].label, checks[i].ok || checks[i].held,
                           checks[i].ok && o->newMail ? (unsigned long)o->newCount : 0, &o->arrived, o->failure,
                           (unsigned long)o->code, o->said};
        results[i] = r;
        total += r.newCount;
        held |= checks[i].held;
        if (!r.ok) {
            failed++;
            offline |= o->offline;
            if (!quiet_failure(o, automatic))
                told[shown++] = r;
        }
    }
    int flags = (automatic ? CHECK_WAS_AUTOMATIC : 0) | (offline ? CHECK_WAS_OFFLINE : 0) |
                (failed ? CHECK_SOME_FAILED : 0) | (held ? CHECK_SOME_HELD : 0);
    if (total) {
        post_outcome(CHECK_OUTCOME_NEW_MAIL | flags, total);
        notify_new_mail(post_mail_program_started, NULL, post_notification, automatic, results, count);
    } else if (failed) {
        post_outcome((shown ? CHECK_OUTCOME_FAILED : CHECK_OUTCOME_OFFLINE) | flags, 0);
        char text[1024];
        accounts_text("", told, shown, text, sizeof text);
        if (shown)
            ErrorBox(text);
    } else {
        post_outcome(CHECK_OUTCOME_NO_NEW_MAIL | flags, 0);
        notify_no_mail(post_notification, automatic);
    }
}

// Every account on its own connection, side by side; the check ends when
// the last one has.
static void check_all(int count, int automatic)
{
    AccountCheck *checks = (AccountCheck *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * sizeof *checks);
    HANDLE threads[MAX_ACCOUNTS];
    int started = 0;
    if (!checks) {
        ErrorBox(THREAD_FAILED);
        return;
    }
    for (int i = 0; i < count; i++) {
        take_account(&checks[i], i);
        checks[i].held = automatic && held_back(&checks[i]);
    }
    for (int i = 1; i < count; i++) {
        if (checks[i].held)
            continue;
        HANDLE thread = CreateThread(NULL, 0, run_account_thread, &checks[i], 0, NULL);
        if (thread)
            threads[started++] = thread;
        else
            run_account(&checks[i]); // one after the other, then
    }
    if (!checks[0].held)
        run_account(&checks[0]);
    if (started)
        WaitForMultipleObjects((DWORD)started, threads, TRUE, INFINITE);
    for (int i = 0; i < started; i++)
        CloseHandle(threads[i]);
    tell_results(checks, count, automatic);
    SecureZeroMemory(checks, count * sizeof *checks); // a held account's copy was never run
    HeapFree(GetProcessHeap(), 0, checks);
}

// Last, whatever the check found: the close request, and the one-check
// flag.
static DWORD WINAPI run_pop3_check(LPVOID)
{
    int automatic = InterlockedCompareExchange(&checkAutomatic, 0, 0) != 0;
    int count = settings_account_count();
    // The result actions may start the mail program through the shell.
    int shellReady = shell_thread_begin();
    if (count == 1) {
        AccountCheck one;
        take_account(&one, 0);
        check_one(&one, automatic);
    } else {
        check_all(count, automatic);
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
