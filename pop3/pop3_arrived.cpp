#include "pop3_arrived.h"
#include "header_reader.h"
#include <string.h>

static uint32_t deadline_after(const Pop3Wire *w)
{
    return w->net->now(w->net->self) + w->limitMs;
}

// Received bytes into the reader's pending space.
static int receive_more(const Pop3Wire *w, uint32_t deadline)
{
    size_t capacity;
    char *space = pop3_receive_space(w->reader, &capacity);
    int n = w->net->receive(w->net->self, space, capacity, deadline);
    if (n <= 0)
        return 0;
    pop3_received(w->reader, (size_t)n);
    return 1;
}

static int receive_status(const Pop3Wire *w, uint32_t deadline)
{
    pop3_line_begin(w->reader);
    while (!pop3_line_take(w->reader))
        if (!receive_more(w, deadline))
            return 0;
    return 1;
}

// The header block after a positive status, to the reply's end; bytes
// after the end stay pending for the next reply.
static int receive_block(const Pop3Wire *w, HeaderReader *h, uint32_t deadline)
{
    Pop3LineReader *r = w->reader;
    header_reader_begin(h);
    for (;;) {
        int ended;
        r->pendingStart += header_reader_take(h, r->pending + r->pendingStart, r->pendingEnd - r->pendingStart, &ended);
        if (ended)
            return 1;
        if (!receive_more(w, deadline))
            return 0;
    }
}

enum { TOP_REQUEST_CAPACITY = 32 };

// "TOP n 0\r\n" at `out`; gives its length.
static size_t format_top(unsigned long number, char *out)
{
    char argument[24];
    char *p = argument + sizeof argument - 3;
    memcpy(p, " 0", 3);
    do
        *--p = (char)('0' + number % 10);
    while (number /= 10);
    pop3_format_request(out, TOP_REQUEST_CAPACITY, "TOP", p);
    return strlen(out);
}

// `n` requests for the messages `numbers`, in one write: with pipelining
// all of them, and QUIT after them, go before the first reply is read.
static int send_tops(const Pop3Wire *w, const unsigned long *numbers, unsigned n, int quit)
{
    char requests[(ARRIVED_MAX + 1) * TOP_REQUEST_CAPACITY];
    size_t size = 0;
    for (unsigned i = 0; i < n; i++)
        size += format_top(numbers[i], requests + size);
    if (quit) {
        memcpy(requests + size, "QUIT\r\n", 6);
        size += 6;
    }
    return w->net->send(w->net->self, requests, size);
}

static void decode(const HeaderReader *h, const HeaderCodePages *pages, Pop3Arrived *out)
{
    unsigned i = out->listed++;
    header_sender(h->block, h->size, pages, out->sender[i], ARRIVED_TEXT_CAPACITY);
    header_subject(h->block, h->size, pages, out->subject[i], ARRIVED_TEXT_CAPACITY);
}

int pop3_fetch_arrived(Pop3Wire *wire, const unsigned long *numbers, unsigned wanted, unsigned long newCount,
                       int pipelined, const HeaderCodePages *pages, Pop3Arrived *out)
{
    HeaderReader h;
    int refused = 0;
    memset(out, 0, sizeof *out);
    if (wanted > ARRIVED_MAX)
        wanted = ARRIVED_MAX;
    for (unsigned i = 0; i < wanted; i++) {
        if ((i == 0 || !pipelined) && !send_tops(wire, numbers + i, pipelined ? wanted : 1, pipelined))
            return ARRIVED_SEND_FAILED;
        if (i == 0 || !pipelined)
            wire->deadline = deadline_after(wire);
        uint32_t deadline = wire->deadline;
        if (!receive_status(wire, deadline))
            return ARRIVED_RECEIVE_FAILED;
        if (pop3_reply_positive(wire->reader->line, wire->reader->length)) {
            if (!receive_block(wire, &h, deadline))
                return ARRIVED_RECEIVE_FAILED;
            decode(&h, pages, out);
        } else {
            refused = 1;
            if (!pipelined)
                break;
        }
    }
    out->listed = refused ? 0 : out->listed;
    out->more = refused || newCount < out->listed ? 0 : newCount - out->listed;
    return ARRIVED_DONE;
}
