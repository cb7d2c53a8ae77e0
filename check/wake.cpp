#include "wake.h"
#include "check.h"
#include "worker.h"
#include "../net/address_watch.h"
#include "../net/reach.h"
#include "../settings/settings.h"

enum {
    WAKE_LOOK_MS = 120000,     // how long the server is looked for after a wake
    FIRST_LOOK_GAP_MS = 2000,  // then twice as long between looks each time,
    LONGEST_LOOK_GAP_MS = 30000,
    LOOK_LIMIT_MS = 5000,      // one look's connect
    NETWORK_RETRY_GAP_MS = 60000
};

// A look's state and the search it belongs to share one value, so that a
// look that outlived its search (a name look-up that blocked past the two
// minutes) cannot answer for a later one.
enum LookState { LOOK_NONE, LOOK_RUNNING, LOOK_ANSWERED, LOOK_SILENT };
enum { LOOK_STATE_BITS = 2, LOOK_STATE_MASK = 3 };

static int suspended, waking;
static int resumeCounted; // a wake is told twice (automatic, then by the user)
static int owed;          // a check is due and waits for the running one to end
static DWORD wokeAt, nextLookAt, lookGap;
static volatile LONG look = LOOK_NONE;
static LONG lookSearch; // which search the looks belong to; UI thread only
static int offlineFailure; // the last automatic check failed for want of a network
static DWORD lastRetryAt;
static int retried;
static DWORD searchLimitMs = WAKE_LOOK_MS;

static LONG tagged(LONG search, LONG state)
{
    return (LONG)(((DWORD)search << LOOK_STATE_BITS) | (DWORD)state);
}

static void set_look(LONG state)
{
    InterlockedExchange(&look, tagged(lookSearch, state));
}

void wake_start(void)
{
    address_watch_start();
}

void wake_set_search_limit(DWORD ms)
{
    searchLimitMs = ms;
}

void wake_suspending(void)
{
    suspended = 1;
    resumeCounted = 0;
    check_machine_suspending();
}

void wake_resumed(int automatic)
{
    suspended = 0;
    if (!automatic || resumeCounted)
        return;
    resumeCounted = 1;
    waking = 1;
    wokeAt = nextLookAt = GetTickCount();
    lookGap = FIRST_LOOK_GAP_MS;
    lookSearch++;
    set_look(LOOK_NONE);
}

int wake_suspended(void)
{
    return suspended;
}

void wake_check_outcome(int posted)
{
    if (posted == CHECK_OUTCOME_MAIL_PROGRAM_STARTED)
        return;
    offlineFailure = (posted & CHECK_WAS_OFFLINE) && (posted & CHECK_WAS_AUTOMATIC);
}

// One look, on a thread of its own with its own copy of the server text;
// its answer counts only while its search is the current one.
struct Look {
    LONG search;
    char server[ACCOUNT_TEXT_CAPACITY];
};

static DWORD WINAPI look_for_server(LPVOID parameter)
{
    Look *l = (Look *)parameter;
    LONG answer = server_answers(l->server, LOOK_LIMIT_MS) ? LOOK_ANSWERED : LOOK_SILENT;
    InterlockedCompareExchange(&look, tagged(l->search, answer), tagged(l->search, LOOK_RUNNING));
    HeapFree(GetProcessHeap(), 0, l);
    return 0;
}

static void start_look(void)
{
    Look *l = (Look *)HeapAlloc(GetProcessHeap(), 0, sizeof *l);
    if (!l) {
        set_look(LOOK_SILENT);
        return;
    }
    l->search = lookSearch;
    lstrcpynA(l->server, Settings.server, sizeof l->server);
    set_look(LOOK_RUNNING);
    HANDLE thread = CreateThread(NULL, 0, look_for_server, l, 0, NULL);
    if (thread) {
        CloseHandle(thread);
        return;
    }
    HeapFree(GetProcessHeap(), 0, l);
    set_look(LOOK_SILENT);
}

static int elapsed(DWORD since, DWORD ms)
{
    return (LONG)(GetTickCount() - since) >= (LONG)ms;
}

// After a wake: the held-back check is due once the server answered, or
// when the two minutes are over, whatever a look is still doing then (it
// then tells what it finds as usual).
static int wake_check_due(int addressesChanged)
{
    LONG state = InterlockedCompareExchange(&look, 0, 0) & LOOK_STATE_MASK;
    if (state == LOOK_ANSWERED || elapsed(wokeAt, searchLimitMs)) {
        waking = 0;
        lookSearch++; // a look still running answers for nothing now
        set_look(LOOK_NONE);
        return 1;
    }
    if (state == LOOK_RUNNING)
        return 0;
    if (state == LOOK_SILENT) {
        set_look(LOOK_NONE);
        nextLookAt = GetTickCount() + lookGap;
        lookGap = lookGap * 2 > (DWORD)LONGEST_LOOK_GAP_MS ? (DWORD)LONGEST_LOOK_GAP_MS : lookGap * 2;
    }
    if (addressesChanged || elapsed(nextLookAt, 0))
        start_look();
    return 0;
}

// A change of the addresses after a failure for want of a network: one
// check, and not again within a minute.
static int network_check_due(int addressesChanged)
{
    if (!addressesChanged || !offlineFailure || (retried && !elapsed(lastRetryAt, NETWORK_RETRY_GAP_MS)))
        return 0;
    retried = 1;
    lastRetryAt = GetTickCount();
    return 1;
}

// A check that is due while another runs (one that began before the
// sleep and still waits on its dead connection) stays owed until that one
// has ended: the one-check rule would refuse it, and it would be lost.
int wake_tick(void)
{
    if (suspended)
        return 0;
    int changed = address_watch_changed();
    if (waking)
        owed |= wake_check_due(changed);
    else
        owed |= network_check_due(changed) && Settings.server[0] != '\0';
    if (!owed || check_running())
        return 0;
    owed = 0;
    return 1;
}
