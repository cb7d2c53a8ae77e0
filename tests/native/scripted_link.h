// A NetLink that plays a server from a script: every connection step
// succeeds, the server's bytes come in pieces of at most `piece` bytes
// whatever was asked, and each write of the client is kept as it was
// made, so that a test tells one flight of commands from several. When
// the script runs out, a receive ends as one past its deadline does.
#ifndef SORVANE_SCRIPTED_LINK_H
#define SORVANE_SCRIPTED_LINK_H

#include "net/net_link.h"
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

struct ScriptedLink {
    std::string server;             // everything the server sends, in order
    size_t piece = 512;             // the most one receive gives
    size_t at = 0;                  // bytes of `server` given so far
    std::vector<std::string> sent;  // the client's writes, one entry each
    std::string events;             // "s" per write, "r" per receive, in order
    NetLink link;

    explicit ScriptedLink(std::string script) : server(std::move(script))
    {
        link = {this, yes, looked_up, opened, tls_up, no_tls, sent_bytes, received, no, clock, no_code};
    }
    std::string all_sent() const
    {
        std::string all;
        for (const auto &s : sent)
            all += s;
        return all;
    }

  private:
    static ScriptedLink *of(void *self) { return (ScriptedLink *)self; }
    static int yes(void *) { return 1; }
    static int no(void *) { return 0; }
    static int no_tls(void *) { return 0; }
    static int looked_up(void *, const ServerAddress *) { return 1; }
    static int opened(void *, uint32_t) { return NET_CONNECTED; }
    static int tls_up(void *, const char *, uint32_t) { return TLS_UP; }
    static uint32_t clock(void *) { return 1000; }
    static uint32_t no_code(void *) { return 0; }
    static int sent_bytes(void *self, const char *bytes, size_t length)
    {
        of(self)->sent.emplace_back(bytes, length);
        of(self)->events += 's';
        return 1;
    }
    static int received(void *self, char *space, size_t capacity, uint32_t)
    {
        ScriptedLink *s = of(self);
        size_t n = std::min({capacity, s->piece, s->server.size() - s->at});
        memcpy(space, s->server.data() + s->at, n);
        s->at += n;
        s->events += 'r';
        return (int)n;
    }
};

#endif
