#include "seen_judgement.h"
#include "pop3_dialogue.h"
#include <string.h>

static const char UIDL_UNREADABLE[] = "メールの一覧を正しく解釈できませんでした。";
static const char OUT_OF_MEMORY[] = "メモリが不足しているため、確認を中止しました。";

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
           || strcmp(seen->mark.first, seen->last.first) != 0 || (seen->listed && !seen_list_same(&seen->now, &seen->before));
}

static int keep_uid(Session *p, const char *uid, size_t length)
{
    return seen_list_add(&p->seen->now, uid, length) || fail(p, OUT_OF_MEMORY);
}

unsigned seen_first_numbers(const Pop3Seen *seen, uint32_t numbers[2])
{
    const SeenMark *last = &seen->last;
    if (!seen->active || last->count == 0 || !last->uid[0] || !last->first[0])
        return 0;
    numbers[0] = last->count;
    numbers[1] = 1;
    return last->count > 1 ? 2 : 1;
}

static void copy_uid(char *to, const char *uid, size_t length)
{
    memcpy(to, uid, length);
    to[length] = '\0';
}

// The uids of the last and the first message are where the next check
// takes up.
static void mark_uid(Session *p, uint32_t number, const char *uid, size_t length)
{
    if (number == p->seen->mark.count)
        copy_uid(p->seen->mark.uid, uid, length);
    if (number == 1)
        copy_uid(p->seen->mark.first, uid, length);
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
    m->mark.uid[0] = m->mark.first[0] = '\0';
    if (!exchange(p, "UIDL", NULL, &UIDL_FAILURES))
        return 0;
    if (!pop3_reply_positive(p->reader.line, p->reader.length))
        return judge_by_count(p);
    if (!read_lines(p, take_listing_line, &overflow))
        return 0;
    if (overflow) {
        m->mark.uid[0] = m->mark.first[0] = '\0';
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

static int same_uid(const char *kept, const char *uid, size_t length)
{
    return strlen(kept) == length && !memcmp(kept, uid, length);
}

// "UIDL n" for each of `numbers` (at most FOLLOW_MAX + 2), sent at once.
static int send_uidls(Session *p, const uint32_t *numbers, unsigned count)
{
    size_t at = 0;
    int formatted = 1;
    for (unsigned i = 0; formatted && i < count; i++) {
        char digits[11];
        formatted = add_request(p, &at, "UIDL", decimal_text(digits + sizeof digits, numbers[i]));
    }
    return (formatted && p->net->send(p->net->self, p->flight, at)) || fail_with_code(p, UIDL_SEND_FAILED);
}

// The reply to "UIDL n". The last clean check's last and first messages
// must still have their uids, and every message after the last must tell
// its own; a refusal anywhere leaves the whole listing to judge. A reply
// for another message is out of step.
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
    if (!pop3_uidl_reply(p->reader.line, p->reader.length, &number, &uid, &length) || number != n) {
        p->outOfStep = p->pipelining;
        return fail(p, UIDL_UNREADABLE);
    }
    mark_uid(p, n, uid, length);
    if (n == m->last.count)
        p->followed = p->followed && same_uid(m->last.uid, uid, length);
    if (n == 1)
        p->followed = p->followed && same_uid(m->last.first, uid, length);
    if (n > m->last.count)
        return keep_uid(p, uid, length);
    return 1;
}

static int take_uid_reply(Session *p, uint32_t n)
{
    if (!receive_line(p, p->deadline))
        return fail_with_code(p, UIDL_RECEIVE_FAILED);
    return take_uid(p, n);
}

// The uids of `numbers`: in one flight where the server pipelines, its
// replies within one limit; else one command at a time, up to the first
// that shows the mailbox changed other than at its end.
static int ask_uids(Session *p, const uint32_t *numbers, unsigned count)
{
    int flight = p->pipelining && count > 1;
    if (flight && !send_uidls(p, numbers, count))
        return 0;
    p->deadline = deadline_after(p);
    for (unsigned i = 0; i < count && (flight || p->followed || i == 0); i++) {
        if (!flight) {
            if (!send_uidls(p, numbers + i, 1))
                return 0;
            p->deadline = deadline_after(p);
        }
        if (!take_uid_reply(p, numbers[i]))
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

// Where the last clean check left off. While its last message and its
// first keep their numbers and uids, the mailbox is taken to have grown
// at its end only: the uids after the last are asked, and the whole
// listing is not needed. Where the login's flight asked both ends, their
// replies are read here whatever is decided. p->followed tells whether it
// judged so; 0 on a failure.
static int follow_on(Session *p)
{
    Pop3Seen *m = p->seen;
    uint32_t last = m->last.count, count = m->mark.count, numbers[FOLLOW_MAX + 2];
    unsigned n = 0;
    p->followed = m->last.uid[0] && m->last.first[0] && last > 0 && count >= last && count - last <= FOLLOW_MAX;
    for (unsigned i = 0; i < p->ahead; i++) {
        if (!take_uid_reply(p, p->aheadNumbers[i]))
            return 0;
    }
    if (!p->followed)
        return 1;
    if (!p->ahead) {
        numbers[n++] = last;
        if (last > 1)
            numbers[n++] = 1;
    }
    for (uint32_t k = last + 1; k <= count; k++)
        numbers[n++] = k;
    if (n && !ask_uids(p, numbers, n))
        return 0;
    return !p->followed || judge_followed(p);
}

// How many of `count` messages are new. With the setting off, all of
// them. With it on: those after where the last clean check left off, when
// that can be told; else the uids of the whole listing that it did not
// see; past the listing's bound, or for a server that lists no uids, by
// "more messages than at the last check".
int judge_seen(Session *p, uint32_t count)
{
    Pop3Seen *m = p->seen;
    m->mark.count = count;
    p->outcome->newCount = count;
    if (!m->active)
        return 1;
    m->judged = 1;
    m->listed = 1; // an empty mailbox lists nothing, and needs no UIDL
    if (count)
        write_status(p, STATUS_DETAIL_LINE, DETAIL_UIDL);
    if (!follow_on(p))
        return 0;
    if (p->followed)
        return 1;
    if (count == 0) {
        pop3_seen_recall(m); // to tell whether the file holds uids
        return 1;
    }
    if (count <= POP3_MULTILINE_MAX_LINES)
        return judge_by_listing(p);
    // The uids of the last and the first message, where the next check
    // can take up.
    uint32_t ends[2];
    unsigned n = 0;
    if (!m->mark.uid[0])
        ends[n++] = count;
    if (!m->mark.first[0] && count > 1)
        ends[n++] = 1;
    p->followed = 1; // every end asked
    if (n && !ask_uids(p, ends, n))
        return 0;
    p->followed = 0;
    return judge_by_count(p);
}
