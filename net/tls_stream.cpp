#include "tls_stream.h"
#include <string.h>

enum { TLS_HEADER = 5 };

void tls_stream_begin(TlsStream *t, const TlsCalls *calls)
{
    t->calls = calls;
    t->version = 0;
    t->error = 0;
    t->suppliedOnly = 0;
    t->plain = NULL;
    t->plainLength = t->used = t->received = 0;
}

static int failed(TlsStream *t, uint32_t error)
{
    t->error = error;
    return 0;
}

static int passed(const TlsStream *t, uint32_t deadline)
{
    return (int32_t)(deadline - t->calls->now(t->calls->self)) <= 0;
}

// More bytes into records before the deadline.
static int fill(TlsStream *t, uint32_t deadline)
{
    if (t->received == sizeof t->records)
        return failed(t, TLS_STATUS_INCOMPLETE_MESSAGE);
    int n = t->calls->read(t->calls->self, t->records + t->received, sizeof t->records - t->received, deadline,
                           &t->error);
    if (n <= 0)
        return 0;
    t->received += (size_t)n;
    return 1;
}

// Drops the bytes at the front that are dealt with.
static void drop_used(TlsStream *t)
{
    memmove(t->records, t->records + t->used, t->received - t->used);
    t->received -= t->used;
    t->used = 0;
}

// Whether the bytes at the front can begin a record: a content type from
// change_cipher_spec (20) to application_data (23), and major version 3.
// Plain text where records belong is thus refused at once, instead of
// waiting for a "record" as long as its first bytes happen to say.
static int record_plausible(const TlsStream *t)
{
    const unsigned char *h = (const unsigned char *)t->records;
    return (t->received < 1 || (h[0] >= 20 && h[0] <= 23)) && (t->received < 2 || h[1] == 3);
}

// ---- The handshake

// One call on everything received. What it left at the end stays for the
// next call, which then needs no read first; an incomplete message stays
// whole and waits for more.
static uint32_t step(TlsStream *t, int *needMore)
{
    size_t extra = 0;
    uint32_t status = t->calls->initialize(t->calls->self, t->received ? t->records : NULL, t->received,
                                           t->suppliedOnly, &extra);
    *needMore = 1;
    if (status == TLS_STATUS_INCOMPLETE_MESSAGE || status == TLS_STATUS_INCOMPLETE_CREDENTIALS)
        return status;
    t->used = t->received - (extra < t->received ? extra : t->received);
    drop_used(t);
    *needMore = t->received == 0;
    return status;
}

// A server that asks for a client certificate is answered without one,
// once: the same input again, with the system told not to look for one.
static int go_on_without_certificate(TlsStream *t, int *needMore)
{
    if (t->suppliedOnly)
        return 0;
    t->suppliedOnly = 1;
    *needMore = 0;
    return 1;
}

// Runs the handshake from `status` to its end. The deadline is looked at
// on every pass, also when the input is bytes already held.
static int handshake_from(TlsStream *t, uint32_t deadline, uint32_t status, int needMore)
{
    while (status != TLS_STATUS_OK) {
        int goOn = status == TLS_STATUS_CONTINUE_NEEDED || status == TLS_STATUS_INCOMPLETE_MESSAGE ||
                   (status == TLS_STATUS_INCOMPLETE_CREDENTIALS && go_on_without_certificate(t, &needMore));
        if (!goOn)
            return failed(t, status);
        if (passed(t, deadline))
            return failed(t, TLS_SOCKET_TIMED_OUT);
        if (needMore && !fill(t, deadline))
            return 0;
        if (!record_plausible(t))
            return failed(t, TLS_STATUS_ILLEGAL_MESSAGE);
        status = step(t, &needMore);
    }
    return 1;
}

// Only TLS 1.2 and 1.3: an older protocol, or one the program does not
// know, is refused even if the system agreed to it.
static int check_protocol(TlsStream *t)
{
    uint32_t protocol = t->calls->protocol(t->calls->self);
    t->version = protocol == TLS_PROTOCOL_13 ? 13 : protocol == TLS_PROTOCOL_12 ? 12 : 0;
    return t->version || failed(t, TLS_STATUS_UNSUPPORTED_FUNCTION);
}

int tls_stream_handshake(TlsStream *t, uint32_t deadline)
{
    int needMore;
    uint32_t status = step(t, &needMore);
    return handshake_from(t, deadline, status, needMore) && check_protocol(t);
}

// ---- Records

// The length of the whole record at the front: 0 while more bytes are
// needed, -1 for bytes that are no record.
static long whole_record(const TlsStream *t)
{
    if (!record_plausible(t))
        return -1;
    if (t->received < TLS_HEADER)
        return 0;
    const unsigned char *h = (const unsigned char *)t->records;
    long length = TLS_HEADER + (h[3] << 8 | h[4]);
    if (length > TLS_RECORD_MAX)
        return -1;
    return t->received >= (size_t)length ? length : 0;
}

// The next whole record at the front, read as needed: its length, or 0.
static size_t next_record(TlsStream *t, uint32_t deadline)
{
    long length;
    drop_used(t);
    while ((length = whole_record(t)) == 0)
        if (!fill(t, deadline))
            return 0;
    return length > 0 ? (size_t)length : failed(t, TLS_STATUS_ILLEGAL_MESSAGE);
}

// A new handshake inside the session. On TLS 1.2 it would bring a
// certificate that nobody checks and record sizes that nobody reads:
// refused. TLS 1.3's session tickets (and key updates) come this way on
// Windows and change neither; the handshake takes what the record left.
static int renegotiate(TlsStream *t, uint32_t deadline)
{
    if (t->version != 13)
        return failed(t, TLS_STATUS_RENEGOTIATE);
    drop_used(t);
    return handshake_from(t, deadline, TLS_STATUS_CONTINUE_NEEDED, t->received == 0);
}

// Decrypts the next record. One may carry no data (then there is simply
// nothing to hand out yet); the server's close notice or a damaged record
// end the stream.
static int decrypt_next(TlsStream *t, uint32_t deadline)
{
    size_t length = next_record(t, deadline), dataLength = 0, extra = 0;
    const char *data = NULL;
    if (!length)
        return 0;
    uint32_t status = t->calls->decrypt(t->calls->self, t->records, length, &data, &dataLength, &extra);
    t->used = length - (extra < length ? extra : length);
    if (status == TLS_STATUS_RENEGOTIATE)
        return renegotiate(t, deadline);
    if (status != TLS_STATUS_OK)
        return failed(t, status);
    t->plain = data;
    t->plainLength = dataLength;
    return 1;
}

int tls_stream_receive(TlsStream *t, char *space, size_t capacity, uint32_t deadline)
{
    while (t->plainLength == 0)
        if (!decrypt_next(t, deadline))
            return 0;
    size_t n = t->plainLength < capacity ? t->plainLength : capacity;
    memcpy(space, t->plain, n);
    t->plain += n;
    t->plainLength -= n;
    return (int)n;
}
