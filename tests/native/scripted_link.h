// A NetLink that plays a scripted server, for the native tests of the POP3
// session and its fuzz target. The server answers each command line the
// client sends with the next reply of its script, in chunks, each after a
// delay of its own; a fake clock takes every delay, and a wait that nothing
// ends (silence) jumps the clock to its deadline: no real time passes.
// Everything the client sent is kept, in order.
#ifndef SORVANE_SCRIPTED_LINK_H
#define SORVANE_SCRIPTED_LINK_H

#include "net/net_link.h"
#include "pop3/pop3_session.h"
#include <stdint.h>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace scripted {

// What the server does once a reply's chunks are taken.
enum class After {
    Go,      // waits for the next command
    Silence, // sends nothing more: every later wait lasts until its deadline
    Close    // ends the stream: every later receive gives 0 at once
};

struct Chunk {
    std::string bytes;
    uint32_t delayMs = 0; // from the moment the previous chunk was taken
};

struct Reply {
    std::vector<Chunk> chunks;
    After after = After::Go;
};

Reply line(const std::string &text); // text and CRLF
Reply raw(const std::string &bytes, After after = After::Go);
Reply pieces(std::vector<Chunk> chunks, After after = After::Go);
Reply silence();
Reply close_now();

struct Script {
    int start = 1;              // the socket layer starts
    int lookUp = 1;             // the name gives an address
    int open = NET_CONNECTED;   // a NetConnectOutcome
    int tls = TLS_UP;           // a TlsOutcome (or any number)
    int tlsVersion = 12;
    uint32_t code = 0;          // what last_error tells
    std::string failSendOf;     // a send holding a line that begins so fails
    uint32_t clock = 0xFFFFFC00u; // the clock at the start: a limit later it has wrapped
    Reply greeting = line("+OK ready");
    std::vector<Reply> replies; // one per command line, in order
};

class Link {
public:
    explicit Link(Script script);
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    const NetLink *net() const { return &table_; }

    // Command lines as sent (without CRLF), and every byte as sent.
    std::vector<std::string> lines() const;
    const std::string &sent() const { return sent_; }
    // The link's own steps as the session asked for them: "start",
    // "look_up host:port", "open <limit>", "start_tls host <limit>".
    const std::vector<std::string> &calls() const { return calls_; }
    int sends() const { return sends_; }
    uint32_t now() const { return clock_; }
    // The clock when the last command went out (or the connect, before
    // any), where the limit of the wait after it counts from.
    uint32_t last_sent_at() const { return lastSentAt_; }

private:
    struct Item {
        std::string bytes;
        uint32_t delayMs;
        After end; // Go: bytes; Silence or Close: where the stream stops
    };
    static Link *of(void *self) { return (Link *)self; }
    static int start(void *self);
    static int look_up(void *self, const ServerAddress *server);
    static int open(void *self, uint32_t limitMs);
    static int start_tls(void *self, const char *host, uint32_t limitMs);
    static int tls_version(void *self);
    static int send(void *self, const char *bytes, size_t length);
    static int receive(void *self, char *space, size_t capacity, uint32_t deadline);
    static int has_unread(void *self);
    static uint32_t clock(void *self);
    static uint32_t last_error(void *self);
    void queue(const Reply &reply);
    int wait_until_deadline(uint32_t deadline);

    Script script_;
    NetLink table_;
    std::deque<Item> items_;
    size_t nextReply_ = 0;
    std::string sent_;
    size_t lineStart_ = 0; // where the command line being sent began
    std::vector<std::string> calls_;
    int sends_ = 0;
    uint32_t clock_;
    uint32_t lastSentAt_;
};

// The progress as the session writes it: (StatusLine, StatusText) pairs.
struct StatusLog {
    std::vector<std::pair<int, int>> writes;
    int waiting = 0;
    Pop3Status table;
    StatusLog();
};

// An account with the password given; unseenOnly off, no folder.
Pop3Account account(const char *server, const char *user = "taro", const char *pass = "secret");

} // namespace scripted

#endif
