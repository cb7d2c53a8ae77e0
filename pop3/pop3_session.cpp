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
static const char TOP_SEND_FAILED[] = "コマンド#6を送信できませんでした。";
static const char TOP_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#6";

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
static const CommandFailures USER_FAILURES = {USER_SEND_FAILED, USER_RECEIVE_FAILED, USER_REFUSED, 0};
static const CommandFailures PASS_FAILURES = {PASS_SEND_FAILED, PASS_RECEIVE_FAILED, PASS_REFUSED, 0};
static const CommandFailures STAT_FAILURES = {STAT_SEND_FAILED, STAT_RECEIVE_FAILED, STAT_REFUSED, 0};
static const CommandFailures QUIT_FAILURES = {QUIT_SEND_FAILED, QUIT_RECEIVE_FAILED, QUIT_REFUSED, 0};

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

