#include "pop3_session.h"
#include "pop3_dialogue.h"
#include "seen_judgement.h"
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
static const char IN_USE[] = "メールボックスは他のプログラムが使用中です。";
static const char LOGIN_DELAYED[] = "前回のログインから間もないため、サーバーがログインを断りました。";
static const char SYSTEM_TEMPORARY[] = "サーバーが一時的に利用できません。";
static const char SYSTEM_PERMANENT[] = "サーバーがログインを断りました。";

// WinSock's error codes (WSAEINTR 10004 to WSA_QOS_RESERVED_PETYPE 11031).
enum { WINSOCK_CODES_FIRST = 10000, WINSOCK_CODES_LAST = 11999 };

// Indexed by TlsOutcome.
static const char *const TLS_FAILURES[] = {
    NULL, HANDSHAKE_FAILED, ISSUER_NOT_TRUSTED, NAME_MISMATCH, CERTIFICATE_EXPIRED, CERTIFICATE_REVOKED,
    CERTIFICATE_FAILED,
};
static_assert(sizeof TLS_FAILURES / sizeof *TLS_FAILURES == TLS_OUTCOME_COUNT, "one text per outcome");

// A refused STLS ends the check whichever way it is refused: never a
// fall back to plain text.
static const CommandFailures STLS_FAILURES = {STLS_REFUSED, STLS_REFUSED, STLS_REFUSED, 1};
// A refused USER or PASS is told by what the server said (login_refused).
static const CommandFailures USER_FAILURES = {USER_SEND_FAILED, USER_RECEIVE_FAILED, NULL, 0};
static const CommandFailures PASS_FAILURES = {PASS_SEND_FAILED, PASS_RECEIVE_FAILED, NULL, 0};
// A refused UTF8 leaves the headers as the server gives them to any client.
static const CommandFailures UTF8_FAILURES = USER_FAILURES;
static const CommandFailures STAT_FAILURES = {STAT_SEND_FAILED, STAT_RECEIVE_FAILED, STAT_REFUSED, 0};
static const CommandFailures QUIT_FAILURES = {QUIT_SEND_FAILED, QUIT_RECEIVE_FAILED, QUIT_REFUSED, 0};

static void write_step(Session *p, int step, int detail)
{
    write_status(p, STATUS_STEP_LINE, step);
    write_status(p, STATUS_DETAIL_LINE, detail);
}

// A failure for want of a network (or of a server at that address).
static int fail_offline(Session *p, const char *message)
{
    p->outcome->offline = 1;
    return fail(p, message);
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

// Indexed by Pop3ResponseCode: a refusal of the login with a code of its
// own is told by that code, with the server's words after it.
static const char *const LOGIN_CODE_TEXTS[] = {NULL, IN_USE, LOGIN_DELAYED, SYSTEM_TEMPORARY, SYSTEM_PERMANENT, NULL};
static_assert(sizeof LOGIN_CODE_TEXTS / sizeof *LOGIN_CODE_TEXTS == POP3_CODE_AUTH + 1, "one entry per code");

static int login_refused(Session *p, const char *usual)
{
    Pop3Outcome *o = p->outcome;
    int code = pop3_response_code(p->reader.line, p->reader.length, o->said);
    const char *text = LOGIN_CODE_TEXTS[code];
    o->busy = code == POP3_CODE_IN_USE || code == POP3_CODE_LOGIN_DELAY || code == POP3_CODE_SYS_TEMP;
    if (!text)
        o->said[0] = '\0';
    return fail(p, text ? text : usual);
}

// What the account's server said of itself, when it was said of this
// account; NULL when it is to be asked.
static const Pop3Memory *known_memory(const Session *p)
{
    const Pop3Memory *m = p->account->memory;
    return m && m->asked && !strcmp(m->server, p->account->server) && !strcmp(m->user, p->account->user) ? m : NULL;
}

static int ascii(const char *text)
{
    for (; *text; text++) {
        if ((unsigned char)*text > 0x7E)
            return 0;
    }
    return 1;
}

// "UTF8" goes before USER to a server that listed it, where the user name
// and password are ASCII (the command says how they are to be read).
static int wants_utf8(const Session *p)
{
    const Pop3Memory *m = known_memory(p);
    return m && m->utf8 && ascii(p->account->user) && ascii(p->account->pass);
}

// One command at a time. The password lives in the request buffer only
// while PASS is sent.
static int log_in_steps(Session *p)
{
    if (wants_utf8(p) && !exchange(p, "UTF8", NULL, &UTF8_FAILURES))
        return 0;
    write_step(p, STEP_LOGIN, DETAIL_USER);
    if (!exchange(p, "USER", p->account->user, &USER_FAILURES))
        return 0;
    if (!pop3_reply_positive(p->reader.line, p->reader.length))
        return login_refused(p, USER_REFUSED);
    write_step(p, STEP_LOGIN, DETAIL_PASS);
    int ok = exchange(p, "PASS", p->account->pass, &PASS_FAILURES);
    pop3_wipe(p->request, sizeof p->request);
    if (ok && !pop3_reply_positive(p->reader.line, p->reader.length))
        return login_refused(p, PASS_REFUSED);
    p->outcome->loggedIn = ok;
    return ok;
}

// Nothing can follow STAT when neither the uids nor the headers of new
// mail are to be asked: QUIT goes in the login's flight.
static int nothing_follows(const Session *p)
{
    return !p->seen->active && !p->account->showHeaders;
}

// UTF8, USER, PASS, STAT, the uids the judgement asks first, and QUIT
// where nothing can follow, in one write; the password lives in the flight
// only while it is sent.
static int send_login_flight(Session *p, int utf8, unsigned *replies)
{
    size_t at = 0;
    int ok = (!utf8 || add_request(p, &at, "UTF8", NULL)) && add_request(p, &at, "USER", p->account->user)
             && add_request(p, &at, "PASS", p->account->pass) && add_request(p, &at, "STAT", NULL);
    p->ahead = seen_first_numbers(p->seen, p->aheadNumbers);
    for (unsigned i = 0; ok && i < p->ahead; i++) {
        char digits[11];
        ok = add_request(p, &at, "UIDL", decimal_text(digits + sizeof digits, p->aheadNumbers[i]));
    }
    p->quitSent = nothing_follows(p);
    ok = ok && (!p->quitSent || add_request(p, &at, "QUIT", NULL)) && p->net->send(p->net->self, p->flight, at);
    pop3_wipe(p->flight, sizeof p->flight);
    *replies = (utf8 ? 1 : 0) + 3 + p->ahead + (p->quitSent ? 1 : 0);
    return ok;
}

// After a refused login the flight's other replies are read and dropped,
// within its limit, so that the server's last word is QUIT's.
static int refused_in_flight(Session *p, const char *usual, unsigned left)
{
    login_refused(p, usual);
    while (left-- && receive_line(p, p->deadline)) {
    }
    return 0;
}

// The login's replies in the order asked, all within one limit; STAT's
// and the uids' are left for the steps after it.
static int log_in_flight(Session *p)
{
    int utf8 = wants_utf8(p);
    unsigned replies;
    write_step(p, STEP_LOGIN, DETAIL_USER);
    if (!send_login_flight(p, utf8, &replies))
        return fail(p, USER_SEND_FAILED);
    note_waiting(p);
    p->flown = 1;
    p->deadline = deadline_after(p);
    if ((utf8 && !receive_line(p, p->deadline)) || !receive_line(p, p->deadline))
        return fail(p, USER_RECEIVE_FAILED);
    if (!pop3_reply_positive(p->reader.line, p->reader.length))
        return refused_in_flight(p, USER_REFUSED, replies - 1 - utf8);
    write_step(p, STEP_LOGIN, DETAIL_PASS);
    if (!receive_line(p, p->deadline))
        return fail(p, PASS_RECEIVE_FAILED);
    if (!pop3_reply_positive(p->reader.line, p->reader.length))
        return refused_in_flight(p, PASS_REFUSED, replies - 2 - utf8);
    p->outcome->loggedIn = 1;
    return 1;
}

// In one flight where the account's server is known to pipeline.
static int log_in(Session *p)
{
    const Pop3Memory *m = known_memory(p);
    p->pipelining = m && m->pipelining;
    return p->pipelining ? log_in_flight(p) : log_in_steps(p);
}

// The sender and subject of the newest new mail: of the messages whose
// uids were not seen before, or else of the highest-numbered ones, where
// new mail comes. TOP and QUIT go in one flight where the server
// pipelines, their replies within one limit. They are not needed: when
// they cannot be read, the count is told without them, and a connection
// that broke or fell out of step is left without QUIT.
static void fetch_arrived(Session *p, uint32_t count)
{
    if (!p->account->showHeaders || !p->outcome->newMail)
        return;
    for (unsigned i = 0; !p->newestByUid && i < ARRIVED_MAX && i < p->outcome->newCount && i < count; i++)
        p->newest[p->newestCount++] = count - i;
    if (p->newestCount == 0)
        return; // a listing longer than STAT's count, new only past it
    Pop3Wire wire = {p->net, &p->reader, p->limitMs, 0};
    p->quitSent = p->pipelining;
    int outcome = pop3_fetch_arrived(&wire, p->newest, p->newestCount, p->outcome->newCount, p->pipelining,
                                     p->account->pages, &p->outcome->arrived);
    p->deadline = wire.deadline;
    if (outcome != ARRIVED_DONE) {
        memset(&p->outcome->arrived, 0, sizeof p->outcome->arrived);
        p->arrivedLost = 1;
    }
}

static int status_reply(Session *p)
{
    if (!p->flown)
        return exchange(p, "STAT", NULL, &STAT_FAILURES);
    if (!receive_line(p, p->deadline))
        return fail(p, STAT_RECEIVE_FAILED);
    p->outOfStep = !pop3_reply_positive(p->reader.line, p->reader.length);
    return !p->outOfStep || fail(p, STAT_REFUSED);
}

static int ask_status(Session *p)
{
    unsigned long count;
    write_step(p, STEP_STAT, DETAIL_STAT);
    if (!status_reply(p))
        return 0;
    if (!pop3_stat_count(p->reader.line, p->reader.length, &count)) {
        p->outOfStep = p->flown;
        return fail(p, STAT_REFUSED);
    }
    uint32_t held = count == (uint32_t)count ? (uint32_t)count : UINT32_MAX;
    if (!judge_seen(p, held))
        return 0;
    p->outcome->newMail = p->outcome->newCount > 0;
    write_status(p, STATUS_DETAIL_LINE, p->outcome->newMail ? DETAIL_NEW_MAIL : DETAIL_NO_MAIL);
    fetch_arrived(p, held);
    return 1;
}

static int take_capability(Session *p, const char *line, size_t length)
{
    pop3_capability_line(line, length, &p->capabilities);
    return 1;
}

// What the server says of itself, asked once per account at the end of a
// check (CAPA, RFC 2449) and kept in the account's memory: the next check
// logs in by it. A server without CAPA is remembered as taking nothing.
static int learn_capabilities(Session *p)
{
    Pop3Memory *m = p->account->memory;
    int overflow = 0;
    if (!m || known_memory(p))
        return 1;
    if (!exchange(p, "CAPA", NULL, &UIDL_FAILURES))
        return 0;
    if (pop3_reply_positive(p->reader.line, p->reader.length) && !read_lines(p, take_capability, &overflow))
        return 0;
    memset(m, 0, sizeof *m);
    memcpy(m->server, p->account->server, sizeof m->server);
    memcpy(m->user, p->account->user, sizeof m->user);
    m->asked = 1;
    m->pipelining = (p->capabilities.flags & POP3_CAPABILITY_PIPELINING) != 0;
    m->utf8 = (p->capabilities.flags & POP3_CAPABILITY_UTF8) != 0;
    m->loginDelay = p->capabilities.loginDelay;
    return 1;
}

// QUIT's reply, when QUIT went in a flight: within the flight's limit.
static int quit_reply(Session *p)
{
    if (!receive_line(p, p->deadline))
        return fail(p, QUIT_RECEIVE_FAILED);
    return pop3_reply_positive(p->reader.line, p->reader.length) || fail(p, QUIT_REFUSED);
}

static int log_out(Session *p)
{
    write_status(p, STATUS_STEP_LINE, STEP_QUIT);
    if (p->arrivedLost)
        return 1;
    if (p->quitSent)
        return quit_reply(p);
    return learn_capabilities(p) && exchange(p, "QUIT", NULL, &QUIT_FAILURES);
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
    // A server that answered a flight out of step is asked one command
    // at a time until it says again what it takes.
    if (p.outOfStep && account->memory)
        account->memory->asked = 0;
    pop3_wipe(&p, sizeof p);
    return outcome->ok;
}
