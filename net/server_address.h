// What the server box names: the host, the port and how the connection is
// secured. The security is carried in the text itself, so that an older
// copy of the program reading the same settings file fails at the name
// look-up instead of sending the password in clear. No platform calls.
#ifndef SORVANE_SERVER_ADDRESS_H
#define SORVANE_SERVER_ADDRESS_H

enum ServerSecurity {
    SERVER_PLAIN,    // POP3 in clear, as every older version did
    SERVER_TLS,      // TLS from the first byte
    SERVER_STARTTLS  // POP3 in clear up to STLS, then everything inside TLS
};

enum {
    SERVER_HOST_CAPACITY = 128, // the server text holds at most 127 bytes
    POP3_PLAIN_PORT = 110,
    POP3_TLS_PORT = 995
};

struct ServerAddress {
    char host[SERVER_HOST_CAPACITY]; // a name, a dotted address or an IPv6 literal without brackets
    int numeric;                     // the host was an IPv6 literal in brackets
    unsigned short port;
    int security;                    // ServerSecurity
};

// Reads one of
//   host[:port]               plain on 110, or TLS when the port is 995
//   [IPv6 literal][:port]     the same
//   pop3s://host[:port]       TLS, 995 unless given
//   starttls://host[:port]    STLS on a plain connection, 110 unless given
// Scheme names compare without case. A name may end in one dot (a
// fully-qualified name), which the host is given without. An IPv6 literal
// may carry a zone, "%zone" or, as a URL writes it, "%25zone"; the host
// holds it as "%zone". 0 when the text is none of these (unknown scheme,
// empty host, unclosed bracket, a zone without letters, a port that is not
// 1 to 65535 in digits, anything after the port); *out is then undefined.
int parse_server_address(const char *text, ServerAddress *out);

#endif
