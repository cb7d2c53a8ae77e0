// The shipped 32-bit program, started as a user starts it, through the
// black-box suite's own steps. On a 64-bit-only kernel it runs under
// emulation behind Wine's 32-bit loader, many times slower than the 64-bit
// build: every wait is stretched, and since each start of the program
// costs more than a minute there, one life of it, from the first start to
// Exit, carries the whole suite. `shipped_tests <win32 sorvane.exe>
// <win64 sorvane.exe>`: the second is the build it is compared with.
#include <gtest/gtest.h>
#include "steps.h"

namespace {

using namespace e2e;

// Emulation, on a loaded machine: a start takes up to about 90 s to its
// first window, against a few seconds under Wine's 64-bit loader.
const DWORD EMULATION_SCALE = 12;

class Shipped : public EndToEnd {
public:
    Shipped() : EndToEnd(EMULATION_SCALE) {}

    // Stores the test account with the new-mail message through the
    // settings dialog of the menu; returns the file the store wrote.
    std::string store_account()
    {
        app.command(CMD_SETTINGS);
        HWND dlg = wait_dialog(SETTINGS_CAPTION);
        EXPECT_TRUE(dlg);
        if (!dlg)
            return std::string();
        enter_account(this, dlg, SERVER, USER_FULL, PASSWORD_FULL);
        ui::set_check(dlg, IDC_OK_MESSAGE, true);
        ui::click(dlg, IDC_OK_BUTTON);
        EXPECT_TRUE(ui::wait_gone(dlg, ms(ui::DEFAULT_WAIT_MS)));
        return e2e::read_file(dir + "\\Sorvane.dat");
    }
};

TEST_F(Shipped, OneLifeFromTheFirstStartToExit)
{
    // The 64-bit build's file for the same input.
    std::string shippedDir = dir;
    dir = make_start_directory("ShippedReference");
    start_without_server(this, referencePath);
    std::string expected = store_account();
    ASSERT_FALSE(expected.empty()) << "the 64-bit build stored nothing";
    exit_and_expect_clean();
    app.terminate();
    dir = shippedDir;

    // The first start without a file asks twice; both are cancelled.
    start_without_server(this);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(store_account(), expected);

    app.left_click();
    ui::Box result = wait_box(RESULT_CAPTION);
    ASSERT_TRUE(result) << "a check against the test mail server";
    EXPECT_EQ(result.text, NEW_MAIL);
    ui::answer(result, IDOK);
    EXPECT_TRUE(ui::wait_gone(result.hwnd, ms(ui::DEFAULT_WAIT_MS)));

    Program second;
    ASSERT_TRUE(second.start(dir));
    EXPECT_EQ(second.wait_exit(ms(15000)), 0u) << "a second start ends at once";
    EXPECT_EQ(count(SETTINGS_CAPTION), 0u);
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.icon_present());
    exit_and_expect_clean();
}

} // namespace
