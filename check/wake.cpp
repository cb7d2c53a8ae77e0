#include "wake.h"
#include "check.h"
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

enum LookState { LOOK_NONE, LOOK_RUNNING, LOOK_ANSWERED, LOOK_SILENT };

static int suspended, waking;
static DWORD wokeAt, nextLookAt, lookGap;
static volatile LONG look = LOOK_NONE;
static char lookServer[ACCOUNT_TEXT_CAPACITY];
static int offlineFailure; // the last automatic check failed for want of a network
static DWORD lastRetryAt;
static int retried;

void wake_start(void)
{
    address_watch_start();
}

void wake_stop(void)
{
    address_watch_stop();
}

void wake_suspending(void)
{
    suspended = 1;
}

void wake_resumed(int automatic)
{
    suspended = 0;
    if (!automatic)
        return;
    waking = 1;
    wokeAt = nextLookAt = GetTickCount();
    lookGap = FIRST_LOOK_GAP_MS;
}

int wake_suspended(void)
{
    return suspended;
}

void wake_check_outcome(int outcome, int automatic)
{
    if (outcome == CHECK_OUTCOME_OFFLINE)
        offlineFailure = offlineFailure || automatic;
    else if (outcome != CHECK_OUTCOME_MAIL_PROGRAM_STARTED)
        offlineFailure = 0;
}

static DWORD WINAPI look_for_server(LPVOID)
{
    InterlockedExchange(&look, server_answers(lookServer, LOOK_LIMIT_MS) ? LOOK_ANSWERED : LOOK_SILENT);
    return 0;
}

static void start_look(void)
{
    lstrcpynA(lookServer, Settings.server, sizeof lookServer);
    InterlockedExchange(&look, LOOK_RUNNING);
    HANDLE thread = CreateThread(NULL, 0, look_for_server, NULL, 0, NULL);
    if (thread)
        CloseHandle(thread);
    else
        InterlockedExchange(&look, LOOK_SILENT);
}

static int elapsed(DWORD since, DWORD ms)
{
    return (LONG)(GetTickCount() - since) >= (LONG)ms;
}

// After a wake: the held-back check starts once the server answered, or
// when the two minutes are over (it then tells what it finds as usual).
static int wake_check_due(int addressesChanged)
{
    LONG state = InterlockedCompareExchange(&look, LOOK_NONE, LOOK_NONE);
    if (state == LOOK_RUNNING)
        return 0;
    if (state == LOOK_ANSWERED || elapsed(wokeAt, WAKE_LOOK_MS)) {
        waking = 0;
        look = LOOK_NONE;
        return 1;
    }
    if (state == LOOK_SILENT) {
        look = LOOK_NONE;
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

int wake_tick(void)
{
    if (suspended)
        return 0;
    int changed = address_watch_changed();
    if (waking)
        return wake_check_due(changed);
    return network_check_due(changed) && Settings.server[0] != '\0';
}
