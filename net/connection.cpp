#include "connection.h"
#include <string.h>

static TIMEVAL time_value(DWORD ms)
{
    TIMEVAL t;
    t.tv_sec = (long)(ms / 1000);
    t.tv_usec = (long)(ms % 1000) * 1000;
    return t;
}

DWORD deadline_after(DWORD ms)
{
    return GetTickCount() + ms;
}

// Milliseconds left, 0 once the deadline has passed. The difference is
// read as signed, so the tick count's wrap after 49 days does no harm.
static DWORD time_left(DWORD deadline)
{
    LONG left = (LONG)(deadline - GetTickCount());
    return left > 0 ? (DWORD)left : 0;
}

int socket_readable(SOCKET s, DWORD deadline)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    TIMEVAL t = time_value(time_left(deadline));
    return select(0, &readable, NULL, NULL, &t) > 0;
}

int socket_send(SOCKET s, const char *bytes, int length)
{
    while (length > 0) {
        int n = send(s, bytes, length, 0);
        if (n <= 0)
            return 0;
        bytes += n;
        length -= n;
    }
    return 1;
}

int connection_failed(Connection *c, DWORD error)
{
    c->lastError = error;
    return 0;
}

static int plain_send(Connection *c, const char *bytes, int length)
{
    return socket_send(c->s, bytes, length) || connection_failed(c, (DWORD)WSAGetLastError());
}

static int plain_receive(Connection *c, char *space, size_t capacity, DWORD deadline)
{
    if (!socket_readable(c->s, deadline))
        return connection_failed(c, WSAETIMEDOUT);
    int n = recv(c->s, space, (int)capacity, 0);
    if (n < 0)
        return connection_failed(c, (DWORD)WSAGetLastError());
    return n;
}

static const ConnectionOps PLAIN = {plain_send, plain_receive};

// Connect without blocking, so that a server that never completes the
// handshake fails the step when the deadline has passed.
static int connect_in_time(SOCKET s, const ADDRINFOA *a, DWORD deadline)
{
    u_long on = 1, off = 0;
    if (ioctlsocket(s, FIONBIO, &on) != 0)
        return 0;
    if (connect(s, a->ai_addr, (int)a->ai_addrlen) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return 0;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        TIMEVAL t = time_value(time_left(deadline));
        int ready = select(0, NULL, &writable, &failed, &t);
        if (ready == 0)
            WSASetLastError(WSAETIMEDOUT);
        int error = 0, length = sizeof error;
        if (ready <= 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, (char *)&error, &length) != 0)
            return 0;
        if (error != 0 || !FD_ISSET(s, &writable)) {
            WSASetLastError(error ? error : WSAECONNREFUSED);
            return 0;
        }
    }
    return ioctlsocket(s, FIONBIO, &off) == 0;
}

void connection_reset(Connection *c)
{
    c->s = INVALID_SOCKET;
    c->ops = &PLAIN;
    c->tlsVersion = 0;
    c->lastError = 0;
    c->hasCredentials = c->hasContext = 0;
    c->host = NULL;
    tls_stream_begin(&c->tls, &c->calls);
}

int connection_open(Connection *c, const ADDRINFOA *addresses, DWORD limitMs)
{
    DWORD deadline = deadline_after(limitMs);
    int made = 0;
    for (const ADDRINFOA *a = addresses; a && time_left(deadline); a = a->ai_next) {
        SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            c->lastError = (DWORD)WSAGetLastError();
            continue; // for instance IPv6 where the system has none
        }
        made = 1;
        if (connect_in_time(s, a, deadline)) {
            c->s = s;
            c->lastError = 0;
            return NET_CONNECTED;
        }
        c->lastError = (DWORD)WSAGetLastError();
        closesocket(s);
    }
    return made ? NET_REFUSED : NET_NO_SOCKET;
}

int connection_send(Connection *c, const char *bytes, int length)
{
    return c->ops->send(c, bytes, length);
}

int connection_receive(Connection *c, char *space, size_t capacity, DWORD deadline)
{
    return c->ops->receive(c, space, capacity, deadline);
}

int connection_has_unread(Connection *c)
{
    char byte;
    return socket_readable(c->s, GetTickCount()) && recv(c->s, &byte, 1, MSG_PEEK) > 0;
}
