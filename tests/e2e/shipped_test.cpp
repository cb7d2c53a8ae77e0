// The shipped 32-bit program, started as a user starts it, through the
// black-box suite's own steps. On a 64-bit-only kernel it runs under
// emulation behind Wine's 32-bit loader, many times slower than the 64-bit
// build, so every wait is stretched; each start costs a minute or more, so
// one start serves several checks. `shipped_tests <win32 sorvane.exe>
// <win64 sorvane.exe>`: the second is the build it is compared with.
#include <gtest/gtest.h>
#include "steps.h"

namespace {

using namespace e2e;

// Emulation, on a loaded machine: the first window of a start takes up to
// about 90 s against a few under Wine's 64-bit loader.
const DWORD EMULATION_SCALE = 12;

class Shipped : public EndToEnd {
public:
    Shipped() : EndToEnd(EMULATION_SCALE) {}

    // Answers a message box and waits until it is destroyed: a command
    // posted while its modal loop is still ending would be lost.
    void answer_and_wait(const ui::Box &box, int id)
    {
        ui::answer(box, id);
        EXPECT_TRUE(ui::wait_until([&] { return !IsWindow(box.hwnd); }, ms(ui::DEFAULT_WAIT_MS)));
    }
};

std::string read_file(const std::string &path)
{
    std::string bytes;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return bytes;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(f, buf, sizeof buf, &n, NULL) && n > 0)
        bytes.append(buf, n);
    CloseHandle(f);
    return bytes;
}

TEST_F(Shipped, FirstStartAsksTwiceASecondStartEndsAtOnceAndExitEndsIt)
{
    start_without_server(this);
    if (HasFatalFailure())
        return;
    Program second;
    ASSERT_TRUE(second.start(dir));
    EXPECT_EQ(second.wait_exit(ms(15000)), 0u);
    EXPECT_EQ(count(SETTINGS_CAPTION), 0u);
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.icon_present());
    exit_and_expect_clean();
}

// The same input through the settings dialog of each build; the store is
// followed by the start-up's first check against the test mail server.
TEST_F(Shipped, StoresTheBytesOfThe64BitBuildAndItsCheckFindsNewMail)
{
    ASSERT_FALSE(referencePath.empty()) << "no 64-bit build to compare with";
    const std::string builds[] = {referencePath, programPath};
    std::string stored[2];
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE(builds[i]);
        std::string start = make_start_directory(i == 0 ? "shipped-reference" : "shipped-program");
        app.terminate();
        ASSERT_TRUE(app.start(start, builds[i]));
        HWND dlg = wait_dialog(SETTINGS_CAPTION);
        ASSERT_TRUE(dlg);
        ASSERT_NO_FATAL_FAILURE(enter_account(this, dlg, SERVER, USER_FULL, PASSWORD_FULL));
        ui::set_check(dlg, IDC_OK_MESSAGE, true);
        ui::click(dlg, IDC_OK_BUTTON);

        ui::Box result = wait_box(RESULT_CAPTION);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.text, NEW_MAIL);
        stored[i] = read_file(start + "\\Sorvane.dat");
        answer_and_wait(result, IDOK);
        exit_and_expect_clean();
    }
    ASSERT_FALSE(stored[0].empty());
    EXPECT_EQ(stored[1], stored[0]);
}

} // namespace
