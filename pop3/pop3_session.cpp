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
static const char UIDL_TOO_LONG[] = "メールの一覧が50000行を超えたため、確認を中止しました。";
static const char UIDL_UNREADABLE[] = "メールの一覧を正しく解釈できませんでした。";
static const char TOP_SEND_FAILED[] = "コマンド#6を送信できませんでした。";
static const char TOP_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#6";
static const char OUT_OF_MEMORY[] = "メモリが不足しているため、確認を中止しました。";

static_assert(POP3_MULTILINE_MAX_LINES == 50000, "the message above names the limit");

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
// A refused UIDL is no failure (see judge_seen).
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
    int waited; // the caller has been told that a reply is on its way
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
    if (!receive_line(p, deadline_after(p)))
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
    return p->net->look_up(p->net->self, &p->server) || fail(p, LOOKUP_FAILED);
}

static int connect_server(Session *p)
{
    write_step(p, STEP_SOCKET, STATUS_EMPTY);
    write_step(p, STEP_CONNECT, STATUS_SERVER);
    int outcome = p->net->open(p->net->self, p->limitMs);
    if (outcome == NET_NO_SOCKET)
        return fail(p, SOCKET_FAILED);
    if (outcome != NET_CONNECTED)
        return fail(p, CONNECT_FAILED);
    return 1;
}

// The handshake and the certificate check, before anything of the
// account is sent; the detail line then shows the protocol agreed on.
static int start_tls(Session *p)
{
    int outcome = p->net->start_tls(p->net->self, p->server.host, p->limitMs);
    if (outcome != TLS_UP)
        return fail_with_code(p, outcome > 0 && outcome < TLS_OUTCOME_COUNT ? TLS_FAILURES[outcome]
                                                                             : HANDSHAKE_FAILED);
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

// The listing after "+OK", up to its ".", into `now`; the whole listing
// within one time limit.
static int read_listing(Session *p)
{
    Pop3MultiLine listing;
    pop3_multiline_begin(&listing);
    uint32_t deadline = deadline_after(p);
    for (;;) {
        if (!receive_line(p, deadline))
            return fail_with_code(p, UIDL_RECEIVE_FAILED);
        size_t length = p->reader.length;
        int step = pop3_multiline_line(&listing, p->reader.line, &length);
        if (step == POP3_MULTILINE_END)
            break;
        if (step == POP3_MULTILINE_TOO_MANY)
            return fail(p, UIDL_TOO_LONG);
        const char *uid;
        size_t uidLength;
        if (!pop3_uidl_line(p->reader.line, length, &uid, &uidLength))
            return fail(p, UIDL_UNREADABLE);
        if (!seen_list_add(&p->seen->now, uid, uidLength))
            return fail(p, OUT_OF_MEMORY);
    }
    return seen_list_finish(&p->seen->now) || fail(p, OUT_OF_MEMORY);
}

// How many of `count` messages are new. With the setting off, all of
// them. With it on, the uids the server lists that the last clean check
// did not see; a server that refuses UIDL is judged by "more messages
// than at the last check", and the uids seen earlier are kept for when it
// lists again.
static int judge_seen(Session *p, unsigned long count)
{
    Pop3Seen *m = p->seen;
    m->count = count;
    p->outcome->newCount = count;
    if (!m->active)
        return 1;
    m->judged = 1;
    m->listed = 1; // an empty mailbox lists nothing, and needs no UIDL
    if (count == 0)
        return 1;
    write_status(p, STATUS_DETAIL_LINE, DETAIL_UIDL);
    if (!exchange(p, "UIDL", NULL, &UIDL_FAILURES))
        return 0;
    if (!pop3_reply_positive(p->reader.line, p->reader.length)) {
        m->listed = 0;
        p->outcome->newCount = count > m->lastCount ? count - m->lastCount : 0;
        return 1;
    }
    if (!read_listing(p))
        return 0;
    p->outcome->newCount = seen_list_unseen(&m->now, &m->before);
    return 1;
}

// The sender and subject of the newest mail. With "only mail not seen
// before" on, the newest messages need not be the new ones: nothing is
// listed then.
static int fetch_arrived(Session *p, unsigned long count)
{
    if (!p->account->showHeaders || !p->outcome->newMail || p->seen->active)
        return 1;
    const Pop3Wire wire = {p->net, &p->reader, p->limitMs};
    int outcome = pop3_fetch_arrived(&wire, count, p->outcome->newCount, 0, p->account->pages, &p->outcome->arrived);
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
    if (!judge_seen(p, count))
        return 0;
    p->outcome->newMail = p->outcome->newCount > 0;
    write_status(p, STATUS_DETAIL_LINE, p->outcome->newMail ? DETAIL_NEW_MAIL : DETAIL_NO_MAIL);
    return fetch_arrived(p, count);
}

static int log_out(Session *p)
{
    write_status(p, STATUS_STEP_LINE, STEP_QUIT);
    return exchange(p, "QUIT", NULL, &QUIT_FAILURES);
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
