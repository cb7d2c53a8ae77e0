#include "steps.h"
#include <ctype.h>

namespace e2e {

void EndToEnd::SetUp()
{
    dir = make_start_directory(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

HWND EndToEnd::wait_dialog(const char *caption, DWORD wineMs)
{
    return ui::wait_window(ui::DIALOG_CLASS, caption, ms(wineMs), app.pid());
}

ui::Box EndToEnd::wait_box(const char *caption, DWORD wineMs)
{
    return ui::wait_box(caption, ms(wineMs), app.pid());
}

size_t EndToEnd::count(const char *caption)
{
    return ui::find_windows(ui::DIALOG_CLASS, caption, app.pid()).size();
}

void EndToEnd::exit_and_expect_clean()
{
    HWND main = app.main_window(ms(15000));
    ASSERT_TRUE(main);
    app.command(CMD_EXIT);
    EXPECT_EQ(app.wait_exit(ms(15000)), 0u);
    EXPECT_FALSE(app.icon_present());
}

void start_without_server(EndToEnd *t, const std::string &program)
{
    ASSERT_TRUE(t->app.start(t->dir, program));
    for (int i = 0; i < 2; i++) {
        HWND dlg = t->wait_dialog(SETTINGS_CAPTION);
        ASSERT_TRUE(dlg);
        ui::click(dlg, IDC_CANCEL_BUTTON);
        ASSERT_TRUE(ui::wait_gone(dlg, t->ms(ui::DEFAULT_WAIT_MS)));
    }
    ASSERT_TRUE(t->app.main_window(t->ms(15000)));
    ASSERT_TRUE(ui::wait_until([&] { return t->app.icon_present(); }, t->ms(5000)));
}

void enter_account(EndToEnd *t, HWND dlg, const char *server, const char *user, const char *password)
{
    ui::set_item_text(dlg, IDC_SERVER, server);
    ui::set_item_text(dlg, IDC_USER, user);
    ui::click(dlg, IDC_CHANGE_PASSWORD);
    HWND pw = t->wait_dialog(PASSWORD_CAPTION);
    ASSERT_TRUE(pw);
    ui::set_item_text(pw, IDC_PASSWORD, password);
    ui::click(pw, IDC_OK_BUTTON);
    ASSERT_TRUE(ui::wait_gone(pw, t->ms(ui::DEFAULT_WAIT_MS)));
}

::testing::AssertionResult tray_shows(Program &app, const std::string &tip, int face)
{
    Program::TrayView v;
    bool shown = ui::wait_until(
        [&] {
            v = app.tray_view();
            return v.found && v.face == face && v.tip.size() == tip.size() + 8 && v.tip.compare(0, tip.size(), tip) == 0;
        },
        5000);
    const std::string t = v.tip.size() > tip.size() ? v.tip.substr(tip.size()) : "";
    bool timed = t.size() == 8 && t[0] == ' ' && t[1] == '(' && isdigit((unsigned char)t[2]) &&
                 isdigit((unsigned char)t[3]) && t[4] == ':' && isdigit((unsigned char)t[5]) &&
                 isdigit((unsigned char)t[6]) && t[7] == ')';
    if (shown && timed)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "found " << v.found << ", tip \"" << v.tip << "\", face " << v.face;
}

} // namespace e2e
