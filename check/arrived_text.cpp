#include "arrived_text.h"
#include <string.h>

// Code page 932 bytes, spelt out: the native build compiles literals as
// UTF-8.
static const char OPEN[] = "\x81\x75";   // 「
static const char CLOSE[] = "\x81\x76";  // 」
static const char CUT[] = "\x81\x63";    // …
static const char OTHERS[] = "\x82\xD9\x82\xA9 "; // ほか
static const char LETTERS[] = " \x92\xCA";        // 通

struct Text {
    char *out;
    size_t capacity, size;
};

static int lead_byte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

static void add_bytes(Text *t, const char *bytes, size_t n)
{
    memcpy(t->out + t->size, bytes, n);
    t->size += n;
    t->out[t->size] = '\0';
}

static size_t decimal(unsigned long n, char *out)
{
    char digits[24];
    size_t k = 0;
    do
        digits[k++] = (char)('0' + n % 10);
    while (n /= 10);
    for (size_t i = 0; i < k; i++)
        out[i] = digits[k - 1 - i];
    return k;
}

// The bytes of `s` in `width`: `s` whole when it fits, else cut on a
// character boundary with "…" after it.
static size_t cut_size(const char *s, size_t width)
{
    size_t n = strlen(s), kept = 0;
    if (n <= width)
        return n;
    for (size_t step; kept < n; kept += step) {
        step = lead_byte((unsigned char)s[kept]) && kept + 1 < n ? 2 : 1;
        if (kept + step > width - 2)
            break;
    }
    return kept + 2;
}

// The caller has made room for `width` bytes.
static void add_cut(Text *t, const char *s, size_t width)
{
    size_t n = cut_size(s, width);
    if (n == strlen(s)) {
        add_bytes(t, s, n);
        return;
    }
    add_bytes(t, s, n - 2);
    add_bytes(t, CUT, 2);
}

// A message's line: its line break, the sender, and the subject in 「」.
static size_t message_size(const Pop3Arrived *a, unsigned i)
{
    return 1 + cut_size(a->sender[i], ARRIVED_SENDER_WIDTH) + 2 + cut_size(a->subject[i], ARRIVED_SUBJECT_WIDTH) + 2;
}

static void add_message(Text *t, const Pop3Arrived *a, unsigned i)
{
    add_bytes(t, "\n", 1);
    add_cut(t, a->sender[i], ARRIVED_SENDER_WIDTH);
    add_bytes(t, OPEN, 2);
    add_cut(t, a->subject[i], ARRIVED_SUBJECT_WIDTH);
    add_bytes(t, CLOSE, 2);
}

// "\nほか N 通", and its NUL.
static size_t others_size(unsigned long others)
{
    char count[24];
    return 1 + (sizeof OTHERS - 1) + decimal(others, count) + (sizeof LETTERS - 1) + 1;
}

// Lines are taken while they fit as they are: the last ones need no room
// for "ほか N 通" when none is left over after them.
void arrived_text(const char *first, const Pop3Arrived *arrived, char *out, size_t capacity)
{
    Text t = {out, capacity, 0};
    unsigned long others = arrived->more;
    if (capacity == 0)
        return;
    out[0] = '\0';
    size_t n = strlen(first);
    if (n + 1 > capacity)
        return;
    add_bytes(&t, first, n);
    size_t rest = 0;
    for (unsigned i = 0; i < arrived->listed; i++)
        rest += message_size(arrived, i);
    for (unsigned i = 0; i < arrived->listed; i++) {
        size_t line = message_size(arrived, i);
        int allFit = others == 0 && t.size + rest + 1 <= capacity;
        if (allFit || t.size + line + others_size(others + arrived->listed - i - 1) <= capacity)
            add_message(&t, arrived, i);
        else
            others++;
        rest -= line;
    }
    if (others && t.size + others_size(others) <= capacity) {
        char count[24];
        add_bytes(&t, "\n", 1);
        add_bytes(&t, OTHERS, sizeof OTHERS - 1);
        add_bytes(&t, count, decimal(others, count));
        add_bytes(&t, LETTERS, sizeof LETTERS - 1);
    }
}

static const char NEW_COUNT[] = ": \x90\x56\x92\x85 "; // ": 新着 "

// "<label>: <failure>(0x...)", or "<label>: 新着 N 通" with what arrived.
enum { LABEL_ROOM = 260, FAILURE_ROOM = 200, HEAD_ROOM = LABEL_ROOM + 2 + FAILURE_ROOM + 16 + 1 + POP3_SAID_MAX };

static void account_line(const AccountResult *r, char *line, size_t capacity)
{
    static const Pop3Arrived NONE = {};
    char head[HEAD_ROOM];
    size_t n = strlen(r->label) < (size_t)LABEL_ROOM ? strlen(r->label) : (size_t)LABEL_ROOM;
    memcpy(head, r->label, n);
    if (!r->ok) {
        const char *failure = r->failure ? r->failure : "";
        size_t f = strlen(failure) < (size_t)FAILURE_ROOM ? strlen(failure) : (size_t)FAILURE_ROOM;
        memcpy(head + n, ": ", 2);
        memcpy(head + n + 2, failure, f);
        n += 2 + f;
        if (r->code) {
            static const char HEX[] = "0123456789ABCDEF";
            memcpy(head + n, "(0x", 3);
            n += 3;
            for (int shift = 28; shift >= 0; shift -= 4)
                head[n++] = HEX[(r->code >> shift) & 15];
            head[n++] = ')';
        }
        size_t said = r->said ? strlen(r->said) : 0;
        if (said) {
            said = said < (size_t)POP3_SAID_MAX ? said : (size_t)POP3_SAID_MAX;
            head[n++] = '\n';
            memcpy(head + n, r->said, said);
            n += said;
        }
        head[n] = '\0';
        arrived_text(head, &NONE, line, capacity);
        return;
    }
    memcpy(head + n, NEW_COUNT, sizeof NEW_COUNT - 1);
    n += sizeof NEW_COUNT - 1;
    n += decimal(r->newCount, head + n);
    memcpy(head + n, LETTERS, sizeof LETTERS); // " 通" and its NUL
    arrived_text(head, r->arrived ? r->arrived : &NONE, line, capacity);
}

void accounts_text(const char *first, const AccountResult *results, int count, char *out, size_t capacity)
{
    Text t = {out, capacity, 0};
    if (capacity == 0)
        return;
    out[0] = '\0';
    if (strlen(first) + 1 > capacity)
        return;
    add_bytes(&t, first, strlen(first));
    for (int i = 0; i < count; i++) {
        const AccountResult *r = &results[i];
        if (r->ok && r->newCount == 0)
            continue;
        size_t gap = t.size ? 1 : 0;
        if (t.size + gap + 1 >= capacity)
            break;
        if (gap)
            add_bytes(&t, "\n", 1);
        account_line(r, out + t.size, capacity - t.size);
        size_t added = strlen(out + t.size);
        if (added == 0) { // the line does not fit: none after it either
            t.size -= gap;
            out[t.size] = '\0';
            break;
        }
        t.size += added;
    }
}
