// The password dialog and the about box, driven through their windows.
#include "dialog_harness.h"
#include "recorder.h"
#include "texts.h"
#include "settings/password_dialog.h"
#include "settings/settings.h"
#include "shell/about.h"
#include "resource.h"
#include <string>

namespace {

using namespace texts;
const char ABOUT_CAPTION[] = "バージョン情報";
const char CLOSE_QUESTION[] = "変更された設定内容を保存せずにウインドウを閉じます。\nよろしいですか？";
const char TOO_LONG[] = "文字数が限界量を超えています。";
const char OLD_PASSWORD[] = "old-secret";

std::string repeat(const std::string &unit, int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += unit;
    return s;
}

class PasswordDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        lstrcpynA(Settings.pass, OLD_PASSWORD, sizeof Settings.pass);
        rec::install();
    }
    void TearDown() override { rec::uninstall(); }

    INT_PTR run(std::function<void(HWND)> drive)
    {
        // The field is the caller's; the settings dialog hands its copy's.
        return harness::run_driven(PASSWORD_CAPTION, [] { return run_password_dialog(NULL, Settings.pass); }, drive);
    }
};

struct LengthCase {
    const char *name;
    std::string text;
    bool accepted;
};

// "あ" is one double-byte character of code page 932: two bytes.
const LengthCase LENGTH_CASES[] = {
    {"127 single bytes", repeat("a", 127), true},
    {"128 single bytes", repeat("a", 128), false},
    {"63 double-byte characters and one byte", repeat("あ", 63) + "x", true},
    {"64 double-byte characters", repeat("あ", 64), false},
    {"300 bytes, read as 255", repeat("b", 300), false},
    {"one byte", "z", true},
};

TEST_F(PasswordDialog, LimitIsCountedInBytes)
{
    for (const LengthCase &c : LENGTH_CASES) {
        SCOPED_TRACE(c.name);
        lstrcpynA(Settings.pass, OLD_PASSWORD, sizeof Settings.pass);
        rec::clear();
        std::string shownAfterRefusal;
        INT_PTR r = run([&](HWND dlg) {
            ui::set_item_text(dlg, IDC_PASSWORD, c.text);
            ui::click(dlg, IDC_OK_BUTTON);
            if (c.accepted)
                return;
            ui::Box b = harness::answer_box(ERROR_CAPTION, IDOK);
            EXPECT_EQ(b.text, TOO_LONG);
            EXPECT_TRUE(harness::stays_open(dlg)) << c.name; // this thread has no trace
            shownAfterRefusal = ui::item_text(dlg, IDC_PASSWORD);
            ui::click(dlg, IDC_CANCEL_BUTTON);
        });
        EXPECT_EQ(r, 0);
        if (c.accepted) {
            EXPECT_EQ(std::string(Settings.pass), c.text);
            EXPECT_TRUE(rec::events().empty());
        } else {
            EXPECT_EQ(std::string(Settings.pass), OLD_PASSWORD);
            EXPECT_EQ(shownAfterRefusal, c.text) << "the text stays as typed";
            auto ev = rec::events();
            ASSERT_EQ(ev.size(), 1u);
            EXPECT_EQ(ev[0].type, (UINT)(MB_OK | MB_ICONWARNING));
            EXPECT_FALSE(ev[0].owned);
        }
    }
}

TEST_F(PasswordDialog, StartsEmptyAndOkOnEmptyClearsThePassword)
{
    std::string shown = "unread";
    run([&](HWND dlg) {
        shown = ui::item_text(dlg, IDC_PASSWORD);
        ui::click(dlg, IDC_OK_BUTTON);
    });
    EXPECT_EQ(shown, "");
    EXPECT_EQ(std::string(Settings.pass), "");
}

TEST_F(PasswordDialog, CancelKeepsThePassword)
{
    run([&](HWND dlg) {
        ui::set_item_text(dlg, IDC_PASSWORD, "typed");
        ui::click(dlg, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(std::string(Settings.pass), OLD_PASSWORD);
    EXPECT_TRUE(rec::events().empty()) << "no question on cancel";
}

TEST_F(PasswordDialog, EscapeDoesNothing)
{
    run([&](HWND dlg) {
        ui::set_item_text(dlg, IDC_PASSWORD, "typed");
        ui::press_key(dlg, VK_ESCAPE);
        EXPECT_TRUE(harness::stays_open(dlg));
        ui::click(dlg, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(std::string(Settings.pass), OLD_PASSWORD);
}

TEST_F(PasswordDialog, CloseRequestAsksAndYesKeepsThePassword)
{
    run([&](HWND dlg) {
        ui::set_item_text(dlg, IDC_PASSWORD, "typed");
        ui::close_request(dlg);
        ui::Box no = harness::answer_box(CONFIRM_CAPTION, IDNO);
        EXPECT_EQ(no.text, CLOSE_QUESTION);
        EXPECT_EQ(no.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_TRUE(harness::stays_open(dlg));
        ui::close_request(dlg);
        harness::answer_box(CONFIRM_CAPTION, IDYES);
    });
    EXPECT_EQ(std::string(Settings.pass), OLD_PASSWORD);
    auto ev = rec::events();
    ASSERT_EQ(ev.size(), 2u);
    for (const rec::Event &e : ev) {
        EXPECT_EQ(e.type, (UINT)(MB_YESNO | MB_ICONQUESTION));
        EXPECT_TRUE(e.owned) << "attached to the dialog";
    }
}

// ---- About box

INT_PTR run_about(std::function<void(HWND)> drive)
{
    return harness::run_driven(ABOUT_CAPTION, [] { return run_about_box(); }, drive);
}

TEST(AboutBox, ShowsTheNameAndVersionFirst)
{
    std::string text;
    run_about([&](HWND dlg) {
        for (const ui::Control &c : ui::children(dlg))
            if (c.cls == "Static" && !(c.style & SS_ICON))
                text = c.text;
        ui::click(dlg, IDOK);
    });
    EXPECT_EQ(text.substr(0, 16), "Sorvane ver 2.0\n");
}

struct Ending {
    const char *name;
    std::function<void(HWND)> act;
};

TEST(AboutBox, OkEnterAndCloseEndIt)
{
    const Ending endings[] = {
        {"OK button", [](HWND d) { ui::click(d, IDOK); }},
        {"Enter", [](HWND d) { ui::press_key(d, VK_RETURN); }},
        {"close button", [](HWND d) { ui::close_request(d); }},
    };
    for (const Ending &e : endings) {
        SCOPED_TRACE(e.name);
        bool closed = false;
        INT_PTR r = run_about([&](HWND dlg) {
            e.act(dlg);
            closed = ui::wait_gone(dlg, 3000);
        });
        EXPECT_TRUE(closed);
        EXPECT_EQ(r, 0);
    }
}

TEST(AboutBox, EscapeLeavesItOpen)
{
    run_about([&](HWND dlg) {
        ui::press_key(dlg, VK_ESCAPE);
        EXPECT_TRUE(harness::stays_open(dlg));
        ui::click(dlg, IDOK);
    });
}

} // namespace
