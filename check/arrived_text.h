// The text that tells what arrived: the result's own first line, then one
// line per message (the sender, then the subject in 「」, each cut to its
// width), and "ほか N 通" for the rest. Pure, so that its cuts are tested
// natively.
#ifndef SORVANE_ARRIVED_TEXT_H
#define SORVANE_ARRIVED_TEXT_H

#include <stddef.h>
#include "../pop3/pop3_arrived.h"

enum {
    // Bytes of code page 932 on one line, the "…" of a cut included: the
    // widest line stays within the width Windows gives a message box.
    ARRIVED_SENDER_WIDTH = 24,
    ARRIVED_SUBJECT_WIDTH = 48
};

// Into `out` of `capacity` bytes, NUL-terminated. A message whose line
// does not fit is counted with the rest, so a short space (a balloon's)
// still ends with the right count.
void arrived_text(const char *first, const Pop3Arrived *arrived, char *out, size_t capacity);

// One account's part in the result of a check of several accounts.
struct AccountResult {
    const char *label; // "<user> (<server>)"
    int ok;
    unsigned long newCount;     // with ok: the new messages, 0 for none
    const Pop3Arrived *arrived; // with new mail: what arrived (none listed: count only)
    const char *failure;        // without ok: the message, and the system's code
    unsigned long code;         // after it (0 for none)
    const char *said;           // then what the server said, on a line of its own (NULL, "": none)
};

// The result's own first line (none when empty), then for each account
// with new mail "<label>: 新着 N 通" and its sender and subject lines, and
// for each account that failed "<label>: <its failure text>", in the
// accounts' order, as many as fit `capacity` bytes.
void accounts_text(const char *first, const AccountResult *results, int count, char *out, size_t capacity);

#endif
