// The check's connection to the server: TCP, and once started, TLS through
// the platform's Secure Channel on top of it. The POP3 dialogue sends and
// receives through it without knowing which; only the step that starts TLS
// knows about the switch.
#ifndef SORVANE_CONNECTION_H
#define SORVANE_CONNECTION_H

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <security.h>
#include <stddef.h>
#include "net_link.h"
#include "tls_stream.h"

struct Connection;

// The plain and the TLS way of moving bytes.
struct ConnectionOps {
    int (*send)(Connection *c, const char *bytes, int length);
    int (*receive)(Connection *c, char *space, size_t capacity, DWORD deadline);
};

struct Connection {
    SOCKET s;
    const ConnectionOps *ops;
    int tlsVersion; // 12 or 13 once TLS is up, 0 for another or no TLS
    DWORD lastError; // the last WinSock error or SECURITY_STATUS, 0 for none

    // TLS only.
    PSecurityFunctionTableA sspi;
    CredHandle credentials;
    CtxtHandle context;
    int hasCredentials, hasContext;
    SecPkgContext_StreamSizes sizes;
    const char *host; // for the handshake's calls
    TlsCalls calls;   // the security functions, for the stream
    TlsStream tls;
};

// Deadlines are GetTickCount() values; a wait ends when one has passed.
DWORD deadline_after(DWORD ms);

// Shared by the plain and the TLS way: the socket has bytes (or its end)
// to read before the deadline; all of the bytes were sent.
int socket_readable(SOCKET s, DWORD deadline);
int socket_send(SOCKET s, const char *bytes, int length);

// Keeps the reason of a failure for the user's message: 0.
int connection_failed(Connection *c, DWORD error);

// An empty connection, as connection_close leaves it.
void connection_reset(Connection *c);

// Tries each address in turn until one connects; the whole attempt, every
// address together, takes at most limitMs. A NetConnectOutcome.
int connection_open(Connection *c, const ADDRINFOA *addresses, DWORD limitMs);

// Sends all of the bytes: 1, or 0 on failure.
int connection_send(Connection *c, const char *bytes, int length);

// Up to `capacity` bytes of the stream into space, waiting at most until
// the deadline: the count, or 0 when the stream ended, failed or the
// deadline passed.
int connection_receive(Connection *c, char *space, size_t capacity, DWORD deadline);

// Whether the server has already sent bytes that nobody has asked for.
int connection_has_unread(Connection *c);

// The TLS handshake on the open connection with SNI `host`, then the check
// of the server's certificate for `host`, all within limitMs: a
// TlsOutcome. With TLS_UP,
// every later send and receive is inside TLS; with anything else nothing
// more may be sent.
int connection_start_tls(Connection *c, const char *host, DWORD limitMs);

// Ends TLS (telling the server so, without waiting for its answer) and
// closes the socket; harmless on an empty connection.
void connection_close(Connection *c);

#endif
