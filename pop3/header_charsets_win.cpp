// The conversions of header text that need Unicode, through Windows' own
// code pages, so that a character shows as every other Windows program
// shows it. Flags 0 keep WideCharToMultiByte's best fit: the Latin-1
// ¢ £ ¬ become their full-width forms and "é" becomes "e" instead of "?".
#include "header_text.h"
#include <windows.h>

static size_t to_unicode(unsigned codePage, const char *bytes, size_t size, unsigned short *wide)
{
    int units = MultiByteToWideChar(codePage, 0, bytes, (int)size, (WCHAR *)wide, (int)size);
    return units > 0 ? (size_t)units : 0;
}

static size_t to_cp932(const unsigned short *wide, size_t count, char *out)
{
    int bytes = WideCharToMultiByte(932, 0, (const WCHAR *)wide, (int)count, out, (int)(2 * count), "?", NULL);
    return bytes > 0 ? (size_t)bytes : 0;
}

static const HeaderCodePages CODE_PAGES = {to_unicode, to_cp932};

const HeaderCodePages *header_code_pages(void)
{
    return &CODE_PAGES;
}
