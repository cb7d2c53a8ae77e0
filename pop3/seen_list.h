// The mail a check has seen: the set of unique-ids the server listed, and
// the small file that keeps it from one check to the next. Pure: bytes in,
// values out; the file itself is read and written by seen_file.cpp.
//
// The file is plain text, one item a line, each ended by LF:
//   "Sorvane seen-mail 3"   the format and its version
//   server                  the account it belongs to: a change of server
//   user                    or user starts afresh
//   message count           of that check, for servers without UIDL
//   last uid                of the last of those messages, empty when not
//                           known (version 1 has no such line)
//   first uid               of the first of them, the same way (versions
//                           1 and 2 have no such line)
//   uid ...                 one a line, in byte order, each once
//   "."                     the end, so that a cut file is told apart
#ifndef SORVANE_SEEN_LIST_H
#define SORVANE_SEEN_LIST_H

#include <stddef.h>
#include <stdint.h>
#include "pop3_reply.h"

enum {
    // The server, user and password of an account hold at most 127 bytes,
    // as the settings record does; a folder at most 259 (MAX_PATH).
    POP3_ACCOUNT_TEXT_CAPACITY = 128,
    POP3_FOLDER_CAPACITY = 260,
    POP3_SEEN_NAME_CAPACITY = 32 // the seen-mail file's own name
};

struct SeenList {
    char *text; // the uids added, each ended by a NUL
    size_t textSize, textCapacity;
    const char **sorted; // after seen_list_finish: each uid once, in byte order
    size_t count;        // entries of `sorted`
};

void seen_list_init(SeenList *list);
void seen_list_free(SeenList *list); // back to the empty list
// Adds a uid of 1 to POP3_UID_MAX bytes. 0 when memory ran out.
int seen_list_add(SeenList *list, const char *uid, size_t length);
// Sorts the uids added and drops repeats. 0 when memory ran out.
int seen_list_finish(SeenList *list);
// Of a finished list.
int seen_list_contains(const SeenList *list, const char *uid);
// How many uids of `now` are not in `before` (both finished).
size_t seen_list_unseen(const SeenList *now, const SeenList *before);
// Whether two finished lists hold the same uids.
int seen_list_same(const SeenList *a, const SeenList *b);

// Where a clean check left the mailbox: how many messages it held, and
// the uids of the last and the first of them ("" when not known). While
// both keep their numbers and uids, the mailbox is taken to have only
// grown at its end since: only the messages after the last can be new.
struct SeenMark {
    uint32_t count; // of a fixed width, so that its digits have a fixed bound
    char uid[POP3_UID_MAX + 1];
    char first[POP3_UID_MAX + 1];
};

enum {
    // The magic, the account, the count and the last uid, each with its LF.
    SEEN_FILE_HEAD_MAX_SIZE = 20 + 2 * POP3_ACCOUNT_TEXT_CAPACITY + 11 + 2 * (POP3_UID_MAX + 1),
    SEEN_FILE_MAX_SIZE = SEEN_FILE_HEAD_MAX_SIZE + POP3_MULTILINE_MAX_LINES * (POP3_UID_MAX + 1) + 2
};

enum SeenFileOutcome {
    SEEN_FILE_READ,
    SEEN_FILE_OTHER_ACCOUNT, // written for another server or user
    SEEN_FILE_DAMAGED        // not this format, or cut, or out of memory
};

// Reads a file image (any version) for the account `server` and
// `user`: on SEEN_FILE_READ `*mark` and `uids` (finished) hold what it
// says; on any other outcome an empty mark and list, as if no check had
// been before. With `uids` NULL, only the head is read: the image may end
// after it.
int decode_seen_file(const unsigned char *bytes, size_t size, const char *server, const char *user,
                     SeenMark *mark, SeenList *uids);

// The image of a finished list, into `out` of `outSize` bytes; `*size` is
// its length. 0 when it does not fit or the server or user holds a line
// break (it could not be read back).
int encode_seen_file(const char *server, const char *user, const SeenMark *mark, const SeenList *uids,
                     unsigned char *out, size_t outSize, size_t *size);
// The bytes encode_seen_file needs for this list.
size_t seen_file_size(const char *server, const char *user, const SeenList *uids);

// What an account's server said of itself, in a small file of its own
// beside its seen mail, one item a line, each ended by LF:
//   "Sorvane server 1"   the format and its version
//   server, user         the account it was said to
//   flags                POP3_CAPABILITY_ bits: a flight of commands, UTF8
//   login delay          seconds from one login to the next, 0 for none
//   "."
enum { SERVER_FILE_MAX_SIZE = 17 + 2 * POP3_ACCOUNT_TEXT_CAPACITY + 2 * 11 + 2 };
struct ServerNotes {
    int flags;
    uint32_t loginDelay;
};
// 1 with `*notes` when the image is whole and of this account.
int decode_server_file(const unsigned char *bytes, size_t size, const char *server, const char *user,
                       ServerNotes *notes);
// Into `out` of SERVER_FILE_MAX_SIZE bytes; 0 when the account holds a line break.
int encode_server_file(const char *server, const char *user, const ServerNotes *notes, unsigned char *out,
                       size_t *size);

#endif
