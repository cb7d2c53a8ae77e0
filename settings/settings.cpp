#include "settings.h"
#include "../desktop/credential.h"
#include <string.h>

SettingsRecord Settings;
int checkCountdown;
char startDirectory[START_DIRECTORY_CAPACITY];

// A slim lock needs no initialising call (the program has no static
// constructors: its entry runs none), and every supported Windows has it.
static SRWLOCK settingsLock = SRWLOCK_INIT;

void settings_lock(void)
{
    AcquireSRWLockExclusive(&settingsLock);
}

void settings_unlock(void)
{
    ReleaseSRWLockExclusive(&settingsLock);
}

void settings_replace(const SettingsRecord *record)
{
    settings_lock();
    Settings = *record;
    settings_unlock();
}

int settings_account_count(void)
{
    settings_lock();
    int more = Settings.more.count;
    settings_unlock();
    return 1 + (more < 0 ? 0 : more > MORE_ACCOUNTS ? MORE_ACCOUNTS : more);
}

AccountRef account_ref(SettingsRecord *r, int i)
{
    if (i == 0)
        return {r->server, r->user, r->pass, &r->unseenOnly};
    AccountFields *a = &r->more.account[i - 1];
    return {a->server, a->user, a->pass, &a->unseenOnly};
}

int account_count(const SettingsRecord *r)
{
    return 1 + r->more.count;
}

void settings_account(int index, AccountCopy *out)
{
    settings_lock();
    AccountRef a = account_ref(&Settings, index);
    memcpy(out->server, a.server, sizeof out->server);
    memcpy(out->user, a.user, sizeof out->user);
    memcpy(out->pass, a.pass, sizeof out->pass);
    out->unseenOnly = *a.unseenOnly;
    out->showHeaders = Settings.showHeaders;
    // A password the store refused stays in the record, and is used.
    out->passInStore = Settings.credentialStore && !a.pass[0];
    settings_unlock();
}

// Read outside the lock: the store is a call into the system.
int settings_account_password(AccountCopy *a)
{
    return !a->passInStore || credential_read(a->user, a->server, a->pass, sizeof a->pass);
}

void account_label(const char *user, const char *server, char *out)
{
    wsprintfA(out, "%s (%s)", user, server); // fits: both are at most 127 bytes
}

int settings_show_progress(void)
{
    settings_lock();
    int show = Settings.showProgress;
    settings_unlock();
    return show;
}

int settings_quiet_offline(void)
{
    settings_lock();
    int quiet = Settings.quietOffline;
    settings_unlock();
    return quiet;
}

void settings_result_actions(ResultActions *out)
{
    settings_lock();
    memcpy(out->mailPath, Settings.mailPath, sizeof out->mailPath);
    out->mailPathAsk = Settings.mailPathAsk;
    memcpy(out->oksndPath, Settings.oksndPath, sizeof out->oksndPath);
    out->okMes = Settings.okMes;
    memcpy(out->nosndPath, Settings.nosndPath, sizeof out->nosndPath);
    out->noMes = Settings.noMes;
    out->notifyBalloon = Settings.notifyBalloon;
    settings_unlock();
}
