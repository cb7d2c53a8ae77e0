// One check's POP3 dialogue as a session over a NetLink: the account, the
// time limit and where the progress goes are parameters, the outcome is
// the result. No globals, no windows and no platform calls, so the whole
// dialogue runs natively under the sanitizers with a scripted link.
#ifndef SORVANE_POP3_SESSION_H
#define SORVANE_POP3_SESSION_H

#include <stddef.h>
#include <stdint.h>
#include "../net/net_link.h"
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
void pop3_wipe(void *bytes, size_t size);

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

// What a server tells of itself once: whether it takes several commands
// in one flight (PIPELINING in its CAPA reply, RFC 2449). The session
// keeps nothing from one check to the next, so the caller keeps this for
// as long as the program runs, and CAPA is asked at most once per account.
struct Pop3Memory {
    char server[POP3_ACCOUNT_TEXT_CAPACITY]; // the account it was asked of
    char user[POP3_ACCOUNT_TEXT_CAPACITY];
    int asked;
    int pipelining;
};

// "Report only mail not seen before": what the last clean check saw (the
// caller fills `active`, `last` and `before`), and what this check saw,
// for the caller to keep after a clean end.
struct Pop3Seen {
    int active;          // the setting was on when the check began
    SeenMark last;       // where the last clean check left the mailbox
    SeenList before;     // uids seen by the last clean check
    SeenMark mark;       // this check's count (a larger STAT count is held
                         // at the maximum) and last uid
    SeenList now;        // uids to keep, when `listed`
    int listed;          // `now` holds them; else `before` stays as it is
    int judged;          // the judgement ran to its end
    // Fills `before` when it is first needed, so that a check that finds
    // nothing new reads no more of the file than its head; NULL when
    // `before` is filled already.
    void (*recall)(const void *self, SeenList *before);
    const void *recallSelf;
};
void pop3_seen_init(Pop3Seen *seen);
void pop3_seen_free(Pop3Seen *seen);
// Fills `before` through `recall`, once.
void pop3_seen_recall(Pop3Seen *seen);
// Whether what this check would keep differs from what the last one kept.
int pop3_seen_changed(const Pop3Seen *seen);

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
};

// The whole dialogue: socket layer, look-up, connect, TLS where the
// server text asks for it, greeting, STLS, USER, PASS, STAT, the seen-mail
// judgement (UIDL, and CAPA once), QUIT. Every wait ends at limitMs (the
// connect for all the addresses together, the handshake with its
// certificate check, each whole reply with its listing, the replies of one
// flight together). Returns outcome->ok. The link's connection is left
// open: the caller closes it, after telling a failure.
int pop3_session_run(const Pop3Account *account, const NetLink *net, uint32_t limitMs, const Pop3Status *status,
                     Pop3Seen *seen, Pop3Outcome *outcome);

#endif
