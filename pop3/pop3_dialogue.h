// What the steps of one run share: its state, a command and its reply
// within the limit, the multi-line reader, a failure and its text. Only
// for pop3_session.cpp, seen_judgement.cpp and pop3_dialogue.cpp, which
// are one dialogue split by what each part decides.
#ifndef SORVANE_POP3_DIALOGUE_H
#define SORVANE_POP3_DIALOGUE_H

#include "../net/net_link.h"
#include "pop3_check.h"
#include "pop3_reply.h"

struct Pop3Seen;

enum {
    // Where the last clean check left off, the uids of at most this many
    // messages after it are asked one by one (in one flight where the
    // server pipelines); more new messages than that, the whole listing
    // tells more cheaply.
    FOLLOW_MAX = 64,
    UIDL_REQUEST_MAX = sizeof "UIDL 4294967295\r\n" - 1,
    // The uids of both ends and of the messages after the last; the
    // login's flight (UTF8, USER, PASS, STAT, two UIDL and QUIT) is
    // smaller.
    FLIGHT_CAPACITY = (FOLLOW_MAX + 2) * UIDL_REQUEST_MAX + 1
};

struct CommandFailures {
    const char *send;
    const char *receive;
    const char *refused;
    int withCode; // the texts are this program's own: the system's code follows them
};

// Of UIDL and CAPA, which the seen-mail judgement asks: a refused UIDL is
// no failure (see judge_seen); CAPA fails as UIDL does.
extern const char UIDL_SEND_FAILED[];
extern const char UIDL_RECEIVE_FAILED[];
extern const CommandFailures UIDL_FAILURES;

// Everything one run holds.
struct Session {
    const Pop3Account *account;
    const NetLink *net;
    uint32_t limitMs;
    const Pop3Status *status;
    Pop3Seen *seen;
    Pop3Outcome *outcome;
    ServerAddress server;
    Pop3LineReader reader;
    char request[POP3_REQUEST_CAPACITY];
    uint32_t deadline; // of the reply to the last command, lines after its first included
    int waited;        // the caller has been told that a reply is on its way
    int pipelining;    // the account's server is known to take a flight of commands
    int flown;         // USER, PASS and STAT went in one flight: STAT's reply is read, not asked
    // "UIDL n" that the login's flight asked after STAT, replies not read yet.
    unsigned ahead;
    uint32_t aheadNumbers[2];
    int outOfStep;   // a reply in a flight was not the one asked: the server's memory goes
    int followed;    // both ends of the last clean check's mailbox are where they were
    int quitSent;    // QUIT went in a flight (the login's or the TOP commands')
    int arrivedLost; // the sender and subject could not be read: the connection is of no further use
    Pop3Capabilities capabilities; // what CAPA listed
    // The numbers of the newest new messages, highest first, when their
    // uids told which are new; else (newestByUid 0) the highest-numbered.
    int newestByUid;
    unsigned newestCount;
    unsigned long newest[ARRIVED_MAX];
    char flight[FLIGHT_CAPACITY];
};

void write_status(Session *p, int line, int text);
int fail(Session *p, const char *message);
// One of this program's own texts, with the system's code of the cause.
int fail_with_code(Session *p, const char *message);
uint32_t deadline_after(Session *p);
// One whole reply line before the deadline, the limit holding for the
// line, not for each piece. End of stream first is a failure.
int receive_line(Session *p, uint32_t deadline);
// The first command's reply takes a round trip: the caller may use it.
void note_waiting(Session *p);
// A command and its status line; a refusal fails when `failures` names a
// text for it.
int exchange(Session *p, const char *command, const char *argument, const CommandFailures *failures);
// The lines of a multi-line reply after its "+OK", up to its ".", each
// given to `take`, within the one limit of the command; lines past the
// bound are read and dropped, and `*overflow` tells.
int read_lines(Session *p, int (*take)(Session *, const char *, size_t), int *overflow);
// "<command> <argument>\r\n" added at flight + *at; 0 when it does not fit.
int add_request(Session *p, size_t *at, const char *command, const char *argument);
// "n" in decimal, ending at `end` (11 bytes before it are room enough).
char *decimal_text(char *end, uint32_t n);

#endif
