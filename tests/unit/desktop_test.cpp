// Desktop services against the real platform under Wine.
#include <gtest/gtest.h>
#include "box_script.h"
#include "recorder.h"
#include "texts.h"
#include "desktop/desktop.h"
#include <string.h>

namespace {

using texts::ERROR_CAPTION;

TEST(ErrorBox, IsAnUnownedWarningWithOkOnly)
{
    rec::install();
    ui::BoxScript script({{ERROR_CAPTION, IDOK}});
    ErrorBox("サーバーを見つけられませんでした。");
    const auto &boxes = script.finish();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "サーバーを見つけられませんでした。");
    EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDOK}));
    auto ev = rec::events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].type, (UINT)(MB_OK | MB_ICONWARNING));
    EXPECT_FALSE(ev[0].owned);
    rec::uninstall();
}

TEST(ErrorBox, FromAnotherThreadLeavesThisThreadRunning)
{
    DWORD shown = 0;
    std::thread worker([&] {
        ErrorBox("テスト");
        shown = 1;
    });
    ui::Box box = ui::wait_box(ERROR_CAPTION);
    ASSERT_TRUE(box);
    // This thread still creates and drives windows while the box is up.
    HWND w = CreateWindowA("STATIC", "alive", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    EXPECT_NE(w, (HWND)NULL);
    DestroyWindow(w);
    EXPECT_EQ(shown, 0u);
    ui::answer(box, IDOK);
    worker.join();
    EXPECT_EQ(shown, 1u);
}

class ShellOpenTest : public ::testing::Test {
protected:
    char dir[MAX_PATH];
    void SetUp() override
    {
        GetTempPathA(sizeof dir, dir);
        strcat(dir, "sorvane-shellopen");
        CreateDirectoryA(dir, NULL);
    }
};

TEST_F(ShellOpenTest, MissingFileIsZero)
{
    std::string path = std::string(dir) + "\\missing.txt";
    DeleteFileA(path.c_str());
    EXPECT_EQ(ShellOpen(path.c_str()), 0);
}

TEST_F(ShellOpenTest, ExistingProgramIsOneEvenWithStaleLastError)
{
    char program[MAX_PATH];
    GetSystemDirectoryA(program, sizeof program);
    strcat(program, "\\hostname.exe");
    SetLastError(ERROR_FILE_NOT_FOUND); // left over from an earlier call
    EXPECT_EQ(ShellOpen(program), 1);
}

TEST_F(ShellOpenTest, ExistingDocumentIsOne)
{
    // A fresh Wine prefix knows the text editor but has no ".txt" entry;
    // every Windows has one, so give the test prefix the usual one.
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, ".txt", &key), ERROR_SUCCESS);
    RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE *)"txtfile", 8);
    RegCloseKey(key);

    std::string path = std::string(dir) + "\\note.txt";
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD n;
    WriteFile(f, "hello\r\n", 7, &n, NULL);
    CloseHandle(f);

    EXPECT_EQ(ShellOpen(path.c_str()), 1);
    // The document opens in the associated editor; close it again.
    HWND editor = NULL;
    ui::wait_until([&] {
        for (HWND h : ui::find_windows(NULL, NULL)) {
            if (ui::text_of(h).find("note") != std::string::npos) {
                editor = h;
                return true;
            }
        }
        return false;
    });
    if (editor)
        PostMessageA(editor, WM_CLOSE, 0, 0);
}

TEST_F(ShellOpenTest, FailureAfterSuccessIsStillZero)
{
    char program[MAX_PATH];
    GetSystemDirectoryA(program, sizeof program);
    strcat(program, "\\hostname.exe");
    ASSERT_EQ(ShellOpen(program), 1);
    SetLastError(0); // a clean code must not make a failure read as success
    EXPECT_EQ(ShellOpen("C:\\no\\such\\thing.exe"), 0);
}

TEST(ChooseFile, CancelledLeavesThePathUntouched)
{
    char path[512];
    memset(path, 'x', sizeof path);
    strcpy(path, "C:\\*.exe");
    char before[512];
    memcpy(before, path, sizeof path);

    std::thread user([] {
        HWND chooser = ui::wait_window(ui::DIALOG_CLASS, "起動するアプリケーション");
        if (chooser)
            ui::click(chooser, IDCANCEL);
        else
            ui::dismiss_all();
    });
    int r = ChooseFile(NULL, path, "起動するアプリケーション", "実行可能ﾌｧｲﾙ(*.exe)\0*.exe\0");
    user.join();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(memcmp(path, before, sizeof path), 0);
}

TEST(ChooseFile, ChosenFileComesBackAsFullPath)
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::string wav = std::string(dir) + "chime.wav";
    HANDLE f = CreateFileA(wav.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);

    char path[512];
    strcpy(path, (std::string(dir) + "*.wav").c_str());
    std::thread user([&] {
        HWND chooser = ui::wait_window(ui::DIALOG_CLASS, "サウンドファイルを選ぶ");
        if (!chooser) {
            ui::dismiss_all();
            return;
        }
        // The file name box of the explorer-style chooser is control 0x47C
        // (an edit, or the edit inside a combo box).
        HWND name = GetDlgItem(chooser, 0x47C);
        if (name && GetDlgItem(name, 1001))
            name = GetDlgItem(name, 1001);
        SendMessageA(name, WM_SETTEXT, 0, (LPARAM)wav.c_str());
        ui::click(chooser, IDOK);
    });
    int r = ChooseFile(NULL, path, "サウンドファイルを選ぶ", "WAVEｻｳﾝﾄﾞ(*.wav)\0*.wav\0");
    user.join();
    EXPECT_EQ(r, 1);
    EXPECT_STREQ(path, wav.c_str());
}

TEST(Sound, PlayAndStopAreAsynchronousRequests)
{
    rec::install();
    play_sound("C:\\a.wav");
    stop_sound();
    auto ev = rec::events();
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].kind, "play");
    EXPECT_EQ(ev[0].text, "C:\\a.wav");
    EXPECT_EQ(ev[0].type, (UINT)SND_ASYNC);
    EXPECT_EQ(ev[1].kind, "stop");
    EXPECT_EQ(ev[1].type, (UINT)SND_ASYNC);
    rec::uninstall();
}

} // namespace
