#include "seen_list.h"
#include <stdlib.h>
#include <string.h>

static const char SEEN_FILE_MAGIC[] = "Sorvane seen-mail 3";
static const char SEEN_FILE_MAGIC_2[] = "Sorvane seen-mail 2"; // without the first uid
static const char SEEN_FILE_MAGIC_1[] = "Sorvane seen-mail 1"; // without the last uid either

void seen_list_init(SeenList *list)
{
    memset(list, 0, sizeof *list);
}

void seen_list_free(SeenList *list)
{
    free(list->text);
    free((void *)list->sorted);
    seen_list_init(list);
}

int seen_list_add(SeenList *list, const char *uid, size_t length)
{
    if (list->textSize + length + 1 > list->textCapacity) {
        size_t capacity = list->textCapacity ? 2 * list->textCapacity : 1024;
        while (capacity < list->textSize + length + 1)
            capacity *= 2;
        char *grown = (char *)realloc(list->text, capacity);
        if (!grown)
            return 0;
        list->text = grown;
        list->textCapacity = capacity;
    }
    memcpy(list->text + list->textSize, uid, length);
    list->text[list->textSize + length] = '\0';
    list->textSize += length + 1;
    return 1;
}

static int compare_uids(const void *a, const void *b)
{
    return strcmp(*(const char *const *)a, *(const char *const *)b);
}

int seen_list_finish(SeenList *list)
{
    size_t n = 0;
    for (size_t at = 0; at < list->textSize; at += strlen(list->text + at) + 1)
        n++;
    free((void *)list->sorted);
    list->sorted = NULL;
    list->count = 0;
    if (n == 0)
        return 1;
    const char **sorted = (const char **)malloc(n * sizeof *sorted);
    if (!sorted)
        return 0;
    size_t i = 0;
    int ordered = 1; // as the file keeps them: no sort needed
    for (size_t at = 0; at < list->textSize; at += strlen(list->text + at) + 1) {
        sorted[i] = list->text + at;
        ordered = ordered && (i == 0 || strcmp(sorted[i - 1], sorted[i]) < 0);
        i++;
    }
    if (!ordered)
        qsort((void *)sorted, n, sizeof *sorted, compare_uids);
    size_t kept = 1;
    for (i = 1; i < n; i++) {
        if (strcmp(sorted[i], sorted[kept - 1]) != 0)
            sorted[kept++] = sorted[i];
    }
    list->sorted = sorted;
    list->count = kept;
    return 1;
}

int seen_list_contains(const SeenList *list, const char *uid)
{
    return list->count
           && bsearch(&uid, (const void *)list->sorted, list->count, sizeof *list->sorted, compare_uids) != NULL;
}

size_t seen_list_unseen(const SeenList *now, const SeenList *before)
{
    size_t unseen = 0;
    for (size_t i = 0; i < now->count; i++)
        unseen += !seen_list_contains(before, now->sorted[i]);
    return unseen;
}

int seen_list_same(const SeenList *a, const SeenList *b)
{
    if (a->count != b->count)
        return 0;
    for (size_t i = 0; i < a->count; i++) {
        if (strcmp(a->sorted[i], b->sorted[i]) != 0)
            return 0;
    }
    return 1;
}

// ---- The file

// The next line of `bytes` from `*at`, without its LF; 0 when no LF comes.
static int next_line(const unsigned char *bytes, size_t size, size_t *at, const char **line, size_t *length)
{
    if (*at >= size)
        return 0;
    const void *end = memchr(bytes + *at, '\n', size - *at);
    if (!end)
        return 0;
    *line = (const char *)bytes + *at;
    *length = (size_t)((const unsigned char *)end - (bytes + *at));
    *at += *length + 1;
    return 1;
}

static int line_is(const char *line, size_t length, const char *text)
{
    return length == strlen(text) && memcmp(line, text, length) == 0;
}

static int parse_count(const char *line, size_t length, uint32_t *count)
{
    uint32_t n = 0;
    if (length == 0)
        return 0;
    for (size_t i = 0; i < length; i++) {
        uint32_t d = (uint32_t)(line[i] - '0');
        if (line[i] < '0' || line[i] > '9' || n > (UINT32_MAX - d) / 10)
            return 0;
        n = n * 10 + d;
    }
    *count = n;
    return 1;
}

static int valid_uid(const char *line, size_t length)
{
    if (length == 0 || length > POP3_UID_MAX)
        return 0;
    for (size_t i = 0; i < length; i++) {
        if (line[i] < 0x21 || line[i] > 0x7E)
            return 0;
    }
    return 1;
}

static int decode_uids(const unsigned char *bytes, size_t size, size_t at, SeenList *uids)
{
    const char *line;
    size_t length;
    for (size_t n = 0; n <= POP3_MULTILINE_MAX_LINES; n++) {
        if (!next_line(bytes, size, &at, &line, &length))
            return 0;
        if (line_is(line, length, "."))
            return at == size && seen_list_finish(uids);
        if (!valid_uid(line, length) || !seen_list_add(uids, line, length))
            return 0;
    }
    return 0;
}

// A line of the head that holds a uid, or nothing.
static int decode_uid_line(const unsigned char *bytes, size_t size, size_t *at, char *uid)
{
    const char *line;
    size_t length;
    if (!next_line(bytes, size, at, &line, &length) || (length && !valid_uid(line, length)))
        return 0;
    memcpy(uid, line, length);
    uid[length] = '\0';
    return 1;
}

static int file_version(const char *line, size_t length)
{
    static const char *const magic[] = {SEEN_FILE_MAGIC_1, SEEN_FILE_MAGIC_2, SEEN_FILE_MAGIC};
    for (int i = 0; i < 3; i++) {
        if (line_is(line, length, magic[i]))
            return i + 1;
    }
    return 0;
}

int decode_seen_file(const unsigned char *bytes, size_t size, const char *server, const char *user,
                     SeenMark *mark, SeenList *uids)
{
    const char *line;
    size_t length;
    size_t at = 0;
    int outcome = SEEN_FILE_DAMAGED;
    if (uids)
        seen_list_free(uids);
    memset(mark, 0, sizeof *mark);
    if (!next_line(bytes, size, &at, &line, &length))
        return SEEN_FILE_DAMAGED;
    int version = file_version(line, length);
    if (!version)
        return SEEN_FILE_DAMAGED;
    const char *account[2] = {server, user};
    for (int i = 0; i < 2; i++) {
        if (!next_line(bytes, size, &at, &line, &length))
            return SEEN_FILE_DAMAGED;
        if (!line_is(line, length, account[i]))
            outcome = SEEN_FILE_OTHER_ACCOUNT;
    }
    if (!next_line(bytes, size, &at, &line, &length) || !parse_count(line, length, &mark->count)
        || (version >= 2 && !decode_uid_line(bytes, size, &at, mark->uid))
        || (version >= 3 && !decode_uid_line(bytes, size, &at, mark->first)))
        outcome = SEEN_FILE_DAMAGED;
    else if (outcome != SEEN_FILE_OTHER_ACCOUNT && (!uids || decode_uids(bytes, size, at, uids)))
        return SEEN_FILE_READ;
    if (uids)
        seen_list_free(uids);
    memset(mark, 0, sizeof *mark);
    return outcome;
}

size_t seen_file_size(const char *server, const char *user, const SeenList *uids)
{
    size_t size = sizeof SEEN_FILE_MAGIC + strlen(server) + 1 + strlen(user) + 1 + 11 + 2 * (POP3_UID_MAX + 1) + 2;
    for (size_t i = 0; i < uids->count; i++)
        size += strlen(uids->sorted[i]) + 1;
    return size;
}

static int put_line(unsigned char *out, size_t outSize, size_t *at, const char *text, size_t length)
{
    if (memchr(text, '\n', length) || memchr(text, '\r', length) || outSize - *at < length + 1)
        return 0;
    memcpy(out + *at, text, length);
    out[*at + length] = '\n';
    *at += length + 1;
    return 1;
}

static int put_text(unsigned char *out, size_t outSize, size_t *at, const char *text)
{
    return put_line(out, outSize, at, text, strlen(text));
}

static size_t put_decimal(uint32_t value, char *digits)
{
    char reversed[10]; // UINT32_MAX has ten
    size_t n = 0;
    do {
        reversed[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    for (size_t i = 0; i < n; i++)
        digits[i] = reversed[n - 1 - i];
    return n;
}

int encode_seen_file(const char *server, const char *user, const SeenMark *mark, const SeenList *uids,
                     unsigned char *out, size_t outSize, size_t *size)
{
    char digits[10];
    size_t n = put_decimal(mark->count, digits);
    size_t at = 0;
    if (!put_text(out, outSize, &at, SEEN_FILE_MAGIC) || !put_text(out, outSize, &at, server)
        || !put_text(out, outSize, &at, user) || !put_line(out, outSize, &at, digits, n)
        || !put_text(out, outSize, &at, mark->uid) || !put_text(out, outSize, &at, mark->first))
        return 0;
    for (size_t i = 0; i < uids->count; i++) {
        if (!put_text(out, outSize, &at, uids->sorted[i]))
            return 0;
    }
    if (!put_text(out, outSize, &at, "."))
        return 0;
    *size = at;
    return 1;
}

static const char SERVER_FILE_MAGIC[] = "Sorvane server 1";

int decode_server_file(const unsigned char *bytes, size_t size, const char *server, const char *user,
                       ServerNotes *notes)
{
    const char *line;
    size_t length, at = 0;
    uint32_t flags = 0, delay = 0;
    const char *texts[3] = {SERVER_FILE_MAGIC, server, user};
    for (int i = 0; i < 3; i++) {
        if (!next_line(bytes, size, &at, &line, &length) || !line_is(line, length, texts[i]))
            return 0;
    }
    if (!next_line(bytes, size, &at, &line, &length) || !parse_count(line, length, &flags)
        || flags > (POP3_CAPABILITY_PIPELINING | POP3_CAPABILITY_UTF8)
        || !next_line(bytes, size, &at, &line, &length) || !parse_count(line, length, &delay)
        || !next_line(bytes, size, &at, &line, &length) || !line_is(line, length, ".") || at != size)
        return 0;
    notes->flags = (int)flags;
    notes->loginDelay = delay;
    return 1;
}

int encode_server_file(const char *server, const char *user, const ServerNotes *notes, unsigned char *out,
                       size_t *size)
{
    char flags[10], delay[10];
    size_t f = put_decimal((uint32_t)notes->flags, flags), d = put_decimal(notes->loginDelay, delay), at = 0;
    if (!put_text(out, SERVER_FILE_MAX_SIZE, &at, SERVER_FILE_MAGIC) || !put_text(out, SERVER_FILE_MAX_SIZE, &at, server)
        || !put_text(out, SERVER_FILE_MAX_SIZE, &at, user) || !put_line(out, SERVER_FILE_MAX_SIZE, &at, flags, f)
        || !put_line(out, SERVER_FILE_MAX_SIZE, &at, delay, d) || !put_text(out, SERVER_FILE_MAX_SIZE, &at, "."))
        return 0;
    *size = at;
    return 1;
}
