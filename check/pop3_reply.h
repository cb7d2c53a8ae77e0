// The POP3 dialogue's bytes, decided without the socket: assembling the
// server's stream into reply lines, reading a reply's status and the STAT
// count, and formatting the requests. No platform calls, so it builds and
// is tested on any compiler.
#ifndef SORVANE_POP3_REPLY_H
#define SORVANE_POP3_REPLY_H

#include <stddef.h>

enum {
    // A reply line may hold at most 512 bytes with its CRLF; a longer one
    // keeps this many bytes and the rest of it is dropped.
    POP3_LINE_MAX = 512,
    // Bytes taken from the socket at once; what follows a line end waits
    // here for the next reply.
    POP3_RECEIVE_CHUNK = 512,
    // The exchange buffer a request is formatted into.
    POP3_REQUEST_CAPACITY = 256
};

// One reply line at a time out of the received stream. A line ends at CRLF
// or at a bare LF; the line end is not kept. NUL is an ordinary byte.
struct Pop3LineReader {
    char line[POP3_LINE_MAX + 1]; // kept bytes, NUL-terminated for convenience
    size_t length;                // kept bytes, without the terminator
    int complete;                 // the line end has been seen
    int crKept;                   // the last byte taken was a kept CR
    char pending[POP3_RECEIVE_CHUNK];
    size_t pendingStart, pendingEnd; // received bytes not yet taken
};

// Empties the reader, pending bytes included: a new connection.
void pop3_reader_reset(Pop3LineReader *r);
// Starts the next reply line; pending bytes are kept for it.
void pop3_line_begin(Pop3LineReader *r);
// Takes pending bytes into the line. 1 = the line is complete (bytes after
// its end stay pending); 0 = more bytes are needed and none are pending.
int pop3_line_take(Pop3LineReader *r);
// Where the next received bytes go; valid only after pop3_line_take gave 0.
char *pop3_receive_space(Pop3LineReader *r, size_t *capacity);
// Tells the reader that `count` bytes (at most the capacity) arrived there.
void pop3_received(Pop3LineReader *r, size_t count);

// Whether received bytes wait that no line has taken yet.
int pop3_pending(const Pop3LineReader *r);

// A positive reply begins with "+".
int pop3_reply_positive(const char *line, size_t length);

// The message count of a STAT reply "+OK n m": 1 with *count set (a count
// too large for the type is held at its maximum), 0 when the reply carries
// no count.
int pop3_stat_count(const char *line, size_t length, unsigned long *count);

// "<command> <argument>\r\n", or "<command>\r\n" when argument is NULL,
// NUL-terminated in out. 0 when it does not fit (out is then empty).
int pop3_format_request(char *out, size_t capacity, const char *command, const char *argument);

#endif
