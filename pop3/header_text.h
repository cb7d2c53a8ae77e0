// The sender and subject of a new message, from its header block (the
// reply to "TOP n 0"), as text for the new-mail box and the tray: unfolded,
// MIME encoded-words decoded, and put into code page 932. Pure: the steps
// that need Unicode come through a small table of functions, which the
// Windows builds fill with the system's own code pages
// (header_charsets_win.cpp) and the native tests with stand-ins.
#ifndef SORVANE_HEADER_TEXT_H
#define SORVANE_HEADER_TEXT_H

#include <stddef.h>

enum {
    // The most of a header block that is looked at; the reader hands over
    // no more.
    HEADER_BLOCK_MAX = 16384,
    // Windows code pages of the charsets that go through Unicode.
    HEADER_CP_UTF8 = 65001,
    HEADER_CP_LATIN1 = 28591
};

struct HeaderCodePages {
    // `size` bytes of code page `codePage` (HEADER_CP_UTF8 or
    // HEADER_CP_LATIN1) into UTF-16 at `wide`, which has room for `size`
    // units. The units written; 0 when nothing could be converted.
    size_t (*to_unicode)(unsigned codePage, const char *bytes, size_t size, unsigned short *wide);
    // `count` UTF-16 units into code page 932 at `out`, which has room for
    // two bytes a unit; a character it lacks becomes "?". The bytes
    // written; 0 when nothing could be converted.
    size_t (*to_cp932)(const unsigned short *wide, size_t count, char *out);
};

// The system's conversions (MultiByteToWideChar, WideCharToMultiByte);
// found in header_charsets_win.cpp, Windows builds only.
const HeaderCodePages *header_code_pages(void);

// Into `out` of `capacity` bytes, NUL-terminated and cut before a character
// that does not fit: the display name of the first From: field, else its
// address; or the first Subject: field. 1 when the field is there; 0 when
// it is not (or memory ran out), with `out` empty.
int header_sender(const char *block, size_t size, const HeaderCodePages *pages, char *out, size_t capacity);
int header_subject(const char *block, size_t size, const HeaderCodePages *pages, char *out, size_t capacity);

#endif
