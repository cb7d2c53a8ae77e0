// "Report only mail not seen before": the UIDL step of a check and the file
// of the uids seen, "Sorvane.seen" beside the settings file. With the
// setting off nothing here talks to the server or touches a file, and a
// check counts every message as new, as it always has.
#ifndef SORVANE_SEEN_MAIL_H
#define SORVANE_SEEN_MAIL_H

#include <windows.h>
#include "seen_list.h"

extern const char SEEN_FILE_NAME[];      // "Sorvane.seen"
extern const char SEEN_TEMP_FILE_NAME[]; // written first, then moved over it

// The file in startDirectory. Loading gives what the last clean check saw
// (a SeenFileOutcome); on any outcome but SEEN_FILE_READ, no file included,
// 0 and the empty list: all mail is new. Saving writes the whole image
// aside, flushes it and moves it over the file, so a save cut short leaves
// the old file; 1 when the file was replaced.
int load_seen_file(const char *server, const char *user, unsigned long *count, SeenList *uids);
int save_seen_file(const char *server, const char *user, unsigned long count, const SeenList *uids);

// The two things this step needs of the check's connection, so that it
// does not depend on how the connection is made.
struct Pop3Talk {
    void *session;
    // Sends "<command>\r\n". 0 when it could not be sent.
    int (*send_command)(void *session, const char *command);
    // The next whole reply line, in a buffer that may be changed until the
    // next call. 0 when none came in time or the connection ended.
    int (*receive_line)(void *session, char **line, size_t *length);
};

// One check's part, on the worker's stack.
struct SeenMail {
    int active; // the setting was on when the check began
    char server[ACCOUNT_TEXT_CAPACITY];
    char user[ACCOUNT_TEXT_CAPACITY];
    unsigned long lastCount; // messages at the last clean check
    SeenList before;         // uids seen by the last clean check
    SeenList now;            // uids of this check
    unsigned long count;     // messages now
    int listed;              // `now` holds this check's uids
    int judged;              // the step ran to its end
};

// At the start of a check: takes the setting and the account, and reads the
// file when the setting is on.
void seen_mail_begin(SeenMail *m);

// After STAT has counted `count` messages: how many are new. With the
// setting off, all of them. With it on, the uids the server lists that the
// last clean check did not see; a server that refuses UIDL is judged by
// "more messages than at the last check". 0 with `*failure` set when the
// step failed (the check fails then).
int seen_mail_judge(SeenMail *m, const Pop3Talk *talk, unsigned long count, unsigned long *newCount,
                    const char **failure);

// At the end of a check: when it ended cleanly, what it saw replaces the
// file (written aside, then moved over it). Frees what the check held.
void seen_mail_end(SeenMail *m, int clean);

#endif
