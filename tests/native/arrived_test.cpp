// What arrived: the header block read out of TOP's reply within its
// bounds, the fetch over a scripted server (one flight or one command at a
// time, refused, hostile), the session around it, and the lines the
// new-mail message shows.
#include <gtest/gtest.h>
#include "check/arrived_text.h"
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

struct Fetched {
    int outcome;
    Pop3Arrived arrived;
    std::vector<std::string> sent;
    std::string events, left; // what the reader still holds for the next reply
};

Fetched fetch(const std::string &script, unsigned long count, unsigned long newCount, int pipelined)
{
    ScriptedLink server(script);
    Pop3LineReader reader;
    pop3_reader_reset(&reader);
    const Pop3Wire wire = {&server.link, &reader, 30000};
    Fetched f;
    f.outcome = pop3_fetch_arrived(&wire, count, newCount, pipelined, &ASCII, &f.arrived);
    f.sent = server.sent;
    f.events = server.events;
    f.left = std::string(reader.pending + reader.pendingStart, reader.pendingEnd - reader.pendingStart) +
             server.server.substr(server.at);
    return f;
}

TEST(FetchArrived, TheNewestFirstInOneFlightOrOneByOne)
{
    const std::string three = header("c@x", "third") + header("b@x", "second") + header("a@x", "first") + "+OK bye\r\n";
    for (int pipelined = 0; pipelined < 2; pipelined++) {
        SCOPED_TRACE(pipelined ? "pipelined" : "one by one");
        Fetched f = fetch(three, 3, 3, pipelined);
        ASSERT_EQ(f.outcome, ARRIVED_DONE);
        ASSERT_EQ(f.arrived.listed, 3u);
        EXPECT_EQ(f.arrived.more, 0u);
        EXPECT_STREQ(f.arrived.sender[0], "c@x");
        EXPECT_STREQ(f.arrived.subject[0], "third");
        EXPECT_STREQ(f.arrived.sender[2], "a@x");
        std::vector<std::string> want = {"TOP 3 0\r\nTOP 2 0\r\nTOP 1 0\r\n"};
        if (!pipelined)
            want = {"TOP 3 0\r\n", "TOP 2 0\r\n", "TOP 1 0\r\n"};
        EXPECT_EQ(f.sent, want);
        EXPECT_EQ(f.left, "+OK bye\r\n");
    }
}

TEST(FetchArrived, RefusedHostileAndUnended)
{
    std::string lines;
    for (int i = 0; i < 100000; i++)
        lines += "X: 1\r\n";
    const std::string next = header("n@x", "next");
    struct {
        const char *name;
        std::string script;
        unsigned long count, newCount;
        int pipelined, outcome;
        unsigned listed;
        unsigned long more;
        size_t writes;
    } rows[] = {
        {"TOP refused", "-ERR no\r\n", 4, 2, 0, ARRIVED_DONE, 0, 0, 1},
        {"TOP refused, pipelined", "-ERR no\r\n-ERR no\r\n", 4, 2, 1, ARRIVED_DONE, 0, 0, 1},
        {"seven new: five listed", header("a", "b") + header("a", "b") + header("a", "b") + header("a", "b") +
                                        header("a", "b"), 9, 7, 1, ARRIVED_DONE, 5, 2, 1},
        {"a header over 16 KiB", "+OK\r\nX: " + std::string(20000, 'z') + "\r\n.\r\n" + next, 2, 2, 0,
         ARRIVED_DONE, 2, 0, 2},
        {"100,000 bytes without a line end", "+OK\r\n" + std::string(100000, 'z') + "\r\n.\r\n" + next, 2, 2, 1,
         ARRIVED_DONE, 2, 0, 1},
        {"100,000 header lines", "+OK\r\n" + lines + ".\r\n" + next, 2, 2, 0, ARRIVED_DONE, 2, 0, 2},
        {"NUL bytes", std::string("+OK\r\nFrom: \0\0\r\n.\r\n", 18) + next, 2, 2, 0, ARRIVED_DONE, 2, 0, 2},
        {"a reply without its dot", "+OK\r\nFrom: a\r\n\r\n", 1, 1, 0, ARRIVED_RECEIVE_FAILED, 0, 0, 1},
        {"no reply", "", 1, 1, 1, ARRIVED_RECEIVE_FAILED, 0, 0, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Fetched f = fetch(row.script, row.count, row.newCount, row.pipelined);
        EXPECT_EQ(f.outcome, row.outcome);
        EXPECT_EQ(f.sent.size(), row.writes);
        if (row.outcome != ARRIVED_DONE)
            continue;
        EXPECT_EQ(f.arrived.listed, row.listed);
        EXPECT_EQ(f.arrived.more, row.more);
        EXPECT_EQ(f.left, "");
        if (row.listed == 2)
            EXPECT_STREQ(f.arrived.sender[1], "n@x");
    }
}

void no_status(void *, int, int) {}

struct Dialogue {
    int ok;
    std::string sent;
    Pop3Outcome outcome;
};

Dialogue run(const std::string &stat, const std::string &after, int showHeaders, int unseenOnly)
{
    ScriptedLink server("+OK hello\r\n+OK\r\n+OK\r\n" + stat + after);
    Pop3Account account = {"mail.example.jp", "u", "p", unseenOnly, "", showHeaders, &ASCII};
    Pop3Seen seen;
    pop3_seen_init(&seen);
    seen.active = unseenOnly;
    const Pop3Status status = {NULL, no_status, NULL};
    Dialogue d;
    d.ok = pop3_session_run(&account, &server.link, 30000, &status, &seen, &d.outcome);
    d.sent = server.all_sent();
    pop3_seen_free(&seen);
    return d;
}

// With the setting off the dialogue is what it always was; with it on,
// TOP comes between STAT and QUIT only when there is new mail.
TEST(FetchArrived, TheSessionAsksOnlyWhenAskedAndMailCame)
{
    const std::string login = "USER u\r\nPASS p\r\nSTAT\r\n";
    struct {
        const char *name;
        std::string stat, after;
        int showHeaders, unseenOnly;
        std::string sent;
        unsigned listed;
    } rows[] = {
        {"both off", "+OK 2 300\r\n", "+OK bye\r\n", 0, 0, login + "QUIT\r\n", 0},
        {"on, two messages", "+OK 2 300\r\n", header("b", "2") + header("a", "1") + "+OK bye\r\n", 1, 0,
         login + "TOP 2 0\r\nTOP 1 0\r\nQUIT\r\n", 2},
        {"on, TOP refused", "+OK 2 300\r\n", "-ERR\r\n+OK bye\r\n", 1, 0, login + "TOP 2 0\r\nQUIT\r\n", 0},
        {"on, no mail", "+OK 0 0\r\n", "+OK bye\r\n", 1, 0, login + "QUIT\r\n", 0},
        {"on, only mail not seen before, empty box", "+OK 0 0\r\n", "+OK bye\r\n", 1, 1, login + "QUIT\r\n", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Dialogue d = run(row.stat, row.after, row.showHeaders, row.unseenOnly);
        EXPECT_EQ(d.ok, 1);
        EXPECT_EQ(d.sent, row.sent);
        EXPECT_EQ(d.outcome.arrived.listed, row.listed);
    }
}

#define SJ_A "\x82\xA0" // あ in code page 932
#define ELLIPSIS "\x81\x63"
#define OPEN "\x81\x75"
#define CLOSE "\x81\x76"
#define OTHERS(n) "\n\x82\xD9\x82\xA9 " n " \x92\xCA"

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

    // A balloon's 256 bytes: what does not fit is counted with the rest.
    a.listed = 5;
    for (int i = 2; i < 5; i++) {
        strcpy(a.sender[i], wide.c_str());
        strcpy(a.subject[i], wide.c_str());
    }
    arrived_text("first", &a, text, 256);
    EXPECT_LT(strlen(text), 256u);
    const std::string shown = text;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 4); // three messages and the rest
    EXPECT_EQ(shown.substr(shown.size() - 10), OTHERS("5"));
}

} // namespace
