// The real network under the POP3 dialogue: the socket layer, the look-up
// and one connection, reached through a NetLink.
#ifndef SORVANE_NET_SESSION_H
#define SORVANE_NET_SESSION_H

#include "connection.h"
#include "net_link.h"

struct NetSession {
    Connection connection;
    int started;          // the socket layer was started
    ADDRINFOA *addresses; // from the look-up, for the connect
    DWORD lastError;      // of the start and the look-up
};

// An empty session, and the link through which the dialogue uses it.
void net_session_begin(NetSession *n, NetLink *link);

// Closes the connection (ending TLS first), frees the addresses and
// releases the socket layer; harmless on a session that did none of these.
void net_session_end(NetSession *n);

#endif
