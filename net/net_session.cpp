#include "net_session.h"
#include <string.h>

static const WORD WINSOCK_VERSION_REQUESTED = 0x0202;

static NetSession *session(void *self)
{
    return (NetSession *)self;
}

static int start(void *self)
{
    WSADATA data;
    int error = WSAStartup(WINSOCK_VERSION_REQUESTED, &data);
    session(self)->started = error == 0;
    session(self)->lastError = (DWORD)error;
    return error == 0;
}

// Every address of the name, IPv6 and IPv4, for the connect to try in
// turn. A dotted IPv4 address is read as such by the look-up itself.
static int look_up(void *self, const ServerAddress *server)
{
    NetSession *n = session(self);
    char port[8];
    wsprintfA(port, "%u", (unsigned)server->port);
    ADDRINFOA hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_flags = server->numeric ? AI_NUMERICHOST : 0;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    int error = getaddrinfo(server->host, port, &hints, &n->addresses);
    n->lastError = (DWORD)error;
    return error == 0;
}

static int open(void *self, uint32_t limitMs)
{
    return connection_open(&session(self)->connection, session(self)->addresses, limitMs);
}

static int start_tls(void *self, const char *host, uint32_t limitMs)
{
    return connection_start_tls(&session(self)->connection, host, limitMs);
}

static int tls_version(void *self)
{
    return session(self)->connection.tlsVersion;
}

static int send_bytes(void *self, const char *bytes, size_t length)
{
    return connection_send(&session(self)->connection, bytes, (int)length);
}

static int receive(void *self, char *space, size_t capacity, uint32_t deadline)
{
    return connection_receive(&session(self)->connection, space, capacity, deadline);
}

static int has_unread(void *self)
{
    return connection_has_unread(&session(self)->connection);
}

static uint32_t now(void *)
{
    return GetTickCount();
}

static uint32_t last_error(void *self)
{
    NetSession *n = session(self);
    return n->connection.lastError ? n->connection.lastError : n->lastError;
}

void net_session_begin(NetSession *n, NetLink *link)
{
    n->started = 0;
    n->addresses = NULL;
    n->lastError = 0;
    connection_reset(&n->connection);
    const NetLink real = {n, start, look_up, open, start_tls, tls_version, send_bytes, receive, has_unread, now,
                          last_error};
    *link = real;
}

void net_session_end(NetSession *n)
{
    connection_close(&n->connection);
    if (n->addresses)
        freeaddrinfo(n->addresses);
    n->addresses = NULL;
    if (n->started)
        WSACleanup();
    n->started = 0;
}
