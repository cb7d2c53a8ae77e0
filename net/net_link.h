// What the POP3 dialogue needs of the network, as a table of functions:
// the real connection (net_session.cpp) or, in the native tests, a
// scripted one. No platform types, so the dialogue above it builds and is
// tested on any compiler.
#ifndef SORVANE_NET_LINK_H
#define SORVANE_NET_LINK_H

#include <stddef.h>
#include <stdint.h>
#include "server_address.h"

enum NetConnectOutcome {
    NET_CONNECTED,
    NET_NO_SOCKET, // no address gave a socket
    NET_REFUSED    // no address connected within the limit
};

// Why TLS could not be started.
enum TlsOutcome {
    TLS_UP,
    TLS_HANDSHAKE_FAILED,
    TLS_UNTRUSTED_ISSUER,
    TLS_NAME_MISMATCH,
    TLS_EXPIRED,
    TLS_REVOKED,
    TLS_CERTIFICATE_FAILED,
    TLS_OUTCOME_COUNT
};

// Times are milliseconds of a clock that wraps (the system's tick count);
// a deadline has passed when (int32_t)(deadline - now) <= 0.
struct NetLink {
    void *self;
    // Starts the socket layer: 1, or 0.
    int (*start)(void *self);
    // Looks the host of `server` up: 1 when it gave at least one address.
    int (*look_up)(void *self, const ServerAddress *server);
    // Connects to one of the addresses within limitMs: a NetConnectOutcome.
    int (*open)(void *self, uint32_t limitMs);
    // The TLS handshake and the certificate check for `host` within
    // limitMs: a TlsOutcome. With TLS_UP every later byte goes inside TLS.
    int (*start_tls)(void *self, const char *host, uint32_t limitMs);
    // 12 or 13 once TLS is up, else 0.
    int (*tls_version)(void *self);
    // Sends all of the bytes: 1, or 0.
    int (*send)(void *self, const char *bytes, size_t length);
    // Up to `capacity` bytes before the deadline: the count, or 0 when the
    // stream ended, failed or the deadline passed.
    int (*receive)(void *self, char *space, size_t capacity, uint32_t deadline);
    // Whether the server has sent bytes that nobody has asked for yet.
    int (*has_unread)(void *self);
    uint32_t (*now)(void *self);
    // The system's code of the last failure (a WinSock error or a
    // SECURITY_STATUS), 0 when there is none to tell.
    uint32_t (*last_error)(void *self);
};

#endif
