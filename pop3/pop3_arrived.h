// What arrived: the sender and subject of the newest new messages, each
// from its header block, read with "TOP n 0" over the session's own
// connection. The session calls it once, after the count is known.
#ifndef SORVANE_POP3_ARRIVED_H
#define SORVANE_POP3_ARRIVED_H

#include <stdint.h>
#include "../net/net_link.h"
#include "header_text.h"
#include "pop3_reply.h"

enum {
    ARRIVED_MAX = 5,             // messages listed; the rest are counted
    ARRIVED_TEXT_CAPACITY = 256  // decoded sender or subject, NUL included
};

struct Pop3Arrived {
    unsigned listed;     // the entries below that hold a message
    unsigned long more;  // new messages beyond them
    char sender[ARRIVED_MAX][ARRIVED_TEXT_CAPACITY];
    char subject[ARRIVED_MAX][ARRIVED_TEXT_CAPACITY];
};

// The session's connection as the fetch uses it.
struct Pop3Wire {
    const NetLink *net;
    Pop3LineReader *reader;
    uint32_t limitMs; // for each command's whole reply, or for a flight's replies together
    uint32_t deadline; // set by the fetch: of its last reply, which QUIT's shares in a flight
};

enum Pop3ArrivedOutcome { ARRIVED_DONE, ARRIVED_SEND_FAILED, ARRIVED_RECEIVE_FAILED };

// "TOP n 0" for each of the `wanted` (at most ARRIVED_MAX) message
// numbers, newest first, of `newCount` new messages; with `pipelined`,
// all of them and QUIT in one write, their replies within one limit, and
// QUIT's reply is left for the caller to read. A server that refuses TOP leaves the list empty and is
// no failure. Only a command that cannot be sent, or a reply that does not
// end within the limit, fails: the connection is then of no further use.
int pop3_fetch_arrived(Pop3Wire *wire, const unsigned long *numbers, unsigned wanted, unsigned long newCount,
                       int pipelined, const HeaderCodePages *pages, Pop3Arrived *out);

#endif
