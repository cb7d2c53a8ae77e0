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
