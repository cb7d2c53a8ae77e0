#include "connection.h"
#include "pop3_check.h"
#include "pop3_reply.h"
#include "server_address.h"
#include "progress_window.h"
#include "notify.h"
#include "check.h"
#include "seen_mail.h"
#include "../desktop/desktop.h"
#include "../settings/settings.h"
#include "resource.h"
#include <string.h>

volatile LONG pop3TimeoutMs = 30000;

// What the user is told when a step fails.
static const char WINSOCK_FAILED[] = "WinSock2.0を初期化できませんでした。";
static const char LOOKUP_FAILED[] = "サーバーを見つけられませんでした。";
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

static const WORD WINSOCK_VERSION_REQUESTED = 0x0202;

struct CommandFailures {
    const char *send;
    const char *receive;
    const char *refused;
};

// Indexed by TlsOutcome.
static const char *const TLS_FAILURES[] = {
    NULL, HANDSHAKE_FAILED, ISSUER_NOT_TRUSTED, NAME_MISMATCH, CERTIFICATE_EXPIRED, CERTIFICATE_REVOKED,
    CERTIFICATE_FAILED,
};
static_assert(sizeof TLS_FAILURES / sizeof *TLS_FAILURES == TLS_CERTIFICATE_FAILED + 1, "one text per outcome");

// A refused STLS ends the check whichever way it is refused: never a
// fall back to plain text.
static const CommandFailures STLS_FAILURES = {STLS_REFUSED, STLS_REFUSED, STLS_REFUSED};
static const CommandFailures USER_FAILURES = {USER_SEND_FAILED, USER_RECEIVE_FAILED, USER_REFUSED};
static const CommandFailures PASS_FAILURES = {PASS_SEND_FAILED, PASS_RECEIVE_FAILED, PASS_REFUSED};
static const CommandFailures STAT_FAILURES = {STAT_SEND_FAILED, STAT_RECEIVE_FAILED, STAT_REFUSED};
static const CommandFailures QUIT_FAILURES = {QUIT_SEND_FAILED, QUIT_RECEIVE_FAILED, QUIT_REFUSED};

// Everything one check holds, on the worker's stack.
struct Pop3Session {
    int socketLayer; // WSAStartup succeeded
    ServerAddress server;
    ADDRINFOA *addresses; // from the look-up, for the connect
    Connection connection;
    Pop3LineReader reader;
    char request[POP3_REQUEST_CAPACITY];
    int newMail;
    unsigned long newCount;
    SeenMail seen;
    int windowsReady; // the thread has made its first window
    const char *failure;
};

void write_status(int control, StatusText text)
{
    SettingsRecord s;
    settings_snapshot(&s);
    if (s.showProgress)
        progress_window_status(control, text);
}

static void write_step(StatusText step, StatusText detail)
{
    write_status(IDC_STATUS_STEP, step);
    write_status(IDC_STATUS_DETAIL, detail);
}

static int fail(Pop3Session *p, const char *message)
{
    p->failure = message;
    return 0;
}

// One whole reply line within the time limit. The limit holds for the
// line, not for each piece, so a server that trickles bytes without ever
// ending the line is cut off too. End of stream first is a failure.
static int receive_reply(Pop3Session *p)
{
    DWORD deadline = deadline_after((DWORD)pop3TimeoutMs);
    pop3_line_begin(&p->reader);
    while (!pop3_line_take(&p->reader)) {
        size_t capacity;
        char *space = pop3_receive_space(&p->reader, &capacity);
        int n = connection_receive(&p->connection, space, capacity, deadline);
        if (n <= 0)
            return 0;
        pop3_received(&p->reader, (size_t)n);
    }
    return 1;
}

// A thread's first window costs more than the ones after it: under Wine,
// several milliseconds go to the thread's own connection to the display.
// Made and destroyed, never shown, while the first command's reply is on
// its way, it takes that cost off the time between the last reply and the
// box that tells the result (or a failure).
static void prepare_windows(Pop3Session *p)
{
    if (p->windowsReady)
        return;
    p->windowsReady = 1;
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    if (window)
        DestroyWindow(window);
}

static int exchange(Pop3Session *p, const char *command, const char *argument,
                    const CommandFailures *failures)
{
    int formatted = pop3_format_request(p->request, sizeof p->request, command, argument);
    if (!formatted || !connection_send(&p->connection, p->request, lstrlenA(p->request)))
        return fail(p, failures->send);
    prepare_windows(p);
    if (!receive_reply(p))
        return fail(p, failures->receive);
    if (!pop3_reply_positive(p->reader.line, p->reader.length))
        return fail(p, failures->refused);
    return 1;
}

static int start_socket_layer(Pop3Session *p)
{
    WSADATA data;
    write_step(STEP_WINSOCK, DETAIL_WINSOCK);
    if (WSAStartup(WINSOCK_VERSION_REQUESTED, &data) != 0)
        return fail(p, WINSOCK_FAILED);
    p->socketLayer = 1;
    return 1;
}

// Every address of the name, IPv6 and IPv4, for the connect to try in
// turn. A dotted IPv4 address is read as such by the look-up itself. A
// text that names no server (the settings dialog refuses one, but the
// file may hold it) fails as a name that cannot be found.
static int find_server(Pop3Session *p)
{
    SettingsRecord s;
    settings_snapshot(&s);
    write_step(STEP_LOOKUP, STATUS_SERVER);
    if (!parse_server_address(s.server, &p->server))
        return fail(p, LOOKUP_FAILED);
    char port[8];
    wsprintfA(port, "%u", (unsigned)p->server.port);
    ADDRINFOA hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_flags = p->server.numeric ? AI_NUMERICHOST : 0;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (getaddrinfo(p->server.host, port, &hints, &p->addresses) != 0)
        return fail(p, LOOKUP_FAILED);
    return 1;
}

// One time limit for every address together.
static int connect_server(Pop3Session *p)
{
    write_step(STEP_SOCKET, STATUS_EMPTY);
    write_step(STEP_CONNECT, STATUS_SERVER);
    int outcome = connection_open(&p->connection, p->addresses, (DWORD)pop3TimeoutMs);
    if (outcome == CONNECT_NO_SOCKET)
        return fail(p, SOCKET_FAILED);
    if (outcome != CONNECT_DONE)
        return fail(p, CONNECT_FAILED);
    return 1;
}

// The handshake and the certificate check, before anything of the
// account is sent; the detail line then shows the protocol agreed on.
static int start_tls(Pop3Session *p)
{
    int outcome = connection_start_tls(&p->connection, p->server.host, (DWORD)pop3TimeoutMs);
    if (outcome != TLS_UP)
        return fail(p, TLS_FAILURES[outcome]);
    int version = p->connection.tlsVersion;
    write_status(IDC_STATUS_DETAIL, version == 13 ? DETAIL_TLS_13 : version == 12 ? DETAIL_TLS_12 : STATUS_EMPTY);
    return 1;
}

static void write_handshake_step(void)
{
    write_step(STEP_TLS, STATUS_SERVER);
}

static int tls_from_the_start(Pop3Session *p)
{
    if (p->server.security != SERVER_TLS)
        return 1;
    write_handshake_step();
    return start_tls(p);
}

// STLS, and TLS on its positive reply. Bytes that came after the reply
// were not asked for: whatever they say would be taken as said inside
// TLS (command injection), so they end the check.
static int start_tls_in_dialogue(Pop3Session *p)
{
    if (p->server.security != SERVER_STARTTLS)
        return 1;
    write_handshake_step();
    if (!exchange(p, "STLS", NULL, &STLS_FAILURES))
        return 0;
    if (pop3_pending(&p->reader) || connection_has_unread(&p->connection))
        return fail(p, STLS_INJECTED);
    return start_tls(p);
}

// Not looked at: a server that greets negatively may still take USER.
static int read_greeting(Pop3Session *p)
{
    if (!receive_reply(p))
        return fail(p, GREETING_FAILED);
    return 1;
}

static int log_in(Pop3Session *p)
{
    SettingsRecord s;
    settings_snapshot(&s);
    write_step(STEP_LOGIN, DETAIL_USER);
    if (!exchange(p, "USER", s.user, &USER_FAILURES))
        return 0;
    settings_snapshot(&s);
    write_step(STEP_LOGIN, DETAIL_PASS);
    int ok = exchange(p, "PASS", s.pass, &PASS_FAILURES);
    SecureZeroMemory(&s, sizeof s);
    SecureZeroMemory(p->request, sizeof p->request);
    return ok;
}

// The connection as the seen-mail step reaches it.
static int talk_send(void *session, const char *command)
{
    Pop3Session *p = (Pop3Session *)session;
    return pop3_format_request(p->request, sizeof p->request, command, NULL)
           && connection_send(&p->connection, p->request, lstrlenA(p->request));
}

static int talk_receive(void *session, char **line, size_t *length)
{
    Pop3Session *p = (Pop3Session *)session;
    if (!receive_reply(p))
        return 0;
    *line = p->reader.line;
    *length = p->reader.length;
    return 1;
}

static int ask_status(Pop3Session *p)
{
    unsigned long count;
    write_step(STEP_STAT, DETAIL_STAT);
    if (!exchange(p, "STAT", NULL, &STAT_FAILURES))
        return 0;
    if (!pop3_stat_count(p->reader.line, p->reader.length, &count))
        return fail(p, STAT_REFUSED);
    const Pop3Talk talk = {p, talk_send, talk_receive};
    if (!seen_mail_judge(&p->seen, &talk, count, &p->newCount, &p->failure))
        return 0;
    p->newMail = p->newCount > 0;
    write_status(IDC_STATUS_DETAIL, p->newMail ? DETAIL_NEW_MAIL : DETAIL_NO_MAIL);
    return 1;
}

static int log_out(Pop3Session *p)
{
    write_status(IDC_STATUS_STEP, STEP_QUIT);
    return exchange(p, "QUIT", NULL, &QUIT_FAILURES);
}

static int run_dialogue(Pop3Session *p)
{
    return start_socket_layer(p) && find_server(p) && connect_server(p) && tls_from_the_start(p) &&
           read_greeting(p) && start_tls_in_dialogue(p) && log_in(p) && ask_status(p) && log_out(p);
}

// Every ending in the same order: the seen mail kept (after a clean logout
// only), the outcome posted to the tray, the error box (the connection stays
// open while it is shown), the connection, the socket layer, the result
// actions after a clean logout, the close request, and last the launcher's
// flag.
DWORD WINAPI run_pop3_check(LPVOID unused)
{
    (void)unused;
    Pop3Session p;
    memset(&p, 0, sizeof p);
    connection_reset(&p.connection);
    pop3_reader_reset(&p.reader);
    // The result actions may start the mail program through the shell.
    int shellReady = shell_thread_begin();
    seen_mail_begin(&p.seen);

    int ok = run_dialogue(&p);
    seen_mail_end(&p.seen, ok);
    post_check_outcome(!ok ? CHECK_OUTCOME_FAILED : p.newMail ? CHECK_OUTCOME_NEW_MAIL : CHECK_OUTCOME_NO_NEW_MAIL,
                       p.newCount);
    if (!ok)
        ErrorBox(p.failure);
    connection_close(&p.connection);
    if (p.addresses)
        freeaddrinfo(p.addresses);
    if (p.socketLayer)
        WSACleanup();
    if (ok) {
        if (p.newMail)
            notify_new_mail();
        else
            notify_no_mail();
    }
    shell_thread_end(shellReady);
    progress_window_close();
    check_ended();
    ExitThread(0);
    return 0;
}
