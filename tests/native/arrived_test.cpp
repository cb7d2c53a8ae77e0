// What arrived: the header block read out of TOP's reply within its
// bounds, the fetch over a scripted server (one flight or one command at a
// time, refused, hostile), the session around it, and the lines the
// new-mail message shows.
#include <gtest/gtest.h>
#include "check/arrived_text.h"
#include "check/quiet_time.h"
#include "pop3/header_reader.h"
#include "pop3/pop3_session.h"
#include "scripted_link.h"
#include <algorithm>
#include <memory>
#include <string>

namespace {

// ASCII passes, anything else is "?": these rows are about bytes and
// bounds; the decoder's own tables carry the charsets.
size_t ascii_unicode(unsigned, const char *bytes, size_t size, unsigned short *wide)
{
    for (size_t i = 0; i < size; i++)
        wide[i] = (unsigned char)bytes[i];
    return size;
}
size_t ascii_cp932(const unsigned short *wide, size_t count, char *out)
{
    for (size_t i = 0; i < count; i++)
        out[i] = wide[i] < 0x80 ? (char)wide[i] : '?';
    return count;
}
const HeaderCodePages ASCII = {ascii_unicode, ascii_cp932};

std::string header(const std::string &from, const std::string &subject)
{
    return "+OK\r\nFrom: " + from + "\r\nSubject: " + subject + "\r\n\r\n.\r\n";
}

struct Read {
    std::string block;
    size_t taken;
    int ended;
};

Read read_all(const std::string &bytes, size_t piece)
{
    auto r = std::make_unique<HeaderReader>();
    header_reader_begin(r.get());
    Read out = {"", 0, 0};
    while (out.taken < bytes.size() && !out.ended) {
        size_t n = std::min(piece, bytes.size() - out.taken);
        out.taken += header_reader_take(r.get(), bytes.data() + out.taken, n, &out.ended);
    }
    out.block.assign(r->block, r->size);
    return out;
}

TEST(HeaderReader, KeepsTheHeaderWithinItsBoundsAndReadsToTheEnd)
{
    const std::string line998 = "X: " + std::string(995, 'a');
    std::string manyLines;
    for (int i = 0; i < 100000; i++)
        manyLines += "X: 1\r\n";
    std::string big;
    for (int i = 0; i < 300; i++)
        big += "X: " + std::string(60, 'b') + "\r\n";
    struct {
        const char *name;
        std::string reply; // after the status line
        std::string kept;  // empty: only its size is checked
        size_t keptSize;
    } rows[] = {
        {"plain", "From: a\r\nSubject: b\r\n\r\n.\r\n", "From: a\nSubject: b\n", 0},
        {"folded, LF alone", "Subject: a\n b\n.\n", "Subject: a\n b\n", 0},
        {"dot-stuffed", "..X: y\r\n.\r\n", ".X: y\n", 0},
        {"the body is not kept", "A: 1\r\n\r\nbody\r\n.\r\n", "A: 1\n", 0},
        {"NUL bytes", std::string("A: \0b\r\n.\r\n", 10), std::string("A: \0b\n", 6), 0},
        {"a line of 998", line998 + "\r\n.\r\n", line998 + "\n", 0},
        {"a line of 999 and the rest", "A: 1\r\n" + line998 + "a\r\nB: 2\r\n.\r\n", "A: 1\n", 0},
        {"100,000 bytes without a line end", "A: 1\r\n" + std::string(100000, 'c') + "\r\n.\r\n", "A: 1\n", 0},
        {"100,000 lines", manyLines + ".\r\n", "", 500 * 5},
        {"over 16 KiB", big + ".\r\n", "", (HEADER_BLOCK_MAX - 1) / 64 * 64},
    };
    for (const auto &row : rows) {
        for (size_t piece : {(size_t)1, (size_t)7, (size_t)512}) {
            SCOPED_TRACE(std::string(row.name) + ", pieces of " + std::to_string(piece));
            Read r = read_all(row.reply + "+OK next", piece);
            EXPECT_EQ(r.ended, 1);
            EXPECT_EQ(r.taken, row.reply.size()); // what follows is the next reply's
            if (row.kept.empty())
                EXPECT_EQ(r.block.size(), row.keptSize);
            else
                EXPECT_EQ(r.block, row.kept);
        }
    }
    EXPECT_EQ(read_all("A: 1\r\n.\r", 512).ended, 0); // no dot line yet: the reply goes on
}

using scripted::After;
using scripted::raw;
using scripted::Reply;

struct Fetched {
    int outcome;
    Pop3Arrived arrived;
    std::vector<std::string> lines;
    int sends, pending;
    uint32_t waited; // the fake clock's time from the first command
};

Fetched fetch(std::vector<Reply> replies, unsigned long count, unsigned long newCount, int pipelined)
{
    scripted::Script script;
    script.replies = std::move(replies);
    scripted::Link link(script);
    Pop3LineReader reader;
    pop3_reader_reset(&reader);
    Pop3Wire wire = {link.net(), &reader, 30000, 0};
    Fetched f;
    uint32_t start = link.now();
    unsigned long numbers[ARRIVED_MAX];
    unsigned wanted = 0;
    while (wanted < ARRIVED_MAX && wanted < newCount && wanted < count) {
        numbers[wanted] = count - wanted;
        wanted++;
    }
    f.outcome = pop3_fetch_arrived(&wire, numbers, wanted, newCount, pipelined, &ASCII, &f.arrived);
    f.lines = link.lines();
    f.sends = link.sends();
    f.pending = pop3_pending(&reader);
    f.waited = link.now() - start;
    return f;
}

Reply top(const std::string &from, const std::string &subject)
{
    return raw(header(from, subject));
}

TEST(FetchArrived, TheNewestFirstInOneFlightOrOneByOne)
{
    for (int pipelined = 0; pipelined < 2; pipelined++) {
        SCOPED_TRACE(pipelined ? "pipelined" : "one by one");
        Fetched f = fetch({top("c@x", "third"), top("b@x", "second"), top("a@x", "first"), raw("+OK bye\r\n")}, 3,
                          3, pipelined);
        ASSERT_EQ(f.outcome, ARRIVED_DONE);
        ASSERT_EQ(f.arrived.listed, 3u);
        EXPECT_EQ(f.arrived.more, 0u);
        EXPECT_STREQ(f.arrived.sender[0], "c@x");
        EXPECT_STREQ(f.arrived.subject[0], "third");
        EXPECT_STREQ(f.arrived.sender[2], "a@x");
        std::vector<std::string> want = {"TOP 3 0", "TOP 2 0", "TOP 1 0"};
        if (pipelined)
            want.push_back("QUIT"); // in the same write; its reply is the caller's
        EXPECT_EQ(f.lines, want);
        EXPECT_EQ(f.sends, pipelined ? 1 : 3);
        EXPECT_EQ(f.pending, 0);
    }
}

TEST(FetchArrived, RefusedHostileAndUnended)
{
    std::string lines;
    for (int i = 0; i < 100000; i++)
        lines += "X: 1\r\n";
    const Reply next = top("n@x", "next"), err = raw("-ERR no\r\n"), five = top("a", "b");
    struct {
        const char *name;
        std::vector<Reply> replies;
        unsigned long count, newCount;
        int pipelined, outcome;
        unsigned listed;
        unsigned long more;
        int sends;
    } rows[] = {
        {"TOP refused", {err, err}, 4, 2, 0, ARRIVED_DONE, 0, 0, 1},
        {"TOP refused, pipelined", {err, err}, 4, 2, 1, ARRIVED_DONE, 0, 0, 1},
        {"seven new: five listed", {five, five, five, five, five}, 9, 7, 1, ARRIVED_DONE, 5, 2, 1},
        {"a header over 16 KiB", {raw("+OK\r\nX: " + std::string(20000, 'z') + "\r\n.\r\n"), next}, 2, 2, 0,
         ARRIVED_DONE, 2, 0, 2},
        {"100,000 bytes without a line end", {raw("+OK\r\n" + std::string(100000, 'z') + "\r\n.\r\n"), next}, 2, 2,
         1, ARRIVED_DONE, 2, 0, 1},
        {"100,000 header lines", {raw("+OK\r\n" + lines + ".\r\n"), next}, 2, 2, 0, ARRIVED_DONE, 2, 0, 2},
        {"NUL bytes", {raw(std::string("+OK\r\nFrom: \0\0\r\n.\r\n", 18)), next}, 2, 2, 0, ARRIVED_DONE, 2, 0, 2},
        {"a reply without its dot", {raw("+OK\r\nFrom: a\r\n\r\n", After::Silence)}, 1, 1, 0,
         ARRIVED_RECEIVE_FAILED, 0, 0, 1},
        {"closed before the reply", {scripted::close_now()}, 1, 1, 1, ARRIVED_RECEIVE_FAILED, 0, 0, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Fetched f = fetch(row.replies, row.count, row.newCount, row.pipelined);
        EXPECT_EQ(f.outcome, row.outcome);
        EXPECT_EQ(f.sends, row.sends);
        if (row.outcome != ARRIVED_DONE) {
            if (std::string(row.name) == "a reply without its dot")
                EXPECT_EQ(f.waited, 30000u); // ended by the limit, not before
            continue;
        }
        EXPECT_EQ(f.arrived.listed, row.listed);
        EXPECT_EQ(f.arrived.more, row.more);
        EXPECT_EQ(f.pending, 0);
        if (row.listed == 2)
            EXPECT_STREQ(f.arrived.sender[1], "n@x");
    }
}

struct Dialogue {
    int ok, sends;
    std::vector<std::string> lines;
    Pop3Outcome outcome;
};

// The uids a check with "only mail not seen before" on finds in its file.
struct Before {
    SeenMark last;
    std::vector<std::string> uids;
};

void recall(const void *self, SeenList *list)
{
    for (const std::string &uid : static_cast<const Before *>(self)->uids)
        seen_list_add(list, uid.data(), uid.size());
    seen_list_finish(list);
}

Dialogue run(const std::string &stat, std::vector<Reply> after, int showHeaders, Pop3Memory *memory,
             const Before *before = nullptr)
{
    scripted::Script script;
    script.replies = {raw("+OK\r\n"), raw("+OK\r\n"), raw(stat)};
    script.replies.insert(script.replies.end(), after.begin(), after.end());
    scripted::Link link(script);
    Pop3Account account = scripted::account("mail.example.jp", "u", "p");
    account.showHeaders = showHeaders;
    account.pages = &ASCII;
    Pop3Seen seen;
    pop3_seen_init(&seen);
    account.memory = memory;
    if (before) {
        account.unseenOnly = seen.active = 1;
        seen.last = before->last;
        seen.recall = recall;
        seen.recallSelf = before;
    }
    scripted::StatusLog status;
    Dialogue d;
    d.ok = pop3_session_run(&account, link.net(), 30000, &status.table, &seen, &d.outcome);
    d.lines = link.lines();
    d.sends = link.sends();
    pop3_seen_free(&seen);
    return d;
}

// With the setting off the dialogue is what it always was; with it on,
// TOP comes between STAT and QUIT only when there is new mail, TOP and
// QUIT in one write where the server is known to pipeline. CAPA is asked
// at the end of a check of an account whose server has not said.
TEST(FetchArrived, TheSessionAsksOnlyWhenAskedAndMailCame)
{
    typedef std::vector<std::string> Lines;
    const Lines login = {"USER u", "PASS p", "STAT"};
    const Reply capa = raw("+OK\r\nTOP\r\nUIDL\r\n.\r\n"), capaPipelining = raw("+OK\r\nTOP\r\nPIPELINING\r\n.\r\n");
    const Reply bye = raw("+OK bye\r\n");
    const Pop3Memory none = {}, pipelines = {"mail.example.jp", "u", 1, 1, 0, 0};
    auto with = [&](Lines more) {
        Lines all = login;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    struct {
        const char *name;
        std::string stat;
        std::vector<Reply> after;
        int showHeaders;
        const Pop3Memory *known;
        Lines lines;
        int sends;
        unsigned listed;
    } rows[] = {
        {"both off", "+OK 2 300\r\n", {capa, bye}, 0, &none, with({"CAPA", "QUIT"}), 5, 0},
        {"both off, known", "+OK 2 300\r\n", {bye}, 0, &pipelines, with({"QUIT"}), 1, 0},
        {"on, two messages", "+OK 2 300\r\n", {top("b", "2"), top("a", "1"), capa, bye}, 1, &none,
         with({"TOP 2 0", "TOP 1 0", "CAPA", "QUIT"}), 7, 2},
        {"on, pipelining", "+OK 2 300\r\n", {top("b", "2"), top("a", "1"), bye}, 1, &pipelines,
         with({"TOP 2 0", "TOP 1 0", "QUIT"}), 2, 2},
        {"on, TOP refused", "+OK 2 300\r\n", {raw("-ERR\r\n"), capa, bye}, 1, &none,
         with({"TOP 2 0", "CAPA", "QUIT"}), 6, 0},
        {"on, no mail", "+OK 0 0\r\n", {capa, bye}, 1, &none, with({"CAPA", "QUIT"}), 5, 0},
        // Sender and subject are not needed: the count is told without them.
        {"on, TOP cut off", "+OK 2 300\r\n", {raw("+OK\r\nFrom: a\r\n", scripted::After::Close)}, 1, &none,
         with({"TOP 2 0"}), 4, 0},
        {"on, pipelined, past one limit", "+OK 3 300\r\n",
         {scripted::pieces({{header("c", "3"), 12000}}), scripted::pieces({{header("b", "2"), 12000}}),
          scripted::pieces({{header("a", "1"), 12000}}), bye},
         1, &pipelines, with({"TOP 3 0", "TOP 2 0", "TOP 1 0", "QUIT"}), 2, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Pop3Memory memory = *row.known;
        Dialogue d = run(row.stat, row.after, row.showHeaders, &memory);
        EXPECT_EQ(d.ok, 1);
        EXPECT_EQ(d.outcome.newCount, row.stat[4] - '0');
        EXPECT_EQ(d.lines, row.lines);
        EXPECT_EQ(d.sends, row.sends);
        EXPECT_EQ(d.outcome.arrived.listed, row.listed);
    }
    // CAPA once per account: the next check logs in by what it said.
    Pop3Memory memory = {};
    run("+OK 1 9\r\n", {top("a", "1"), capaPipelining, bye}, 1, &memory);
    Dialogue again = run("+OK 1 9\r\n", {top("a", "1"), bye}, 1, &memory);
    EXPECT_EQ(again.lines, with({"TOP 1 0", "QUIT"}));
    EXPECT_EQ(again.sends, 2);
}

// With "only mail not seen before" on, the headers are asked of the
// messages whose uids are new, wherever they stand: here a message seen
// before stands after the new one.
TEST(FetchArrived, OnlyMailNotSeenBeforeAsksTheNewUids)
{
    const Reply capa = raw("+OK\r\nTOP\r\nUIDL\r\n.\r\n"), bye = raw("+OK bye\r\n");
    const Before listed = {{0, "", ""}, {"a", "b", "c"}}, followed = {{3, "c", "a"}, {"a", "b", "c", "e"}};
    struct {
        const char *name;
        const Before *before;
        std::vector<Reply> after; // STAT's reply on
        std::vector<std::string> lines;
    } rows[] = {
        {"the whole listing", &listed,
         {raw("+OK\r\n1 a\r\n2 b\r\n3 x\r\n4 c\r\n.\r\n"), top("x@x", "new"), capa, bye},
         {"UIDL", "TOP 3 0", "CAPA", "QUIT"}},
        {"after the last check's", &followed,
         {raw("+OK 3 c\r\n"), raw("+OK 1 a\r\n"), raw("+OK 4 x\r\n"), raw("+OK 5 e\r\n"), top("x@x", "new"), capa,
          bye},
         {"UIDL 3", "UIDL 1", "UIDL 4", "UIDL 5", "TOP 4 0", "CAPA", "QUIT"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Pop3Memory memory = {};
        Dialogue d = run(row.before == &listed ? "+OK 4 9\r\n" : "+OK 5 9\r\n", row.after, 1, &memory, row.before);
        EXPECT_EQ(d.ok, 1);
        std::vector<std::string> want = {"USER u", "PASS p", "STAT"};
        want.insert(want.end(), row.lines.begin(), row.lines.end());
        EXPECT_EQ(d.lines, want);
        EXPECT_EQ(d.outcome.newCount, 1u);
        ASSERT_EQ(d.outcome.arrived.listed, 1u);
        EXPECT_STREQ(d.outcome.arrived.sender[0], "x@x");
    }
}

#define SJ_A "\x82\xA0" // あ in code page 932
#define ELLIPSIS "\x81\x63"
#define OPEN "\x81\x75"
#define CLOSE "\x81\x76"
#define OTHERS(n) "\n\x82\xD9\x82\xA9 " n " \x92\xCA"
#define NEW_COUNT(n) ": \x90\x56\x92\x85 " n " \x92\xCA" // ": 新着 n 通"

TEST(ArrivedText, OneLinePerMessageCutOnCharacters)
{
    Pop3Arrived a = {};
    a.listed = 2;
    a.more = 3;
    strcpy(a.sender[0], "taro@example.jp");
    strcpy(a.subject[0], "hello");
    // 13 double-byte characters: 26 bytes, two more than the width.
    std::string wide;
    for (int i = 0; i < 13; i++)
        wide += SJ_A;
    strcpy(a.sender[1], wide.c_str());
    strcpy(a.subject[1], ("x" + std::string(60, 'y')).c_str());
    char text[1024];
    arrived_text("first", &a, text, sizeof text);
    std::string cutSender;
    for (int i = 0; i < 11; i++)
        cutSender += SJ_A;
    const std::string want = "first\ntaro@example.jp" OPEN "hello" CLOSE "\n" + cutSender + ELLIPSIS OPEN "x" +
                             std::string(45, 'y') + ELLIPSIS CLOSE OTHERS("3");
    EXPECT_EQ(std::string(text), want);

    // An odd cut: one ASCII byte first, so the 24th byte is a lead byte.
    strcpy(a.sender[1], ("z" + wide).c_str());
    arrived_text("first", &a, text, sizeof text);
    EXPECT_NE(std::string(text).find("\nz" + cutSender.substr(0, 20) + ELLIPSIS OPEN), std::string::npos);

    // A balloon's 256 bytes: lines are taken while they fit, and what does
    // not fit is counted with the rest.
    a.listed = 5;
    for (int i = 2; i < 5; i++) {
        strcpy(a.sender[i], wide.c_str());
        strcpy(a.subject[i], wide.c_str());
    }
    arrived_text("first", &a, text, 256);
    EXPECT_LT(strlen(text), 256u);
    const std::string shown = text;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 5); // four messages and the rest
    EXPECT_EQ(shown.substr(shown.size() - 10), OTHERS("4"));
    EXPECT_GT(strlen(text) + 55, 256u) << "the fifth would not have fitted";
}

// Several accounts: each with new mail by its count and what arrived, each
// failure by its text and code, in the accounts' order; an account with
// nothing new says nothing; what does not fit is left off whole.
TEST(ArrivedText, EachAccountTellsItsPart)
{
    Pop3Arrived a = {};
    a.listed = 1;
    strcpy(a.sender[0], "hanako");
    strcpy(a.subject[0], "hi");
    const AccountResult results[] = {
        {"taro (mail.example.jp)", 1, 2, &a, NULL, 0, NULL},
        {"jiro (pop3s://b.example.jp)", 0, 0, NULL, "refused", 0x80092010, "in use"},
        {"saburo (c.example.jp)", 1, 0, NULL, NULL, 0, NULL},
        {"shiro (d.example.jp)", 1, 1, NULL, NULL, 0, ""},
    };
    char text[1024];
    accounts_text("first", results, 4, text, sizeof text);
    EXPECT_EQ(std::string(text), "first\ntaro (mail.example.jp)" NEW_COUNT("2") "\nhanako" OPEN "hi" CLOSE
                                 "\njiro (pop3s://b.example.jp): refused(0x80092010)\nin use\nshiro (d.example.jp)" NEW_COUNT("1"));
    accounts_text("", results + 1, 1, text, sizeof text);
    EXPECT_EQ(std::string(text), "jiro (pop3s://b.example.jp): refused(0x80092010)\nin use");
    accounts_text("first", results, 4, text, 30);
    EXPECT_EQ(std::string(text), "first");
}

// Whether a result waits: only while the user presents, plays full screen
// or is busy, and never for a check the user asked for.
TEST(QuietTime, ResultsWaitOnlyWhileTheUserMustNotBeDisturbed)
{
    struct {
        int state, asked, held;
    } rows[] = {
        {USER_BUSY, 0, 1},          {USER_FULL_SCREEN, 0, 1}, {USER_PRESENTING, 0, 1},
        {USER_ACCEPTS_NOTIFICATIONS, 0, 0}, {USER_NOT_PRESENT, 0, 0}, {USER_QUIET_TIME, 0, 0},
        {USER_APP, 0, 0},           {0, 0, 0},                {USER_PRESENTING, 1, 0},
        {USER_BUSY, 1, 0},          {USER_FULL_SCREEN, 1, 0},
    };
    for (auto &r : rows)
        EXPECT_EQ(result_held(r.state, r.asked), r.held) << "state " << r.state << " asked " << r.asked;
}

} // namespace
