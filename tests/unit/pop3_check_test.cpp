// The POP3 check through the real worker and socket against a scripted
// server: the message of a failing step stands while the connection is
// still open, and the client closes only once it is answered; a few whole
// checks; the worker's COM apartment; and mail seen before kept in the
// real file. Every step's failure, the reading of replies and the seen-mail
// judgement have their tables in tests/native/pop3_session_test.cpp.
// Checks run without the progress window (direct start).
#include <gtest/gtest.h>
#include "check_helpers.h"
#include "pop3_peer.h"
#include "recorder.h"
#include "check/worker.h"
#include "desktop/desktop.h"
#include <objbase.h>
#include <atomic>
#include "settings/settings.h"

namespace {

using namespace checktest;
using pop3::After;
using pop3::Piece;
using pop3::Reply;
using pop3::Script;
using pop3::line;

const char PEER[] = "127.0.0.2";
const char STARTTLS_PEER[] = "starttls://127.0.0.2";
const DWORD SHORT_LIMIT_MS = 1500;
// What a loaded machine may add to the time limit before the box stands.
const DWORD LATE_MS = 4000;

// The box of a step that ran into the time limit came at the limit: not
// before it, and not only at some later limit of the system or per piece.
void expect_at_limit(DWORD boxAfterMs)
{
    EXPECT_GE(boxAfterMs + 50, SHORT_LIMIT_MS); // the tick counter's coarseness
    EXPECT_LT(boxAfterMs, SHORT_LIMIT_MS + LATE_MS);
}

struct Seen {
    ui::Box box;
    DWORD boxAfterMs = 0;           // from the request to the box
    bool openWhileShown = false;   // the client had not closed while the box stood
    bool closedAfterAnswer = false; // ... and closed only after it was answered
    int boxesAfter = 0;             // boxes still open once the check ended
    std::vector<std::string> lines; // commands the server received
};

class Pop3CheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rec::install();
        set_check_time_limit(SHORT_LIMIT_MS);
        set_account(PEER, "taro", "secret", 0);
    }
    void TearDown() override
    {
        ui::dismiss_all(GetCurrentProcessId());
        wait_check_ended();
        set_check_time_limit(30000);
        rec::uninstall();
    }

    // One check against `script`; answers the first box it shows. With
    // `observe`, the server is still reading when the box comes, and the
    // moment the client closes is looked for.
    Seen run(const Script &script, bool observe)
    {
        pop3::Peer peer(PEER, script);
        EXPECT_TRUE(peer.listening());
        Seen s;
        DWORD t0 = GetTickCount();
        start_check();
        s.box = wait_any_box(15000);
        s.boxAfterMs = GetTickCount() - t0;
        EXPECT_TRUE(s.box) << "no box";
        // Time for a premature close to reach the server before looking.
        Sleep(200);
        s.openWhileShown = !peer.client_closed();
        LONGLONG answered = pop3::now();
        if (s.box)
            ui::answer(s.box, IDOK);
        if (observe)
            s.closedAfterAnswer = peer.wait_client_closed(5000) && peer.client_closed_at() > answered;
        EXPECT_TRUE(wait_check_ended());
        s.boxesAfter = open_boxes();
        s.lines = peer.lines();
        return s;
    }
};

using Lines = std::vector<std::string>;
const Lines ALL = {"USER taro", "PASS secret", "STAT", "QUIT"};

Script after_replies(std::vector<Reply> replies)
{
    return Script{line("+OK ready"), std::move(replies)};
}

// The server resets the connection with its last reply, while the client waits
// for the settings (each step reads them before it sends), so the reset is
// there before the next command goes out.
Script reset_at(std::vector<Reply> replies, Reply greeting = line("+OK ready"))
{
    Script s{std::move(greeting), std::move(replies)};
    s.holdClient = settings_lock;
    s.releaseClient = settings_unlock;
    return s;
}

struct FailureCase {
    const char *name;
    Script script;
    const char *message;
    bool observable; // the server is still reading, so the client's close can be seen
    Lines lines;
    bool atLimit = false; // the step ran into the time limit
    const char *server = PEER;
    bool passInStore = false; // the credential store holds no password for the account
};

TEST_F(Pop3CheckTest, EveryFailingStepTellsItsMessageAndClosesAfterTheBox)
{
    const Reply OK = line("+OK");
    const char STLS_REFUSED[] = "サーバーがSTARTTLSに対応していません。";
    const FailureCase cases[] = {
        {"greeting silent", Script{pop3::silence(), {}}, "サーバーから応答を受け取ることができませんでした。", true, {}, true},
        {"USER refused", after_replies({line("-ERR no such user")}), "ユーザー名が正しくありません。", true, {"USER taro"}},
        {"PASS not sendable", reset_at({pop3::reset_after("+OK")}), "コマンド#2を送信できませんでした。", false, {"USER taro"}},
        {"QUIT reply silent", after_replies({OK, OK, line("+OK 1 10"), pop3::silence()}), "サーバーから応答を受け取ることができませんでした。#4", true, ALL},
        {"STLS refused", after_replies({line("-ERR not here")}), STLS_REFUSED, true, {"STLS"}, false, STARTTLS_PEER},
        {"password not in the store", after_replies({}),
         "パスワードが Windows の資格情報マネージャーに見つかりません。パスワードを設定し直してください。", false, {}, false, PEER, true},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        rec::clear();
        strcpy(Settings.server, c.server);
        strcpy(Settings.pass, c.passInStore ? "" : "secret");
        Settings.credentialStore = c.passInStore;
        Seen s = run(c.script, c.observable);
        EXPECT_EQ(s.box.caption, ERROR_CAPTION);
        EXPECT_EQ(s.box.text, c.message);
        EXPECT_EQ(s.lines, c.lines);
        if (c.observable) {
            EXPECT_TRUE(s.openWhileShown);
            EXPECT_TRUE(s.closedAfterAnswer);
        }
        if (c.atLimit)
            expect_at_limit(s.boxAfterMs);
        // The one message and nothing else: no result action follows.
        EXPECT_EQ(rec::kinds(), Lines{"box:Sorvane エラー"});
        EXPECT_EQ(s.boxesAfter, 0);
    }
}

// The real look-up and connect. 127.0.0.9 drops every connection attempt
// unanswered (tests/services/silent_address.sh), so the connect step's own
// limit ends it.
TEST_F(Pop3CheckTest, ServerThatCannotBeFoundOrReached)
{
    struct {
        const char *server;
        const char *message;
        bool atLimit;
    } cases[] = {
        {"no-such-host.invalid", "サーバーを見つけられませんでした。", false},
        {"127.0.0.3", "サーバーに接続できませんでした。", false}, // nothing listens there
        {"127.0.0.9", "サーバーに接続できませんでした。", true},  // the handshake never completes
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.server);
        strcpy(Settings.server, c.server);
        DWORD t0 = GetTickCount();
        start_check();
        ui::Box b = wait_any_box(15000);
        DWORD boxAfterMs = GetTickCount() - t0;
        ASSERT_TRUE(b);
        EXPECT_EQ(b.text, c.message);
        if (c.atLimit)
            expect_at_limit(boxAfterMs);
        ui::answer(b, IDOK);
        EXPECT_TRUE(wait_check_ended());
    }
}

struct ResultCase {
    const char *name;
    Script script;
    bool newMail;
};

Reply slowly(std::vector<std::string> parts, DWORD delayMs)
{
    std::vector<Piece> p;
    for (auto &s : parts)
        p.push_back({s, delayMs});
    return pop3::in_pieces(p);
}

TEST_F(Pop3CheckTest, WholeChecksEndInTheirResults)
{
    const ResultCase cases[] = {
        {"empty mailbox", pop3::good_script(0), false},
        {"three messages", pop3::good_script(3), true},
        {"every reply in slow pieces",
         Script{line("+OK"),
                {slowly({"+", "OK\r\n"}, 100), slowly({"+OK lo", "gged in\r\n"}, 100),
                 slowly({"+OK 2", " 200\r", "\n"}, 100), slowly({"+OK b", "ye\r\n"}, 100)}},
         true},
    };
    for (const ResultCase &c : cases) {
        SCOPED_TRACE(c.name);
        rec::clear();
        Seen s = run(c.script, false);
        EXPECT_EQ(s.box.caption, RESULT_CAPTION);
        EXPECT_EQ(s.box.text, c.newMail ? "新着メールが届いています。" : "新しいメッセージはありませんでした。");
        EXPECT_EQ(s.lines, ALL);
        const Lines actions = c.newMail ? Lines{"box:Sorvane 結果報告", "stop"} : Lines{"box:Sorvane 結果報告"};
        EXPECT_EQ(rec::kinds(), actions);
        // The connection was closed before the result was shown.
        EXPECT_FALSE(s.openWhileShown);
    }
}

// The result actions may open the mail program through the shell, so the
// worker runs in a single-threaded COM apartment; the result box, shown on
// the worker's thread, sees which.
std::atomic<int> boxApartment{-1};

void note_apartment(HWND, const char *, const char *, UINT)
{
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    boxApartment = SUCCEEDED(CoGetApartmentType(&type, &qualifier)) ? (int)type : -1;
}

TEST_F(Pop3CheckTest, WorkerRunsInASingleThreadedApartment)
{
    messageBoxObserver = note_apartment;
    Seen s = run(pop3::good_script(1), false);
    EXPECT_EQ(s.box.text, "新着メールが届いています。");
    // The first such apartment of a process is its main one.
    EXPECT_TRUE(boxApartment == APTTYPE_STA || boxApartment == APTTYPE_MAINSTA) << boxApartment;
}

// The last-write time of a file, 0 when there is none.
ULONGLONG written_at(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d))
        return 0;
    return ((ULONGLONG)d.ftLastWriteTime.dwHighDateTime << 32) | d.ftLastWriteTime.dwLowDateTime;
}

// With the setting on, through the real file in the start directory: a
// check that ended cleanly is remembered, one that did not is not, a check
// that finds nothing new leaves the file alone, and the file of one user
// is no memory for another.
TEST_F(Pop3CheckTest, UnseenOnlyKeepsWhatCleanChecksSawInTheFile)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string dir = std::string(temp) + "sorvane-unseen";
    const std::string file = dir + "\\Sorvane.seen";
    CreateDirectoryA(dir.c_str(), NULL);
    DeleteFileA(file.c_str());
    lstrcpynA(startDirectory, dir.c_str(), sizeof startDirectory);
    Settings.unseenOnly = 1;

    const char *NEW_MAIL = "新着メールが届いています。", *NO_MAIL = "新しいメッセージはありませんでした。";
    const Reply ok = line("+OK"), refused = line("-ERR not here"), stat = line("+OK 2 20");
    auto listing = [](const char *lines) { return pop3::raw(std::string("+OK\r\n") + lines + ".\r\n"); };
    const Lines whole = {"USER taro", "PASS secret", "STAT", "UIDL", "QUIT"};
    const Lines after = {"USER taro", "PASS secret", "STAT", "UIDL 2", "UIDL 1", "QUIT"};
    const Lines afterThenWhole = {"USER taro", "PASS secret", "STAT", "UIDL 2", "UIDL", "QUIT"};
    struct {
        const char *name;
        const char *user;
        std::vector<Reply> replies; // after the greeting
        const char *text;
        Lines lines;
        bool rewritten;
    } checks[] = {
        {"first check", "taro", {ok, ok, stat, listing("1 a\r\n2 b\r\n"), ok}, NEW_MAIL, whole, true},
        {"nothing new", "taro", {ok, ok, stat, line("+OK 2 b"), line("+OK 1 a"), ok}, NO_MAIL, after, false},
        {"logout refused", "taro", {ok, ok, stat, line("+OK 2 c"), listing("1 a\r\n2 c\r\n"), refused},
         "正しくログアウトされませんでした。", afterThenWhole, false},
        {"not saved after it", "taro", {ok, ok, stat, line("+OK 2 c"), listing("1 a\r\n2 c\r\n"), ok}, NEW_MAIL,
         afterThenWhole, true},
        // The file now holds these very uids, for taro.
        {"another user", "jiro", {ok, ok, stat, listing("1 a\r\n2 c\r\n"), ok}, NEW_MAIL,
         {"USER jiro", "PASS secret", "STAT", "UIDL", "QUIT"}, true},
    };
    for (auto &c : checks) {
        SCOPED_TRACE(c.name);
        strcpy(Settings.user, c.user);
        ULONGLONG before = written_at(file);
        Seen s = run(after_replies(c.replies), false);
        EXPECT_EQ(s.box.text, c.text);
        EXPECT_EQ(s.lines, c.lines);
        EXPECT_EQ(written_at(file) != before, c.rewritten);
    }
    startDirectory[0] = '\0';
}

} // namespace
