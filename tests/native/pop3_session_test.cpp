// The whole dialogue of one check against a scripted link: every step's
// failure and its message, the server that cannot be found or reached,
// replies however they arrive, the time limit on a fake clock, the
// progress lines in order, the system's code after the program's own
// texts, the judgement of mail seen before, and where the password goes.
#include <gtest/gtest.h>
#include "scripted_link.h"
#include "pop3/pop3_session.h"
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace {

using scripted::Chunk;
using scripted::Link;
using scripted::Reply;
using scripted::Script;
using scripted::line;
using Lines = std::vector<std::string>;
using Writes = std::vector<std::pair<int, int>>;

const uint32_t LIMIT = 1500;
const uint32_t CODE = 10054; // what the link tells as the system's code
const char SERVER[] = "pop.example.jp";

const char NO_GREETING[] = "サーバーから応答を受け取ることができませんでした。";
const char STLS_REFUSED[] = "サーバーがSTARTTLSに対応していません。";
const char STLS_INJECTED[] = "STARTTLSの応答の後に不正なデータを受信しました。";
const char UIDL_NO_REPLY[] = "サーバーから応答を受け取ることができませんでした。#5";
const char UIDL_UNREADABLE[] = "メールの一覧を正しく解釈できませんでした。";

const Lines ALL = {"USER taro", "PASS secret", "STAT", "QUIT"};
const Lines WITH_UIDL = {"USER taro", "PASS secret", "STAT", "UIDL", "QUIT"};

Script dialogue(std::vector<Reply> replies, Reply greeting = line("+OK ready"))
{
    Script s;
    s.greeting = std::move(greeting);
    s.replies = std::move(replies);
    s.code = CODE;
    return s;
}

Reply slowly(std::vector<std::string> parts, uint32_t delayMs, scripted::After after = scripted::After::Go)
{
    std::vector<Chunk> c;
    for (auto &p : parts)
        c.push_back({p, delayMs});
    return scripted::pieces(c, after);
}

// One check: the account, its seen mail, the link and what it was told.
struct Check {
    Link link;
    scripted::StatusLog status;
    Pop3Account account;
    Pop3Seen seen;
    Pop3Outcome outcome;

    explicit Check(Script s, const char *server = SERVER, int unseenOnly = 0)
        : link(std::move(s)), account(scripted::account(server))
    {
        account.unseenOnly = unseenOnly;
        pop3_seen_init(&seen);
        seen.active = unseenOnly;
    }
    ~Check() { pop3_seen_free(&seen); }
    int run() { return pop3_session_run(&account, link.net(), LIMIT, &status.table, &seen, &outcome); }
    std::string failure() const { return outcome.failure ? outcome.failure : ""; }
};

// What the caller keeps of the server across checks.
enum Memory { NO_MEMORY, NOT_ASKED, PIPELINING, ONE_BY_ONE, OTHER_ACCOUNT };

Pop3Memory memory_of(Memory kind)
{
    Pop3Memory m;
    memset(&m, 0, sizeof m);
    strcpy(m.server, kind == OTHER_ACCOUNT ? "pop.example.com" : SERVER);
    strcpy(m.user, "taro");
    m.asked = kind != NOT_ASKED;
    m.pipelining = kind == PIPELINING || kind == OTHER_ACCOUNT;
    return m;
}

struct FailureCase {
    const char *name;
    Script script;
    const char *message;
    Lines lines;          // what the server received
    bool atLimit;         // the wait after the last command ran into the limit
    uint32_t code;        // the system's code the outcome carries
    const char *server = SERVER;
    int unseenOnly = 0;
    std::string said = ""; // what the server said after a code of its own
    int busy = 0;
    Memory memory = NO_MEMORY;
};

// A reply whose bytes come one by one, each well within the limit, for far
// longer in all than the limit: a limit counted per piece would let it run.
Reply trickle(const std::string &text)
{
    std::vector<std::string> bytes;
    for (char c : text)
        bytes.push_back(std::string(1, c));
    return slowly(bytes, 300, scripted::After::Silence);
}

Script failing_send(const char *command, std::vector<Reply> replies)
{
    Script s = dialogue(std::move(replies));
    s.failSendOf = command;
    return s;
}

std::vector<FailureCase> failure_cases()
{
    const Reply OK = line("+OK"), STAT1 = line("+OK 1 10");
    const Lines UP = {"USER taro", "PASS secret", "STAT"}, PASSED = {"USER taro", "PASS secret"};
    const char *IN_USE = "メールボックスは他のプログラムが使用中です。", *PASS_REFUSED = "パスワードが正しくありません。";
    const char *STLS = "starttls://pop.example.jp";
    return {
        {"greeting closed", dialogue({}, scripted::close_now()), NO_GREETING, {}, false, 0},
        {"greeting silent", dialogue({}, scripted::silence()), NO_GREETING, {}, true, 0},
        {"greeting trickles", dialogue({}, trickle("+OK this greeting never comes to an end")), NO_GREETING, {},
         true, 0},
        {"USER not sendable", failing_send("USER", {}), "コマンド#1を送信できませんでした。", {}, false, 0},
        {"USER reply closed", dialogue({scripted::close_now()}), "サーバーから応答を受け取ることができませんでした。#1",
         {"USER taro"}, false, 0},
        {"USER reply silent", dialogue({scripted::silence()}), "サーバーから応答を受け取ることができませんでした。#1",
         {"USER taro"}, true, 0},
        {"USER refused", dialogue({line("-ERR no such user")}), "ユーザー名が正しくありません。", {"USER taro"},
         false, 0},
        {"PASS not sendable", failing_send("PASS", {OK}), "コマンド#2を送信できませんでした。", {"USER taro"},
         false, 0},
        {"PASS reply closed", dialogue({OK, scripted::close_now()}),
         "サーバーから応答を受け取ることができませんでした。#2", {"USER taro", "PASS secret"}, false, 0},
        {"PASS reply silent", dialogue({OK, scripted::silence()}),
         "サーバーから応答を受け取ることができませんでした。#2", {"USER taro", "PASS secret"}, true, 0},
        {"PASS refused", dialogue({OK, line("-ERR wrong")}), "パスワードが正しくありません。",
         {"USER taro", "PASS secret"}, false, 0},
        {"STAT not sendable", failing_send("STAT", {OK, OK}), "コマンド#3を送信できませんでした。",
         {"USER taro", "PASS secret"}, false, 0},
        {"STAT reply closed", dialogue({OK, OK, scripted::close_now()}),
         "サーバーから応答を受け取ることができませんでした。#3", UP, false, 0},
        {"STAT reply silent", dialogue({OK, OK, scripted::silence()}),
         "サーバーから応答を受け取ることができませんでした。#3", UP, true, 0},
        {"STAT refused", dialogue({OK, OK, line("-ERR no")}), "コマンドが正しく解釈されませんでした。", UP, false, 0},
        {"STAT without count", dialogue({OK, OK, line("+OK")}), "コマンドが正しく解釈されませんでした。", UP, false, 0},
        {"STAT garbage", dialogue({OK, OK, line("+OK mailbox ready")}), "コマンドが正しく解釈されませんでした。", UP,
         false, 0},
        {"QUIT not sendable", failing_send("QUIT", {OK, OK, STAT1}), "コマンド#4を送信できませんでした。", UP, false,
         0},
        {"QUIT reply closed", dialogue({OK, OK, STAT1, scripted::close_now()}),
         "サーバーから応答を受け取ることができませんでした。#4", ALL, false, 0},
        {"QUIT reply silent", dialogue({OK, OK, STAT1, scripted::silence()}),
         "サーバーから応答を受け取ることができませんでした。#4", ALL, true, 0},
        {"QUIT refused", dialogue({OK, OK, STAT1, line("-ERR not now")}), "正しくログアウトされませんでした。", ALL,
         false, 0},
        // A refused STLS ends the check however it is refused.
        {"STLS refused", dialogue({line("-ERR not here")}), STLS_REFUSED, {"STLS"}, false, CODE, STLS},
        {"STLS not sendable", failing_send("STLS", {}), STLS_REFUSED, {}, false, CODE, STLS},
        {"STLS reply closed", dialogue({scripted::close_now()}), STLS_REFUSED, {"STLS"}, false, CODE, STLS},
        {"STLS reply silent", dialogue({scripted::silence()}), STLS_REFUSED, {"STLS"}, true, CODE, STLS},
        // Whatever came after the reply would be taken as said inside TLS.
        {"bytes after the STLS reply, one segment", dialogue({scripted::raw("+OK begin\r\nUSER evil\r\n")}),
         STLS_INJECTED, {"STLS"}, false, 0, STLS},
        {"bytes after the STLS reply, apart", dialogue({scripted::pieces({{"+OK begin\r\n"}, {"USER evil\r\n"}})}),
         STLS_INJECTED, {"STLS"}, false, 0, STLS},
        // A refusal with a code of its own tells it, and the server's words;
        // in the login's flight, the other replies are read and dropped.
        {"PASS refused, in use", dialogue({OK, line("-ERR [IN-USE] Mailbox locked by pid 42")}), IN_USE, PASSED, false,
         0, SERVER, 0, "Mailbox locked by pid 42", 1},
        {"PASS refused, too soon", dialogue({OK, line("-ERR [LOGIN-DELAY] wait 5 minutes")}),
         "前回のログインから間もないため、サーバーがログインを断りました。", PASSED, false, 0, SERVER, 0,
         "wait 5 minutes", 1},
        {"USER refused, down for now", dialogue({line("-ERR [sys/temp] try later")}),
         "サーバーが一時的に利用できません。", {"USER taro"}, false, 0, SERVER, 0, "try later", 1},
        {"PASS refused, for good", dialogue({OK, line("-ERR [SYS/PERM] account disabled")}),
         "サーバーがログインを断りました。", PASSED, false, 0, SERVER, 0, "account disabled"},
        {"PASS refused, AUTH", dialogue({OK, line("-ERR [AUTH] bad password")}), PASS_REFUSED, PASSED, false, 0},
        {"PASS refused, a longer code", dialogue({OK, line("-ERR [SYS/TEMPORARY] x")}), PASS_REFUSED, PASSED, false, 0},
        {"PASS refused, code not closed", dialogue({OK, line("-ERR [IN-USE no end")}), PASS_REFUSED, PASSED, false, 0},
        {"PASS refused, unprintable words", dialogue({OK, line("-ERR [IN-USE]\t\x01 b\x82\xA0usy  ")}), IN_USE,
         PASSED, false, 0, SERVER, 0, "busy", 1},
        {"PASS refused, long words", dialogue({OK, line("-ERR [IN-USE] " + std::string(300, 'w'))}), IN_USE, PASSED,
         false, 0, SERVER, 0, std::string(200, 'w'), 1},
        {"PASS refused in the login's flight", dialogue({OK, line("-ERR [IN-USE] locked"), line("-ERR"), OK}), IN_USE,
         ALL, false, 0, SERVER, 0, "locked", 1, PIPELINING},
        {"USER refused in the login's flight", dialogue({line("-ERR no such user"), line("-ERR"), line("-ERR"), OK}),
         "ユーザー名が正しくありません。", ALL, false, 0, SERVER, 0, "", 0, PIPELINING},
        // With "only mail not seen before" on.
        {"UIDL not sendable", failing_send("UIDL", {OK, OK, STAT1}), "コマンド#5を送信できませんでした。", UP, false,
         CODE, SERVER, 1},
        {"UIDL reply closed", dialogue({OK, OK, STAT1, scripted::close_now()}), UIDL_NO_REPLY,
         {"USER taro", "PASS secret", "STAT", "UIDL"}, false, CODE, SERVER, 1},
        {"UIDL reply silent", dialogue({OK, OK, STAT1, scripted::silence()}), UIDL_NO_REPLY,
         {"USER taro", "PASS secret", "STAT", "UIDL"}, true, CODE, SERVER, 1},
        // One limit for the whole listing, however its lines come.
        {"listing without its dot", dialogue({OK, OK, STAT1, scripted::raw("+OK\r\n1 a\r\n", scripted::After::Silence)}),
         UIDL_NO_REPLY, {"USER taro", "PASS secret", "STAT", "UIDL"}, true, CODE, SERVER, 1},
        {"listing that trickles",
         dialogue({OK, OK, line("+OK 9 90"), slowly({"+OK\r\n", "1 a\r\n", "2 b\r\n", "3 c\r\n", "4 d\r\n", "5 e\r\n"},
                                                    400, scripted::After::Silence)}),
         UIDL_NO_REPLY, {"USER taro", "PASS secret", "STAT", "UIDL"}, true, CODE, SERVER, 1},
        {"listing line unreadable", dialogue({OK, OK, STAT1, scripted::raw("+OK\r\n1\r\n.\r\n")}), UIDL_UNREADABLE,
         {"USER taro", "PASS secret", "STAT", "UIDL"}, false, 0, SERVER, 1},
        {"uid of 71 bytes", dialogue({OK, OK, STAT1, scripted::raw("+OK\r\n1 " + std::string(71, 'u') + "\r\n.\r\n")}),
         UIDL_UNREADABLE, {"USER taro", "PASS secret", "STAT", "UIDL"}, false, 0, SERVER, 1},
    };
}

TEST(Pop3Session, EveryFailingStepTellsItsMessage)
{
    for (FailureCase &c : failure_cases()) {
        SCOPED_TRACE(c.name);
        const uint32_t start = c.script.clock;
        Check check(c.script, c.server, c.unseenOnly);
        Pop3Memory memory = memory_of(c.memory);
        check.account.memory = c.memory == NO_MEMORY ? NULL : &memory;
        EXPECT_EQ(check.run(), 0);
        EXPECT_EQ(check.failure(), c.message);
        EXPECT_EQ(check.outcome.said, c.said);
        EXPECT_EQ(check.outcome.busy, c.busy);
        EXPECT_EQ(check.outcome.code, c.code);
        EXPECT_EQ(check.outcome.newMail, 0);
        EXPECT_EQ(check.link.lines(), c.lines);
        if (c.atLimit)
            EXPECT_EQ(check.link.now(), check.link.last_sent_at() + LIMIT);
        else
            EXPECT_EQ(check.link.now(), start) << "no wait of any length";
    }
}

TEST(Pop3Session, ServerThatCannotBeFoundOrReached)
{
    struct {
        const char *name;
        const char *server;
        int start, lookUp, open;
        const char *message;
        Lines calls;
    } cases[] = {
        {"socket layer", SERVER, 0, 1, NET_CONNECTED, "WinSock2.0を初期化できませんでした。", {"start"}},
        {"malformed, from a file", "pop3s://[::1", 1, 1, NET_CONNECTED, "サーバーを見つけられませんでした。",
         {"start"}},
        {"no such name", "no-such-host.invalid", 1, 0, NET_CONNECTED, "サーバーを見つけられませんでした。",
         {"start", "look_up no-such-host.invalid:110"}},
        {"no socket", SERVER, 1, 1, NET_NO_SOCKET, "ソケットを作成できませんでした。",
         {"start", "look_up pop.example.jp:110", "open 1500"}},
        {"nobody answers", "[2001:db8::7]:1110", 1, 1, NET_REFUSED, "サーバーに接続できませんでした。",
         {"start", "look_up 2001:db8::7:1110", "open 1500"}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        Script s = dialogue({});
        s.start = c.start;
        s.lookUp = c.lookUp;
        s.open = c.open;
        Check check(s, c.server);
        EXPECT_EQ(check.run(), 0);
        EXPECT_EQ(check.failure(), c.message);
        EXPECT_EQ(check.outcome.code, 0u) << "an old text: no code after it";
        EXPECT_EQ(check.link.calls(), c.calls);
        EXPECT_EQ(check.link.sends(), 0);
    }
}

// Nothing of the account goes out before the certificate is accepted, and
// each refusal says why, with the system's code. Only a handshake that the
// network failed (a WinSock code) is a server out of reach.
TEST(Pop3Session, TlsRefusalsTellWhyBeforeAnythingIsSent)
{
    struct {
        int tls;
        const char *message;
        uint32_t code = CODE;
        int offline = 0;
    } cases[] = {
        {TLS_HANDSHAKE_FAILED, "暗号化された接続を確立できませんでした。", CODE, 1},
        {TLS_HANDSHAKE_FAILED, "暗号化された接続を確立できませんでした。", 0x80090326}, // SEC_E_ILLEGAL_MESSAGE
        {TLS_UNTRUSTED_ISSUER, "サーバーの証明書は信頼されていない発行者によるものです。"},
        {TLS_NAME_MISMATCH, "サーバーの証明書の名前が接続先と一致しません。"},
        {TLS_EXPIRED, "サーバーの証明書の有効期限が切れています。"},
        {TLS_REVOKED, "サーバーの証明書は失効しています。"},
        {TLS_CERTIFICATE_FAILED, "サーバーの証明書を確認できませんでした。"},
        {TLS_OUTCOME_COUNT, "暗号化された接続を確立できませんでした。"}, // beyond the table
        {-1, "暗号化された接続を確立できませんでした。"},
    };
    for (auto &c : cases) {
        for (const char *server : {"pop3s://pop.example.jp", "starttls://pop.example.jp"}) {
            SCOPED_TRACE(std::string(server) + " " + std::to_string(c.tls));
            Script s = dialogue({line("+OK begin TLS")});
            s.tls = c.tls;
            s.code = c.code;
            Check check(s, server);
            EXPECT_EQ(check.run(), 0);
            EXPECT_EQ(check.failure(), c.message);
            EXPECT_EQ(check.outcome.code, c.code);
            EXPECT_EQ(check.outcome.offline, c.offline);
            const bool starttls = server[0] == 's';
            EXPECT_EQ(check.link.lines(), starttls ? Lines{"STLS"} : Lines{});
            EXPECT_EQ(check.link.calls().back(), "start_tls pop.example.jp 1500");
        }
    }
}

const auto MOST = std::numeric_limits<decltype(Pop3Outcome::newCount)>::max();

struct ResultCase {
    const char *name;
    Script script;
    bool newMail;
    decltype(Pop3Outcome::newCount) count;
};

TEST(Pop3Session, EachReplyIsReadWholeHoweverItArrives)
{
    const std::string longText(300, 'g'), longerText(1500, 'h');
    auto good = [](const char *stat) {
        return std::vector<Reply>{line("+OK"), line("+OK"), line(stat), line("+OK")};
    };
    const ResultCase cases[] = {
        {"empty mailbox", dialogue(good("+OK 0 0")), false, 0},
        {"ten messages", dialogue(good("+OK 10 2048")), true, 10},
        {"negative greeting goes on", dialogue(good("+OK 1 10"), line("-ERR busy, but try")), true, 1},
        {"greeting in slow pieces", dialogue(good("+OK 0 0"), slowly({"+O", "K rea", "dy\r", "\n"}, 150)), false, 0},
        {"every reply in slow pieces",
         dialogue({slowly({"+", "OK\r\n"}, 100), slowly({"+OK lo", "gged in\r\n"}, 100),
                   slowly({"+OK 2", " 200\r", "\n"}, 100), slowly({"+OK b", "ye\r\n"}, 100)}),
         true, 2},
        {"greeting past 256 bytes", dialogue(good("+OK 0 0"), line("+OK " + longText)), false, 0},
        {"greeting past 512 bytes", dialogue(good("+OK 2 9"), line("-" + longerText)), true, 2},
        {"bare LF line ends",
         dialogue({scripted::raw("+OK\n"), scripted::raw("+OK\n"), scripted::raw("+OK 0 0\n"), scripted::raw("+OK\n")},
                  scripted::raw("+OK hi\n")),
         false, 0},
        {"two replies in one segment",
         dialogue({scripted::raw("+OK\r\n"), scripted::raw("+OK\r\n+OK 3 0\r\n"), {}, line("+OK")}), true, 3},
        {"STAT count beyond the type", dialogue(good("+OK 99999999999999999999999 1")), true, MOST},
    };
    for (const ResultCase &c : cases) {
        SCOPED_TRACE(c.name);
        Check check(c.script);
        EXPECT_EQ(check.run(), 1) << check.failure();
        EXPECT_EQ(check.outcome.failure, nullptr);
        EXPECT_EQ(check.outcome.newMail, c.newMail ? 1 : 0);
        EXPECT_EQ(check.outcome.newCount, c.count);
        EXPECT_EQ(check.link.lines(), ALL);
    }
}

// The progress lines of a whole check, as the window shows them
// (full_status_sequence in tests/unit/check_helpers.h, under Wine).
Writes sequence(const char *kind, int unseenOnly, bool newMail, int tlsVersion)
{
    const int S = STATUS_STEP_LINE, D = STATUS_DETAIL_LINE;
    const int version = tlsVersion == 13 ? DETAIL_TLS_13 : DETAIL_TLS_12;
    Writes w = {{S, STEP_WINSOCK}, {D, DETAIL_WINSOCK}, {S, STEP_LOOKUP}, {D, STATUS_SERVER},
                {S, STEP_SOCKET},  {D, STATUS_EMPTY},   {S, STEP_CONNECT}, {D, STATUS_SERVER}};
    if (strcmp(kind, "plain") != 0)
        w.insert(w.end(), {{S, STEP_TLS}, {D, STATUS_SERVER}, {D, version}});
    w.insert(w.end(), {{S, STEP_LOGIN}, {D, DETAIL_USER}, {S, STEP_LOGIN}, {D, DETAIL_PASS}, {S, STEP_STAT},
                       {D, DETAIL_STAT}});
    if (unseenOnly)
        w.push_back({D, DETAIL_UIDL});
    w.insert(w.end(), {{D, newMail ? DETAIL_NEW_MAIL : DETAIL_NO_MAIL}, {S, STEP_QUIT}});
    return w;
}

TEST(Pop3Session, ProgressLinesComeInOrder)
{
    const Reply OK = line("+OK");
    struct {
        const char *kind; // plain, pop3s, starttls
        const char *server;
        int unseenOnly, tlsVersion;
        std::vector<Reply> replies;
        bool newMail;
    } cases[] = {
        {"plain", SERVER, 0, 12, {OK, OK, line("+OK 0 0"), OK}, false},
        {"plain", SERVER, 0, 12, {OK, OK, line("+OK 2 0"), OK}, true},
        {"pop3s", "pop3s://pop.example.jp", 0, 12, {OK, OK, line("+OK 1 0"), OK}, true},
        {"pop3s", "pop.example.jp:995", 0, 13, {OK, OK, line("+OK 0 0"), OK}, false},
        {"starttls", "starttls://pop.example.jp", 0, 13, {OK, OK, OK, line("+OK 0 0"), OK}, false},
        {"plain", SERVER, 1, 12, {OK, OK, line("+OK 1 0"), scripted::raw("+OK\r\n1 a\r\n.\r\n"), OK}, true},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.server);
        Script s = dialogue(c.replies);
        s.tlsVersion = c.tlsVersion;
        Check check(s, c.server, c.unseenOnly);
        EXPECT_EQ(check.run(), 1) << check.failure();
        EXPECT_EQ(check.status.writes, sequence(c.kind, c.unseenOnly, c.newMail, c.tlsVersion));
        EXPECT_EQ(check.status.waiting, 1);
    }
}

// ---- Only mail not seen before

void fill(SeenList *list, const std::vector<std::string> &uids)
{
    seen_list_free(list);
    for (auto &u : uids)
        ASSERT_TRUE(seen_list_add(list, u.data(), u.size()));
    ASSERT_TRUE(seen_list_finish(list));
}

std::vector<std::string> sorted(const SeenList &list)
{
    return std::vector<std::string>(list.sorted, list.sorted + list.count);
}

Reply listing(const std::string &lines)
{
    return scripted::raw("+OK\r\n" + lines + ".\r\n");
}

// Nothing known of where the last clean check left off (a first check, a
// file of the first version): the whole listing.
TEST(Pop3Session, UnseenOnlyCountsUidsNoCleanCheckHasSeen)
{
    const Reply OK = line("+OK"), REFUSED = line("-ERR not here");
    struct {
        const char *name;
        std::vector<std::string> before;
        uint32_t lastCount;
        std::vector<Reply> replies;
        int ok;
        uint32_t newCount;
        Lines lines;
        uint32_t count;
        const char *lastUid; // of message `count`, as the listing told it
        int listed;
        std::vector<std::string> now;
    } cases[] = {
        {"first check", {}, 0, {OK, OK, line("+OK 2 20"), listing("1 a\r\n2 b\r\n"), OK}, 1, 2, WITH_UIDL, 2, "b", 1,
         {"a", "b"}},
        {"same uids", {"a", "b"}, 2, {OK, OK, line("+OK 2 20"), listing("1 b\r\n2 a\r\n"), OK}, 1, 0, WITH_UIDL, 2,
         "a", 1, {"a", "b"}},
        {"one more", {"a", "b"}, 2, {OK, OK, line("+OK 3 30"), listing("1 a\r\n2 b\r\n3 c\r\n"), OK}, 1, 1,
         WITH_UIDL, 3, "c", 1, {"a", "b", "c"}},
        {"no UIDL, fewer", {"a", "b", "c"}, 3, {OK, OK, line("+OK 2 20"), REFUSED, OK}, 1, 0, WITH_UIDL, 2, "", 0, {}},
        {"no UIDL, more", {"a", "b", "c"}, 2, {OK, OK, line("+OK 4 40"), REFUSED, OK}, 1, 2, WITH_UIDL, 4, "", 0, {}},
        {"uids kept", {"a", "b", "c"}, 4, {OK, OK, line("+OK 3 30"), listing("1 a\r\n2 c\r\n3 ..d\r\n"), OK}, 1, 1,
         WITH_UIDL, 3, "..d", 1, {"..d", "a", "c"}},
        {"listing past the count", {}, 0, {OK, OK, line("+OK 1 10"), listing("1 a\r\n2 b\r\n3 c\r\n"), OK}, 1, 1,
         WITH_UIDL, 1, "a", 1, {"a", "b", "c"}},
        {"last line numbered otherwise", {}, 0, {OK, OK, line("+OK 2 10"), listing("1 a\r\n3 b\r\n"), OK}, 1, 2,
         WITH_UIDL, 2, "", 1, {"a", "b"}},
        {"repeated uids count once", {}, 0, {OK, OK, line("+OK 3 30"), listing("1 d\r\n2 d\r\n3 d\r\n"), OK}, 1, 1,
         WITH_UIDL, 3, "d", 1, {"d"}},
        {"logout refused", {"a"}, 1, {OK, OK, line("+OK 1 1"), listing("1 x\r\n"), REFUSED}, 0, 1, WITH_UIDL, 1, "x", 1,
         {"x"}},
        {"empty mailbox", {"a"}, 1, {OK, OK, line("+OK 0 0"), OK}, 1, 0, ALL, 0, "", 1, {}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        Check check(dialogue(c.replies), SERVER, 1);
        fill(&check.seen.before, c.before);
        check.seen.last.count = c.lastCount;
        EXPECT_EQ(check.run(), c.ok) << check.failure();
        EXPECT_EQ(check.outcome.newCount, c.newCount);
        EXPECT_EQ(check.outcome.newMail, c.ok && c.newCount > 0);
        EXPECT_EQ(check.link.lines(), c.lines);
        EXPECT_EQ(check.seen.mark.count, c.count);
        EXPECT_STREQ(check.seen.mark.uid, c.lastUid);
        EXPECT_EQ(check.seen.judged, 1);
        EXPECT_EQ(check.seen.listed, c.listed);
        if (c.listed)
            EXPECT_EQ(sorted(check.seen.now), c.now);
        EXPECT_EQ(sorted(check.seen.before), c.before) << "what the last check saw stays for the caller";
    }
}

struct FollowCase {
    const char *name;
    uint32_t stat;
    Memory memory;
    std::vector<Reply> replies; // after STAT's, before QUIT's
    Lines commands;             // after STAT, before QUIT
    int sends;                  // in all
    uint32_t newCount;
    const char *lastUid;
    std::vector<std::string> kept; // what the file is to hold: `now` when listed, else `before`
    int changed;
};

// The last clean check saw three messages, a, b and c. Where the server
// pipelines, the uids of both ends go in the login's flight.
TEST(Pop3Session, OnlyTheMessagesAfterTheLastCleanCheckAreAskedFor)
{
    const std::vector<std::string> ABC = {"a", "b", "c"}, ABCDE = {"a", "b", "c", "d", "e"};
    const Reply A1 = line("+OK 1 a"), C3 = line("+OK 3 c"), D4 = line("+OK 4 d"), E5 = line("+OK 5 e");
    const Reply CAPA = listing("TOP\r\nuser\r\npipelining\r\nUIDL\r\n"), NO = line("-ERR");
    const Lines ENDS = {"UIDL 3", "UIDL 1"}, U3145 = {"UIDL 3", "UIDL 1", "UIDL 4", "UIDL 5"};
    const Lines U3145C = {"UIDL 3", "UIDL 1", "UIDL 4", "UIDL 5", "CAPA"}, ENDS_LISTED = {"UIDL 3", "UIDL 1", "UIDL"};
    const FollowCase cases[] = {
        {"unchanged", 3, PIPELINING, {C3, A1}, ENDS, 2, 0, "c", ABC, 0},
        {"unchanged, nothing asked of the server", 3, NOT_ASKED, {C3, A1, CAPA}, {"UIDL 3", "UIDL 1", "CAPA"}, 7, 0,
         "c", ABC, 0},
        {"two new, pipelined", 5, PIPELINING, {C3, A1, D4, E5}, U3145, 3, 2, "e", ABCDE, 1},
        {"two new, one by one", 5, ONE_BY_ONE, {C3, A1, D4, E5}, U3145, 8, 2, "e", ABCDE, 1},
        {"two new, CAPA asked last", 5, NOT_ASKED, {C3, A1, D4, E5, CAPA}, U3145C, 9, 2, "e", ABCDE, 1},
        {"two new, CAPA refused", 5, NOT_ASKED, {C3, A1, D4, E5, NO}, U3145C, 9, 2, "e", ABCDE, 1},
        {"two new, nothing kept of the server", 5, NO_MEMORY, {C3, A1, D4, E5}, U3145, 8, 2, "e", ABCDE, 1},
        {"two new, what is kept is of another account", 5, OTHER_ACCOUNT, {C3, A1, D4, E5, listing("USER\r\n")},
         U3145C, 9, 2, "e", ABCDE, 1},
        {"one new that was seen before", 4, PIPELINING, {C3, A1, line("+OK 4 b")}, {"UIDL 3", "UIDL 1", "UIDL 4"}, 3,
         0, "b", ABC, 1},
        {"a deleted before it, d new", 3, PIPELINING, {line("+OK 3 d"), line("+OK 1 b"), listing("1 b\r\n2 c\r\n3 d\r\n")},
         ENDS_LISTED, 3, 1, "d", {"b", "c", "d"}, 1},
        {"a deleted before it, d and e new, one by one", 4, ONE_BY_ONE,
         {line("+OK 3 d"), listing("1 b\r\n2 c\r\n3 d\r\n4 e\r\n")}, {"UIDL 3", "UIDL"}, 6, 2, "e",
         {"b", "c", "d", "e"}, 1},
        {"the last deleted", 2, PIPELINING, {NO, A1, listing("1 a\r\n2 b\r\n")}, ENDS_LISTED, 3, 0, "b", {"a", "b"}, 1},
        {"the last deleted, d new", 3, PIPELINING, {line("+OK 3 d"), A1, listing("1 a\r\n2 b\r\n3 d\r\n")},
         ENDS_LISTED, 3, 1, "d", {"a", "b", "d"}, 1},
        // Two new listed before the last, which keeps its number: the first
        // end tells.
        {"two new before the last", 5, PIPELINING,
         {C3, line("+OK 1 x"), listing("1 x\r\n2 y\r\n3 c\r\n4 a\r\n5 b\r\n")}, ENDS_LISTED, 3, 2, "b",
         {"a", "b", "c", "x", "y"}, 1},
        {"UIDL n refused", 3, PIPELINING, {line("-ERR no such message"), NO, listing("1 a\r\n2 b\r\n3 c\r\n")},
         ENDS_LISTED, 3, 0, "c", ABC, 0},
        {"UIDL n refused for a new one", 4, PIPELINING, {C3, A1, NO, listing("1 a\r\n2 b\r\n3 c\r\n4 d\r\n")},
         {"UIDL 3", "UIDL 1", "UIDL 4", "UIDL"}, 4, 1, "d", {"a", "b", "c", "d"}, 1},
        {"UIDL n and UIDL refused", 4, PIPELINING, {NO, NO, NO}, ENDS_LISTED, 3, 1, "", ABC, 1},
    };
    for (const FollowCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Reply> replies = {line("+OK"), line("+OK"), line("+OK " + std::to_string(c.stat) + " 100")};
        replies.insert(replies.end(), c.replies.begin(), c.replies.end());
        replies.push_back(line("+OK bye"));
        Check check(dialogue(replies), SERVER, 1);
        fill(&check.seen.before, ABC);
        check.seen.last = SeenMark{3, "c", "a"};
        Pop3Memory memory = memory_of(c.memory);
        if (c.memory != NO_MEMORY)
            check.account.memory = &memory;
        EXPECT_EQ(check.run(), 1) << check.failure();
        Lines lines = check.link.lines();
        EXPECT_EQ(Lines(lines.begin() + 3, lines.end() - 1), c.commands);
        EXPECT_EQ(check.link.sends(), c.sends);
        EXPECT_EQ(check.outcome.newCount, c.newCount);
        EXPECT_EQ(check.seen.mark.count, c.stat);
        EXPECT_STREQ(check.seen.mark.uid, c.lastUid);
        EXPECT_EQ(sorted(check.seen.listed ? check.seen.now : check.seen.before), c.kept);
        EXPECT_EQ(pop3_seen_changed(&check.seen), c.changed);
        // CAPA once, and then kept for this account.
        const bool capa = std::find(c.commands.begin(), c.commands.end(), "CAPA") != c.commands.end();
        if (c.memory != NO_MEMORY) {
            EXPECT_EQ(memory.asked, c.memory != NOT_ASKED || capa);
            EXPECT_STREQ(memory.server, SERVER);
        }
    }
}

// The uids seen before are read from the file only when the judgement
// needs them: a check that finds nothing new reads no more than its head.
int recalls;
void recall_abc(const void *, SeenList *before)
{
    recalls++;
    fill(before, {"a", "b", "c"});
}

TEST(Pop3Session, TheUidsSeenBeforeAreReadOnlyWhenNeeded)
{
    struct {
        const char *name;
        uint32_t stat;
        std::vector<Reply> replies; // after STAT's, before QUIT's
        int recalls;
        uint32_t newCount;
    } cases[] = {
        {"nothing new", 3, {line("+OK 3 c"), line("+OK 1 a")}, 0, 0},
        {"one new", 4, {line("+OK 3 c"), line("+OK 1 a"), line("+OK 4 d")}, 1, 1},
        {"the last moved", 3, {line("+OK 3 d"), line("+OK 1 b"), listing("1 b\r\n2 c\r\n3 d\r\n")}, 1, 1},
        {"fewer, no UIDL", 2, {line("-ERR"), line("-ERR"), line("-ERR")}, 0, 0},
        {"empty mailbox", 0, {line("-ERR"), line("-ERR")}, 1, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Reply> replies = {line("+OK"), line("+OK"), line("+OK " + std::to_string(c.stat) + " 1")};
        replies.insert(replies.end(), c.replies.begin(), c.replies.end());
        replies.push_back(line("+OK"));
        Check check(dialogue(replies), SERVER, 1);
        check.seen.last = SeenMark{3, "c", "a"};
        check.seen.recall = recall_abc;
        Pop3Memory memory = memory_of(PIPELINING);
        check.account.memory = &memory;
        recalls = 0;
        EXPECT_EQ(check.run(), 1) << check.failure();
        EXPECT_EQ(recalls, c.recalls);
        EXPECT_EQ(check.outcome.newCount, c.newCount);
        pop3_seen_recall(&check.seen); // as the caller does before it keeps `before`
        EXPECT_EQ(recalls, 1) << "once at most";
    }
}

// Up to 64 new messages are asked one by one, in one flight; more, and the
// whole listing tells them.
TEST(Pop3Session, TheWholeListingTellsManyNewMessages)
{
    for (uint32_t added : {64u, 65u}) {
        SCOPED_TRACE(added);
        std::vector<Reply> replies = {line("+OK"), line("+OK"), line("+OK " + std::to_string(3 + added) + " 1")};
        std::string whole;
        std::vector<std::string> kept = {"a", "b", "c"};
        replies.insert(replies.end(), {line("+OK 3 c"), line("+OK 1 a")});
        for (uint32_t n = 1; n <= 3 + added; n++) {
            std::string uid = n <= 3 ? kept[n - 1] : "u" + std::to_string(n);
            if (added == 64 && n > 3)
                replies.push_back(line("+OK " + std::to_string(n) + " " + uid));
            whole += std::to_string(n) + " " + uid + "\r\n";
            if (n > 3)
                kept.push_back(uid);
        }
        if (added == 65)
            replies.push_back(listing(whole));
        replies.push_back(line("+OK"));
        Check check(dialogue(replies), SERVER, 1);
        fill(&check.seen.before, {"a", "b", "c"});
        check.seen.last = SeenMark{3, "c", "a"};
        Pop3Memory memory = memory_of(PIPELINING);
        check.account.memory = &memory;
        EXPECT_EQ(check.run(), 1) << check.failure();
        EXPECT_EQ(check.outcome.newCount, added);
        EXPECT_EQ(check.link.lines()[5], added == 64 ? "UIDL 4" : "UIDL");
        EXPECT_EQ(check.link.lines().size(), added == 64 ? 5 + 64 + 1u : 7u);
        EXPECT_EQ(check.link.sends(), 3);
        EXPECT_EQ(check.seen.mark.uid, "u" + std::to_string(3 + added));
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(sorted(check.seen.now), kept);
    }
}

// Past the listing's bound the check does not fail: it judges by where
// the last clean check left off, or by "more messages than at the last
// check", and asks the uid of the last message for the next check.
TEST(Pop3Session, PastTheListingsBoundTheCountJudges)
{
    const uint32_t MAX = POP3_MULTILINE_MAX_LINES;
    std::vector<std::string> many;
    for (uint32_t n = 1; n <= MAX; n++)
        many.push_back("u" + std::to_string(n));
    std::string longListing;
    for (uint32_t n = 1; n <= MAX + 1; n++)
        longListing += "1 v" + std::to_string(n) + "\r\n";
    auto uidl = [](uint32_t n, const std::string &uid) { return line("+OK " + std::to_string(n) + " " + uid); };
    auto number = [](const char *command, uint32_t n) { return command + std::to_string(n); };
    struct {
        const char *name;
        SeenMark last;
        bool manyBefore;
        uint32_t stat;
        std::vector<Reply> replies;
        Lines commands;
        uint32_t newCount;
        const char *lastUid;
    } cases[] = {
        {"one new after the last", {MAX, "u100000", "u1"}, true, MAX + 1,
         {uidl(MAX, "u100000"), uidl(1, "u1"), uidl(MAX + 1, "w")},
         {number("UIDL ", MAX), "UIDL 1", number("UIDL ", MAX + 1)}, 1, "w"},
        {"the last has another uid", {MAX, "x", "f"}, false, MAX + 1, {uidl(MAX, "y"), uidl(1, "f"), uidl(MAX + 1, "z")},
         {number("UIDL ", MAX), "UIDL 1", number("UIDL ", MAX + 1)}, 1, "z"},
        {"nothing known", {0, "", ""}, false, 150000, {uidl(150000, "q"), uidl(1, "p1")}, {"UIDL 150000", "UIDL 1"},
         150000, "q"},
        {"nothing known, UIDL n refused", {0, "", ""}, false, 150000, {line("-ERR"), line("-ERR")},
         {"UIDL 150000", "UIDL 1"}, 150000, ""},
        {"more new than are asked one by one", {MAX, "u100000", "u1"}, true, MAX + 100,
         {uidl(MAX, "u100000"), uidl(1, "u1"), uidl(MAX + 100, "r")},
         {number("UIDL ", MAX), "UIDL 1", number("UIDL ", MAX + 100)}, 100, "r"},
        {"fewer than at the last check", {150000, "q", "p1"}, false, 149999,
         {line("-ERR"), uidl(1, "p1"), uidl(149999, "p")}, {"UIDL 150000", "UIDL 1", "UIDL 149999"}, 0, "p"},
        {"a listing longer than the bound", {3, "", ""}, false, 5, {listing(longListing)}, {"UIDL"}, 2, ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Reply> replies = {line("+OK"), line("+OK"), line("+OK " + std::to_string(c.stat) + " 1")};
        replies.insert(replies.end(), c.replies.begin(), c.replies.end());
        replies.push_back(line("+OK"));
        Check check(dialogue(replies), SERVER, 1);
        fill(&check.seen.before, c.manyBefore ? many : std::vector<std::string>{"a"});
        check.seen.last = c.last;
        Pop3Memory memory = memory_of(PIPELINING);
        check.account.memory = &memory;
        EXPECT_EQ(check.run(), 1) << check.failure();
        Lines lines = check.link.lines();
        EXPECT_EQ(Lines(lines.begin() + 3, lines.end() - 1), c.commands);
        EXPECT_EQ(check.outcome.newCount, c.newCount);
        EXPECT_EQ(check.seen.mark.count, c.stat);
        EXPECT_STREQ(check.seen.mark.uid, c.lastUid);
        EXPECT_EQ(check.seen.listed, 0) << "the uids seen before stay: no more fit beside them";
        EXPECT_EQ(pop3_seen_changed(&check.seen), 1);
    }
}

// The replies of one flight come within one limit from the flight; one
// command at a time, each reply has its own.
TEST(Pop3Session, AFlightHasOneLimit)
{
    for (Memory kind : {PIPELINING, ONE_BY_ONE}) {
        SCOPED_TRACE(kind);
        Script s = dialogue({line("+OK"), slowly({"+OK\r\n"}, 600), slowly({"+OK 5 1\r\n"}, 600),
                             slowly({"+OK 3 c\r\n"}, 600), line("+OK 1 a"), line("+OK 4 d"), line("+OK 5 e"),
                             line("+OK")});
        Check check(s, SERVER, 1);
        fill(&check.seen.before, {"a", "b", "c"});
        check.seen.last = SeenMark{3, "c", "a"};
        Pop3Memory memory = memory_of(kind);
        check.account.memory = &memory;
        if (kind == PIPELINING) {
            EXPECT_EQ(check.run(), 0);
            EXPECT_EQ(check.failure(), UIDL_NO_REPLY);
            EXPECT_EQ(check.outcome.code, CODE);
            EXPECT_EQ(check.link.now(), check.link.last_sent_at() + LIMIT);
        } else {
            EXPECT_EQ(check.run(), 1) << check.failure();
            EXPECT_EQ(check.outcome.newCount, 2u);
        }
    }
}

// A reply to "UIDL n" that is neither "+OK n uid" nor a refusal.
TEST(Pop3Session, AnUnreadableUidlReplyEndsTheCheck)
{
    for (const char *reply : {"+OK 3", "+OK 4 c", "+OK c", "+OK 3 " "a b"}) {
        SCOPED_TRACE(reply);
        Check check(dialogue({line("+OK"), line("+OK"), line("+OK 3 1"), line(reply), line("+OK")}), SERVER, 1);
        check.seen.last = SeenMark{3, "c", "a"};
        EXPECT_EQ(check.run(), 0);
        EXPECT_EQ(check.failure(), UIDL_UNREADABLE);
        EXPECT_EQ(check.outcome.code, 0u);
    }
}

// With the setting off, a check is exactly what it always was.
TEST(Pop3Session, WithoutTheSettingEveryMessageCounts)
{
    Check check(dialogue({line("+OK"), line("+OK"), line("+OK 5 50"), line("+OK")}));
    fill(&check.seen.before, {"a", "b", "c", "d", "e"});
    check.seen.last = SeenMark{5, "e", "a"};
    Pop3Memory memory = memory_of(ONE_BY_ONE);
    check.account.memory = &memory;
    EXPECT_EQ(check.run(), 1);
    EXPECT_EQ(check.outcome.newCount, 5u);
    EXPECT_EQ(check.link.lines(), ALL);
    EXPECT_EQ(check.seen.judged, 0);
}

// ---- What the server says of itself

// What a server said of itself goes when it answers a flight out of step;
// "UTF8" goes first where it was listed and the account is ASCII.
TEST(Pop3Session, TheServersMemoryShapesTheLogin)
{
    const Reply OK = line("+OK");
    Pop3Memory utf8 = memory_of(ONE_BY_ONE), utf8Flight = memory_of(PIPELINING);
    utf8.utf8 = utf8Flight.utf8 = 1;
    struct {
        const char *name;
        Pop3Memory memory;
        const char *pass;
        std::vector<Reply> replies;
        int ok;
        Lines lines;
        int sends;
        int asked; // the memory after the check
    } cases[] = {
        {"STAT out of step", memory_of(PIPELINING), "secret", {OK, OK, line("+OK ready"), OK}, 0,
         {"USER taro", "PASS secret", "STAT", "QUIT"}, 1, 0},
        {"STAT garbage, one by one", memory_of(ONE_BY_ONE), "secret", {OK, OK, line("+OK ready")}, 0,
         {"USER taro", "PASS secret", "STAT"}, 3, 1},
        {"UTF8 first", utf8, "secret", {OK, OK, OK, line("+OK 0 0"), OK}, 1, {"UTF8", "USER taro", "PASS secret", "STAT", "QUIT"}, 5, 1},
        {"UTF8 refused goes on", utf8, "secret", {line("-ERR"), OK, OK, line("+OK 0 0"), OK}, 1,
         {"UTF8", "USER taro", "PASS secret", "STAT", "QUIT"}, 5, 1},
        {"UTF8 in the flight", utf8Flight, "secret", {OK, OK, OK, line("+OK 0 0"), OK}, 1,
         {"UTF8", "USER taro", "PASS secret", "STAT", "QUIT"}, 1, 1},
        {"no UTF8 for a password not ASCII", utf8, "s\x82\xA0", {OK, OK, line("+OK 0 0"), OK}, 1,
         {"USER taro", "PASS s\x82\xA0", "STAT", "QUIT"}, 4, 1},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        Check check(dialogue(c.replies));
        Pop3Memory memory = c.memory;
        check.account.memory = &memory;
        strcpy(check.account.pass, c.pass);
        EXPECT_EQ(check.run(), c.ok) << check.failure();
        EXPECT_EQ(check.link.lines(), c.lines);
        EXPECT_EQ(check.link.sends(), c.sends);
        EXPECT_EQ(memory.asked, c.asked);
    }
}

// ---- The password

// Runs the check on a thread whose stack is memory of the test, so that
// what the session left on its stack can be read once it has returned.
void *run_check(void *check)
{
    ((Check *)check)->run();
    return NULL;
}

// Read without the sanitizer: the frames that used this memory are gone.
__attribute__((no_sanitize("address"))) bool holds(const char *bytes, size_t size, const char *text)
{
    size_t n = strlen(text);
    for (size_t i = 0; i + n <= size; i++) {
        size_t j = 0;
        while (j < n && bytes[i + j] == text[j])
            j++;
        if (j == n)
            return true;
    }
    return false;
}

bool leaves_password_on_its_stack(Check *check, const char *password)
{
    const size_t size = 4 << 20;
    char *stack = (char *)aligned_alloc(4096, size);
    memset(stack, 0, size);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack, size);
    pthread_t thread;
    EXPECT_EQ(pthread_create(&thread, &attributes, run_check, check), 0);
    pthread_join(thread, NULL);
    pthread_attr_destroy(&attributes);
    bool found = holds(stack, size, password);
    free(stack);
    return found;
}

TEST(Pop3Session, ThePasswordGoesOnlyIntoThePassRequest)
{
    const char PASSWORD[] = "pw-7f3a9c1e";
    const Reply OK = line("+OK");
    struct {
        const char *name;
        std::vector<Reply> replies;
        int ok;
        Memory memory = NO_MEMORY;
    } cases[] = {
        {"clean check", {OK, OK, line("+OK 1 1"), listing("1 a\r\n"), OK}, 1},
        {"PASS refused", {OK, line("-ERR wrong")}, 0},
        {"STAT silent", {OK, OK, scripted::silence()}, 0},
        {"in the login's flight", {OK, OK, line("+OK 1 1"), listing("1 a\r\n"), OK}, 1, PIPELINING},
        {"refused in the login's flight", {OK, line("-ERR [IN-USE] locked"), OK}, 0, PIPELINING},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        Check check(dialogue(c.replies), SERVER, 1);
        Pop3Memory memory = memory_of(c.memory);
        check.account.memory = c.memory == NO_MEMORY ? NULL : &memory;
        strcpy(check.account.pass, PASSWORD);
        EXPECT_FALSE(leaves_password_on_its_stack(&check, PASSWORD));
        EXPECT_EQ(check.outcome.ok, c.ok);
        int passes = 0;
        for (const std::string &l : check.link.lines()) {
            if (l.find(PASSWORD) != std::string::npos) {
                EXPECT_EQ(l, std::string("PASS ") + PASSWORD);
                passes++;
            }
        }
        EXPECT_EQ(passes, 1);
        EXPECT_FALSE(check.outcome.failure && strstr(check.outcome.failure, PASSWORD));
        for (const std::string &uid : sorted(check.seen.now))
            EXPECT_EQ(uid.find(PASSWORD), std::string::npos);
    }
}

} // namespace
