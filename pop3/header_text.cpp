#include "header_text.h"
#include <stdlib.h>
#include <string.h>

// ---- Code page 932 out, bounded

// Where decoded text goes. Once a character does not fit, nothing after it
// is taken either: the text is cut there, never shown with a gap.
struct Sink {
    char *out;
    size_t room; // bytes left before the terminator
    size_t length;
};

static void put(Sink *s, const char *bytes, size_t n)
{
    if (n > s->room) {
        s->room = 0;
        return;
    }
    memcpy(s->out + s->length, bytes, n);
    s->length += n;
    s->room -= n;
}

// A byte standing alone. Line ends and tabs are blanks on one display line;
// other controls (NUL among them) and bytes that are no character alone in
// code page 932 show as "?", so nothing after them is lost or misread.
static void put_single(Sink *s, unsigned c)
{
    char b = (char)c;
    if (c == '\t' || c == '\r' || c == '\n')
        b = ' ';
    else if (c < 0x20 || c == 0x7F || (c >= 0x80 && !(c >= 0xA1 && c <= 0xDF)))
        b = '?';
    put(s, &b, 1);
}

static void put_double(Sink *s, unsigned lead, unsigned trail)
{
    char b[2] = {(char)lead, (char)trail};
    put(s, b, 2);
}

static int lead_byte(unsigned c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

static int trail_byte(unsigned c)
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// Shift_JIS and code page 932: a lead byte counts only with a trail byte.
static void put_cp932(Sink *s, const unsigned char *t, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (lead_byte(t[i]) && i + 1 < n && trail_byte(t[i + 1])) {
            put_double(s, t[i], t[i + 1]);
            i++;
        } else {
            put_single(s, t[i]);
        }
    }
}

static void put_ascii(Sink *s, unsigned c)
{
    put_single(s, c < 0x80 ? c : '?');
}

// ---- The Japanese charsets, by arithmetic

static int jis_byte(unsigned c)
{
    return c >= 0x21 && c <= 0x7E;
}

// A JIS X 0208 row and cell to Shift_JIS by arithmetic alone, with no
// table: mailers send the NEC special characters of row 13 (①, Ⅱ, ㈱) and
// the IBM extensions of rows 89 to 92 (髙, 﨑) under the JIS label, and
// code page 932 holds both exactly where the arithmetic puts them.
static void put_jis(Sink *s, unsigned c1, unsigned c2)
{
    unsigned lead = ((c1 + 1) >> 1) + (c1 < 0x5F ? 0x70 : 0xB0);
    unsigned trail = c2 + ((c1 & 1) ? (c2 < 0x60 ? 0x1F : 0x20) : 0x7E);
    put_double(s, lead, trail);
}

enum { JIS_ROMAN, JIS_KANJI, JIS_KANA, JIS_OTHER };

// The ISO-2022-JP escape at `t` (ESC first): its length with *mode set,
// or 0 when this decoder does not know it. JIS X 0212 (JIS_OTHER) is
// known only so that its pairs become "?" instead of wrong kanji.
static size_t jis_escape(const unsigned char *t, size_t n, int *mode)
{
    static const struct {
        char sequence[4];
        int mode;
    } ESCAPES[] = {{"(B", JIS_ROMAN}, {"(J", JIS_ROMAN}, {"$B", JIS_KANJI},
                   {"$@", JIS_KANJI}, {"(I", JIS_KANA},  {"$(D", JIS_OTHER}};
    for (const auto &e : ESCAPES) {
        size_t k = strlen(e.sequence);
        if (n > k && memcmp(t + 1, e.sequence, k) == 0) {
            *mode = e.mode;
            return k + 1;
        }
    }
    return 0;
}

// Text that never switches back to ASCII ends with its own run, so plain
// text after it is never read as kanji.
static void put_iso2022jp(Sink *s, const unsigned char *t, size_t n)
{
    int mode = JIS_ROMAN;
    for (size_t i = 0; i < n; i++) {
        size_t escape = t[i] == 0x1B ? jis_escape(t + i, n - i, &mode) : 0;
        if (escape)
            i += escape - 1;
        else if (mode == JIS_ROMAN || !jis_byte(t[i]))
            put_ascii(s, t[i]);
        else if (mode == JIS_KANA)
            put_single(s, t[i] + 0x80);
        else if (i + 1 < n && jis_byte(t[i + 1])) {
            if (mode == JIS_KANJI)
                put_jis(s, t[i], t[i + 1]);
            else
                put_single(s, '?');
            i++;
        } else
            put_single(s, '?');
    }
}

static int euc_byte(unsigned c)
{
    return c >= 0xA1 && c <= 0xFE;
}

static void put_eucjp(Sink *s, const unsigned char *t, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        unsigned c = t[i], c2 = i + 1 < n ? t[i + 1] : 0;
        if (c < 0x80)
            put_single(s, c);
        else if (c == 0x8E && c2 >= 0xA1 && c2 <= 0xDF)
            put_single(s, t[++i]);
        else if (c == 0x8F && euc_byte(c2) && i + 2 < n && euc_byte(t[i + 2])) {
            put_single(s, '?'); // JIS X 0212: not in code page 932
            i += 2;
        } else if (euc_byte(c) && euc_byte(c2)) {
            put_jis(s, c - 0x80, c2 - 0x80);
            i++;
        } else
            put_single(s, '?');
    }
}

// ---- Through Unicode, with the system's tables

// Other mailers' UTF-8 follows Unicode's JIS tables, which give a few
// characters code points that code page 932 lacks; Windows' table has the
// same characters elsewhere (the wave dash 〜 is U+FF5E there). Without
// this they would show as "?". A no-break space is a space on one line.
static const unsigned short FOLDS[][2] = {
    {0x00A0, 0x0020}, {0x2014, 0x2015}, {0x2016, 0x2225}, {0x2212, 0xFF0D}, {0x301C, 0xFF5E},
};

// A character beyond the 16-bit range (an emoji) is one "?", where
// WideCharToMultiByte would give one for each half; a lone half is one too.
static size_t fold_unicode(unsigned short *w, size_t count)
{
    size_t kept = 0;
    for (size_t i = 0; i < count; i++) {
        unsigned u = w[i];
        if (u >= 0xD800 && u <= 0xDFFF) {
            i += u <= 0xDBFF && i + 1 < count && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF;
            u = '?';
        }
        for (const auto &f : FOLDS)
            u = u == f[0] ? f[1] : u;
        w[kept++] = (unsigned short)u;
    }
    return kept;
}

// ---- Encoded-words

enum { CS_NONE, CS_ISO2022JP, CS_SJIS, CS_EUCJP, CS_ASCII, CS_UTF8, CS_LATIN1 };

static const struct {
    char name[12];
    unsigned char charset;
} CHARSETS[] = {
    {"iso-2022-jp", CS_ISO2022JP}, {"utf-8", CS_UTF8},   {"shift_jis", CS_SJIS},  {"x-sjis", CS_SJIS},
    {"cp932", CS_SJIS},            {"windows-31j", CS_SJIS}, {"euc-jp", CS_EUCJP}, {"us-ascii", CS_ASCII},
    {"iso-8859-1", CS_LATIN1},
};

static int lower(int c)
{
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

static int same_name(const char *t, size_t n, const char *name)
{
    size_t i = 0;
    while (i < n && name[i] && lower((unsigned char)t[i]) == name[i])
        i++;
    return i == n && !name[i];
}

// An RFC 2231 language ("ISO-2022-JP*ja") says nothing about the bytes.
static int charset_of(const char *t, size_t n)
{
    const char *star = (const char *)memchr(t, '*', n);
    if (star)
        n = (size_t)(star - t);
    for (const auto &c : CHARSETS) {
        if (same_name(t, n, c.name))
            return c.charset;
    }
    return CS_NONE;
}

struct Word {
    int charset, q;
    const char *text;
    size_t textLength, length;
};

// The next "?" from `at`, or n when a blank or the end comes first: no
// part of an encoded-word holds either, so a word never ends far away.
static size_t next_question(const char *s, size_t n, size_t at)
{
    while (at < n && s[at] != '?' && s[at] != ' ' && s[at] != '\t')
        at++;
    return at < n && s[at] == '?' ? at : n;
}

// "=?charset?B|Q?text?=" at `s`, of a charset this program knows.
static int parse_word(const char *s, size_t n, Word *w)
{
    if (n < 2 || s[0] != '=' || s[1] != '?')
        return 0;
    size_t c = next_question(s, n, 2);
    if (c + 2 >= n || s[c + 2] != '?' || (lower(s[c + 1]) != 'b' && lower(s[c + 1]) != 'q'))
        return 0;
    size_t end = next_question(s, n, c + 3);
    if (end + 1 >= n || s[end + 1] != '=')
        return 0;
    w->charset = charset_of(s + 2, c - 2);
    w->q = lower(s[c + 1]) == 'q';
    w->text = s + c + 3;
    w->textLength = end - (c + 3);
    w->length = end + 2;
    return w->charset != CS_NONE;
}

static int base64_value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Padding may be missing; a character outside the alphabet makes the word
// no encoded-word at all, so it stays as it stands.
static int decode_base64(const char *t, size_t n, unsigned char *out, size_t *length)
{
    unsigned bits = 0, count = 0;
    size_t i = 0, k = 0;
    for (; i < n && t[i] != '='; i++) {
        int v = base64_value(t[i]);
        if (v < 0)
            return 0;
        bits = ((bits << 6) | (unsigned)v) & 0xFFFF;
        count += 6;
        if (count >= 8) {
            count -= 8;
            out[k++] = (unsigned char)(bits >> count);
        }
    }
    while (i < n && t[i] == '=')
        i++;
    *length = k;
    return i == n;
}

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = (char)lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "_" is a space; an "=" without two hex digits is kept as it is.
static size_t decode_q(const char *t, size_t n, unsigned char *out)
{
    size_t k = 0;
    for (size_t i = 0; i < n; i++) {
        int hi = i + 2 < n ? hex_value(t[i + 1]) : -1, lo = i + 2 < n ? hex_value(t[i + 2]) : -1;
        if (t[i] == '=' && hi >= 0 && lo >= 0) {
            out[k++] = (unsigned char)(hi * 16 + lo);
            i += 2;
        } else {
            out[k++] = (unsigned char)(t[i] == '_' ? ' ' : t[i]);
        }
    }
    return k;
}

static int decode_payload(const Word *w, unsigned char *out, size_t *length)
{
    if (w->q) {
        *length = decode_q(w->text, w->textLength, out);
        return 1;
    }
    return decode_base64(w->text, w->textLength, out, length);
}

// ---- Text of a field

// The work areas are as long as the field (`wide` and `converted` twice
// that), which nothing decoded from it can outgrow.
struct Decoder {
    Sink sink;
    const HeaderCodePages *pages;
    unsigned short *wide;
    char *converted;
    unsigned char *run; // bytes of adjacent encoded-words of one charset
    size_t runLength;
    int runCharset;
};

static void put_unicode(Decoder *d, unsigned codePage, const unsigned char *t, size_t n)
{
    size_t units = n ? d->pages->to_unicode(codePage, (const char *)t, n, d->wide) : 0;
    units = fold_unicode(d->wide, units < n ? units : n);
    size_t bytes = units ? d->pages->to_cp932(d->wide, units, d->converted) : 0;
    put_cp932(&d->sink, (const unsigned char *)d->converted, bytes < 2 * units ? bytes : 2 * units);
}

static void put_charset(Decoder *d, int charset, const unsigned char *t, size_t n)
{
    if (charset == CS_ISO2022JP)
        put_iso2022jp(&d->sink, t, n);
    else if (charset == CS_EUCJP)
        put_eucjp(&d->sink, t, n);
    else if (charset == CS_UTF8 || charset == CS_LATIN1)
        put_unicode(d, charset == CS_UTF8 ? HEADER_CP_UTF8 : HEADER_CP_LATIN1, t, n);
    else if (charset == CS_ASCII) {
        for (size_t i = 0; i < n; i++)
            put_ascii(&d->sink, t[i]);
    } else
        put_cp932(&d->sink, t, n);
}

// The length of the valid UTF-8 sequence at `t`, 0 when there is none.
static size_t utf8_sequence(const unsigned char *t, size_t n)
{
    unsigned c = t[0];
    size_t k = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (k == 0 || k > n)
        return 0;
    for (size_t i = 1; i < k; i++) {
        if ((t[i] & 0xC0) != 0x80)
            return 0;
    }
    int bad = (c == 0xE0 && t[1] < 0xA0) || (c == 0xED && t[1] > 0x9F) || (c == 0xF0 && t[1] < 0x90)
              || (c == 0xF4 && t[1] > 0x8F);
    return bad ? 0 : k;
}

// Unencoded text: UTF-8 when its 8-bit bytes are valid UTF-8, else code
// page 932; 7-bit text with escapes is ISO-2022-JP, as older mailers sent
// it unencoded.
static void put_plain(Decoder *d, const char *text, size_t n)
{
    const unsigned char *t = (const unsigned char *)text;
    int eight = 0, utf8 = 1;
    for (size_t i = 0, k; i < n; i += k ? k : 1) {
        k = utf8_sequence(t + i, n - i);
        eight |= t[i] >= 0x80;
        utf8 &= k != 0;
    }
    int charset = eight ? (utf8 ? CS_UTF8 : CS_SJIS) : memchr(t, 0x1B, n) ? CS_ISO2022JP : CS_ASCII;
    put_charset(d, charset, t, n);
}

static int only_blanks(const char *t, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (t[i] != ' ' && t[i] != '\t')
            return 0;
    }
    return 1;
}

// Takes a decoded word into the run: blanks between it and the run's last
// word are no text, and its bytes join the run's while the charset stays,
// so that a character a mailer split across two words comes out whole.
static void take_word(Decoder *d, const Word *w, size_t length, const char *gap, size_t gapLength)
{
    int adjacent = d->runCharset != CS_NONE && only_blanks(gap, gapLength);
    if (!adjacent || w->charset != d->runCharset) {
        put_charset(d, d->runCharset, d->run, d->runLength);
        memmove(d->run, d->run + d->runLength, length);
        d->runLength = 0;
        if (!adjacent)
            put_plain(d, gap, gapLength);
    }
    d->runLength += length;
    d->runCharset = w->charset;
}

static void decode_text(Decoder *d, const char *t, size_t n)
{
    size_t plain = 0, length;
    Word w;
    for (size_t at = 0; at < n;) {
        if (parse_word(t + at, n - at, &w) && decode_payload(&w, d->run + d->runLength, &length)) {
            take_word(d, &w, length, t + plain, at - plain);
            at += w.length;
            plain = at;
        } else {
            at++;
        }
    }
    put_charset(d, d->runCharset, d->run, d->runLength);
    if (d->runCharset == CS_NONE || !only_blanks(t + plain, n - plain))
        put_plain(d, t + plain, n - plain);
}

// ---- Fields

static size_t line_end(const char *b, size_t n, size_t at)
{
    const char *lf = (const char *)memchr(b + at, '\n', n - at);
    return lf ? (size_t)(lf - b) : n;
}

// Whether the line is the field `name` (lower case), blanks allowed before
// the colon; *value is where its value starts.
static int field_named(const char *line, size_t n, const char *name, size_t *value)
{
    size_t k = strlen(name), at = k;
    if (n <= k || !same_name(line, k, name))
        return 0;
    while (at < n && (line[at] == ' ' || line[at] == '\t'))
        at++;
    *value = at + 1;
    return at < n && line[at] == ':';
}

// The first field `name`, with its continuation lines; the blank line that
// ends the header ends the search.
static int locate_field(const char *b, size_t n, const char *name, size_t *start, size_t *end)
{
    for (size_t at = 0, eol, value; at < n; at = eol + 1) {
        eol = line_end(b, n, at);
        if (eol == at || (eol == at + 1 && b[at] == '\r'))
            return 0;
        if (field_named(b + at, eol - at, name, &value)) {
            while (eol + 1 < n && (b[eol + 1] == ' ' || b[eol + 1] == '\t'))
                eol = line_end(b, n, eol + 1);
            *start = at + value;
            *end = eol;
            return 1;
        }
    }
    return 0;
}

static size_t unfold(const char *b, size_t start, size_t end, char *out)
{
    size_t k = 0;
    for (size_t i = start; i < end; i++) {
        if (b[i] != '\r' && b[i] != '\n')
            out[k++] = b[i];
    }
    return k;
}

static const char *trim(const char *t, size_t *n)
{
    while (*n && (t[*n - 1] == ' ' || t[*n - 1] == '\t'))
        --*n;
    while (*n && (*t == ' ' || *t == '\t')) {
        t++;
        --*n;
    }
    return t;
}

// ---- The sender

struct Mailbox {
    size_t nameLength, addressLength, depth; // depth: of nested comments
    int quoted, inAngle, angle;              // angle: an address in brackets was seen
};

enum { MAILBOX_TEXT, MAILBOX_SYNTAX, MAILBOX_END };

// What byte `c` is to the syntax of a mailbox. A comment's opening is a
// blank, as it separates words; a comma ends the first mailbox.
static int mailbox_step(Mailbox *m, char *c)
{
    if (m->depth) {
        m->depth += (*c == '(') - (size_t)(*c == ')');
        return MAILBOX_SYNTAX;
    }
    if (m->quoted) {
        m->quoted = *c != '"';
        return m->quoted ? MAILBOX_TEXT : MAILBOX_SYNTAX;
    }
    if (*c == ',' && !m->inAngle)
        return MAILBOX_END;
    if (*c == '(') {
        m->depth = 1;
        *c = ' ';
        return MAILBOX_TEXT;
    }
    if (*c == '"')
        m->quoted = 1;
    else if (*c == '<' && !m->angle)
        m->angle = m->inAngle = 1;
    else if (*c == '>' && m->inAngle)
        m->inAngle = 0;
    else
        return MAILBOX_TEXT;
    return MAILBOX_SYNTAX;
}

// The first mailbox of a From: value: the text outside comments and angle
// brackets, quoted strings unquoted, is written over the value as it is
// read (it is never longer); what stands in brackets goes to `address`.
static void split_mailbox(char *v, size_t n, char *address, Mailbox *m)
{
    memset(m, 0, sizeof *m);
    for (size_t i = 0; i < n; i++) {
        char c = v[i];
        if ((m->quoted || m->depth) && c == '\\' && i + 1 < n) {
            c = v[++i];
            if (m->depth)
                continue;
        } else {
            int step = mailbox_step(m, &c);
            if (step == MAILBOX_END)
                break;
            if (step == MAILBOX_SYNTAX)
                continue;
        }
        if (m->inAngle)
            address[m->addressLength++] = c;
        else
            v[m->nameLength++] = c;
    }
}

// The display name, else the address: in angle brackets, or the whole
// mailbox when it has none ("taro@example.jp (Taro)").
static const char *sender_text(char *v, size_t *n, char *address)
{
    Mailbox m;
    split_mailbox(v, *n, address, &m);
    const char *name = trim(v, &m.nameLength);
    if (m.nameLength || !m.angle) {
        *n = m.nameLength;
        return name;
    }
    *n = m.addressLength;
    return trim(address, n);
}

static int decode_field(const char *block, size_t size, const char *name, int sender,
                        const HeaderCodePages *pages, char *out, size_t capacity)
{
    size_t start, end;
    if (capacity)
        out[0] = '\0';
    if (size > HEADER_BLOCK_MAX)
        size = HEADER_BLOCK_MAX;
    if (!capacity || !locate_field(block, size, name, &start, &end))
        return 0;
    size_t n = end - start;
    char *work = (char *)malloc(7 * n + 1);
    if (!work)
        return 0;
    Decoder d = {{out, capacity - 1, 0}, pages, (unsigned short *)work, work + 2 * n, (unsigned char *)work + 4 * n,
                 0, CS_NONE};
    char *value = work + 5 * n, *address = work + 6 * n;
    size_t length = unfold(block, start, end, value);
    const char *text = sender ? sender_text(value, &length, address) : trim(value, &length);
    decode_text(&d, text, length);
    out[d.sink.length] = '\0';
    free(work);
    return 1;
}

int header_sender(const char *block, size_t size, const HeaderCodePages *pages, char *out, size_t capacity)
{
    return decode_field(block, size, "from", 1, pages, out, capacity);
}

int header_subject(const char *block, size_t size, const HeaderCodePages *pages, char *out, size_t capacity)
{
    return decode_field(block, size, "subject", 0, pages, out, capacity);
}
