#include "settings.h"
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

void settings_account(int index, AccountCopy *out)
{
    settings_lock();
    if (index == 0) {
        memcpy(out->server, Settings.server, sizeof out->server);
        memcpy(out->user, Settings.user, sizeof out->user);
        memcpy(out->pass, Settings.pass, sizeof out->pass);
        out->unseenOnly = Settings.unseenOnly;
    } else {
        const AccountFields *a = &Settings.more.account[index - 1];
        memcpy(out->server, a->server, sizeof out->server);
        memcpy(out->user, a->user, sizeof out->user);
        memcpy(out->pass, a->pass, sizeof out->pass);
        out->unseenOnly = a->unseenOnly;
    }
    out->showHeaders = Settings.showHeaders;
    settings_unlock();
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
