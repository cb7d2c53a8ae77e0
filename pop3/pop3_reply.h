// The POP3 dialogue's bytes, decided without the socket: assembling the
// server's stream into reply lines, reading a reply's status and the STAT
// count, and formatting the requests. No platform calls, so it builds and
// is tested on any compiler.
#ifndef SORVANE_POP3_REPLY_H
#define SORVANE_POP3_REPLY_H

#include <stddef.h>
#include <stdint.h>

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

// A multi-line reply (UIDL's listing) after its positive status line:
// data lines up to a line that is a single ".". Lines come from the line
// reader, so each is bounded as any reply line is; the number of lines is
// bounded too, so that a server cannot make what is kept of the listing
// grow without end. A check holds two lists of that many uids at most (the
// one seen before and this one): with uids of 16 to 24 bytes, as servers
// make them, 4 to 6 MB; 15 MB with every uid at its longest, all given
// back when the check ends.
enum {
    POP3_MULTILINE_MAX_LINES = 100000,
    // A unique-id is 1 to 70 bytes, each from 0x21 to 0x7E.
    POP3_UID_MAX = 70
};
struct Pop3MultiLine {
    unsigned long lines; // data lines taken so far
};
enum Pop3MultiLineStep {
    POP3_MULTILINE_DATA,     // a data line, its leading dot unstuffed
    POP3_MULTILINE_END,      // the terminating "."
    POP3_MULTILINE_TOO_MANY  // one line more than POP3_MULTILINE_MAX_LINES
};
void pop3_multiline_begin(Pop3MultiLine *m);
// Classifies the next complete line of the reply. A data line that starts
// with "." loses that dot: `line` and `*length` are changed in place and a
// NUL follows the kept bytes.
int pop3_multiline_line(Pop3MultiLine *m, char *line, size_t *length);

// One line of a UIDL listing, "n uid": a message number, blanks, the uid,
// optional trailing blanks. 1 with the uid's place in `line`; 0 when the
// line is not of that form or the uid is not 1 to POP3_UID_MAX printable
// bytes.
int pop3_uidl_line(const char *line, size_t length, const char **uid, size_t *uidLength);
// The message number of such a line (held at UINT32_MAX when larger).
uint32_t pop3_uidl_number(const char *line, size_t length);
// The reply to "UIDL n", "+OK n uid": 1 as pop3_uidl_line, with the number.
int pop3_uidl_reply(const char *line, size_t length, uint32_t *number, const char **uid, size_t *uidLength);

// The response code of a negative reply, "-ERR [CODE] text" (RFC 2449,
// RFC 3206), as far as a check tells them apart; a code of a hierarchy
// ("SYS/TEMP") is matched whole, case aside.
enum Pop3ResponseCode {
    POP3_CODE_NONE, // no code, or one not told apart
    POP3_CODE_IN_USE,
    POP3_CODE_LOGIN_DELAY,
    POP3_CODE_SYS_TEMP,
    POP3_CODE_SYS_PERM,
    POP3_CODE_AUTH
};
enum { POP3_SAID_MAX = 200 }; // bytes of the server's own words kept
// The code of `line`, and in `said` (POP3_SAID_MAX + 1 bytes) the text
// after it, only printable ASCII kept, blanks at its ends dropped.
int pop3_response_code(const char *line, size_t length, char *said);

// What a CAPA line says, as far as a check uses it.
enum { POP3_CAPABILITY_PIPELINING = 1, POP3_CAPABILITY_UTF8 = 2 };
struct Pop3Capabilities {
    int flags;
    uint32_t loginDelay; // seconds, from "LOGIN-DELAY n"; 0 for none
};
void pop3_capability_line(const char *line, size_t length, Pop3Capabilities *out);

// "<command> <argument>\r\n", or "<command>\r\n" when argument is NULL,
// NUL-terminated in out. 0 when it does not fit (out is then empty).
int pop3_format_request(char *out, size_t capacity, const char *command, const char *argument);

#endif
