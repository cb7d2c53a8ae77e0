#include <winsock2.h>
#include "pop3_check.h"
#include "pop3_reply.h"
#include "progress_window.h"
#include "notify.h"
#include "check.h"
#include "seen_mail.h"
#include "../desktop/desktop.h"
#include "../settings/settings.h"
#include "resource.h"
#include <string.h>

volatile LONG pop3TimeoutMs = 30000;

// What the progress window shows, step by step.
static const char STEP_WINSOCK[] = "WinSockを初期化しています...";
static const char DETAIL_WINSOCK[] = "要求：WinSock2.0";
static const char STEP_LOOKUP[] = "サーバーを探しています...";
static const char STEP_SOCKET[] = "ソケットを作成中...";
static const char STEP_CONNECT[] = "サーバーへ接続しています...";
static const char STEP_LOGIN[] = "ユーザー認証を試行しています...";
static const char DETAIL_USER[] = "ユーザー名送信中";
static const char DETAIL_PASS[] = "パスワード送信中";
static const char STEP_STAT[] = "新着メールを確認しています...";
static const char DETAIL_STAT[] = "ステータスを受信中";
static const char DETAIL_NO_MAIL[] = "新着メールなし";
static const char DETAIL_NEW_MAIL[] = "新着メールが届いています";
static const char STEP_QUIT[] = "ログアウトしています...";

// What the user is told when a step fails.
static const char WINSOCK_FAILED[] = "WinSock2.0を初期化できませんでした。";
static const char LOOKUP_FAILED[] = "サーバーを見つけられませんでした。";
static const char SOCKET_FAILED[] = "ソケットを作成できませんでした。";
static const char CONNECT_FAILED[] = "サーバーに接続できませんでした。";
static const char GREETING_FAILED[] = "サーバーから応答を受け取ることができませんでした。";
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

static const CommandFailures USER_FAILURES = {USER_SEND_FAILED, USER_RECEIVE_FAILED, USER_REFUSED};
static const CommandFailures PASS_FAILURES = {PASS_SEND_FAILED, PASS_RECEIVE_FAILED, PASS_REFUSED};
static const CommandFailures STAT_FAILURES = {STAT_SEND_FAILED, STAT_RECEIVE_FAILED, STAT_REFUSED};
static const CommandFailures QUIT_FAILURES = {QUIT_SEND_FAILED, QUIT_RECEIVE_FAILED, QUIT_REFUSED};

// Everything one check holds, on the worker's stack.
struct Pop3Session {
    int socketLayer; // WSAStartup succeeded
    SOCKET s;
    SOCKADDR_IN address;
    Pop3LineReader reader;
    char request[POP3_REQUEST_CAPACITY];
    int newMail;
    unsigned long newCount;
    SeenMail seen;
    const char *failure;
};

void write_status(int control, const char *text)
{
    SettingsRecord s;
    settings_snapshot(&s);
    if (s.showProgress)
        progress_window_status(control, text);
}

static void write_step(const char *step, const char *detail)
{
    write_status(IDC_STATUS_STEP, step);
    write_status(IDC_STATUS_DETAIL, detail);
}

static int fail(Pop3Session *p, const char *message)
{
    p->failure = message;
    return 0;
}

static TIMEVAL time_value(DWORD ms)
{
    TIMEVAL t;
    t.tv_sec = (long)(ms / 1000);
    t.tv_usec = (long)(ms % 1000) * 1000;
    return t;
}

// Connect without blocking, so that a server that never completes the
// handshake fails the step when the time limit has passed.
static int connect_in_time(SOCKET s, const SOCKADDR_IN *address, DWORD ms)
{
    u_long on = 1, off = 0;
    if (ioctlsocket(s, FIONBIO, &on) != 0)
        return 0;
    if (connect(s, (const SOCKADDR *)address, sizeof *address) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return 0;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        TIMEVAL t = time_value(ms);
        if (select(0, NULL, &writable, &failed, &t) <= 0 || !FD_ISSET(s, &writable))
            return 0;
        int error = 0, length = sizeof error;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, (char *)&error, &length) != 0 || error != 0)
            return 0;
    }
    return ioctlsocket(s, FIONBIO, &off) == 0;
}

static int wait_readable(SOCKET s, DWORD ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    TIMEVAL t = time_value(ms);
    return select(0, &readable, NULL, NULL, &t) > 0;
}

// One whole reply line within the time limit. The limit holds for the
// line, not for each piece, so a server that trickles bytes without ever
// ending the line is cut off too. End of stream first is a failure.
static int receive_reply(Pop3Session *p)
{
    DWORD limit = (DWORD)pop3TimeoutMs;
    DWORD start = GetTickCount();
    pop3_line_begin(&p->reader);
    while (!pop3_line_take(&p->reader)) {
        DWORD spent = GetTickCount() - start;
        if (spent >= limit || !wait_readable(p->s, limit - spent))
            return 0;
        size_t capacity;
        char *space = pop3_receive_space(&p->reader, &capacity);
        int n = recv(p->s, space, (int)capacity, 0);
        if (n <= 0)
            return 0;
        pop3_received(&p->reader, (size_t)n);
    }
    return 1;
}

static int exchange(Pop3Session *p, const char *command, const char *argument,
                    const CommandFailures *failures)
{
    int formatted = pop3_format_request(p->request, sizeof p->request, command, argument);
    if (!formatted || send(p->s, p->request, lstrlenA(p->request), 0) == SOCKET_ERROR)
        return fail(p, failures->send);
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

// The name first; a dotted address that the name look-up does not know is
// looked up as an address.
static int find_server(Pop3Session *p)
{
    SettingsRecord s;
    settings_snapshot(&s);
    write_step(STEP_LOOKUP, s.server);
    HOSTENT *host = gethostbyname(s.server);
    if (!host) {
        unsigned long a = inet_addr(s.server);
        host = gethostbyaddr((const char *)&a, sizeof a, AF_INET);
    }
    if (!host || host->h_length != 4 || !host->h_addr_list[0])
        return fail(p, LOOKUP_FAILED);
    memset(&p->address, 0, sizeof p->address);
    p->address.sin_family = (short)host->h_addrtype;
    memcpy(&p->address.sin_addr, host->h_addr_list[0], 4);
    p->address.sin_port = htons(POP3_PORT);
    return 1;
}

static int create_socket(Pop3Session *p)
{
    write_step(STEP_SOCKET, "");
    p->s = socket(AF_INET, SOCK_STREAM, 0);
    if (p->s == INVALID_SOCKET)
        return fail(p, SOCKET_FAILED);
    return 1;
}

static int connect_server(Pop3Session *p)
{
    SettingsRecord s;
    settings_snapshot(&s);
    write_step(STEP_CONNECT, s.server);
    if (!connect_in_time(p->s, &p->address, (DWORD)pop3TimeoutMs))
        return fail(p, CONNECT_FAILED);
    return 1;
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
           && send(p->s, p->request, lstrlenA(p->request), 0) != SOCKET_ERROR;
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
    return start_socket_layer(p) && find_server(p) && create_socket(p) && connect_server(p) &&
           read_greeting(p) && log_in(p) && ask_status(p) && log_out(p);
}

// Every ending in the same order: the seen mail kept (after a clean logout
// only), the outcome posted to the tray, the error box (the connection
// stays open while it is shown), the socket, the socket layer, the result
// actions after a clean logout, the close request, and last the launcher's
// flag.
DWORD WINAPI run_pop3_check(LPVOID unused)
{
    (void)unused;
    Pop3Session p;
    memset(&p, 0, sizeof p);
    p.s = INVALID_SOCKET;
    pop3_reader_reset(&p.reader);
    seen_mail_begin(&p.seen);

    int ok = run_dialogue(&p);
    seen_mail_end(&p.seen, ok);
    post_check_outcome(!ok ? CHECK_OUTCOME_FAILED : p.newMail ? CHECK_OUTCOME_NEW_MAIL : CHECK_OUTCOME_NO_NEW_MAIL,
                       p.newCount);
    if (!ok)
        ErrorBox(p.failure);
    if (p.s != INVALID_SOCKET)
        closesocket(p.s);
    if (p.socketLayer)
        WSACleanup();
    if (ok) {
        if (p.newMail)
            notify_new_mail();
        else
            notify_no_mail();
    }
    progress_window_close();
    check_ended();
    ExitThread(0);
    return 0;
}
