// The program's texts are code page 932 whatever the system's code page
// is (an English Windows, or a Japanese one set to UTF-8): every text is
// handed to the system through the wide calls, converted here explicitly,
// and every text read back is converted to code page 932 before it is kept.
#ifndef SORVANE_WIDE_TEXT_H
#define SORVANE_WIDE_TEXT_H

#include <windows.h>

enum {
    CODE_PAGE_932 = 932,
    // Wide buffers for the program's texts: the longest message with its
    // list of new mail, a path, a tip.
    WIDE_TEXT_CAPACITY = 1024
};

// `length` bytes of code page 932 text (-1: up to its NUL) into `out` of
// `capacity` (at least 2) characters, NUL-terminated. A text too long is
// cut after a whole character; 0 then, else 1.
int wide_from_932(const char *text, int length, WCHAR *out, int capacity);

// A wide text into code page 932 in `out` of `capacity` bytes: a
// TextKept. A character that has no form there is never replaced by a
// look-alike or a "?": the text is refused, and `out` is then empty, as it
// is for a text that does not fit.
enum TextKept { TEXT_NOT_IN_932, TEXT_KEPT, TEXT_TOO_LONG };
int text_932_from_wide(const WCHAR *text, char *out, int capacity);

// A control's text, as code page 932 in `out` of `capacity` bytes, cut
// after the last whole character that fits: 0 (and `out` empty) when a
// character has no form in code page 932.
int read_control_text(HWND control, char *out, int capacity);
// The current directory by its code page 932 path.
BOOL set_current_directory(const char *path);
// Sets a control's text from code page 932.
void show_control_text(HWND control, const char *text);

#endif
