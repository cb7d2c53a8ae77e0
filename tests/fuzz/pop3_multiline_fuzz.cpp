// A UIDL listing cut into receives at places the input chooses, through
// the line reader and the multi-line reader into the seen list: every data
// line stays within its bound, an unstuffed line is one byte shorter, the
// listing never passes its line limit, and the same bytes read as a seen
// file decode without reading past them.
#include "pop3/pop3_reply.h"
#include "pop3/seen_list.h"
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static void check_seen_file(const uint8_t *data, size_t size)
{
    uint8_t *bytes = (uint8_t *)malloc(size ? size : 1);
    if (size)
        memcpy(bytes, data, size);
    SeenList list;
    seen_list_init(&list);
    SeenMark mark;
    if (decode_seen_file(bytes, size, "srv", "usr", &mark, &list) != SEEN_FILE_READ && (list.count != 0 || mark.uid[0]))
        abort();
    free(bytes);
    seen_list_free(&list);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check_seen_file(data, size);
    Pop3LineReader r;
    Pop3MultiLine m;
    SeenList list;
    pop3_reader_reset(&r);
    pop3_multiline_begin(&m);
    seen_list_init(&list);
    size_t pos = 0;
    int ended = 0;
    while (pos < size && !ended) {
        size_t want = data[pos++] % 64 + 1;
        while (!ended && pop3_line_take(&r)) {
            size_t before = r.length;
            char first = r.line[0];
            int step = pop3_multiline_line(&m, r.line, &r.length);
            if (r.length > POP3_LINE_MAX || r.line[r.length] != '\0' || m.lines > POP3_MULTILINE_MAX_LINES)
                abort();
            if (step == POP3_MULTILINE_DATA) {
                if (r.length != before - (first == '.'))
                    abort();
                const char *uid;
                size_t n;
                if (pop3_uidl_line(r.line, r.length, &uid, &n)) {
                    if (n == 0 || n > POP3_UID_MAX || uid < r.line || uid + n > r.line + r.length)
                        abort();
                    seen_list_add(&list, uid, n);
                }
            } else {
                ended = 1;
            }
            pop3_line_begin(&r);
        }
        size_t cap;
        char *space = pop3_receive_space(&r, &cap);
        size_t n = size - pos < want ? size - pos : want;
        memcpy(space, data + pos, n);
        pop3_received(&r, n);
        pos += n;
    }
    if (!seen_list_finish(&list))
        abort();
    for (size_t i = 1; i < list.count; i++) {
        if (strcmp(list.sorted[i - 1], list.sorted[i]) >= 0)
            abort();
    }
    seen_list_free(&list);
    return 0;
}
