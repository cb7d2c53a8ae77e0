#include "header_reader.h"

void header_reader_begin(HeaderReader *r)
{
    r->size = 0;
    r->lineStart = 0;
    r->column = 0;
    r->lines = 0;
    r->dotLine = 0;
    r->stopped = 0;
}

// A line that does not fit whole is dropped whole, and nothing after it
// is kept: half a line could end inside a character or an encoded-word.
static void keep(HeaderReader *r, char c)
{
    if (r->stopped)
        return;
    if (r->column > HEADER_LINE_MAX + 1 || r->size + 1 >= HEADER_BLOCK_MAX) { // + 1: its CR
        r->size = r->lineStart;
        r->stopped = 1;
        return;
    }
    r->block[r->size++] = c;
}

// The empty line ends the header; a body sent anyway is not kept.
static void end_line(HeaderReader *r)
{
    if (!r->stopped) {
        if (r->size > r->lineStart && r->block[r->size - 1] == '\r')
            r->size--;
        size_t length = r->size - r->lineStart;
        if (length == 0 || length > HEADER_LINE_MAX || ++r->lines > HEADER_LINES_MAX) {
            r->size = r->lineStart;
            r->stopped = 1;
        } else {
            r->block[r->size++] = '\n';
        }
    }
    r->lineStart = r->size;
    r->column = 0;
    r->dotLine = 0;
}

// 1 when `c` ends the reply. A leading dot is the stuffing's or the end's,
// never kept.
static int take_byte(HeaderReader *r, char c)
{
    if (c == '\n') {
        if (r->dotLine) {
            r->size = r->lineStart; // the CR of ".\r" if it was kept
            return 1;
        }
        end_line(r);
        return 0;
    }
    r->column++;
    if (r->column == 1 && c == '.') {
        r->dotLine = 1;
        return 0;
    }
    r->dotLine = r->dotLine && r->column == 2 && c == '\r';
    keep(r, c);
    return 0;
}

size_t header_reader_take(HeaderReader *r, const char *bytes, size_t size, int *ended)
{
    *ended = 0;
    for (size_t i = 0; i < size; i++)
        if (take_byte(r, bytes[i])) {
            *ended = 1;
            return i + 1;
        }
    return size;
}
