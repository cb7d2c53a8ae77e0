#include "scripted_link.h"
#include <string.h>

namespace scripted {

Reply line(const std::string &text)
{
    return raw(text + "\r\n");
}

Reply raw(const std::string &bytes, After after)
{
    return pieces({{bytes, 0}}, after);
}

Reply pieces(std::vector<Chunk> chunks, After after)
{
    Reply r;
    r.chunks = std::move(chunks);
    r.after = after;
    return r;
}

Reply silence()
{
    return pieces({}, After::Silence);
}

Reply close_now()
{
    return pieces({}, After::Close);
}

Link::Link(Script script) : script_(std::move(script)), clock_(script_.clock), lastSentAt_(script_.clock)
{
    table_ = NetLink{this, start, look_up, open, start_tls, tls_version, send, receive, has_unread, clock,
                     last_error};
}

std::vector<std::string> Link::lines() const
{
    std::vector<std::string> out;
    size_t at = 0, end;
    while ((end = sent_.find("\r\n", at)) != std::string::npos) {
        out.push_back(sent_.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

void Link::queue(const Reply &reply)
{
    for (const Chunk &c : reply.chunks) {
        if (!c.bytes.empty()) // an empty receive would read as the end of the stream
            items_.push_back({c.bytes, c.delayMs, After::Go});
    }
    if (reply.after != After::Go)
        items_.push_back({"", 0, reply.after});
}

int Link::start(void *self)
{
    of(self)->calls_.push_back("start");
    return of(self)->script_.start;
}

int Link::look_up(void *self, const ServerAddress *server)
{
    of(self)->calls_.push_back("look_up " + std::string(server->host) + ":" + std::to_string(server->port));
    return of(self)->script_.lookUp;
}

// The greeting is on its way once the connection stands.
int Link::open(void *self, uint32_t limitMs)
{
    Link *l = of(self);
    l->calls_.push_back("open " + std::to_string(limitMs));
    if (l->script_.open == NET_CONNECTED) {
        l->lastSentAt_ = l->clock_;
        l->queue(l->script_.greeting);
    }
    return l->script_.open;
}

int Link::start_tls(void *self, const char *host, uint32_t limitMs)
{
    of(self)->calls_.push_back("start_tls " + std::string(host) + " " + std::to_string(limitMs));
    return of(self)->script_.tls;
}

int Link::tls_version(void *self)
{
    return of(self)->script_.tls == TLS_UP ? of(self)->script_.tlsVersion : 0;
}

// Kept on the heap as they come, never copied onto this thread's stack:
// a test reads what the session's own stack holds afterwards. Each whole
// line is one command and brings the next reply.
int Link::send(void *self, const char *bytes, size_t length)
{
    Link *l = of(self);
    size_t before = l->sent_.size();
    l->sent_.append(bytes, length);
    l->sends_++;
    const std::string &fail = l->script_.failSendOf;
    size_t end;
    for (size_t at = l->lineStart_; (end = l->sent_.find("\r\n", at)) != std::string::npos; at = end + 2) {
        if (!fail.empty() && l->sent_.compare(at, fail.size(), fail) == 0) {
            l->sent_.resize(before);
            return 0;
        }
    }
    while ((end = l->sent_.find("\r\n", l->lineStart_)) != std::string::npos) {
        l->lineStart_ = end + 2;
        if (l->nextReply_ < l->script_.replies.size())
            l->queue(l->script_.replies[l->nextReply_++]);
    }
    l->lastSentAt_ = l->clock_;
    return 1;
}

// Nothing arrives before the deadline: the clock stands at it.
int Link::wait_until_deadline(uint32_t deadline)
{
    if ((int32_t)(deadline - clock_) > 0)
        clock_ = deadline;
    return 0;
}

int Link::receive(void *self, char *space, size_t capacity, uint32_t deadline)
{
    Link *l = of(self);
    if ((int32_t)(deadline - l->clock_) <= 0)
        return 0;
    if (l->items_.empty() || l->items_.front().end == After::Silence)
        return l->wait_until_deadline(deadline);
    Item &next = l->items_.front();
    if (next.end == After::Close)
        return 0;
    if ((int32_t)(deadline - l->clock_) <= (int32_t)next.delayMs)
        return l->wait_until_deadline(deadline);
    l->clock_ += next.delayMs;
    next.delayMs = 0;
    size_t n = next.bytes.size() < capacity ? next.bytes.size() : capacity;
    memcpy(space, next.bytes.data(), n);
    next.bytes.erase(0, n);
    if (next.bytes.empty())
        l->items_.pop_front();
    return (int)n;
}

// Bytes that have arrived: a chunk without a delay of its own.
int Link::has_unread(void *self)
{
    const std::deque<Item> &items = of(self)->items_;
    return !items.empty() && items.front().end == After::Go && items.front().delayMs == 0;
}

uint32_t Link::clock(void *self)
{
    return of(self)->clock_;
}

uint32_t Link::last_error(void *self)
{
    return of(self)->script_.code;
}

static void log_write(void *self, int line, int text)
{
    ((StatusLog *)self)->writes.push_back({line, text});
}

static void log_waiting(void *self)
{
    ((StatusLog *)self)->waiting++;
}

StatusLog::StatusLog() : table{this, log_write, log_waiting} {}

Pop3Account account(const char *server, const char *user, const char *pass)
{
    Pop3Account a;
    memset(&a, 0, sizeof a);
    strncpy(a.server, server, sizeof a.server - 1);
    strncpy(a.user, user, sizeof a.user - 1);
    strncpy(a.pass, pass, sizeof a.pass - 1);
    return a;
}

} // namespace scripted
