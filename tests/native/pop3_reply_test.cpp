// Reply lines out of a byte stream as a server may send it: in pieces,
// over-long, without CR, with NUL; reply status and the STAT count.
#include <gtest/gtest.h>
#include "pop3/pop3_reply.h"
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

// Feeds `chunks` as successive receives (a chunk larger than the receive
// space arrives in several) and collects every complete line.
std::vector<std::string> lines_of(const std::vector<std::string> &chunks)
{
    Pop3LineReader r;
    pop3_reader_reset(&r);
    std::vector<std::string> out;
    size_t next = 0, offset = 0;
    for (;;) {
        while (pop3_line_take(&r)) {
            out.emplace_back(r.line, r.length);
            pop3_line_begin(&r);
        }
        if (next == chunks.size())
            return out;
        size_t cap;
        char *space = pop3_receive_space(&r, &cap);
        const std::string &c = chunks[next];
        size_t n = std::min(cap, c.size() - offset);
        memcpy(space, c.data() + offset, n);
        pop3_received(&r, n);
        offset += n;
        if (offset == c.size()) {
            next++;
            offset = 0;
        }
    }
}

using Lines = std::vector<std::string>;

TEST(Pop3Lines, EachReplyIsItsOwnLineHoweverItArrives)
{
    struct Case {
        const char *name;
        std::vector<std::string> chunks;
        Lines lines;
    } cases[] = {
        {"one per receive", {"+OK ready\r\n", "+OK user\r\n"}, {"+OK ready", "+OK user"}},
        {"two in one receive", {"+OK ready\r\n+OK user\r\n"}, {"+OK ready", "+OK user"}},
        {"byte by byte", {"+", "O", "K", "\r", "\n", "-", "\r\n"}, {"+OK", "-"}},
        {"CR and LF apart", {"+OK a\r", "\n+OK b\r", "\n"}, {"+OK a", "+OK b"}},
        {"bare LF ends a line", {"+OK a\n-ERR b\n"}, {"+OK a", "-ERR b"}},
        {"lone CR is a byte", {"+OK a\rb\r\n"}, {"+OK a\rb"}},
        {"CR CR LF keeps one CR", {"+OK\r\r\n"}, {"+OK\r"}},
        {"empty line", {"\r\n+OK\r\n"}, {"", "+OK"}},
        {"no line end yet", {"+OK partial"}, {}},
        {"rest waits for the next reply", {"+OK 1\r\n+OK", " 2\r\n"}, {"+OK 1", "+OK 2"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(lines_of(c.chunks), c.lines) << c.name;
}

TEST(Pop3Lines, NulIsAnOrdinaryByte)
{
    Lines got = lines_of({std::string("+O\0K\r\n", 6)});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], std::string("+O\0K", 4));
}

TEST(Pop3Lines, OverlongLineKeepsItsFirstBytesAndTheNextReplyIsIntact)
{
    std::string longGreeting = "+OK " + std::string(1200, 'g');
    std::string stream = longGreeting + "\r\n+OK user\r\n";
    Lines got = lines_of({stream});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], longGreeting.substr(0, POP3_LINE_MAX));
    EXPECT_EQ(got[1], "+OK user");
}

TEST(Pop3Lines, LineAtTheLimitLosesOnlyItsLineEnd)
{
    std::string exact(POP3_LINE_MAX, 'x');
    std::string oneMore(POP3_LINE_MAX + 1, 'y');
    EXPECT_EQ(lines_of({exact + "\r\n"}), Lines{exact});
    EXPECT_EQ(lines_of({exact.substr(1) + "\r\n"}), Lines{exact.substr(1)});
    // Its CR falls past the limit and is dropped with the rest.
    EXPECT_EQ(lines_of({oneMore + "\r\n"}), Lines{oneMore.substr(0, POP3_LINE_MAX)});
}

TEST(Pop3Lines, ResetDropsPendingBytes)
{
    Pop3LineReader r;
    pop3_reader_reset(&r);
    size_t cap;
    char *space = pop3_receive_space(&r, &cap);
    memcpy(space, "+OK\r\n+OK\r\n", 10);
    pop3_received(&r, 10);
    ASSERT_TRUE(pop3_line_take(&r));
    pop3_reader_reset(&r);
    EXPECT_FALSE(pop3_line_take(&r));
    EXPECT_EQ(r.length, 0u);
}

TEST(Pop3Reply, PositiveIsALeadingPlusAndNothingElse)
{
    struct {
        const char *line;
        int positive;
    } cases[] = {
        {"+OK", 1}, {"+", 1}, {"+garbage", 1}, {"-ERR", 0}, {"", 0}, {" +OK", 0}, {"OK", 0},
    };
    for (auto &c : cases)
        EXPECT_EQ(pop3_reply_positive(c.line, strlen(c.line)), c.positive) << c.line;
}

TEST(Pop3Reply, StatCount)
{
    const unsigned long MAX = (unsigned long)-1;
    struct {
        const char *line;
        int ok;
        unsigned long count;
    } cases[] = {
        {"+OK 0 0", 1, 0},
        {"+OK 10 2048", 1, 10},
        {"+OK 3 512", 1, 3},
        {"+OK 007 1", 1, 7},
        {"+OK 2", 1, 2},
        {"+OK  4 100", 1, 4},
        {"+OK 99999999999999999999999999 1", 1, MAX},
        {"+OK", 0, 0},
        {"+OK ", 0, 0},
        {"+OK x 1", 0, 0},
        {"+OK -1 0", 0, 0},
        {"+OK 3x 1", 0, 0},
        {"+OK3 1", 0, 0},
        {"+garbage", 0, 0},
        {"-ERR 5 5", 0, 0},
    };
    for (auto &c : cases) {
        unsigned long n = 12345;
        EXPECT_EQ(pop3_stat_count(c.line, strlen(c.line), &n), c.ok) << c.line;
        if (c.ok)
            EXPECT_EQ(n, c.count) << c.line;
        else
            EXPECT_EQ(n, 12345u) << c.line;
    }
}

TEST(Pop3Reply, StatCountIgnoresWhatFollowsTheLineLength)
{
    // "+OK 5" followed by bytes outside the given length: the count ends there.
    const char buf[] = "+OK 5x";
    unsigned long n = 0;
    EXPECT_EQ(pop3_stat_count(buf, 5, &n), 1);
    EXPECT_EQ(n, 5u);
}

TEST(Pop3Request, FormatsAndRefusesWhatDoesNotFit)
{
    char out[POP3_REQUEST_CAPACITY];
    ASSERT_EQ(pop3_format_request(out, sizeof out, "USER", "taro"), 1);
    EXPECT_STREQ(out, "USER taro\r\n");
    ASSERT_EQ(pop3_format_request(out, sizeof out, "STAT", nullptr), 1);
    EXPECT_STREQ(out, "STAT\r\n");

    // The longest account text (127 bytes) fits the exchange buffer.
    std::string longest(127, 'p');
    ASSERT_EQ(pop3_format_request(out, sizeof out, "PASS", longest.c_str()), 1);
    EXPECT_EQ(strlen(out), 134u);

    char small[12];
    EXPECT_EQ(pop3_format_request(small, sizeof small, "USER", "taro"), 1); // 11 + NUL
    EXPECT_EQ(pop3_format_request(small, sizeof small, "USER", "taro5"), 0);
    EXPECT_STREQ(small, "");
}

TEST(Pop3Request, LineBreakInsideTheArgumentIsNeverSent)
{
    char out[POP3_REQUEST_CAPACITY];
    const char *smuggling[] = {"taro\r\nDELE 1", "taro\nDELE 1", "taro\r", "\n"};
    for (const char *argument : smuggling) {
        EXPECT_EQ(pop3_format_request(out, sizeof out, "USER", argument), 0) << argument;
        EXPECT_STREQ(out, "");
    }
}

// A listing through the line reader and the multi-line reader: the data
// lines as they come out, and how the listing ended (-1: not yet).
struct Listing {
    Lines data;
    int end;
};

Listing listing_of(const std::string &stream)
{
    Listing out = {{}, -1};
    Pop3MultiLine m;
    pop3_multiline_begin(&m);
    for (std::string &line : lines_of({stream})) {
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back('\0');
        size_t n = line.size();
        int step = pop3_multiline_line(&m, buf.data(), &n);
        if (step != POP3_MULTILINE_DATA) {
            out.end = step;
            return out;
        }
        EXPECT_EQ(buf[n], '\0');
        out.data.emplace_back(buf.data(), n);
    }
    return out;
}

TEST(Pop3MultiLine, DotTerminatedDotUnstuffedAndBounded)
{
    std::string many;
    for (int i = 0; i < POP3_MULTILINE_MAX_LINES; i++)
        many += "1 u\r\n";
    struct Case {
        const char *name;
        std::string stream;
        Lines data;
        int end;
    } cases[] = {
        {"empty listing", ".\r\n", {}, POP3_MULTILINE_END},
        {"two lines", "1 a\r\n2 b\r\n.\r\n", {"1 a", "2 b"}, POP3_MULTILINE_END},
        {"stuffed dots", "..\r\n..x\r\n.y\r\n.\r\n", {".", ".x", "y"}, POP3_MULTILINE_END},
        {"bare LF", "1 a\n.\n", {"1 a"}, POP3_MULTILINE_END},
        {"dot with more is data", ". \r\n.\r\n", {" "}, POP3_MULTILINE_END},
        {"no terminating dot", "1 a\r\n2 b\r\n", {"1 a", "2 b"}, -1},
        {"what follows the dot is not taken", ".\r\n3 c\r\n", {}, POP3_MULTILINE_END},
        {"at the line limit", many + ".\r\n", Lines(POP3_MULTILINE_MAX_LINES, "1 u"), POP3_MULTILINE_END},
        {"one line past it", many + "1 u\r\n.\r\n", Lines(POP3_MULTILINE_MAX_LINES, "1 u"),
         POP3_MULTILINE_TOO_MANY},
    };
    for (const Case &c : cases) {
        Listing got = listing_of(c.stream);
        EXPECT_EQ(got.data, c.data) << c.name;
        EXPECT_EQ(got.end, c.end) << c.name;
    }
}

TEST(Pop3Uidl, LineIsNumberBlankAndUidOf1To70PrintableBytes)
{
    std::string longest(POP3_UID_MAX, '~');
    struct {
        std::string line;
        const char *uid; // NULL: refused
    } cases[] = {
        {"1 abc", "abc"},
        {"12  XYZ.123 ", "XYZ.123"},
        {"3\tq", "q"},
        {"4 " + longest, longest.c_str()},
        {"5 !", "!"},
        {"4 " + longest + "~", NULL},
        {"1 ", NULL},
        {"1", NULL},
        {" 1 a", NULL},
        {"x a", NULL},
        {"1a b", NULL},
        {"1 a b", NULL},
        {"1 caf\xC3\xA9", NULL},
        {std::string("1 a\0b", 5), NULL},
        {"1 a\x7F", NULL},
        {"", NULL},
    };
    for (auto &c : cases) {
        const char *uid = NULL;
        size_t n = 0;
        int ok = pop3_uidl_line(c.line.data(), c.line.size(), &uid, &n);
        EXPECT_EQ(ok, c.uid != NULL) << c.line;
        if (ok && c.uid)
            EXPECT_EQ(std::string(uid, n), c.uid) << c.line;
    }
}

} // namespace
