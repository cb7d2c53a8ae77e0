#include "pop3_dialogue.h"
#include <string.h>

const char UIDL_SEND_FAILED[] = "コマンド#5を送信できませんでした。";
const char UIDL_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#5";
const CommandFailures UIDL_FAILURES = {UIDL_SEND_FAILED, UIDL_RECEIVE_FAILED, NULL, 1};

void pop3_wipe(void *bytes, size_t size)
{
    volatile unsigned char *p = (volatile unsigned char *)bytes;
    while (size--)
        *p++ = 0;
}

void write_status(Session *p, int line, int text)
{
    p->status->write(p->status->self, line, text);
}

int fail(Session *p, const char *message)
{
    p->outcome->failure = message;
    p->outcome->code = 0;
    return 0;
}

// One of this program's own texts, with the system's code of the cause.
int fail_with_code(Session *p, const char *message)
{
    p->outcome->failure = message;
    p->outcome->code = p->net->last_error(p->net->self);
    return 0;
}

static int fail_command(Session *p, const char *message, const CommandFailures *failures)
{
    return failures->withCode ? fail_with_code(p, message) : fail(p, message);
}

uint32_t deadline_after(Session *p)
{
    return p->net->now(p->net->self) + p->limitMs;
}

// One whole reply line before the deadline. The limit holds for the line,
// not for each piece, so a server that trickles bytes without ever ending
// the line is cut off too. End of stream first is a failure.
int receive_line(Session *p, uint32_t deadline)
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
void note_waiting(Session *p)
{
    if (p->waited)
        return;
    p->waited = 1;
    if (p->status->waiting)
        p->status->waiting(p->status->self);
}

// A command and its status line; a refusal fails when `failures` names a
// text for it.
int exchange(Session *p, const char *command, const char *argument, const CommandFailures *failures)
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

// The lines of a multi-line reply after its "+OK", up to its ".", each
// given to `take`, all within the one limit of the command. Lines past the
// bound are read and dropped; `*overflow` tells.
int read_lines(Session *p, int (*take)(Session *, const char *, size_t), int *overflow)
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

int add_request(Session *p, size_t *at, const char *command, const char *argument)
{
    if (!pop3_format_request(p->flight + *at, sizeof p->flight - *at, command, argument))
        return 0;
    *at += strlen(p->flight + *at);
    return 1;
}

char *decimal_text(char *end, uint32_t n)
{
    *--end = '\0';
    do {
        *--end = (char)('0' + n % 10);
        n /= 10;
    } while (n);
    return end;
}
