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
    UIDL_REQUEST_MAX = sizeof "UIDL 4294967295\r\n" - 1
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
    int pipelining;    // the server takes a flight of commands at once
    int followed;      // the last clean check's last message is where it was
    int quitSent;      // QUIT went in the flight of TOP commands
    // The numbers of the newest new messages, highest first, when their
    // uids told which are new; else (newestByUid 0) the highest-numbered.
    int newestByUid;
    unsigned newestCount;
    unsigned long newest[ARRIVED_MAX];
    char flight[(FOLLOW_MAX + 1) * UIDL_REQUEST_MAX + 1];
};

void write_status(Session *p, int line, int text);
void write_step(Session *p, int step, int detail);
int fail(Session *p, const char *message);
// One of this program's own texts, with the system's code of the cause.
int fail_with_code(Session *p, const char *message);
int fail_command(Session *p, const char *message, const CommandFailures *failures);
// A failure for want of a network (or of a server at that address).
int fail_offline(Session *p, const char *message);
uint32_t deadline_after(Session *p);
// One whole reply line before the deadline, the limit holding for the
// line, not for each piece. End of stream first is a failure.
int receive_line(Session *p, uint32_t deadline);
int send_command(Session *p, const char *command, const char *argument);
// A command and its status line; a refusal fails when `failures` names a
// text for it.
int exchange(Session *p, const char *command, const char *argument, const CommandFailures *failures);
// The lines of a multi-line reply after its "+OK", up to its ".", each
// given to `take`, within the one limit of the command; lines past the
// bound are read and dropped, and `*overflow` tells.
int read_lines(Session *p, int (*take)(Session *, const char *, size_t), int *overflow);
// Whether the server takes a flight of commands: asked once per account
// (CAPA, RFC 2449) and kept in the account's memory.
int learn_pipelining(Session *p);

#endif
