// The settings record: the eleven fields in the order the settings file
// stores them, then the later settings that the file keeps in its
// extension block. Plain data, no platform types, so that the file codec can be
// built and tested on any compiler.
#ifndef SORVANE_SETTINGS_RECORD_H
#define SORVANE_SETTINGS_RECORD_H

// Capacities in bytes, the terminating NUL included.
enum {
    ACCOUNT_TEXT_CAPACITY = 128, // server, user, pass: at most 127 bytes
    PATH_TEXT_CAPACITY = 256     // mailPath, oksndPath, nosndPath: at most 255
};

// The accounts after the first, kept in a file of their own beside the
// settings file (accounts_codec.h); the first is the record's own server,
// user, pass and unseenOnly.
enum { MAX_ACCOUNTS = 8, MORE_ACCOUNTS = MAX_ACCOUNTS - 1 };
struct AccountFields {
    char server[ACCOUNT_TEXT_CAPACITY];
    char user[ACCOUNT_TEXT_CAPACITY];
    char pass[ACCOUNT_TEXT_CAPACITY];
    int unseenOnly; // flag
};
struct MoreAccounts {
    int count; // 0 to MORE_ACCOUNTS
    AccountFields account[MORE_ACCOUNTS];
};

struct SettingsRecord {
    char server[ACCOUNT_TEXT_CAPACITY];
    char user[ACCOUNT_TEXT_CAPACITY];
    char pass[ACCOUNT_TEXT_CAPACITY];
    int autoCheckTime; // minutes; 0 = automatic checks off
    int showProgress;  // flag
    char mailPath[PATH_TEXT_CAPACITY];
    int mailPathAsk; // flag
    char oksndPath[PATH_TEXT_CAPACITY];
    int okMes; // flag
    char nosndPath[PATH_TEXT_CAPACITY];
    int noMes; // flag
    // Extension block; 0 is the default, which an older file loads as.
    int unseenOnly; // flag: new mail is only mail no earlier check has seen
    int showHeaders;   // flag: the new-mail message lists sender and subject
    int notifyBalloon; // flag: results come as a tray notification, not a box
    int quietOffline; // flag: an automatic check that cannot reach the server shows no box
    // flag: the passwords live in the Windows credential store; an account
    // whose password field is empty here has its password there
    int credentialStore;
    // Not in the settings file: the accounts after the first.
    MoreAccounts more;
};

#endif
