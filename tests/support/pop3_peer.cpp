#include "pop3_peer.h"

namespace pop3 {

namespace {
const DWORD POLL_MS = 20;

struct SocketLayer {
    SocketLayer()
    {
        WSADATA d;
        WSAStartup(0x0202, &d);
    }
    ~SocketLayer() { WSACleanup(); }
};
} // namespace

Reply line(const std::string &text) { return raw(text + "\r\n"); }

Reply raw(const std::string &bytes, After after)
{
    Reply r;
    r.pieces.push_back({bytes, 0});
    r.after = after;
    return r;
}

Reply in_pieces(std::vector<Piece> pieces, After after)
{
    Reply r;
    r.pieces = std::move(pieces);
    r.after = after;
    return r;
}

Reply silence() { return Reply{{}, After::Silence}; }
Reply close_now() { return Reply{{}, After::Close}; }
Reply reset_after(const std::string &text) { return raw(text + "\r\n", After::Reset); }

Script good_script(int count)
{
    return Script{line("+OK ready"),
                  {line("+OK"), line("+OK logged in"),
                   line("+OK " + std::to_string(count) + " " + std::to_string(count * 100)),
                   line("+OK bye")}};
}

LONGLONG now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

Peer::Peer(const char *address, Script script, unsigned short port) : script_(std::move(script))
{
    static SocketLayer layer;
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    BOOL on = TRUE;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, (const char *)&on, sizeof on);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(address);
    listening_ = listen_ != INVALID_SOCKET && bind(listen_, (sockaddr *)&a, sizeof a) == 0 &&
                 listen(listen_, 4) == 0;
    if (listening_)
        thread_ = std::thread([this] { run(); });
}

Peer::~Peer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listen_ != INVALID_SOCKET)
        closesocket(listen_);
}

bool Peer::wait_readable(SOCKET s)
{
    while (!stop_) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(s, &r);
        timeval t = {0, (long)POLL_MS * 1000};
        int n = select(0, &r, NULL, NULL, &t);
        if (n != 0)
            return n > 0;
    }
    return false;
}

bool Peer::pause(DWORD ms)
{
    DWORD start = GetTickCount();
    while (!stop_ && GetTickCount() - start < ms)
        Sleep(POLL_MS < ms ? POLL_MS : ms);
    return !stop_;
}

void Peer::run()
{
    while (wait_readable(listen_)) {
        SOCKET c = accept(listen_, NULL, NULL);
        if (c == INVALID_SOCKET)
            continue;
        {
            std::lock_guard<std::mutex> g(lock_);
            lines_.clear();
            segments_.clear();
        }
        clientClosedAt_ = 0;
        connections_++;
        serve(c);
    }
}

// Reads one command line; false when the client closed the connection.
bool Peer::read_line(SOCKET c, std::string &buffer, std::string &out)
{
    for (;;) {
        size_t end = buffer.find("\r\n");
        if (end != std::string::npos) {
            out = buffer.substr(0, end);
            buffer.erase(0, end + 2);
            std::lock_guard<std::mutex> g(lock_);
            if (out == "CAPA") {
                capas_++;
            } else {
                lines_.push_back(out);
                segments_.push_back(segment_);
            }
            return true;
        }
        if (!wait_readable(c))
            return false;
        char chunk[512];
        int n = recv(c, chunk, sizeof chunk, 0);
        if (n <= 0) {
            clientClosedAt_ = now();
            return false;
        }
        buffer.append(chunk, (size_t)n);
        segment_++;
    }
}

// Whether the client has closed the connection, without taking anything it
// sent; notes the moment.
bool Peer::client_gone(SOCKET c)
{
    fd_set r;
    FD_ZERO(&r);
    FD_SET(c, &r);
    timeval t = {0, 0};
    char peek;
    if (select(0, &r, NULL, NULL, &t) <= 0 || recv(c, &peek, 1, MSG_PEEK) > 0)
        return false;
    clientClosedAt_ = now();
    return true;
}

// Sends a reply's pieces; false when the connection ends here. A client
// that closes while the pieces trickle ends them.
bool Peer::play(SOCKET &c, const Reply &reply)
{
    bool hold = reply.after == After::Reset && script_.holdClient;
    if (hold)
        script_.holdClient();
    bool gone = false;
    for (const Piece &p : reply.pieces) {
        if (!pause(p.delayMs))
            break;
        if ((gone = client_gone(c)))
            break;
        send(c, p.bytes.data(), (int)p.bytes.size(), 0);
    }
    if (reply.after == After::Reset && !gone)
        reset(c);
    if (hold)
        script_.releaseClient();
    return !gone && (reply.after == After::Go || reply.after == After::Silence);
}

// Lets the client read what was sent, then aborts the connection and gives
// the reset time to arrive.
void Peer::reset(SOCKET &c)
{
    pause(200);
    linger l = {1, 0};
    setsockopt(c, SOL_SOCKET, SO_LINGER, (const char *)&l, sizeof l);
    closesocket(c);
    c = INVALID_SOCKET;
    pause(100);
}

void Peer::drain(SOCKET c, std::string &buffer)
{
    std::string ignored;
    while (read_line(c, buffer, ignored)) {
    }
}

void Peer::serve(SOCKET c)
{
    std::string buffer, command;
    if (script_.beforeGreeting)
        script_.beforeGreeting();
    bool open = play(c, script_.greeting);
    bool quiet = script_.greeting.after == After::Silence;
    for (size_t i = 0; open && !quiet && i < script_.replies.size(); i++) {
        if (!read_line(c, buffer, command)) {
            open = false;
            break;
        }
        if (command == "CAPA") {
            open = play(c, script_.capa);
            i--;
            continue;
        }
        const Reply &r = script_.replies[i];
        open = play(c, r);
        quiet = r.after == After::Silence;
    }
    if (open)
        drain(c, buffer);
    if (c != INVALID_SOCKET)
        closesocket(c);
}

bool Peer::wait_connections(int n, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (connections_ < n) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(POLL_MS);
    }
    return true;
}

std::vector<std::string> Peer::lines() const
{
    std::lock_guard<std::mutex> g(lock_);
    return lines_;
}

std::vector<std::string> Peer::first_flight() const
{
    std::lock_guard<std::mutex> g(lock_);
    std::vector<std::string> flight;
    for (size_t i = 0; i < lines_.size() && segments_[i] == segments_[0]; i++)
        flight.push_back(lines_[i]);
    return flight;
}

bool Peer::wait_client_closed(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!client_closed()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(POLL_MS);
    }
    return true;
}

} // namespace pop3
