// The one process-wide settings record and the two runtime values beside it.
//
// The record is written only on the user-interface thread (the start-up
// load, the settings dialog's store) and read there without ceremony. A
// check's worker thread reads it too, while the settings dialog may be
// storing: a writer replaces the record whole under the settings lock, and
// the worker copies what it needs under the same lock. So a check sees the
// record either wholly before or wholly after a store.
#ifndef SORVANE_SETTINGS_H
#define SORVANE_SETTINGS_H

#include <windows.h>
#include <stddef.h>
#include "settings_record.h"

extern SettingsRecord Settings;

// Seconds until the next automatic check; 0 = disarmed. UI thread only.
extern int checkCountdown;

// The current directory when the main window was created. It holds any
// directory the ANSI calls can make current.
enum { START_DIRECTORY_CAPACITY = MAX_PATH };
extern char startDirectory[START_DIRECTORY_CAPACITY];

// Replaces the record whole, under the settings lock. UI thread only.
void settings_replace(const SettingsRecord *record);

// Consistent copies for the worker thread, each of only what it needs:
// the account when a check begins (the caller wipes it when done), the
// progress flag before each status write, the six fields of the result
// actions when the result is known.
struct AccountCopy {
    char server[ACCOUNT_TEXT_CAPACITY];
    char user[ACCOUNT_TEXT_CAPACITY];
    char pass[ACCOUNT_TEXT_CAPACITY];
    int unseenOnly;
    int showHeaders;
    int passInStore; // the password is the credential store's, not `pass`
};
struct ResultActions {
    char mailPath[PATH_TEXT_CAPACITY];
    int mailPathAsk;
    char oksndPath[PATH_TEXT_CAPACITY];
    int okMes;
    char nosndPath[PATH_TEXT_CAPACITY];
    int noMes;
    int notifyBalloon;
};
// How many accounts there are (1 to MAX_ACCOUNTS), and account `index`
// (0: the first, the record's own fields) as a check copies it.
int settings_account_count(void);
void settings_account(int index, AccountCopy *out);
// The copy's password from the credential store, when it is there; 0 when
// the store has none for this account (the settings came from another user
// or machine).
int settings_account_password(AccountCopy *a);
// One account of a record: the first is the record's own fields.
struct AccountRef {
    char *server, *user, *pass;
    int *unseenOnly;
};
AccountRef account_ref(SettingsRecord *r, int i);
int account_count(const SettingsRecord *r);
// How an account is named to the user: "<user> (<server>)", the server
// text as written.
enum { ACCOUNT_LABEL_CAPACITY = 2 * ACCOUNT_TEXT_CAPACITY + 4 };
void account_label(const char *user, const char *server, char *out);
int settings_show_progress(void);
int settings_quiet_offline(void);
void settings_result_actions(ResultActions *out);

// The lock that settings_replace and the copies above hold.
void settings_lock(void);
void settings_unlock(void);

#endif
