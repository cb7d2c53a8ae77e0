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

// The letters of a zone (RFC 6874's unreserved characters): an interface
// number on Windows, a name such as "eth0.100" elsewhere.
static int is_zone_char(char c)
{
    return is_alnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// Where the zone after the "%" at `percent` begins. A literal copied from a
// URL writes "%" as "%25" (RFC 6874); "%25" with nothing after it is the
// plain form's zone 25, which Windows gives interfaces too.
static const char *zone_start(const char *percent, const char *end)
{
    if (end - percent > 3 && percent[1] == '2' && percent[2] == '5')
        return percent + 3;
    return percent + 1;
}

// Hex digits, colons and dots with at least one colon, then optionally a
// zone. Anything else in brackets would only fail later at the look-up, so
// it is refused here. `*percent` is where the zone's "%" stands (`end`
// without one), `*zone` where the zone itself begins.
static int ipv6_literal(const char *p, const char *end, const char **percent, const char **zone)
{
    int colons = 0;
    for (; p < end && *p != '%'; p++) {
        if (!is_hex_digit(*p) && *p != ':' && *p != '.')
            return 0;
        colons += *p == ':';
    }
    *percent = *zone = p;
    if (p == end)
        return colons > 0;
    *zone = zone_start(p, end);
    if (*zone == end)
        return 0; // "%" without a zone
    for (p = *zone; p < end; p++)
        if (!is_zone_char(*p))
            return 0;
    return colons > 0;
}

// A name or a dotted address: no slash (a pasted address with a path) and
// no blank or control byte. Bytes from 0x80 up are left to the look-up.
// One dot at the end marks a fully-qualified name: it is dropped (`*end`
// moves before it), since a TLS server's name is sent and checked without
// it, and the look-up finds the same host either way.
static int plain_host(const char *p, const char **end)
{
    for (const char *q = p; q < *end; q++)
        if (*q == '/' || (unsigned char)*q <= ' ' || *q == 0x7F)
            return 0;
    if (*end > p && (*end)[-1] == '.')
        --*end;
    return *end > p && (*end)[-1] != '.';
}

// The host as the look-up takes it: the name or address, and a zone after
// a plain "%". 0 when it is empty or too long.
static int put_host(ServerAddress *out, const char *name, size_t nameLength, const char *zone, size_t zoneLength)
{
    size_t length = nameLength + (zoneLength ? 1 + zoneLength : 0);
    if (nameLength == 0 || length >= sizeof out->host)
        return 0;
    memcpy(out->host, name, nameLength);
    if (zoneLength) {
        out->host[nameLength] = '%';
        memcpy(out->host + nameLength + 1, zone, zoneLength);
    }
    out->host[length] = '\0';
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

// The host at `host` (after any scheme) into `out`; `*rest` is the text
// after it.
static int take_host(const char *host, ServerAddress *out, const char **rest)
{
    const char *end, *percent, *zone;
    if (*host == '[') {
        end = strchr(++host, ']');
        if (!end || !ipv6_literal(host, end, &percent, &zone))
            return 0;
        *rest = end + 1;
        out->numeric = 1;
        return put_host(out, host, (size_t)(percent - host), zone, (size_t)(end - zone));
    }
    end = *rest = host + strcspn(host, ":");
    return plain_host(host, &end) && put_host(out, host, (size_t)(end - host), end, 0);
}

int parse_server_address(const char *text, ServerAddress *out)
{
    memset(out, 0, sizeof *out);
    out->security = SERVER_PLAIN;
    out->port = POP3_PLAIN_PORT;
    const char *host = take_scheme(text, out);
    const char *rest;
    if (!host || !take_host(host, out, &rest))
        return 0;
    if (*rest == ':') {
        if (!take_port(rest + 1, &out->port))
            return 0;
        // 995 is POP3 over TLS everywhere: a port copied from a provider's
        // settings means TLS even without the scheme.
        if (host == text && out->port == POP3_TLS_PORT)
            out->security = SERVER_TLS;
    } else if (*rest) {
        return 0;
    }
    return 1;
}
