// An account's own files in its folder (beside the settings file): the
// uids seen ("Sorvane.seen" for the first account), read before a check
// that reports only mail not seen before and replaced after it when it
// ended cleanly (with that setting off nothing here touches it); and what
// its server said of itself.
#ifndef SORVANE_SEEN_FILE_H
#define SORVANE_SEEN_FILE_H

#include "seen_list.h"

extern const char SEEN_FILE_NAME[]; // "Sorvane.seen", the first account's
// Each file is written first as its name and ".new", then moved over it.

// The file `name` in `folder`. Loading gives what the last clean check saw (a
// SeenFileOutcome); on any outcome but SEEN_FILE_READ, no file included,
// an empty mark and list: all mail is new. With `uids` NULL, only the
// file's head is read. Saving writes the whole image
// aside, flushes it and moves it over the file, so a save cut short leaves
// the old file; 1 when the file was replaced.
int load_seen_file(const char *folder, const char *name, const char *server, const char *user, SeenMark *mark, SeenList *uids);
int save_seen_file(const char *folder, const char *name, const char *server, const char *user, const SeenMark *mark,
                   const SeenList *uids);

// What the account's server said of itself, in the file `name` beside the
// seen mail: 1 with `*notes` when it is whole and of this account. Saved
// as the seen mail is.
int load_server_file(const char *folder, const char *name, const char *server, const char *user, ServerNotes *notes);
int save_server_file(const char *folder, const char *name, const char *server, const char *user,
                     const ServerNotes *notes);

#endif
