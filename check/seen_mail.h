// An account's seen mail around one check: the file is read into the
// lists the judgement takes, and what the judgement kept goes back to the
// file. The file (pop3/seen_file) and the judgement (pop3/seen_judgement)
// know nothing of each other; this is where they meet.
#ifndef SORVANE_SEEN_MAIL_H
#define SORVANE_SEEN_MAIL_H

#include "../pop3/pop3_check.h"
#include "../pop3/seen_judgement.h"

// At the start of a check: takes the setting from the account and, when
// it is on, reads the head of the file; the uids in it are read when the
// judgement needs them. `account` stays until seen_mail_end.
void seen_mail_begin(const Pop3Account *account, Pop3Seen *seen);

// At the end of a check: when it ended cleanly and saw something other
// than the file holds, what it saw replaces the file (a check that found
// nothing new leaves the file alone). Frees what the check held.
void seen_mail_end(const Pop3Account *account, Pop3Seen *seen, int clean);

// What the account's server said of itself: read from its file into
// `memory` when `memory` is not of this account already; written back
// when a check changed it (a memory forgotten is written as of nobody).
void server_memory_recall(const Pop3Account *account, Pop3Memory *memory);
void server_memory_keep(const Pop3Account *account, const Pop3Memory *before, const Pop3Memory *memory);

#endif
