#include "server_address.h"
#include <string.h>

struct Scheme {
    const char *name; // lower case
    int security;
    unsigned short port;
};

static const Scheme SCHEMES[] = {
    {"pop3s", SERVER_TLS, POP3_TLS_PORT},
    {"starttls", SERVER_STARTTLS, POP3_PLAIN_PORT},
};

static int lower(char c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

static int is_digit(char c)
{
    return c >= '0' && c <= '9';
}

static int is_hex_digit(char c)
{
    return is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'f');
}

static int is_alnum(char c)
{
    return is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'z');
}

static int same_name(const char *text, size_t length, const char *name)
{
    if (strlen(name) != length)
        return 0;
    for (size_t i = 0; i < length; i++)
        if (lower(text[i]) != name[i])
            return 0;
    return 1;
}

// The text after "scheme://", or the whole text when it names no scheme;
// NULL for a scheme that is not known.
static const char *take_scheme(const char *text, ServerAddress *out)
{
    const char *mark = strstr(text, "://");
    if (!mark)
        return text;
    for (const Scheme &s : SCHEMES)
        if (same_name(text, (size_t)(mark - text), s.name)) {
            out->security = s.security;
            out->port = s.port;
            return mark + 3;
        }
    return NULL;
}

// Hex digits, colons and dots with at least one colon, then optionally a
// zone ("%" and letters or digits). Anything else in brackets would only
// fail later at the look-up, so it is refused here.
static int ipv6_literal(const char *p, const char *end)
{
    int colons = 0;
    for (; p < end && *p != '%'; p++) {
        if (!is_hex_digit(*p) && *p != ':' && *p != '.')
            return 0;
        colons += *p == ':';
    }
    if (p < end && ++p == end)
        return 0; // "%" without a zone
    for (; p < end; p++)
        if (!is_alnum(*p))
            return 0;
    return colons > 0;
}

// A name or a dotted address: no slash (a pasted address with a path) and
// no blank or control byte. Bytes from 0x80 up are left to the look-up.
static int plain_host(const char *p, const char *end)
{
    for (; p < end; p++)
        if (*p == '/' || (unsigned char)*p <= ' ' || *p == 0x7F)
            return 0;
    return 1;
}

// Digits to the end of the text, 1 to 65535.
static int take_port(const char *p, unsigned short *port)
{
    unsigned long value = 0;
    if (!*p)
        return 0;
    for (; *p; p++) {
        if (!is_digit(*p))
            return 0;
        value = value * 10 + (unsigned long)(*p - '0');
        if (value > 65535)
            return 0;
    }
    if (value == 0)
        return 0;
    *port = (unsigned short)value;
    return 1;
}

int parse_server_address(const char *text, ServerAddress *out)
{
    memset(out, 0, sizeof *out);
    out->security = SERVER_PLAIN;
    out->port = POP3_PLAIN_PORT;
    const char *host = take_scheme(text, out);
    if (!host)
        return 0;
    int schemeGiven = host != text;
    const char *end, *rest;
    if (*host == '[') {
        end = strchr(++host, ']');
        if (!end || !ipv6_literal(host, end))
            return 0;
        rest = end + 1;
        out->numeric = 1;
    } else {
        end = host + strcspn(host, ":");
        if (!plain_host(host, end))
            return 0;
        rest = end;
    }
    size_t length = (size_t)(end - host);
    if (length == 0 || length >= sizeof out->host)
        return 0;
    if (*rest == ':') {
        if (!take_port(rest + 1, &out->port))
            return 0;
        // 995 is POP3 over TLS everywhere: a port copied from a provider's
        // settings means TLS even without the scheme.
        if (!schemeGiven && out->port == POP3_TLS_PORT)
            out->security = SERVER_TLS;
    } else if (*rest) {
        return 0;
    }
    memcpy(out->host, host, length);
    out->host[length] = '\0';
    return 1;
}
