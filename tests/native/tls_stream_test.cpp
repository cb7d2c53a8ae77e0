// The TLS stream's decisions against scripted security functions: what the
// platform may answer that Wine never does (a server that asks for a client
// certificate, a renegotiation, an odd protocol), and bytes held back while
// the deadline passes.
#include <gtest/gtest.h>
#include "net/tls_stream.h"
#include <string>
#include <vector>

namespace {

const uint32_t FAILURE = 0x80090330; // SEC_E_DECRYPT_FAILURE, as any failing call
const uint32_t RUNAWAY = 0xDEADBEEF;          // the script ran out: the loop did not stop
const uint32_t DEADLINE = 5000;

struct Answer {
    uint32_t status;
    size_t extra; // bytes at the end of the input left untaken
};

std::string record(const std::string &payload, unsigned char type = 23)
{
    std::string r = {(char)type, 3, 3, (char)(payload.size() >> 8), (char)payload.size()};
    return r + payload;
}

// Each call takes the next answer of its script. A record "decrypts" to
// its payload.
struct Fake {
    std::vector<std::string> wire; // one piece per read; then the stream ends
    std::vector<Answer> initialize, decrypt;
    uint32_t protocol = TLS_PROTOCOL_12;
    uint32_t clock = 0, tick = 0; // now() moves on by tick
    size_t reads = 0, initCalls = 0, decryptCalls = 0;
    std::vector<std::string> inputs; // of initialize: "-" for none, "+" before one told to look for no certificate
};

Fake &fake(void *self)
{
    return *(Fake *)self;
}

Answer next(std::vector<Answer> &script, size_t &calls)
{
    return calls < script.size() ? script[calls++] : Answer{RUNAWAY, 0};
}

uint32_t initialize(void *self, char *input, size_t length, int suppliedOnly, size_t *extra)
{
    Fake &f = fake(self);
    f.inputs.push_back((suppliedOnly ? "+" : "") + (input ? std::string(input, length) : "-"));
    Answer a = next(f.initialize, f.initCalls);
    *extra = a.extra;
    return a.status;
}

uint32_t decrypt(void *self, char *record, size_t length, const char **data, size_t *dataLength, size_t *extra)
{
    Answer a = next(fake(self).decrypt, fake(self).decryptCalls);
    *data = record + 5;
    *dataLength = length - 5;
    *extra = a.extra;
    return a.status;
}

uint32_t protocol(void *self)
{
    return fake(self).protocol;
}

int read_wire(void *self, char *space, size_t capacity, uint32_t, uint32_t *error)
{
    Fake &f = fake(self);
    if (f.reads == f.wire.size()) {
        *error = TLS_SOCKET_RESET;
        return 0;
    }
    const std::string &piece = f.wire[f.reads++];
    EXPECT_LE(piece.size(), capacity);
    piece.copy(space, capacity);
    return (int)piece.size();
}

uint32_t now(void *self)
{
    Fake &f = fake(self);
    uint32_t t = f.clock;
    f.clock += f.tick;
    return t;
}

struct Stream {
    explicit Stream(Fake &f) : calls{&f, initialize, decrypt, protocol, read_wire, now}
    {
        tls_stream_begin(&tls, &calls);
    }
    TlsCalls calls;
    TlsStream tls;
};

const Answer CONTINUE = {TLS_STATUS_CONTINUE_NEEDED, 0};
const Answer OK = {TLS_STATUS_OK, 0};
const Answer CLIENT_CERTIFICATE = {TLS_STATUS_INCOMPLETE_CREDENTIALS, 0};

struct HandshakeCase {
    const char *name;
    std::vector<std::string> wire;
    std::vector<Answer> answers;
    uint32_t protocol;
    uint32_t error; // 0: the handshake succeeds
    int version;
    std::vector<std::string> inputs = {}; // of each call, where it matters
};

TEST(TlsStream, HandshakeEndsInItsOutcome)
{
    const std::string flight = record("server hello", 22), done = record("done", 22);
    const uint32_t UNSUPPORTED = TLS_STATUS_UNSUPPORTED_FUNCTION;
    const HandshakeCase cases[] = {
        {"TLS 1.2", {flight}, {CONTINUE, OK}, TLS_PROTOCOL_12, 0, 12},
        {"TLS 1.3", {flight}, {CONTINUE, OK}, TLS_PROTOCOL_13, 0, 13},
        // The same input again, the system told not to look for a certificate.
        {"a client certificate asked for", {flight}, {CONTINUE, CLIENT_CERTIFICATE, OK}, TLS_PROTOCOL_12, 0, 12,
         {"-", flight, "+" + flight}},
        {"asked for again", {flight}, {CONTINUE, CLIENT_CERTIFICATE, CLIENT_CERTIFICATE}, TLS_PROTOCOL_12,
         TLS_STATUS_INCOMPLETE_CREDENTIALS, 0},
        {"bytes left over go in again, without a read", {flight + done},
         {CONTINUE, {TLS_STATUS_CONTINUE_NEEDED, done.size()}, OK}, TLS_PROTOCOL_12, 0, 12, {"-", flight + done, done}},
        {"no protocol", {flight}, {CONTINUE, OK}, 0, UNSUPPORTED, 0},
        {"SSL 3", {flight}, {CONTINUE, OK}, 0x20, UNSUPPORTED, 0},
        {"TLS 1.0", {flight}, {CONTINUE, OK}, 0x80, UNSUPPORTED, 0},
        {"TLS 1.1", {flight}, {CONTINUE, OK}, 0x200, UNSUPPORTED, 0},
        {"TLS 1.2 and 1.3 at once", {flight}, {CONTINUE, OK}, TLS_PROTOCOL_12 | TLS_PROTOCOL_13, UNSUPPORTED, 0},
        {"a protocol not known", {flight}, {CONTINUE, OK}, 0x8000, UNSUPPORTED, 0},
        {"plain text instead of records", {"+OK ready\r\n"}, {CONTINUE}, TLS_PROTOCOL_12, TLS_STATUS_ILLEGAL_MESSAGE, 0},
        {"the server closes", {}, {CONTINUE}, TLS_PROTOCOL_12, TLS_SOCKET_RESET, 0},
        {"a failing call", {flight}, {CONTINUE, {FAILURE, 0}}, TLS_PROTOCOL_12, FAILURE, 0},
    };
    for (const HandshakeCase &c : cases) {
        SCOPED_TRACE(c.name);
        Fake f;
        f.wire = c.wire;
        f.initialize = c.answers;
        f.protocol = c.protocol;
        Stream s(f);
        EXPECT_EQ(tls_stream_handshake(&s.tls, DEADLINE), c.error == 0);
        EXPECT_EQ(s.tls.error, c.error);
        EXPECT_EQ(s.tls.version, c.version);
        EXPECT_EQ(f.initCalls, c.answers.size()); // every answer taken, no call more
        EXPECT_LE(f.reads, 1u);
        if (!c.inputs.empty())
            EXPECT_EQ(f.inputs, c.inputs);
    }
}

// Bytes held back and handed in again and again, never a read: the
// deadline ends it all the same.
TEST(TlsStream, HeldBytesDoNotOutliveTheDeadline)
{
    const std::string flight = record("server hello", 22);
    Fake f;
    f.wire = {flight};
    f.initialize = {CONTINUE};
    for (int i = 0; i < 100; i++)
        f.initialize.push_back({TLS_STATUS_CONTINUE_NEEDED, flight.size()});
    f.tick = 1000;
    Stream s(f);
    EXPECT_FALSE(tls_stream_handshake(&s.tls, DEADLINE));
    EXPECT_EQ(s.tls.error, TLS_SOCKET_TIMED_OUT);
    EXPECT_LE(f.initCalls, 7u);
    EXPECT_EQ(f.reads, 1u);
}

struct RecordCase {
    const char *name;
    int version;
    std::vector<std::string> wire; // after the handshake's flight
    std::vector<Answer> decrypt;
    std::vector<Answer> initialize; // after the handshake
    const char *text;               // what the first receive gives; NULL: nothing
    uint32_t error;
};

TEST(TlsStream, EachRecordIsDecidedOn)
{
    const std::string ticket = record("new session ticket"), reply = record("+OK ready\r\n");
    const RecordCase cases[] = {
        {"data", 12, {reply}, {OK}, {}, "+OK ready\r\n", 0},
        {"an empty record, then data", 12, {record(""), reply}, {OK, OK}, {}, "+OK ready\r\n", 0},
        {"renegotiation on TLS 1.2", 12, {ticket, reply}, {{TLS_STATUS_RENEGOTIATE, ticket.size()}}, {}, NULL,
         TLS_STATUS_RENEGOTIATE},
        {"a session ticket on TLS 1.3", 13, {ticket, reply}, {{TLS_STATUS_RENEGOTIATE, ticket.size()}, OK}, {OK},
         "+OK ready\r\n", 0},
        {"a ticket whose handshake fails", 13, {ticket}, {{TLS_STATUS_RENEGOTIATE, ticket.size()}},
         {{FAILURE, 0}}, NULL, FAILURE},
        {"the server's close notice", 12, {reply}, {{TLS_STATUS_CONTEXT_EXPIRED, 0}}, {}, NULL,
         TLS_STATUS_CONTEXT_EXPIRED},
        {"a damaged record", 12, {reply}, {{FAILURE, 0}}, {}, NULL, FAILURE},
        {"no record at all", 12, {"-ERR\r\n"}, {}, {}, NULL, TLS_STATUS_ILLEGAL_MESSAGE},
        {"the stream ends in a record", 12, {reply.substr(0, 7)}, {}, {}, NULL, TLS_SOCKET_RESET},
    };
    for (const RecordCase &c : cases) {
        SCOPED_TRACE(c.name);
        Fake f;
        f.wire = {record("server hello", 22)};
        f.wire.insert(f.wire.end(), c.wire.begin(), c.wire.end());
        f.initialize = {CONTINUE, OK};
        f.initialize.insert(f.initialize.end(), c.initialize.begin(), c.initialize.end());
        f.decrypt = c.decrypt;
        f.protocol = c.version == 13 ? TLS_PROTOCOL_13 : TLS_PROTOCOL_12;
        Stream s(f);
        ASSERT_TRUE(tls_stream_handshake(&s.tls, DEADLINE));
        char space[64];
        int n = tls_stream_receive(&s.tls, space, sizeof space, DEADLINE);
        EXPECT_EQ(std::string(space, n > 0 ? n : 0), c.text ? c.text : "");
        EXPECT_EQ(s.tls.error, c.error);
        EXPECT_EQ(f.initCalls, f.initialize.size()); // a refused renegotiation makes no call
        if (c.version == 13 && !c.initialize.empty())
            EXPECT_EQ(f.inputs.back(), ticket);
    }
}

} // namespace
