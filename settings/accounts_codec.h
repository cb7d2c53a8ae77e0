// The bytes of "Sorvane.accounts", the file beside "Sorvane.dat" that
// keeps the accounts after the first (the first stays in the settings
// file's own fields, so that every copy of the program reads it as it
// always did, and a copy that knows only that file leaves this one alone).
// Decided without touching the platform.
//
// Layout: the tag "SVAC", a version byte, the number of accounts (0 to 7),
// then per account its server, user and password as text fields of the
// settings file (scrambled, with the scrambled terminator) and a flags byte
// (bit 0: only mail not seen before); last, four bytes of check (FNV-1a of
// everything before it, little-endian). A file that is cut, damaged, of
// another version or foreign decodes to no accounts, and the caller says so
// once; it never touches another setting.
#ifndef SORVANE_ACCOUNTS_CODEC_H
#define SORVANE_ACCOUNTS_CODEC_H

#include <stddef.h>
#include "settings_record.h"

enum {
    ACCOUNTS_FORMAT_VERSION = 1,
    ACCOUNTS_TAG_SIZE = 4,
    ACCOUNTS_HEADER_SIZE = ACCOUNTS_TAG_SIZE + 2,
    ACCOUNTS_CHECK_SIZE = 4,
    ACCOUNT_FLAG_UNSEEN_ONLY = 0x01,
    ACCOUNTS_FILE_MAX_SIZE = ACCOUNTS_HEADER_SIZE + MORE_ACCOUNTS * (3 * ACCOUNT_TEXT_CAPACITY + 1) + ACCOUNTS_CHECK_SIZE
};

enum AccountsDecodeOutcome {
    ACCOUNTS_DECODED,
    ACCOUNTS_NONE,    // an empty file: no accounts, nothing to say
    ACCOUNTS_DAMAGED  // cut, damaged, foreign or of another version
};

// Reads a file image into `*out`: every account, or none (`count` 0) with
// ACCOUNTS_DAMAGED. Bytes after the check make it damaged too.
int decode_accounts(const unsigned char *bytes, size_t size, MoreAccounts *out);

// The file image of `*in` into `out` (ACCOUNTS_FILE_MAX_SIZE bytes
// suffice). 0 when a text cannot be stored (a line feed in it, no NUL
// within its field) or `count` is out of range.
int encode_accounts(const MoreAccounts *in, unsigned char *out, size_t outSize, size_t *size);

#endif
