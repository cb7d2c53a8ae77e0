// A scripted POP3 server for tests, on a thread of the test program: it
// plays what a real server will not (negative greetings, replies in slow
// pieces, silence, a dropped connection at a chosen step), records every
// command line it receives, and tells when the client closed the
// connection. No test framework here, so the black-box driver can use it.
#ifndef SORVANE_POP3_PEER_H
#define SORVANE_POP3_PEER_H

#include <winsock2.h>
#include <windows.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pop3 {

// What the peer does after a reply's bytes.
enum class After {
    Go,      // wait for the next command
    Silence, // answer nothing more, but keep reading until the client closes
    Close,   // close the connection gracefully
    Reset    // abort the connection (RST), so the client's next send fails
};

struct Piece {
    std::string bytes;
    DWORD delayMs = 0; // waited before these bytes go out
};

struct Reply {
    std::vector<Piece> pieces;
    After after = After::Go;
};

// Shorthands for scripts.
Reply line(const std::string &text); // text + CRLF, then Go
Reply raw(const std::string &bytes, After after = After::Go);
Reply in_pieces(std::vector<Piece> pieces, After after = After::Go);
Reply silence();
Reply close_now();
Reply reset_after(const std::string &text); // text + CRLF, then Reset

struct Script {
    Script() = default;
    Script(Reply g, std::vector<Reply> r) : greeting(std::move(g)), replies(std::move(r)) {}

    Reply greeting;
    std::vector<Reply> replies; // one per command received, in order
    // A reset lands between two steps of the client only if the client is
    // held there: called before a Reset reply goes out and once the reset
    // has been sent (the test holds something the client needs next).
    std::function<void()> holdClient, releaseClient;
    // Called on each connection before the greeting goes out: a test holds
    // the greeting there while it does something meanwhile.
    std::function<void()> beforeGreeting;
    // The answer to CAPA, wherever it comes, outside `replies` and
    // `lines()` (whether a check asks depends on what earlier checks
    // learnt; capas() counts): as a server without it, by default.
    Reply capa = line("-ERR no CAPA here");
};

// The usual dialogue with a mailbox of `count` messages.
Script good_script(int count);

// The test program's clock, for comparing moments.
LONGLONG now();

class Peer {
public:
    // Listens on address:port and serves one connection after another with
    // the same script.
    Peer(const char *address, Script script, unsigned short port = 110);
    ~Peer();
    bool listening() const { return listening_; }

    int connections() const { return connections_; }
    bool wait_connections(int n, DWORD timeoutMs);
    // Lines (without their line end) received on the latest connection.
    std::vector<std::string> lines() const;
    // Of those, the ones that came in the same segment as the first
    // command: the client's first flight.
    std::vector<std::string> first_flight() const;
    int capas() const { return capas_; }
    // The client closed the latest connection (end of stream or reset seen
    // while the peer was still reading), and when (now()'s clock).
    bool client_closed() const { return clientClosedAt_ != 0; }
    LONGLONG client_closed_at() const { return clientClosedAt_; }
    bool wait_client_closed(DWORD timeoutMs);

private:
    void run();
    void serve(SOCKET c);
    bool read_line(SOCKET c, std::string &buffer, std::string &line);
    bool play(SOCKET &c, const Reply &reply);
    bool client_gone(SOCKET c);
    void reset(SOCKET &c);
    void drain(SOCKET c, std::string &buffer);
    bool wait_readable(SOCKET s);
    bool pause(DWORD ms);

    Script script_;
    SOCKET listen_ = INVALID_SOCKET;
    bool listening_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> capas_{0};
    std::atomic<LONGLONG> clientClosedAt_{0};
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
    std::vector<int> segments_; // of each line, the receive that completed it
    int segment_ = 0;
    std::thread thread_;
};

} // namespace pop3

#endif
