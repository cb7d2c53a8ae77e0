// The real program over TLS, one row per check: the test Dovecot on 995
// (TLS from the first byte) and on 110 with STARTTLS, over IPv4, IPv6 and
// the name localhost; then the scripted peers of tests/services/tls_peer.py,
// one misbehaviour per port. Each row writes the server text into a fresh
// settings file and starts the program, whose start-up check is the row's
// check: it must end in its one message within its time. Evidence from the
// other side: Dovecot's log must say whether the login came over TLS, and a
// peer's log must show that no USER or PASS ever reached it in clear (none
// at all where the check had to fail first), and that a check that logged
// out ended TLS with its close_notify. A failure of TLS names the system's
// code of its cause after the text. Where a row must see a text of the
// progress window, the peer holds its next step until the test has seen it
// and releases it: no text is judged by whether a sampler caught it.
#include <gtest/gtest.h>
#include "program.h"
#include "ui_driver.h"
#include <fstream>
#include <sstream>
#include <string.h>
#include <vector>

using e2e::FileSettings;
using e2e::Program;
using e2e::CMD_EXIT;
using e2e::IDC_STATUS_STEP;
using e2e::IDC_STATUS_DETAIL;

namespace {

const char PROGRESS_CAPTION[] = "Sorvane - 新着メール確認";
const char RESULT_CAPTION[] = "Sorvane 結果報告";
const char ERROR_CAPTION[] = "Sorvane エラー";
const char NEW_MAIL[] = "新着メールが届いています。";
const char NO_MAIL[] = "新しいメッセージはありませんでした。";
const char NO_GREETING[] = "サーバーから応答を受け取ることができませんでした。";
const char NO_STARTTLS[] = "サーバーがSTARTTLSに対応していません。";
const char INJECTED[] = "STARTTLSの応答の後に不正なデータを受信しました。";
const char NO_HANDSHAKE[] = "暗号化された接続を確立できませんでした。";
const char UNTRUSTED[] = "サーバーの証明書は信頼されていない発行者によるものです。";
const char NAME_MISMATCH[] = "サーバーの証明書の名前が接続先と一致しません。";
const char EXPIRED[] = "サーバーの証明書の有効期限が切れています。";
const char REVOKED[] = "サーバーの証明書は失効しています。";
const char HANDSHAKE_STEP[] = "暗号化された接続を確立しています...";

// The program's own limit for the handshake and for each whole reply; a row
// that waits for no limit ends in a few round trips and the program's start.
const DWORD CHECK_LIMIT_MS = 30000;
const DWORD MARGIN_MS = 10000;
const DWORD PROMPT_MS = 15000;
const DWORD LIMITED_MS = CHECK_LIMIT_MS + MARGIN_MS;
// For the texts a row must see: within a held peer's own 12 s
// (tests/services/tls_peer.py) and a stalled handshake's 30 s.
const DWORD SHOWN_MS = 10000;

// What the progress window must show on the way: the handshake's step
// beside the server's name, or beside the protocol agreed on.
enum Shown { ANY, HANDSHAKE, HANDSHAKE_AND_PROTOCOL };

struct Row {
    const char *name;
    const char *server;
    const char *user;        // an account of the test Dovecot
    const char *caption;
    std::string text;
    DWORD withinMs;
    Shown shown;
    // Dovecot's login line must name the user and the client's address
    // `rip`, and say TLS or not; for a scripted peer, the behaviour whose
    // log to read, and whether the account may have crossed inside TLS.
    const char *rip;
    bool tls;
    const char *peer;
    bool accountInsideTls;
    bool held; // the peer waits for the test's release
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

Row dovecot(const char *name, const char *server, const char *user, const char *rip, bool tls = true)
{
    bool full = std::string(user) == "three";
    return {name, server, user, RESULT_CAPTION, full ? NEW_MAIL : NO_MAIL, PROMPT_MS, ANY, rip, tls, NULL, false,
            false};
}

// A peer row: `name` is the behaviour (tests/services/tls_peer.py).
Row peer(const char *name, const char *server, const char *caption, const std::string &text,
         DWORD withinMs = PROMPT_MS, Shown shown = ANY, bool accountInsideTls = false)
{
    return {name, server, "three", caption, text, withinMs, shown, NULL, true, name, accountInsideTls, false};
}

// A well-behaved peer that holds a step until the test has seen `shown`.
Row held(const char *name, const char *server, Shown shown)
{
    Row row = peer(name, server, RESULT_CAPTION, NEW_MAIL, PROMPT_MS, shown, true);
    row.held = true;
    return row;
}

// The program's text with the system's code after it, as the failure of a
// TLS step shows it: eight hex digits.
std::string coded(const char *text, const char *code)
{
    EXPECT_EQ(strspn(code, "0123456789ABCDEF"), 8u) << code;
    return std::string(text) + "(0x" + code + ")";
}

std::vector<Row> rows()
{
    return {
        dovecot("dovecot-995-three", "localhost:995", "three", "127.0.0.1"),
        dovecot("dovecot-pop3s-empty", "pop3s://127.0.0.1", "empty", "127.0.0.1"),
        dovecot("dovecot-starttls-three", "starttls://localhost", "three", "127.0.0.1"),
        dovecot("dovecot-starttls-empty", "STARTTLS://127.0.0.1:110", "empty", "127.0.0.1"),
        dovecot("dovecot-pop3s-ipv6", "pop3s://[::1]", "three", "::1"),
        dovecot("dovecot-starttls-ipv6", "starttls://[::1]:110", "empty", "::1"),
        dovecot("dovecot-plain-ipv6", "[::1]", "empty", "::1", false),
        dovecot("dovecot-plain-localhost", "localhost", "three", "127.0.0.1", false),
        // Well-behaved but slow peers: the greeting waits after the
        // handshake, the handshake after the client's hello.
        held("slow-tls", "pop3s://localhost:9950", HANDSHAKE_AND_PROTOCOL),
        held("slow-starttls", "starttls://localhost:9960", HANDSHAKE),
        // The hostile table.
        peer("other-name", "pop3s://localhost:9951", ERROR_CAPTION, coded(NAME_MISMATCH, "800B010F")),
        peer("expired", "pop3s://localhost:9952", ERROR_CAPTION, coded(EXPIRED, "800B0101")),
        peer("self-signed", "pop3s://localhost:9953", ERROR_CAPTION, coded(UNTRUSTED, "800B0109")),
        peer("rogue-issuer", "pop3s://localhost:9954", ERROR_CAPTION, coded(UNTRUSTED, "800B010A")),
        // The distribution point names a list that the rig serves
        // (tests/services/crl_server.sh), or a port where nothing listens:
        // revocation that cannot be checked is no objection.
        peer("revoked", "pop3s://localhost:9964", ERROR_CAPTION, coded(REVOKED, "80092010")),
        peer("crl-offline", "pop3s://localhost:9965", RESULT_CAPTION, NEW_MAIL, PROMPT_MS, ANY, true),
        peer("stls-refused", "starttls://localhost:9961", ERROR_CAPTION, NO_STARTTLS),
        peer("stls-plain", "starttls://localhost:9962", ERROR_CAPTION, coded(NO_HANDSHAKE, "80090326")),
        peer("stls-injected", "starttls://localhost:9963", ERROR_CAPTION, INJECTED),
        peer("stall", "pop3s://localhost:9955", ERROR_CAPTION, coded(NO_HANDSHAKE, "0000274C"), LIMITED_MS, HANDSHAKE),
        peer("garbage", "pop3s://localhost:9956", ERROR_CAPTION, coded(NO_HANDSHAKE, "80090326")),
        peer("cut-record", "pop3s://localhost:9957", ERROR_CAPTION, NO_GREETING),
        peer("endless", "pop3s://localhost:9958", ERROR_CAPTION, NO_GREETING, LIMITED_MS),
    };
}

// The build folder, as Wine sees it: the program is <build>\win64\sorvane.exe.
std::string build_path(const char *relative)
{
    std::string p = e2e::programPath;
    for (int up = 0; up < 2; up++)
        p = p.substr(0, p.find_last_of('\\'));
    return p + "\\" + relative;
}

std::string read_file(const std::string &path, std::streamoff from = 0)
{
    std::ifstream f(path, std::ios::binary);
    f.seekg(from);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::streamoff file_size(const std::string &path)
{
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    return f ? (std::streamoff)f.tellg() : 0;
}

std::vector<std::string> lines_with(const std::string &text, const char *needle)
{
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find(needle) != std::string::npos)
            found.push_back(line);
    return found;
}

// A file of the peers' folder, as Wine sees it.
std::string peer_file(const char *peer, const char *suffix)
{
    return build_path((std::string("tls\\peer\\") + peer + suffix).c_str());
}

// Whether the progress window shows what the row must see; `step` and
// `detail` keep what it showed last.
bool shows(DWORD pid, const Row &row, std::string *step, std::string *detail)
{
    HWND w = ui::find_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, pid);
    if (!w)
        return false;
    *step = ui::item_text(w, IDC_STATUS_STEP);
    *detail = ui::item_text(w, IDC_STATUS_DETAIL);
    bool protocol = *detail == "TLS 1.2" || *detail == "TLS 1.3";
    return *step == HANDSHAKE_STEP && (row.shown == HANDSHAKE ? *detail == row.server : protocol);
}

// Waits for the row's texts, then lets a held peer go on, seen or not: a
// text not seen has failed the row, and the rest of it still runs.
void see_then_release(DWORD pid, const Row &row)
{
    std::string step, detail;
    if (row.shown != ANY) {
        EXPECT_TRUE(ui::wait_until([&] { return shows(pid, row, &step, &detail); }, SHOWN_MS))
            << "the progress window showed \"" << step << "\" / \"" << detail << "\"";
    }
    if (row.held) {
        std::ofstream release(peer_file(row.peer, ".release"));
        EXPECT_TRUE(release.good()) << "no release for the peer";
    }
}

class TlsCheck : public ::testing::TestWithParam<Row> {};

TEST_P(TlsCheck, EndsInItsOneMessageWithinItsTime)
{
    const Row &row = GetParam();
    std::string dir = e2e::make_start_directory(row.name);
    FileSettings s;
    s.server = row.server;
    s.user = row.user;
    s.pass = std::string(row.user) + "-pass";
    s.showProgress = 1;
    s.okMes = 1;
    s.noMes = 1;
    e2e::write_settings_file(dir, s);
    std::string dovecotLog = build_path("dovecot\\dovecot.log");
    std::streamoff logFrom = file_size(dovecotLog);
    std::string peerLog = row.peer ? peer_file(row.peer, ".log") : "";
    if (row.peer) {
        DeleteFileA(peerLog.c_str());
        DeleteFileA(peer_file(row.peer, ".release").c_str());
    }

    Program app;
    DWORD started = GetTickCount();
    ASSERT_TRUE(app.start(dir));
    see_then_release(app.pid(), row);
    ui::Box box = ui::wait_box(NULL, row.withinMs + 5000, app.pid());
    DWORD took = GetTickCount() - started;
    ASSERT_TRUE(box) << "no message";
    ui::wait_until([&] { return !(box = ui::read_box(box.hwnd)).caption.empty(); }, 2000);
    EXPECT_EQ(box.caption, row.caption);
    EXPECT_EQ(box.text, row.text) << (row.peer ? read_file(peerLog) : "");
    EXPECT_LE(took, row.withinMs);
    // The progress window stands while the message does.
    HWND progress = ui::find_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, app.pid());
    EXPECT_TRUE(progress);
    ui::answer(box, IDOK);
    // The check is over once its window is destroyed, not merely hidden: an
    // Exit that reaches the window's modal loop after the end of the dialog
    // was asked for is dropped by Wine's dialog loop.
    EXPECT_TRUE(ui::wait_until([&] { return !IsWindow(progress); }));
    EXPECT_FALSE(ui::find_window(ui::DIALOG_CLASS, NULL, app.pid())) << "a second message";
    ASSERT_TRUE(app.main_window());
    app.command(CMD_EXIT);
    EXPECT_EQ(app.wait_exit(), 0u);

    if (row.rip) {
        // Dovecot writes its log through a process of its own.
        std::vector<std::string> logins;
        ui::wait_until([&] { return !(logins = lines_with(read_file(dovecotLog, logFrom), "Login: ")).empty(); },
                       5000);
        ASSERT_EQ(logins.size(), 1u);
        std::string who = std::string("user=<") + row.user + ">, method=PLAIN, rip=" + row.rip + ",";
        EXPECT_NE(logins[0].find(who), std::string::npos) << logins[0];
        EXPECT_EQ(logins[0].find(", TLS,") != std::string::npos, row.tls) << logins[0];
    } else {
        std::string log;
        EXPECT_TRUE(ui::wait_until([&] { return !lines_with(log = read_file(peerLog), "end").empty(); }, 5000))
            << "the peer saw no connection, or it was never closed";
        for (const char *word : {"USER", "PASS"}) {
            for (auto &line : lines_with(log, word))
                EXPECT_EQ(line.rfind("tls: ", 0), 0u) << "in clear: " << line;
            EXPECT_EQ(!lines_with(log, word).empty(), row.accountInsideTls) << log;
        }
        // The peer logs the alert after QUIT's reply, the one place it waits for it.
        EXPECT_EQ(!lines_with(log, "close_notify").empty(), row.accountInsideTls) << log;
    }
    printf("    %-24s message after %6lu ms\n", row.name, (unsigned long)took);
}

INSTANTIATE_TEST_SUITE_P(Rows, TlsCheck, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row> &info) {
                             std::string name;
                             for (const char *c = info.param.name; *c; c++)
                                 name += *c == '-' ? '_' : *c;
                             return name;
                         });

} // namespace
