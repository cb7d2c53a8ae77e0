// Which mail is new when only mail that no earlier clean check saw is to
// be told: what the last clean check left (read from the seen-mail file by
// the caller and handed in), the uids this check asks of the server, and
// what it keeps. The data flow one way: the file gives the list, the list
// goes to the judgement, the judgement's result goes back to the caller,
// which writes the file.
#ifndef SORVANE_SEEN_JUDGEMENT_H
#define SORVANE_SEEN_JUDGEMENT_H

#include <stdint.h>
#include "seen_list.h"

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
    // nothing new reads no more of the file than its head: the caller's
    // reader of the file, handed in; NULL when `before` is filled already.
    void (*recall)(const void *self, SeenList *before);
    const void *recallSelf;
};
void pop3_seen_init(Pop3Seen *seen);
void pop3_seen_free(Pop3Seen *seen);
// Fills `before` through `recall`, once.
void pop3_seen_recall(Pop3Seen *seen);
// Whether what this check would keep differs from what the last one kept.
int pop3_seen_changed(const Pop3Seen *seen);

// The messages whose uids a check can ask before it knows the count, in
// the login's flight: the last and the first that the last clean check
// saw, where it knew both. Gives how many (0 to 2) are in `numbers`.
unsigned seen_first_numbers(const Pop3Seen *seen, uint32_t numbers[2]);

// How many of `count` messages are new, with their numbers where the
// sender and subject are asked (a step of the session's run, over its
// connection; found in seen_judgement.cpp).
struct Session;
int judge_seen(Session *p, uint32_t count);

#endif
