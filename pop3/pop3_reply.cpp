#include "pop3_reply.h"
#include <string.h>

void pop3_reader_reset(Pop3LineReader *r)
{
    r->pendingStart = 0;
    r->pendingEnd = 0;
    pop3_line_begin(r);
}

void pop3_line_begin(Pop3LineReader *r)
{
    r->length = 0;
    r->line[0] = '\0';
    r->complete = 0;
    r->crKept = 0;
}

static void end_line(Pop3LineReader *r)
{
    if (r->crKept)
        r->length--; // the CR of the CRLF
    r->line[r->length] = '\0';
    r->complete = 1;
}

// A byte past POP3_LINE_MAX is dropped, so a CR there is never kept and the
// kept bytes of an over-long line are exactly its first POP3_LINE_MAX.
static void take_byte(Pop3LineReader *r, char c)
{
    if (c == '\n') {
        end_line(r);
        return;
    }
    r->crKept = 0;
    if (r->length < POP3_LINE_MAX) {
        r->line[r->length++] = c;
        r->crKept = c == '\r';
    }
}

int pop3_line_take(Pop3LineReader *r)
{
    while (!r->complete && r->pendingStart < r->pendingEnd)
        take_byte(r, r->pending[r->pendingStart++]);
    if (!r->complete)
        r->line[r->length] = '\0';
    return r->complete;
}

char *pop3_receive_space(Pop3LineReader *r, size_t *capacity)
{
    r->pendingStart = 0;
    r->pendingEnd = 0;
    *capacity = sizeof r->pending;
    return r->pending;
}

void pop3_received(Pop3LineReader *r, size_t count)
{
    r->pendingStart = 0;
    r->pendingEnd = count < sizeof r->pending ? count : sizeof r->pending;
}

int pop3_pending(const Pop3LineReader *r)
{
    return r->pendingEnd > r->pendingStart;
}

int pop3_reply_positive(const char *line, size_t length)
{
    return length > 0 && line[0] == '+';
}

static int is_digit(char c)
{
    return c >= '0' && c <= '9';
}

static int is_blank(char c)
{
    return c == ' ' || c == '\t';
}

int pop3_stat_count(const char *line, size_t length, unsigned long *count)
{
    const unsigned long limit = (unsigned long)-1;
    size_t i = 3;
    if (length < 5 || memcmp(line, "+OK", 3) != 0 || !is_blank(line[3]))
        return 0;
    while (i < length && is_blank(line[i]))
        i++;
    if (i >= length || !is_digit(line[i]))
        return 0;
    unsigned long n = 0;
    for (; i < length && is_digit(line[i]); i++) {
        unsigned long d = (unsigned long)(line[i] - '0');
        n = n > (limit - d) / 10 ? limit : n * 10 + d;
    }
    if (i < length && !is_blank(line[i]))
        return 0; // "+OK 3x": not a count
    *count = n;
    return 1;
}

void pop3_multiline_begin(Pop3MultiLine *m)
{
    m->lines = 0;
}

int pop3_multiline_line(Pop3MultiLine *m, char *line, size_t *length)
{
    if (*length == 1 && line[0] == '.')
        return POP3_MULTILINE_END;
    if (m->lines >= POP3_MULTILINE_MAX_LINES)
        return POP3_MULTILINE_TOO_MANY;
    m->lines++;
    if (*length > 0 && line[0] == '.') {
        memmove(line, line + 1, *length - 1);
        line[--*length] = '\0';
    }
    return POP3_MULTILINE_DATA;
}

static int is_uid_byte(char c)
{
    return c >= 0x21 && c <= 0x7E;
}

int pop3_uidl_line(const char *line, size_t length, const char **uid, size_t *uidLength)
{
    size_t i = 0;
    while (i < length && is_digit(line[i]))
        i++;
    if (i == 0 || i == length || !is_blank(line[i]))
        return 0;
    while (i < length && is_blank(line[i]))
        i++;
    size_t start = i;
    while (i < length && is_uid_byte(line[i]))
        i++;
    size_t n = i - start;
    while (i < length && is_blank(line[i]))
        i++;
    if (i != length || n == 0 || n > POP3_UID_MAX)
        return 0;
    *uid = line + start;
    *uidLength = n;
    return 1;
}

uint32_t pop3_uidl_number(const char *line, size_t length)
{
    uint32_t n = 0;
    for (size_t i = 0; i < length && is_digit(line[i]); i++) {
        uint32_t d = (uint32_t)(line[i] - '0');
        n = n > (UINT32_MAX - d) / 10 ? UINT32_MAX : n * 10 + d;
    }
    return n;
}

int pop3_uidl_reply(const char *line, size_t length, uint32_t *number, const char **uid, size_t *uidLength)
{
    size_t i = 3;
    if (length < 5 || memcmp(line, "+OK", 3) != 0 || !is_blank(line[3]))
        return 0;
    while (i < length && is_blank(line[i]))
        i++;
    *number = pop3_uidl_number(line + i, length - i);
    return pop3_uidl_line(line + i, length - i, uid, uidLength);
}

int pop3_format_request(char *out, size_t capacity, const char *command, const char *argument)
{
    size_t c = strlen(command);
    size_t a = argument ? strlen(argument) + 1 : 0;
    if (capacity == 0)
        return 0;
    out[0] = '\0';
    if (c + a + 3 > capacity)
        return 0;
    // A line break inside the argument would smuggle a second command to
    // the server; such a request is not sent at all.
    if (argument && strpbrk(argument, "\r\n"))
        return 0;
    memcpy(out, command, c);
    if (argument) {
        out[c] = ' ';
        memcpy(out + c + 1, argument, a - 1);
    }
    memcpy(out + c + a, "\r\n", 3);
    return 1;
}

static int upper(char c)
{
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}

// Whether `line` of `length` bytes starts with the word `word` (case
// aside), followed by its end or a blank.
static int starts_with_word(const char *line, size_t length, const char *word)
{
    size_t n = strlen(word);
    if (length < n || (length > n && line[n] != ' '))
        return 0;
    for (size_t i = 0; i < n; i++) {
        if (upper(line[i]) != word[i])
            return 0;
    }
    return 1;
}

static void keep_said(const char *text, size_t length, char *said)
{
    size_t n = 0;
    for (size_t i = 0; i < length && n < POP3_SAID_MAX; i++) {
        if (text[i] >= 0x20 && text[i] <= 0x7E && (n > 0 || text[i] != ' '))
            said[n++] = text[i];
    }
    while (n > 0 && said[n - 1] == ' ')
        n--;
    said[n] = '\0';
}

int pop3_response_code(const char *line, size_t length, char *said)
{
    static const char *const CODES[] = {"IN-USE", "LOGIN-DELAY", "SYS/TEMP", "SYS/PERM", "AUTH"};
    size_t at = 0;
    int code = POP3_CODE_NONE;
    while (at < length && line[at] != ' ')
        at++;
    while (at < length && line[at] == ' ')
        at++;
    const char *close = at < length && line[at] == '[' ? (const char *)memchr(line + at, ']', length - at) : NULL;
    if (close) {
        size_t inside = (size_t)(close - line) - at - 1;
        for (int i = 0; i < 5; i++) {
            if (inside == strlen(CODES[i]) && starts_with_word(line + at + 1, inside, CODES[i]))
                code = i + 1;
        }
        at = (size_t)(close - line) + 1;
    }
    keep_said(line + at, length - at, said);
    return code;
}

void pop3_capability_line(const char *line, size_t length, Pop3Capabilities *out)
{
    if (starts_with_word(line, length, "PIPELINING"))
        out->flags |= POP3_CAPABILITY_PIPELINING;
    else if (starts_with_word(line, length, "UTF8"))
        out->flags |= POP3_CAPABILITY_UTF8;
    else if (starts_with_word(line, length, "LOGIN-DELAY")) {
        uint32_t n = 0;
        for (size_t i = sizeof "LOGIN-DELAY"; i < length && line[i] >= '0' && line[i] <= '9'; i++)
            n = n < 100000000u ? n * 10 + (uint32_t)(line[i] - '0') : n;
        out->loginDelay = n;
    }
}
