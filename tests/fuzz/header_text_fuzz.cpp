// Any header block, any capacity: the sender and the subject stay within
// the capacity, NUL-terminated, and are valid code page 932 without
// controls, even when the system's conversions hand back bytes that are
// not (the stand-ins below make garbage of their input on purpose).
// The first byte chooses the capacity.
#include "pop3/header_text.h"
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static size_t garbage_unicode(unsigned, const char *bytes, size_t size, unsigned short *wide)
{
    if (bytes[0] == 'Z')
        return 0; // a conversion that fails
    for (size_t i = 0; i < size; i++)
        wide[i] = (unsigned short)((unsigned char)bytes[i] << 8 | (unsigned char)bytes[(i + 1) % size]);
    return size;
}

static size_t garbage_cp932(const unsigned short *wide, size_t count, char *out)
{
    size_t k = 0;
    for (size_t i = 0; i < count; i++) {
        if (wide[i] >> 8)
            out[k++] = (char)(wide[i] >> 8);
        out[k++] = (char)wide[i];
    }
    return k;
}

static const HeaderCodePages GARBAGE = {garbage_unicode, garbage_cp932};

static void check_cp932(const unsigned char *t, size_t capacity)
{
    size_t n = strnlen((const char *)t, capacity);
    if (n == capacity)
        abort();
    for (size_t i = 0; i < n; i++) {
        unsigned c = t[i];
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            unsigned trail = t[++i];
            if (i == n || trail < 0x40 || trail == 0x7F || trail > 0xFC)
                abort();
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && (c < 0xA1 || c > 0xDF))) {
            abort();
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t capacity = data[0] % 80 + 1;
    char *block = (char *)malloc(size - 1 + 1);
    unsigned char *out = (unsigned char *)malloc(capacity);
    memcpy(block, data + 1, size - 1);
    int (*fields[])(const char *, size_t, const HeaderCodePages *, char *, size_t) = {header_sender, header_subject};
    for (auto field : fields) {
        memset(out, 'x', capacity);
        if (!field(block, size - 1, &GARBAGE, (char *)out, capacity) && out[0] != '\0')
            abort();
        check_cp932(out, capacity);
    }
    free(out);
    free(block);
    return 0;
}
