// The header block of one message out of the reply to "TOP n 0", read
// straight from the received bytes: a header line may be 998 bytes, more
// than a reply line holds. What is kept is bounded, what is not kept is
// still read to the reply's end, so that a huge or endless header costs
// memory never and time only up to the reply's time limit.
#ifndef SORVANE_HEADER_READER_H
#define SORVANE_HEADER_READER_H

#include <stddef.h>
#include "header_text.h"

enum {
    HEADER_LINE_MAX = 998,  // the longest line RFC 5322 allows, CRLF aside
    HEADER_LINES_MAX = 500  // lines kept, folded ones counted each
};

struct HeaderReader {
    char block[HEADER_BLOCK_MAX]; // kept lines, each ended by LF
    size_t size;
    size_t lineStart;   // where the line being read began in `block`
    size_t column;      // bytes of that line seen so far
    unsigned lines;     // lines kept
    int dotLine;        // the line so far is "." or ".\r": perhaps the end
    int stopped;        // the empty line, or a limit, came: nothing more is kept
};

void header_reader_begin(HeaderReader *r);
// Takes reply bytes after the status line, up to and with the line "."
// that ends the reply. Gives the bytes taken; *ended is set when that
// line was among them (bytes after it belong to the next reply).
size_t header_reader_take(HeaderReader *r, const char *bytes, size_t size, int *ended);

#endif
