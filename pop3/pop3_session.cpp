#include "pop3_session.h"
#include "pop3_reply.h"
#include <string.h>

// What the user is told when a step fails.
static const char LOOKUP_FAILED[] = "サーバーを見つけられませんでした。";
static const char WINSOCK_FAILED[] = "WinSock2.0を初期化できませんでした。";
static const char SOCKET_FAILED[] = "ソケットを作成できませんでした。";
static const char CONNECT_FAILED[] = "サーバーに接続できませんでした。";
static const char GREETING_FAILED[] = "サーバーから応答を受け取ることができませんでした。";
static const char STLS_REFUSED[] = "サーバーがSTARTTLSに対応していません。";
static const char STLS_INJECTED[] = "STARTTLSの応答の後に不正なデータを受信しました。";
static const char HANDSHAKE_FAILED[] = "暗号化された接続を確立できませんでした。";
static const char ISSUER_NOT_TRUSTED[] = "サーバーの証明書は信頼されていない発行者によるものです。";
static const char NAME_MISMATCH[] = "サーバーの証明書の名前が接続先と一致しません。";
static const char CERTIFICATE_EXPIRED[] = "サーバーの証明書の有効期限が切れています。";
static const char CERTIFICATE_REVOKED[] = "サーバーの証明書は失効しています。";
static const char CERTIFICATE_FAILED[] = "サーバーの証明書を確認できませんでした。";
static const char USER_SEND_FAILED[] = "コマンド#1を送信できませんでした。";
static const char USER_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#1";
static const char USER_REFUSED[] = "ユーザー名が正しくありません。";
static const char PASS_SEND_FAILED[] = "コマンド#2を送信できませんでした。";
static const char PASS_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#2";
static const char PASS_REFUSED[] = "パスワードが正しくありません。";
static const char STAT_SEND_FAILED[] = "コマンド#3を送信できませんでした。";
static const char STAT_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#3";
static const char STAT_REFUSED[] = "コマンドが正しく解釈されませんでした。";
static const char QUIT_SEND_FAILED[] = "コマンド#4を送信できませんでした。";
static const char QUIT_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#4";
static const char QUIT_REFUSED[] = "正しくログアウトされませんでした。";
static const char UIDL_SEND_FAILED[] = "コマンド#5を送信できませんでした。";
static const char UIDL_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#5";
static const char UIDL_UNREADABLE[] = "メールの一覧を正しく解釈できませんでした。";
static const char TOP_SEND_FAILED[] = "コマンド#6を送信できませんでした。";
static const char TOP_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#6";
static const char OUT_OF_MEMORY[] = "メモリが不足しているため、確認を中止しました。";

// WinSock's error codes (WSAEINTR 10004 to WSA_QOS_RESERVED_PETYPE 11031).
enum { WINSOCK_CODES_FIRST = 10000, WINSOCK_CODES_LAST = 11999 };

enum {
    // Where the last clean check left off, the uids of at most this many
    // messages after it are asked one by one (in one flight where the
    // server pipelines); more new messages than that, the whole listing
    // tells more cheaply.
    FOLLOW_MAX = 64,
    UIDL_REQUEST_MAX = sizeof "UIDL 4294967295\r\n" - 1
};

struct CommandFailures {
    const char *send;
    const char *receive;
    const char *refused;
    int withCode; // the texts are this program's own: the system's code follows them
};

// Indexed by TlsOutcome.
static const char *const TLS_FAILURES[] = {
    NULL, HANDSHAKE_FAILED, ISSUER_NOT_TRUSTED, NAME_MISMATCH, CERTIFICATE_EXPIRED, CERTIFICATE_REVOKED,
    CERTIFICATE_FAILED,
};
static_assert(sizeof TLS_FAILURES / sizeof *TLS_FAILURES == TLS_OUTCOME_COUNT, "one text per outcome");

// A refused STLS ends the check whichever way it is refused: never a
// fall back to plain text.
static const CommandFailures STLS_FAILURES = {STLS_REFUSED, STLS_REFUSED, STLS_REFUSED, 1};
static const CommandFailures USER_FAILURES = {USER_SEND_FAILED, USER_RECEIVE_FAILED, USER_REFUSED, 0};
static const CommandFailures PASS_FAILURES = {PASS_SEND_FAILED, PASS_RECEIVE_FAILED, PASS_REFUSED, 0};
static const CommandFailures STAT_FAILURES = {STAT_SEND_FAILED, STAT_RECEIVE_FAILED, STAT_REFUSED, 0};
static const CommandFailures QUIT_FAILURES = {QUIT_SEND_FAILED, QUIT_RECEIVE_FAILED, QUIT_REFUSED, 0};
// A refused UIDL is no failure (see judge_seen). CAPA, asked only for the
// uids, fails as UIDL does.
static const CommandFailures UIDL_FAILURES = {UIDL_SEND_FAILED, UIDL_RECEIVE_FAILED, NULL, 1};

// Everything one run holds.
struct Session {
    const Pop3Account *account;
    const NetLink *net;
    uint32_t limitMs;
    const Pop3Status *status;
    Pop3Seen *seen;
    Pop3Outcome *outcome;
    ServerAddress server;
    Pop3LineReader reader;
    char request[POP3_REQUEST_CAPACITY];
    uint32_t deadline; // of the reply to the last command, lines after its first included
    int waited;        // the caller has been told that a reply is on its way
    int pipelining;    // the server takes a flight of commands at once
    int followed;      // the last clean check's last message is where it was
    int quitSent;      // QUIT went in the flight of TOP commands
    // The numbers of the newest new messages, highest first, when their
    // uids told which are new; else (newestByUid 0) the highest-numbered.
    int newestByUid;
    unsigned newestCount;
    unsigned long newest[ARRIVED_MAX];
    char flight[(FOLLOW_MAX + 1) * UIDL_REQUEST_MAX + 1];
};

void pop3_wipe(void *bytes, size_t size)
{
    volatile unsigned char *p = (volatile unsigned char *)bytes;
    while (size--)
        *p++ = 0;
}

void pop3_seen_init(Pop3Seen *seen)
{
    memset(seen, 0, sizeof *seen);
    seen_list_init(&seen->before);
    seen_list_init(&seen->now);
}

void pop3_seen_free(Pop3Seen *seen)
{
    seen_list_free(&seen->before);
    seen_list_free(&seen->now);
}

void pop3_seen_recall(Pop3Seen *seen)
{
    if (seen->recall)
        seen->recall(seen->recallSelf, &seen->before);
    seen->recall = NULL;
}

int pop3_seen_changed(const Pop3Seen *seen)
{
    return seen->mark.count != seen->last.count || strcmp(seen->mark.uid, seen->last.uid) != 0
           || (seen->listed && !seen_list_same(&seen->now, &seen->before));
}

static void write_status(Session *p, int line, int text)
{
    p->status->write(p->status->self, line, text);
}

static void write_step(Session *p, int step, int detail)
{
    write_status(p, STATUS_STEP_LINE, step);
    write_status(p, STATUS_DETAIL_LINE, detail);
}

static int fail(Session *p, const char *message)
{
    p->outcome->failure = message;
    p->outcome->code = 0;
    return 0;
}

// One of this program's own texts, with the system's code of the cause.
static int fail_with_code(Session *p, const char *message)
{
    p->outcome->failure = message;
    p->outcome->code = p->net->last_error(p->net->self);
    return 0;
}

static int fail_command(Session *p, const char *message, const CommandFailures *failures)
{
    return failures->withCode ? fail_with_code(p, message) : fail(p, message);
}

// A failure for want of a network (or of a server at that address).
static int fail_offline(Session *p, const char *message)
{
    p->outcome->offline = 1;
    return fail(p, message);
}

static uint32_t deadline_after(Session *p)
{
    return p->net->now(p->net->self) + p->limitMs;
}

// One whole reply line before the deadline. The limit holds for the line,
// not for each piece, so a server that trickles bytes without ever ending
// the line is cut off too. End of stream first is a failure.
static int receive_line(Session *p, uint32_t deadline)
{
    pop3_line_begin(&p->reader);
    while (!pop3_line_take(&p->reader)) {
        size_t capacity;
        char *space = pop3_receive_space(&p->reader, &capacity);
        int n = p->net->receive(p->net->self, space, capacity, deadline);
        if (n <= 0)
            return 0;
        pop3_received(&p->reader, (size_t)n);
    }
    return 1;
}

static int send_command(Session *p, const char *command, const char *argument)
{
    return pop3_format_request(p->request, sizeof p->request, command, argument) &&
           p->net->send(p->net->self, p->request, strlen(p->request));
}

// The first command's reply takes a round trip: the caller may use it.
static void note_waiting(Session *p)
{
    if (p->waited)
        return;
    p->waited = 1;
    if (p->status->waiting)
        p->status->waiting(p->status->self);
}

// A command and its status line; a refusal fails when `failures` names a
// text for it.
static int exchange(Session *p, const char *command, const char *argument, const CommandFailures *failures)
{
    if (!send_command(p, command, argument))
        return fail_command(p, failures->send, failures);
    note_waiting(p);
    p->deadline = deadline_after(p);
    if (!receive_line(p, p->deadline))
        return fail_command(p, failures->receive, failures);
    if (failures->refused && !pop3_reply_positive(p->reader.line, p->reader.length))
        return fail_command(p, failures->refused, failures);
    return 1;
}

static int start_socket_layer(Session *p)
{
    write_step(p, STEP_WINSOCK, DETAIL_WINSOCK);
    return p->net->start(p->net->self) || fail(p, WINSOCK_FAILED);
}

// A text that names no server (the settings dialog refuses one, but the
// file may hold it) fails as a name that cannot be found.
static int find_server(Session *p)
{
    write_step(p, STEP_LOOKUP, STATUS_SERVER);
    if (!parse_server_address(p->account->server, &p->server))
        return fail(p, LOOKUP_FAILED);
    return p->net->look_up(p->net->self, &p->server) || fail_offline(p, LOOKUP_FAILED);
}

static int connect_server(Session *p)
{
    write_step(p, STEP_SOCKET, STATUS_EMPTY);
    write_step(p, STEP_CONNECT, STATUS_SERVER);
    int outcome = p->net->open(p->net->self, p->limitMs);
    if (outcome == NET_NO_SOCKET)
        return fail_offline(p, SOCKET_FAILED);
    if (outcome != NET_CONNECTED)
        return fail_offline(p, CONNECT_FAILED);
    return 1;
}

// The handshake and the certificate check, before anything of the
// account is sent; the detail line then shows the protocol agreed on.
static int start_tls(Session *p)
{
    int outcome = p->net->start_tls(p->net->self, p->server.host, p->limitMs);
    if (outcome != TLS_UP) {
        fail_with_code(p, outcome > 0 && outcome < TLS_OUTCOME_COUNT ? TLS_FAILURES[outcome] : HANDSHAKE_FAILED);
        // A handshake that failed on the socket (WinSock's codes), not on
        // what the server said.
        uint32_t code = p->outcome->code;
        p->outcome->offline = outcome == TLS_HANDSHAKE_FAILED && code >= WINSOCK_CODES_FIRST && code <= WINSOCK_CODES_LAST;
        return 0;
    }
    int version = p->net->tls_version(p->net->self);
    write_status(p, STATUS_DETAIL_LINE,
                 version == 13 ? DETAIL_TLS_13 : version == 12 ? DETAIL_TLS_12 : STATUS_EMPTY);
    return 1;
}

static int tls_from_the_start(Session *p)
{
    if (p->server.security != SERVER_TLS)
        return 1;
    write_step(p, STEP_TLS, STATUS_SERVER);
    return start_tls(p);
}

// STLS, and TLS on its positive reply. Bytes that came after the reply
// were not asked for: whatever they say would be taken as said inside
// TLS (command injection), so they end the check.
static int start_tls_in_dialogue(Session *p)
{
    if (p->server.security != SERVER_STARTTLS)
        return 1;
    write_step(p, STEP_TLS, STATUS_SERVER);
    if (!exchange(p, "STLS", NULL, &STLS_FAILURES))
        return 0;
    if (pop3_pending(&p->reader) || p->net->has_unread(p->net->self))
        return fail(p, STLS_INJECTED);
    return start_tls(p);
}

// Not looked at: a server that greets negatively may still take USER.
static int read_greeting(Session *p)
{
    return receive_line(p, deadline_after(p)) || fail(p, GREETING_FAILED);
}

// The password lives in the request buffer only while PASS is sent.
static int log_in(Session *p)
{
    write_step(p, STEP_LOGIN, DETAIL_USER);
    if (!exchange(p, "USER", p->account->user, &USER_FAILURES))
        return 0;
    write_step(p, STEP_LOGIN, DETAIL_PASS);
    int ok = exchange(p, "PASS", p->account->pass, &PASS_FAILURES);
    pop3_wipe(p->request, sizeof p->request);
    return ok;
}

// The lines of a multi-line reply after its "+OK", up to its ".", each
// given to `take`, all within the one limit of the command. Lines past the
// bound are read and dropped; `*overflow` tells.
static int read_lines(Session *p, int (*take)(Session *, const char *, size_t), int *overflow)
{
    Pop3MultiLine lines;
    pop3_multiline_begin(&lines);
    for (;;) {
        if (!receive_line(p, p->deadline))
            return fail_with_code(p, UIDL_RECEIVE_FAILED);
        size_t length = p->reader.length;
        int step = pop3_multiline_line(&lines, p->reader.line, &length);
        if (step == POP3_MULTILINE_END)
            return 1;
        if (step == POP3_MULTILINE_TOO_MANY)
            *overflow = 1;
        else if (!take(p, p->reader.line, length))
            return 0;
    }
}

static int keep_uid(Session *p, const char *uid, size_t length)
{
    return seen_list_add(&p->seen->now, uid, length) || fail(p, OUT_OF_MEMORY);
}

// The uid of the last message is where the next check takes up.
static void mark_uid(Session *p, uint32_t number, const char *uid, size_t length)
{
    if (number != p->seen->mark.count)
        return;
    memcpy(p->seen->mark.uid, uid, length);
    p->seen->mark.uid[length] = '\0';
}

static int take_listing_line(Session *p, const char *line, size_t length)
{
    const char *uid;
    size_t uidLength;
    if (!pop3_uidl_line(line, length, &uid, &uidLength))
        return fail(p, UIDL_UNREADABLE);
    mark_uid(p, pop3_uidl_number(line, length), uid, uidLength);
    return keep_uid(p, uid, uidLength);
}

// A server that lists no uids, or more than can be kept, is judged by
// "more messages than at the last check"; the uids seen before stay.
static int judge_by_count(Session *p)
{
    Pop3Seen *m = p->seen;
    m->listed = 0;
    p->outcome->newCount = m->mark.count > m->last.count ? m->mark.count - m->last.count : 0;
    return 1;
}

// The numbers of the newest messages whose uids the last clean check did
// not see, for the headers asked of them: the first `entries` uids of
// `now` came in message order from number `first` on.
static void find_newest(Session *p, uint32_t first, size_t entries)
{
    const SeenList *now = &p->seen->now;
    unsigned long ring[ARRIVED_MAX];
    unsigned found = 0;
    size_t at = 0;
    if (!p->account->showHeaders)
        return;
    for (size_t k = 0; k < entries && at < now->textSize; k++) {
        if (!seen_list_contains(&p->seen->before, now->text + at))
            ring[found++ % ARRIVED_MAX] = first + k;
        at += strlen(now->text + at) + 1;
    }
    p->newestByUid = 1;
    p->newestCount = found < ARRIVED_MAX ? found : (unsigned)ARRIVED_MAX;
    for (unsigned i = 0; i < p->newestCount; i++)
        p->newest[i] = ring[(found - 1 - i) % ARRIVED_MAX];
}

// The whole listing, and the uids in it that the last clean check did not
// see.
static int judge_by_listing(Session *p)
{
    Pop3Seen *m = p->seen;
    int overflow = 0;
    seen_list_free(&m->now);
    m->mark.uid[0] = '\0';
    if (!exchange(p, "UIDL", NULL, &UIDL_FAILURES))
        return 0;
    if (!pop3_reply_positive(p->reader.line, p->reader.length))
        return judge_by_count(p);
    if (!read_lines(p, take_listing_line, &overflow))
        return 0;
    if (overflow) {
        m->mark.uid[0] = '\0';
        return judge_by_count(p);
    }
    if (!seen_list_finish(&m->now))
        return fail(p, OUT_OF_MEMORY);
    pop3_seen_recall(m);
    find_newest(p, 1, m->mark.count);
    // A listing longer than STAT's count makes no more new mail than that.
    size_t unseen = seen_list_unseen(&m->now, &m->before);
    p->outcome->newCount = unseen < m->mark.count ? (uint32_t)unseen : m->mark.count;
    return 1;
}

static int ascii_equal(const char *line, size_t length, const char *text)
{
    if (length != strlen(text))
        return 0;
    for (size_t i = 0; i < length; i++) {
        if ((line[i] >= 'a' && line[i] <= 'z' ? line[i] - 32 : line[i]) != text[i])
            return 0;
    }
    return 1;
}

static int take_capability(Session *p, const char *line, size_t length)
{
    p->pipelining |= ascii_equal(line, length, "PIPELINING");
    return 1;
}

// Whether the server takes a flight of commands: asked once per account
// (CAPA, RFC 2449) and kept in the caller's memory.
static int learn_pipelining(Session *p)
{
    Pop3Memory none, *known = p->account->memory ? p->account->memory : &none;
    int overflow = 0;
    if (p->account->memory == NULL || strcmp(known->server, p->account->server) || strcmp(known->user, p->account->user))
        memset(known, 0, sizeof *known);
    if (!known->asked) {
        if (!exchange(p, "CAPA", NULL, &UIDL_FAILURES))
            return 0;
        if (pop3_reply_positive(p->reader.line, p->reader.length) && !read_lines(p, take_capability, &overflow))
            return 0;
        memcpy(known->server, p->account->server, sizeof known->server);
        memcpy(known->user, p->account->user, sizeof known->user);
        known->asked = 1;
        known->pipelining = p->pipelining;
    }
    p->pipelining = known->pipelining;
    return 1;
}

static char *decimal(char *end, uint32_t n)
{
    *--end = '\0';
    do {
        *--end = (char)('0' + n % 10);
        n /= 10;
    } while (n);
    return end;
}

// "UIDL n" for each of first..last (at most FOLLOW_MAX + 1), sent at once.
static int send_uidls(Session *p, uint32_t first, uint32_t last)
{
    size_t at = 0;
    int formatted = 1;
    for (uint32_t i = 0; formatted && i <= last - first; i++) {
        char digits[11];
        formatted = pop3_format_request(p->flight + at, sizeof p->flight - at, "UIDL",
                                        decimal(digits + sizeof digits, first + i));
        at += strlen(p->flight + at);
    }
    return (formatted && p->net->send(p->net->self, p->flight, at)) || fail_with_code(p, UIDL_SEND_FAILED);
}

// The reply to "UIDL n". The last clean check's last message must still
// have its uid, and every message after it must tell its own; a refusal
// anywhere leaves the whole listing to judge.
static int take_uid(Session *p, uint32_t n)
{
    Pop3Seen *m = p->seen;
    const char *uid;
    size_t length;
    uint32_t number;
    if (!pop3_reply_positive(p->reader.line, p->reader.length)) {
        p->followed = 0;
        return 1;
    }
    if (!pop3_uidl_reply(p->reader.line, p->reader.length, &number, &uid, &length) || number != n)
        return fail(p, UIDL_UNREADABLE);
    mark_uid(p, n, uid, length);
    if (n == m->last.count)
        p->followed = p->followed && strlen(m->last.uid) == length && !memcmp(m->last.uid, uid, length);
    else if (n > m->last.count)
        return keep_uid(p, uid, length);
    return 1;
}

// The uids of messages first..last: in one flight where the server
// pipelines, its replies within one limit; else one command at a time.
static int ask_uids(Session *p, uint32_t first, uint32_t last)
{
    int flight = p->pipelining && last > first;
    if (flight && !send_uidls(p, first, last))
        return 0;
    p->deadline = deadline_after(p);
    for (uint32_t i = 0; i <= last - first; i++) {
        if (!flight) {
            if (!send_uidls(p, first + i, first + i))
                return 0;
            p->deadline = deadline_after(p);
        }
        if (!receive_line(p, p->deadline))
            return fail_with_code(p, UIDL_RECEIVE_FAILED);
        if (!take_uid(p, first + i))
            return 0;
    }
    return 1;
}

// The messages after the last clean check's: new unless seen before, and
// kept with the uids seen before while those fit in the file.
static int judge_followed(Session *p)
{
    Pop3Seen *m = p->seen;
    if (!seen_list_finish(&m->now))
        return fail(p, OUT_OF_MEMORY);
    m->listed = 0;
    p->outcome->newCount = 0;
    if (m->now.count == 0)
        return 1; // nothing after it: nothing to read of the file
    pop3_seen_recall(m);
    p->outcome->newCount = (uint32_t)seen_list_unseen(&m->now, &m->before);
    find_newest(p, m->last.count + 1, m->mark.count - m->last.count);
    m->listed = m->now.count + m->before.count <= POP3_MULTILINE_MAX_LINES;
    for (size_t i = 0; m->listed && i < m->before.count; i++) {
        if (!keep_uid(p, m->before.sorted[i], strlen(m->before.sorted[i])))
            return 0;
    }
    return !m->listed || seen_list_finish(&m->now) || fail(p, OUT_OF_MEMORY);
}

// Where the last clean check left off. While its last message keeps its
// number and uid, none before it has gone (a server keeps the mailbox in
// the order mail came), so only the messages after it can be new: their
// uids alone are asked, and the whole listing is not needed.
// p->followed tells whether it judged so; 0 on a failure.
static int follow_on(Session *p)
{
    Pop3Seen *m = p->seen;
    uint32_t last = m->last.count, count = m->mark.count;
    p->followed = m->last.uid[0] && last > 0 && count >= last && count - last <= FOLLOW_MAX;
    if (!p->followed)
        return 1;
    if (count > last && !learn_pipelining(p))
        return 0;
    // One command at a time, the last message first: when it has gone,
    // the messages after it need not be asked.
    if (!ask_uids(p, last, p->pipelining ? count : last))
        return 0;
    if (p->followed && !p->pipelining && count > last && !ask_uids(p, last + 1, count))
        return 0;
    return !p->followed || judge_followed(p);
}

// How many of `count` messages are new. With the setting off, all of
// them. With it on: those after where the last clean check left off, when
// that can be told; else the uids of the whole listing that it did not
// see; past the listing's bound, or for a server that lists no uids, by
// "more messages than at the last check".
static int judge_seen(Session *p, uint32_t count)
{
    Pop3Seen *m = p->seen;
    m->mark.count = count;
    p->outcome->newCount = count;
    if (!m->active)
        return 1;
    m->judged = 1;
    m->listed = 1; // an empty mailbox lists nothing, and needs no UIDL
    if (count == 0) {
        pop3_seen_recall(m); // to tell whether the file holds uids
        return 1;
    }
    write_status(p, STATUS_DETAIL_LINE, DETAIL_UIDL);
    if (!follow_on(p))
        return 0;
    if (p->followed)
        return 1;
    if (count <= POP3_MULTILINE_MAX_LINES)
        return judge_by_listing(p);
    // The uid of the last message, where the next check can take up.
    if (!m->mark.uid[0] && !ask_uids(p, count, count))
        return 0;
    return judge_by_count(p);
}

// The sender and subject of the newest new mail: of the messages whose
// uids were not seen before, or else of the highest-numbered ones, where
// new mail comes. TOP and QUIT go in one flight where the server
// pipelines (CAPA asked once per account, and only here or for the uids).
static int fetch_arrived(Session *p, uint32_t count)
{
    if (!p->account->showHeaders || !p->outcome->newMail)
        return 1;
    for (unsigned i = 0; !p->newestByUid && i < ARRIVED_MAX && i < p->outcome->newCount && i < count; i++)
        p->newest[p->newestCount++] = count - i;
    if (p->newestCount == 0)
        return 1; // a listing longer than STAT's count, new only past it
    if (!learn_pipelining(p))
        return 0;
    const Pop3Wire wire = {p->net, &p->reader, p->limitMs};
    p->quitSent = p->pipelining;
    int outcome = pop3_fetch_arrived(&wire, p->newest, p->newestCount, p->outcome->newCount, p->pipelining,
                                     p->account->pages, &p->outcome->arrived);
    if (outcome == ARRIVED_SEND_FAILED)
        return fail_with_code(p, TOP_SEND_FAILED);
    return outcome == ARRIVED_DONE || fail_with_code(p, TOP_RECEIVE_FAILED);
}

static int ask_status(Session *p)
{
    unsigned long count;
    write_step(p, STEP_STAT, DETAIL_STAT);
    if (!exchange(p, "STAT", NULL, &STAT_FAILURES))
        return 0;
    if (!pop3_stat_count(p->reader.line, p->reader.length, &count))
        return fail(p, STAT_REFUSED);
    uint32_t held = count == (uint32_t)count ? (uint32_t)count : UINT32_MAX;
    if (!judge_seen(p, held))
        return 0;
    p->outcome->newMail = p->outcome->newCount > 0;
    write_status(p, STATUS_DETAIL_LINE, p->outcome->newMail ? DETAIL_NEW_MAIL : DETAIL_NO_MAIL);
    return fetch_arrived(p, held);
}

// QUIT's reply, when QUIT went with the TOP commands.
static int quit_reply(Session *p)
{
    if (!receive_line(p, deadline_after(p)))
        return fail(p, QUIT_RECEIVE_FAILED);
    return pop3_reply_positive(p->reader.line, p->reader.length) || fail(p, QUIT_REFUSED);
}

static int log_out(Session *p)
{
    write_status(p, STATUS_STEP_LINE, STEP_QUIT);
    return p->quitSent ? quit_reply(p) : exchange(p, "QUIT", NULL, &QUIT_FAILURES);
}

int pop3_session_run(const Pop3Account *account, const NetLink *net, uint32_t limitMs, const Pop3Status *status,
                     Pop3Seen *seen, Pop3Outcome *outcome)
{
    Session p;
    memset(&p, 0, sizeof p);
    memset(outcome, 0, sizeof *outcome);
    p.account = account;
    p.net = net;
    p.limitMs = limitMs;
    p.status = status;
    p.seen = seen;
    p.outcome = outcome;
    pop3_reader_reset(&p.reader);
    outcome->ok = start_socket_layer(&p) && find_server(&p) && connect_server(&p) && tls_from_the_start(&p) &&
                  read_greeting(&p) && start_tls_in_dialogue(&p) && log_in(&p) && ask_status(&p) &&
                  log_out(&p);
    if (!outcome->ok)
        outcome->newMail = 0;
    pop3_wipe(&p, sizeof p);
    return outcome->ok;
}
