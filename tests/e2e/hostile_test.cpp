// The real program against a hostile server: replies of awkward sizes, NUL
// bytes, lines ending in a bare LF, and a server that talks forever without
// ending its line. The scripted server runs inside this driver; the program
// runs as its own process, started once, and is asked for one check per
// row. Every row must end in exactly one message box within its time, with
// the program still running and answering its window afterwards.
#include <gtest/gtest.h>
#include "pop3_peer.h"
#include "program.h"
#include "texts.h"
#include "ui_driver.h"
#include <string.h>

using e2e::Program;
using pop3::After;
using pop3::Piece;
using pop3::Reply;
using pop3::Script;

namespace {

using namespace texts;

const char PEER[] = "127.0.0.6"; // a loopback address of its own
const char NO_GREETING[] = "サーバーから応答を受け取ることができませんでした。";
const char NO_STAT_REPLY[] = "サーバーから応答を受け取ることができませんでした。#3";
const char USER_REFUSED[] = "ユーザー名が正しくありません。";
const char STAT_REFUSED[] = "コマンドが正しく解釈されませんでした。";
const char NO_UIDL_REPLY_TIMED_OUT[] = "サーバーから応答を受け取ることができませんでした。#5(0x0000274C)";
const char UIDL_UNREADABLE[] = "メールの一覧を正しく解釈できませんでした。";

// The program's own limit for the connect and for each whole reply.
const DWORD CHECK_LIMIT_MS = 30000;
const DWORD MARGIN_MS = 10000;
// A row that waits for no limit ends in a few round trips under Wine.
const DWORD PROMPT_MS = 10000;

// `head` padded with 'x' to exactly `total` bytes, line end included.
std::string sized(const std::string &head, size_t total, const char *end = "\r\n")
{
    std::string s = head;
    size_t endLength = strlen(end);
    if (s.size() + endLength < total)
        s.append(total - endLength - s.size(), 'x');
    return s + end;
}

// All bytes of a literal, the NULs inside included, without its own NUL.
template <size_t N> std::string text_of(const char (&literal)[N]) { return std::string(literal, N - 1); }

Reply bytes(const std::string &b, After after = After::Go) { return pop3::raw(b, after); }

Script script(Reply greeting, std::vector<Reply> replies = {})
{
    Script s;
    s.greeting = greeting;
    s.replies = replies;
    return s;
}

// The usual dialogue with a chosen greeting and STAT reply.
Script dialogue(Reply greeting, Reply stat)
{
    return script(greeting, {pop3::line("+OK"), pop3::line("+OK logged in"), stat, pop3::line("+OK bye")});
}

// A line that never ends: 64 bytes every 50 ms for twice the limit.
Reply endless()
{
    std::vector<Piece> pieces;
    pieces.push_back({"+OK ", 0});
    for (DWORD t = 0; t < 2 * CHECK_LIMIT_MS; t += 50)
        pieces.push_back({std::string(64, 'z'), 50});
    return pop3::in_pieces(pieces, After::Silence);
}

struct Row {
    const char *name;
    Script script;
    const char *caption;
    const char *text;
    DWORD withinMs;
};

// Failures name the row, not its bytes.
void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

std::vector<Row> rows()
{
    const Reply hello = pop3::line("+OK ready");
    return {
        // 0 bytes: the connection ends where a reply should be.
        {"GreetingOf0Bytes", script(pop3::close_now()), ERROR_CAPTION, NO_GREETING, PROMPT_MS},
        {"StatReplyOf0Bytes", dialogue(hello, pop3::close_now()), ERROR_CAPTION, NO_STAT_REPLY, PROMPT_MS},
        // 1 byte: an empty line, or one byte and then the end.
        {"StatReplyOf1Byte", dialogue(hello, bytes("\n")), ERROR_CAPTION, STAT_REFUSED, PROMPT_MS},
        {"GreetingOf1ByteThenClose", script(bytes("+", After::Close)), ERROR_CAPTION, NO_GREETING, PROMPT_MS},
        // Around the 512-byte line of the protocol.
        {"StatReplyOf511Bytes", dialogue(hello, bytes(sized("+OK 0 0 ", 511))), RESULT_CAPTION, NO_MAIL, PROMPT_MS},
        {"StatReplyOf512Bytes", dialogue(hello, bytes(sized("+OK 4 400 ", 512))), RESULT_CAPTION, NEW_MAIL,
         PROMPT_MS},
        {"StatReplyOf513Bytes", dialogue(hello, bytes(sized("+OK 0 0 ", 513))), RESULT_CAPTION, NO_MAIL, PROMPT_MS},
        {"GreetingOf513Bytes", dialogue(bytes(sized("+OK ", 513)), pop3::line("+OK 2 200")), RESULT_CAPTION,
         NEW_MAIL, PROMPT_MS},
        // 100,000 bytes: only the head of the line counts, and the next
        // reply is still read as its own.
        {"StatReplyOf100000Bytes", dialogue(hello, bytes(sized("+OK 0 0 ", 100000))), RESULT_CAPTION, NO_MAIL,
         PROMPT_MS},
        {"GreetingOf100000Bytes", dialogue(bytes(sized("+OK ", 100000)), pop3::line("+OK 5 500")), RESULT_CAPTION,
         NEW_MAIL, PROMPT_MS},
        // NUL bytes are bytes: they neither end a line nor pass for "+".
        {"NulBytesInGreeting", dialogue(bytes(text_of("+OK\0\0\0 hi\0\r\n")), pop3::line("+OK 1 10")),
         RESULT_CAPTION, NEW_MAIL, PROMPT_MS},
        {"NulBeforeThePlusOfTheUserReply",
         script(hello, {bytes(text_of("\0+OK\r\n")), pop3::line("+OK"), pop3::line("+OK 1 1"), pop3::line("+OK")}),
         ERROR_CAPTION, USER_REFUSED, PROMPT_MS},
        {"NulBytesAfterTheStatFigures", dialogue(hello, bytes(text_of("+OK 0 0\0\0\0\r\n"))), RESULT_CAPTION,
         NO_MAIL, PROMPT_MS},
        // Every line ended by LF alone.
        {"LinesWithoutCr",
         script(bytes("+OK ready\n"), {bytes("+OK\n"), bytes("+OK in\n"), bytes("+OK 2 200\n"), bytes("+OK bye\n")}),
         RESULT_CAPTION, NEW_MAIL, PROMPT_MS},
        // A greeting that never ends: cut off by the limit.
        {"SendsForeverWithoutLineEnd", script(endless()), ERROR_CAPTION, NO_GREETING, CHECK_LIMIT_MS + MARGIN_MS},
    };
}

// With "report only mail not seen before" on: the usual dialogue, UIDL
// answered with `listing` after a STAT of `count` messages.
Script with_uidl(unsigned long count, Reply listing)
{
    return script(pop3::line("+OK ready"), {pop3::line("+OK"), pop3::line("+OK logged in"),
                                            pop3::line("+OK " + std::to_string(count) + " 100"), listing,
                                            pop3::line("+OK bye")});
}

std::string uidl_lines(int from, int to, const std::string &uidPrefix = "u")
{
    std::string s;
    for (int n = from; n <= to; n++)
        s += std::to_string(n) + " " + uidPrefix + std::to_string(n) + "\r\n";
    return s;
}

// Each row begins where the clean checks of the rows before it left off.
// None has as many messages as the last clean check saw and at most 64
// more, so no row is asked for single uids ("UIDL n"): every one is
// answered by the whole listing.
std::vector<Row> uidl_rows()
{
    return {
        // The listing stops short of its dot and the server falls silent.
        // The program's own text ends with the system's reason (WSAETIMEDOUT).
        {"UidlWithoutTerminatingDot", with_uidl(2, bytes("+OK\r\n" + uidl_lines(1, 2), After::Silence)),
         ERROR_CAPTION, NO_UIDL_REPLY_TIMED_OUT, CHECK_LIMIT_MS + MARGIN_MS},
        {"UidlLineOver512Bytes", with_uidl(1, bytes("+OK\r\n1 " + std::string(600, 'v') + "\r\n.\r\n")),
         ERROR_CAPTION, UIDL_UNREADABLE, PROMPT_MS},
        {"UidOf71Bytes", with_uidl(1, bytes("+OK\r\n1 " + std::string(71, 'u') + "\r\n.\r\n")), ERROR_CAPTION,
         UIDL_UNREADABLE, PROMPT_MS},
        // Repeats count once: the uid is new the first time only.
        {"DuplicatedUids", with_uidl(3, bytes("+OK\r\n1 d\r\n2 d\r\n3 d\r\n.\r\n")), RESULT_CAPTION, NEW_MAIL,
         PROMPT_MS},
        {"DuplicatedUidsAgain", with_uidl(2, bytes("+OK\r\n1 d\r\n2 d\r\n.\r\n")), RESULT_CAPTION, NO_MAIL,
         PROMPT_MS},
        {"UidOf70Bytes", with_uidl(1, bytes("+OK\r\n1 " + std::string(70, 'u') + "\r\n.\r\n")), RESULT_CAPTION,
         NEW_MAIL, PROMPT_MS},
        // The listing's bound is 100,000 lines: read whole at the bound, and
        // past it judged by the count ("more messages than at the last
        // check"), never an error.
        {"UidlOf100000Lines", with_uidl(100000, bytes("+OK\r\n" + uidl_lines(1, 100000) + ".\r\n")),
         RESULT_CAPTION, NEW_MAIL, PROMPT_MS},
        {"UidlPastItsBound", with_uidl(99999, bytes("+OK\r\n" + uidl_lines(1, 100001, "w") + ".\r\n")),
         RESULT_CAPTION, NO_MAIL, PROMPT_MS},
    };
}

// The program for all rows of a suite: started once, with the progress
// window and both result messages on.
Program *app;

class HostileServer : public ::testing::TestWithParam<Row> {
public:
    static void SetUpTestSuite() { start_program("hostile", 0); }

    static void start_program(const char *name, int unseenOnly)
    {
        std::string dir = e2e::make_start_directory(name);
        e2e::write_account(dir, PEER, "taro", "secret",
                           e2e::SHOW_PROGRESS | e2e::OK_MESSAGE | e2e::NO_MESSAGE | (unseenOnly ? e2e::UNSEEN_ONLY : 0));
        // The check at start-up runs against a well-behaved server.
        pop3::Peer good(PEER, pop3::good_script(0));
        app = new Program;
        ASSERT_TRUE(app->start(dir));
        ui::Box first = ui::wait_box(RESULT_CAPTION, 20000, app->pid());
        ASSERT_TRUE(first) << "the start-up check showed no result";
        ui::answer(first, IDOK);
        ASSERT_TRUE(wait_idle());
    }

    static void TearDownTestSuite()
    {
        if (app && app->main_window(1000)) {
            app->command(e2e::CMD_EXIT);
            EXPECT_EQ(app->wait_exit(), 0u);
        }
        delete app;
        app = NULL;
    }

    // No progress window and no box of the program is open, nor still
    // ending its modal loop.
    static bool wait_idle(DWORD ms = 10000)
    {
        return ui::wait_until([] { return ui::dialogs_alive(app->pid()) == 0; }, ms);
    }

    // The window of a check that just ended may still be closing, and a
    // request then is refused: ask again until the new check shows.
    static bool request_check(pop3::Peer &peer)
    {
        for (int attempt = 0; attempt < 5; attempt++) {
            app->command(e2e::CMD_CHECK_NOW);
            if (peer.wait_connections(1, 2000))
                return true;
        }
        return false;
    }

    static void run_row(const Row &row);

    static bool responsive()
    {
        DWORD_PTR r = 0;
        return SendMessageTimeoutA(app->main_window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &r) != 0;
    }
};

TEST_P(HostileServer, EndsInOneMessageWithinItsTime)
{
    run_row(GetParam());
}

void HostileServer::run_row(const Row &row)
{
    ASSERT_TRUE(app && app->running());
    pop3::Peer peer(PEER, row.script);
    ASSERT_TRUE(peer.listening());
    DWORD asked = GetTickCount();
    ASSERT_TRUE(request_check(peer)) << "the program never connected";

    ui::Box box = ui::wait_box(NULL, row.withinMs + 5000, app->pid());
    DWORD took = GetTickCount() - asked;
    ASSERT_TRUE(box) << "no message";
    // A box caught the moment it appears may not hold its texts yet.
    ui::wait_until([&] { return !(box = ui::read_box(box.hwnd)).caption.empty(); }, 2000);
    EXPECT_EQ(box.caption, row.caption);
    EXPECT_EQ(box.text, row.text);
    EXPECT_LE(took, row.withinMs);
    // While the message stands, the program still answers its window...
    EXPECT_TRUE(responsive());
    EXPECT_EQ(ui::find_windows(ui::DIALOG_CLASS, NULL, app->pid()).size(), 2u)
        << "only the progress window and the one message";
    DWORD answered = GetTickCount();
    ui::answer(box, IDOK);
    // ...and after it the check ends without a second message.
    EXPECT_TRUE(wait_idle()) << "a window or a second message stayed";
    DWORD idle = GetTickCount() - answered;
    EXPECT_TRUE(app->running());
    EXPECT_TRUE(responsive());
    printf("    %-32s message after %6lu ms, idle %lu ms after the answer\n", row.name, (unsigned long)took,
           (unsigned long)idle);
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileServer, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

// The same program with "report only mail not seen before" on, against
// hostile UIDL listings. The rows run in order, one after another.
class HostileUidl : public HostileServer {
public:
    static void SetUpTestSuite() { start_program("hostile-uidl", 1); }
};

TEST_P(HostileUidl, EndsInOneMessageWithinItsTime)
{
    run_row(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileUidl, ::testing::ValuesIn(uidl_rows()),
                         [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

} // namespace
