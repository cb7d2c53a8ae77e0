// What the TLS side decides, apart from the platform: the handshake loop,
// what each record from the server means, and which protocol will do. The
// platform's security functions are reached through TlsCalls: the real
// ones are in tls_connection.cpp, the native tests give scripted ones. No
// platform types, so this builds and is tested on any compiler.
#ifndef SORVANE_TLS_STREAM_H
#define SORVANE_TLS_STREAM_H

#include <stddef.h>
#include <stdint.h>

// The platform's own numbers (SECURITY_STATUS, WinSock errors, protocol
// bits): fixed by the system, checked against its headers in
// tls_connection.cpp.
enum : uint32_t {
    TLS_STATUS_OK = 0,
    TLS_STATUS_CONTINUE_NEEDED = 0x00090312,
    TLS_STATUS_CONTEXT_EXPIRED = 0x00090317,
    TLS_STATUS_INCOMPLETE_CREDENTIALS = 0x00090320,
    TLS_STATUS_RENEGOTIATE = 0x00090321,
    TLS_STATUS_UNSUPPORTED_FUNCTION = 0x80090302,
    TLS_STATUS_INCOMPLETE_MESSAGE = 0x80090318,
    TLS_STATUS_ILLEGAL_MESSAGE = 0x80090326,
    TLS_SOCKET_RESET = 10054,    // WSAECONNRESET
    TLS_SOCKET_TIMED_OUT = 10060, // WSAETIMEDOUT
    TLS_PROTOCOL_12 = 0x00000800, // SP_PROT_TLS1_2_CLIENT
    TLS_PROTOCOL_13 = 0x00002000  // SP_PROT_TLS1_3_CLIENT
};

enum {
    // One whole record as it comes from the wire: a 5-byte header and at
    // most 2^14 + 2048 bytes, TLS 1.2's bound on a protected record.
    TLS_RECORD_MAX = 5 + 16384 + 2048,
    // Received bytes not yet taken: the server's first flight may run over
    // several records, and the platform may want a handshake message (a
    // long certificate chain) whole before it takes any of it.
    TLS_RECEIVE_CAPACITY = 2 * TLS_RECORD_MAX
};

// Times are milliseconds of a clock that wraps (the system's tick count);
// a deadline has passed when (int32_t)(deadline - now) <= 0.
struct TlsCalls {
    void *self;
    // One InitializeSecurityContext over `input` (NULL on the first call);
    // a token it makes is sent to the server before it returns. `extra`:
    // how many bytes at the end of the input it did not take. With
    // `suppliedOnly` it looks for no client certificate.
    uint32_t (*initialize)(void *self, char *input, size_t length, int suppliedOnly, size_t *extra);
    // One DecryptMessage of a whole record, in place: where its data lies,
    // and how many bytes at the end it left for the handshake.
    uint32_t (*decrypt)(void *self, char *record, size_t length, const char **data, size_t *dataLength,
                        size_t *extra);
    // The protocol agreed on (the connection information's dwProtocol),
    // 0 when it cannot be read.
    uint32_t (*protocol)(void *self);
    // Up to `capacity` bytes from the socket before the deadline: the count,
    // or 0 with `error` set (the stream ended or failed, the deadline passed).
    int (*read)(void *self, char *space, size_t capacity, uint32_t deadline, uint32_t *error);
    uint32_t (*now)(void *self);
};

struct TlsStream {
    const TlsCalls *calls;
    int version;      // 12 or 13 once the handshake is over
    uint32_t error;   // why the last step failed: a SECURITY_STATUS or a WinSock error
    int suppliedOnly; // the server asked for a client certificate: none is offered
    const char *plain; // decrypted bytes not yet handed out (inside records)
    size_t plainLength;
    size_t used;       // bytes at the front of records that are dealt with
    size_t received;   // bytes in records
    char records[TLS_RECEIVE_CAPACITY];
};

void tls_stream_begin(TlsStream *t, const TlsCalls *calls);

// The whole handshake before the deadline, then the protocol agreed on:
// TLS 1.2 or 1.3, nothing else. 1, or 0 with `error` set. What the server
// sent after its last handshake message stays for tls_stream_receive.
int tls_stream_handshake(TlsStream *t, uint32_t deadline);

// Up to `capacity` bytes of the stream before the deadline: the count, or 0
// with `error` set (the stream ended, failed, or the deadline passed).
int tls_stream_receive(TlsStream *t, char *space, size_t capacity, uint32_t deadline);

#endif
