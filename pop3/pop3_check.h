// What a check of one account takes and gives: the account, the lines of
// the progress window, what its server said of itself, and the outcome.
// Plain data, shared by the session, the seen-mail judgement and the
// check above them.
#ifndef SORVANE_POP3_CHECK_H
#define SORVANE_POP3_CHECK_H

#include <stddef.h>
#include <stdint.h>
#include "seen_list.h"
#include "pop3_arrived.h"

// What one check needs of the settings, copied once when it begins, so
// that every step, and the seen-mail file, serve the account the check
// began with. The worker wipes it when the check ends.
struct Pop3Memory;

struct Pop3Account {
    char server[POP3_ACCOUNT_TEXT_CAPACITY];
    char user[POP3_ACCOUNT_TEXT_CAPACITY];
    char pass[POP3_ACCOUNT_TEXT_CAPACITY];
    int unseenOnly; // report only mail that no earlier clean check saw
    char folder[POP3_FOLDER_CAPACITY]; // where the seen-mail file lives
    // What its server said of itself, kept by the caller across checks;
    // NULL for none.
    Pop3Memory *memory;
    // The name of its seen-mail file in `folder`; empty: "Sorvane.seen".
    char seenFile[POP3_SEEN_NAME_CAPACITY];
    int showHeaders; // fetch the sender and subject of new mail
    const HeaderCodePages *pages; // how their text reaches code page 932
};

// Overwrites memory in a way the compiler may not drop as a dead store.
void pop3_wipe(void *bytes, size_t size); // found in pop3_dialogue.cpp

// The two lines of the progress window, and what they can show: an index
// into the window's own table of texts, never an address.
enum StatusLine { STATUS_STEP_LINE, STATUS_DETAIL_LINE };
enum StatusText {
    STATUS_EMPTY,
    STATUS_SERVER, // the server name, which the window takes when it opens
    STEP_WINSOCK,
    DETAIL_WINSOCK,
    STEP_LOOKUP,
    STEP_SOCKET,
    STEP_CONNECT,
    STEP_TLS,
    DETAIL_TLS_12,
    DETAIL_TLS_13,
    STEP_LOGIN,
    DETAIL_USER,
    DETAIL_PASS,
    STEP_STAT,
    DETAIL_STAT,
    DETAIL_UIDL,
    DETAIL_NO_MAIL,
    DETAIL_NEW_MAIL,
    STEP_QUIT,
    STATUS_TEXT_COUNT
};

struct Pop3Status {
    void *self;
    // One status line (a StatusLine) is to show `text` (a StatusText).
    void (*write)(void *self, int line, int text);
    // The first command's reply is on its way: time the caller may use.
    void (*waiting)(void *self);
};

// What a server told of itself (CAPA, RFC 2449), asked once per account
// at the end of a check and kept by the caller from one run of the
// program to the next; it holds for the account it was asked of only.
struct Pop3Memory {
    char server[POP3_ACCOUNT_TEXT_CAPACITY]; // the account it was asked of
    char user[POP3_ACCOUNT_TEXT_CAPACITY];
    int asked;
    int pipelining;      // takes a flight of commands at once
    int utf8;            // takes "UTF8" before USER (RFC 6856)
    uint32_t loginDelay; // LOGIN-DELAY: seconds from one login to the next
};

struct Pop3Outcome {
    int ok; // the dialogue ended with a clean logout
    int newMail;
    uint32_t newCount;
    const char *failure; // the message for the user, when not ok
    uint32_t code;       // the system's code to show after it, 0 for none
    Pop3Arrived arrived; // with showHeaders: what the new mail is
    // It failed before the server answered: the name not found, no
    // connection, or the network gone under the TLS handshake. A check
    // nobody asked for may keep quiet about that.
    int offline;
    // The server refused the login for now (the mailbox in use, a login
    // too soon, a passing fault): a check nobody asked for may keep quiet
    // about that too.
    int busy;
    // What the server said after the code of such a refusal, to show on a
    // line after the failure; empty for none.
    char said[POP3_SAID_MAX + 1];
    int loggedIn; // the server took the password
};

#endif
