// Server bytes cut into receives at places the input chooses: every line
// stays within its bound, and the parsers read only the bytes they are given.
#include "pop3/pop3_reply.h"
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Pop3LineReader r;
    pop3_reader_reset(&r);
    size_t pos = 0;
    size_t taken = 0; // bytes the reader was handed
    while (pos < size) {
        // The first byte of each round chooses how many bytes arrive.
        size_t want = data[pos++] % 64 + 1;
        while (pop3_line_take(&r)) {
            if (r.length > POP3_LINE_MAX || r.line[r.length] != '\0')
                abort();
            unsigned long n;
            pop3_reply_positive(r.line, r.length);
            pop3_stat_count(r.line, r.length, &n);
            pop3_line_begin(&r);
        }
        size_t cap;
        char *space = pop3_receive_space(&r, &cap);
        size_t n = size - pos < want ? size - pos : want;
        if (n > cap)
            abort();
        memcpy(space, data + pos, n);
        pop3_received(&r, n);
        pos += n;
        taken += n;
    }
    pop3_line_take(&r);
    if (r.length > POP3_LINE_MAX || r.length > taken)
        abort();
    return 0;
}
