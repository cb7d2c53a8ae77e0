// Whole checks against a real POP3 server (Dovecot on 127.0.0.1, started
// by tests/services/dovecot.sh), behind the progress window as the user
// sees them: the status lines in order, the result actions, a wrong
// password.
#include <gtest/gtest.h>
#include "check_helpers.h"
#include "recorder.h"
#include <mmsystem.h>
#include <thread>

namespace {

using namespace checktest;
using Lines = std::vector<std::string>;

const char SERVER[] = "127.0.0.1";

class DovecotCheckTest : public ::testing::Test {
protected:
    void SetUp() override { rec::install(); }
    void TearDown() override
    {
        ui::dismiss_all(GetCurrentProcessId());
        EXPECT_TRUE(wait_check_ended());
        rec::uninstall();
    }

    // Runs a windowed check on this thread; a helper answers its one box.
    ui::Box check_once(bool *windowWhileBox)
    {
        ui::Box seen;
        std::thread helper([&] {
            seen = wait_any_box(20000);
            *windowWhileBox = ui::find_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, GetCurrentProcessId()) != NULL;
            if (seen)
                ui::answer(seen, IDOK);
        });
        start_check();
        helper.join();
        return seen;
    }
};

TEST_F(DovecotCheckTest, MailboxesOfZeroAndThreeMessagesEndInTheirResults)
{
    struct {
        const char *user, *pass;
        bool newMail;
        const char *text;
        Lines actions;
        UINT type;
    } cases[] = {
        {"empty", "empty-pass", false, "新しいメッセージはありませんでした。",
         {"play:C:\\none.wav", "box:Sorvane 結果報告"}, MB_OK | MB_ICONINFORMATION},
        {"three", "three-pass", true, "新着メールが届いています。",
         {"play:C:\\new.wav", "box:Sorvane 結果報告", "stop"}, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.user);
        set_account(SERVER, c.user, c.pass, 1);
        strcpy(Settings.oksndPath, "C:\\new.wav");
        strcpy(Settings.nosndPath, "C:\\none.wav");
        rec::clear();
        StatusWatch watch;
        ASSERT_TRUE(watch.ok());
        bool windowWhileBox = false;
        ui::Box b = check_once(&windowWhileBox);
        ASSERT_TRUE(b) << "is Dovecot running? (tests/services/dovecot.sh start)";
        EXPECT_EQ(b.caption, RESULT_CAPTION);
        EXPECT_EQ(b.text, c.text);
        EXPECT_TRUE(windowWhileBox);
        EXPECT_EQ(rec::kinds(), c.actions);
        auto ev = rec::events();
        ASSERT_GE(ev.size(), 2u);
        EXPECT_EQ(ev[1].type, c.type);
        EXPECT_EQ(StatusWatch::writes(), full_status_sequence(SERVER, c.newMail));
        EXPECT_TRUE(wait_check_ended());
    }
}

// The messages' headers as mailers write them, in a mailbox this test
// fills (the arrived account starts empty): oldest first.
const char *const ARRIVED[] = {
    "From: =?UTF-8?B?5bGx55Sw5aSq6YOO?= <taro@example.jp>\r\n"
    "Subject: =?ISO-2022-JP?B?GyRCLSEycTVEGyhCIBskQi1qfGJ5dU1NGyhCIBskQi02GyhC?=\r\n",
    "From: hanako@example.jp\r\nSubject: =?UTF-8?B?5pel5g==?=\r\n =?UTF-8?B?nKzoqp4=?=\r\n",
    "From: c@example.jp\r\nSubject: \x89\xEF\x8B\x63\x82\xCC\x8C\x8F\r\n",
    "From: d@example.jp\r\nSubject: =?UTF-8?B?5Lya6K2w8J+YgA==?=\r\n",
};

void fill_arrived_mailbox()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string build = path;
    for (int i = 0; i < 3; i++)
        build = build.substr(0, build.find_last_of('\\'));
    const std::string maildir = build + "\\dovecot\\home\\arrived\\Maildir\\";
    for (const char *sub : {"new\\", "cur\\"}) {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((maildir + sub + "*").c_str(), &found);
        for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found))
            DeleteFileA((maildir + sub + found.cFileName).c_str());
        if (h != INVALID_HANDLE_VALUE)
            FindClose(h);
    }
    for (int n = 0; n < 4; n++) {
        const std::string name = std::to_string(1700000100 + n) + ".M" + std::to_string(n) + "P9.sorvane";
        const std::string body = std::string(ARRIVED[n]) + "\r\nBody.\r\n";
        HANDLE f = CreateFileA((maildir + "tmp\\" + name).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(f, INVALID_HANDLE_VALUE) << maildir;
        DWORD written = 0;
        WriteFile(f, body.data(), (DWORD)body.size(), &written, NULL);
        CloseHandle(f);
        ASSERT_TRUE(MoveFileA((maildir + "tmp\\" + name).c_str(), (maildir + "new\\" + name).c_str()));
    }
}

// The box lists what arrived, newest first, decoded through Windows' own
// code pages: compared byte for byte in code page 932.
TEST_F(DovecotCheckTest, TheNewMailBoxListsSenderAndSubject)
{
    fill_arrived_mailbox();
    set_account(SERVER, "arrived", "arrived-pass", 0);
    Settings.showHeaders = 1;
    bool windowWhileBox = false;
    ui::Box b = check_once(&windowWhileBox);
    ASSERT_TRUE(b);
    EXPECT_EQ(b.caption, RESULT_CAPTION);
    const std::string want = std::string(texts::NEW_MAIL) +
                             "\nd@example.jp\x81\x75\x89\xEF\x8B\x63?\x81\x76"                // 会議? (an emoji)
                             "\nc@example.jp\x81\x75\x89\xEF\x8B\x63\x82\xCC\x8C\x8F\x81\x76" // 会議の件, raw
                             "\nhanako@example.jp\x81\x75\x93\xFA\x96\x7B\x8C\xEA\x81\x76"   // 日本語, split
                             "\n\x8E\x52\x93\x63\x91\xBE\x98\x59\x81\x75\x87\x40\x89\xEF\x8B\x63 \x87\x8A\xFB\xFC"
                             "\xFA\xB1\x97\x6C \x87\x55\x81\x76"; // 山田太郎「①会議 ㈱髙﨑様 Ⅱ」
    // 髙 and 﨑 come back as Windows' own code page writes them, in the IBM
    // extension's codes (FBFC, FAB1), not the NEC-selected ones (EEE0, ED95)
    // of the decoder's native stand-in: both show the same characters.
    EXPECT_EQ(b.text, want);
}

TEST_F(DovecotCheckTest, WrongPasswordIsTold)
{
    set_account(SERVER, "three", "not-the-password", 1);
    bool windowWhileBox = false;
    ui::Box b = check_once(&windowWhileBox);
    ASSERT_TRUE(b);
    EXPECT_EQ(b.caption, ERROR_CAPTION);
    EXPECT_EQ(b.text, "パスワードが正しくありません。");
    EXPECT_TRUE(windowWhileBox);
    EXPECT_EQ(rec::kinds(), Lines{"box:Sorvane エラー"});
}

} // namespace
