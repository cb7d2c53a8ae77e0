// The tray's handlers and the countdown of automatic checks, called as the
// main window would call them. A check that cannot start (no user name)
// shows its message at once, which makes every start_check visible.
#include <gtest/gtest.h>
#include "box_script.h"
#include "dialog_harness.h"
#include "recorder.h"
#include "texts.h"
#include "settings/settings.h"
#include "shell/shell.h"
#include "check/check.h"
#include "resources/resource.h"
#include <commctrl.h>
#include <stdio.h>
#include <string.h>
#include <atomic>
#include <string>

namespace {

using namespace texts;
const char NO_USER[] = "ユーザー名が入力されていません。";

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(&Settings, 0, sizeof Settings);
        checkCountdown = 0;
        rec::install();
    }
    void TearDown() override { rec::uninstall(); }

    // Runs `ticks` timer ticks, answering any check's box; returns how many
    // checks were started.
    int tick(int ticks)
    {
        int before = boxes();
        for (int i = 0; i < ticks; i++) {
            bool expectBox = (unsigned)checkCountdown == 1 && Settings.server[0] != '\0';
            if (expectBox) {
                ui::BoxScript script({{ERROR_CAPTION, IDOK}});
                on_timer_tick();
                script.finish();
            } else {
                on_timer_tick();
            }
        }
        return boxes() - before;
    }
    int boxes() { return (int)rec::events().size(); }
};

TEST_F(TrayTest, DisarmedCountdownNeverChecks)
{
    strcpy(Settings.server, "mail.example.jp");
    Settings.autoCheckTime = 5;
    EXPECT_EQ(tick(1000), 0);
    EXPECT_EQ(checkCountdown, 0);
}

TEST_F(TrayTest, ArmedCountdownChecksAtZeroAndRearmsAfterTheRefusal)
{
    strcpy(Settings.server, "mail.example.jp");
    Settings.autoCheckTime = 5;
    checkCountdown = 300; // what the settings dialog's store sets
    EXPECT_EQ(tick(299), 0);
    EXPECT_EQ(checkCountdown, 1);
    EXPECT_EQ(tick(1), 1);
    auto ev = rec::events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].text, NO_USER);
    // Re-armed with the interval read after the check returned.
    EXPECT_EQ(checkCountdown, 300);
    EXPECT_EQ(tick(299), 0);
    EXPECT_EQ(tick(1), 1);
}

TEST_F(TrayTest, IntervalIsReadWhenTheCheckHasReturned)
{
    strcpy(Settings.server, "mail.example.jp");
    Settings.autoCheckTime = 1;
    checkCountdown = 1;
    Settings.autoCheckTime = 2;
    EXPECT_EQ(tick(1), 1);
    EXPECT_EQ(checkCountdown, 120);
}

TEST_F(TrayTest, CountdownEndingWithoutServerStaysDisarmedSilently)
{
    Settings.autoCheckTime = 5;
    checkCountdown = 2;
    EXPECT_EQ(tick(2), 0);
    EXPECT_EQ(checkCountdown, 0);
    EXPECT_EQ(tick(500), 0);
}

TEST_F(TrayTest, CountdownIsTestedAsUnsigned)
{
    strcpy(Settings.server, "mail.example.jp");
    checkCountdown = -1;
    EXPECT_EQ(tick(10), 0);
    EXPECT_EQ(checkCountdown, -11);
}

TEST_F(TrayTest, OnlyALeftPressOnOurIconRequestsACheck)
{
    HWND w = NULL;
    on_tray_notify(w, TRAY_ICON_ID + 1, WM_LBUTTONDOWN);
    on_tray_notify(w, TRAY_ICON_ID, WM_LBUTTONUP);
    on_tray_notify(w, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
    on_tray_notify(w, TRAY_ICON_ID, WM_MOUSEMOVE);
    on_tray_notify(w, TRAY_ICON_ID, WM_MBUTTONDOWN);
    EXPECT_EQ(boxes(), 0);

    ui::BoxScript script({{ERROR_CAPTION, IDOK}});
    on_tray_notify(w, TRAY_ICON_ID, WM_LBUTTONDOWN);
    script.finish();
    auto ev = rec::events();
    ASSERT_EQ(ev.size(), 1u);
    // With every account field empty only the first one is reported.
    EXPECT_EQ(ev[0].text, "サーバー名が入力されていません。");
}

TEST_F(TrayTest, ManualChecksLeaveTheCountdownAlone)
{
    checkCountdown = 42;
    ui::BoxScript script({{ERROR_CAPTION, IDOK}});
    on_command(NULL, CMD_CHECK_NOW);
    script.finish();
    EXPECT_EQ(boxes(), 1);
    EXPECT_EQ(checkCountdown, 42);
}

// The tray stays reachable while the settings dialog is up: a second
// Settings command, taken inside the dialog's modal loop as the main window
// would take it, opens nothing and returns at once.
std::atomic<bool> secondReturned;
void CALLBACK ask_settings_again(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(NULL, timer);
    on_command(NULL, CMD_SETTINGS);
    secondReturned = true;
}

TEST_F(TrayTest, SettingsCommandDoesNothingWhileItsDialogIsUp)
{
    add_tray_icon(NULL); // the dialog is free from here on
    secondReturned = false;
    SetTimer(NULL, 0, 100, ask_settings_again);
    size_t open = 0;
    auto first = [] {
        on_command(NULL, CMD_SETTINGS);
        return (INT_PTR)0;
    };
    harness::run_driven(SETTINGS_CAPTION, first, [&](HWND) {
        ui::wait_until([] { return secondReturned.load(); }, 3000);
        std::vector<HWND> shown = ui::find_windows(ui::DIALOG_CLASS, SETTINGS_CAPTION, GetCurrentProcessId());
        open = shown.size();
        for (HWND w : shown) // a second one, if any, first
            ui::click(w, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(open, 1u);
    EXPECT_TRUE(settings_dialog_free());
    EXPECT_EQ(boxes(), 0);
    remove_tray(NULL);
}

TEST_F(TrayTest, MenuHoldsTheSevenItemsInOrder)
{
    ASSERT_TRUE(build_tray_menu());
    struct Item {
        UINT id;
        const char *caption;
    } expected[] = {
        {CMD_CHECK_NOW, "メールチェック開始(&S)"}, {CMD_SETTINGS, "動作設定(&P)..."}, {0, NULL},
        {CMD_HELP, "ヘルプ(&H)"}, {CMD_ABOUT, "バージョン情報(&A)..."}, {0, NULL},
        {CMD_EXIT, "終了(&X)"},
    };
    ASSERT_EQ(GetMenuItemCount(tray_menu()), 7);
    for (int i = 0; i < 7; i++) {
        MENUITEMINFOA mi = {};
        char text[64] = "";
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
        mi.dwTypeData = text;
        mi.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(tray_menu(), i, TRUE, &mi));
        if (!expected[i].caption) {
            EXPECT_TRUE(mi.fType & MFT_SEPARATOR) << i;
            continue;
        }
        EXPECT_EQ(mi.wID, expected[i].id) << i;
        EXPECT_STREQ(text, expected[i].caption) << i;
        EXPECT_EQ(mi.fState & (MFS_GRAYED | MFS_CHECKED | MFS_DEFAULT), 0u) << i;
    }
    remove_tray(NULL);
}

// What a finished check posts shows in the icon record: the face (normal,
// new mail waiting, failed) and the tip with the time of the outcome.
TEST_F(TrayTest, OutcomesSetTheFaceAndTheTip)
{
    enum { NORMAL, NEW_MAIL, FAILED };
    struct {
        int outcome; // -1: just added
        LPARAM count;
        std::string tip; // without the time; empty: unchanged
        int face;
    } steps[] = {
        {-1, 0, "Sorvane", NORMAL},
        {CHECK_OUTCOME_NEW_MAIL, 3, tip_new_mail(3), NEW_MAIL},
        {CHECK_OUTCOME_MAIL_PROGRAM_STARTED, 0, "", NORMAL},
        {CHECK_OUTCOME_NEW_MAIL, 4294967295u, tip_new_mail(4294967295u), NEW_MAIL},
        {CHECK_OUTCOME_FAILED, 0, TIP_FAILED, FAILED},
        {CHECK_OUTCOME_MAIL_PROGRAM_STARTED, 0, "", FAILED},
        {CHECK_OUTCOME_NO_NEW_MAIL, 0, TIP_NO_NEW_MAIL, NORMAL},
    };
    HICON faces[3] = {};
    std::string tip;
    const NOTIFYICONDATAA *icon = tray_icon_record();
    for (auto &step : steps) {
        SYSTEMTIME before, after;
        GetLocalTime(&before);
        if (step.outcome < 0)
            add_tray_icon(NULL);
        else
            on_check_outcome(step.outcome, step.count);
        GetLocalTime(&after);
        if (!step.tip.empty() && step.outcome < 0) {
            tip = step.tip;
        } else if (!step.tip.empty()) {
            char at[2][16];
            snprintf(at[0], sizeof at[0], " (%02d:%02d)", before.wHour, before.wMinute);
            snprintf(at[1], sizeof at[1], " (%02d:%02d)", after.wHour, after.wMinute);
            tip = step.tip + (icon->szTip == step.tip + at[0] ? at[0] : at[1]);
        }
        EXPECT_EQ(icon->szTip, tip);
        EXPECT_LE(strlen(icon->szTip), 63u);
        if (!faces[step.face])
            faces[step.face] = icon->hIcon;
        EXPECT_EQ(icon->hIcon, faces[step.face]) << step.face;
        EXPECT_TRUE(icon->hIcon);
    }
    EXPECT_NE(faces[NORMAL], faces[NEW_MAIL]);
    EXPECT_NE(faces[NORMAL], faces[FAILED]);
    EXPECT_NE(faces[NEW_MAIL], faces[FAILED]);
    // The shell may have taken the icon (Wine does, without a window): it
    // must not outlive the test.
    remove_tray(NULL);
}

// A result's notification: the title and text as the worker hands them.
LPARAM notification_block(const char *title, const char *text)
{
    size_t t = strlen(title) + 1, n = strlen(text) + 1;
    char *block = (char *)HeapAlloc(GetProcessHeap(), 0, t + n);
    memcpy(block, title, t);
    memcpy(block + t, text, n);
    return (LPARAM)block;
}

// The balloon's title and text, "title|text" in code page 932 ("" when
// they cannot be read), read by
// messages the tooltip answers in the shell's process, into memory lent
// there.
std::string read_balloon(HWND balloon)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(balloon, &pid);
    HANDLE shell = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    BYTE *remote = shell ? (BYTE *)VirtualAllocEx(shell, NULL, 8192, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : NULL;
    if (!remote)
        return "";
    TTTOOLINFOW ti = {};
    ti.cbSize = sizeof ti;
    ti.lpszText = (LPWSTR)(remote + 1024);
    TTGETTITLE title = {};
    title.dwSize = sizeof title;
    title.cch = 256;
    title.pszTitle = (WCHAR *)(remote + 4096);
    WCHAR text[2][512] = {};
    DWORD_PTR found = 0;
    bool ok = WriteProcessMemory(shell, remote, &ti, sizeof ti, NULL) &&
              WriteProcessMemory(shell, remote + 1024, text[0], sizeof text[0], NULL) &&
              WriteProcessMemory(shell, remote + 512, &title, sizeof title, NULL) &&
              WriteProcessMemory(shell, remote + 4096, text[1], sizeof text[1], NULL) &&
              SendMessageTimeoutW(balloon, TTM_ENUMTOOLSW, 0, (LPARAM)remote, SMTO_ABORTIFHUNG, 2000, &found) &&
              found && SendMessageTimeoutW(balloon, TTM_GETTITLE, 0, (LPARAM)(remote + 512), SMTO_ABORTIFHUNG, 2000, NULL) &&
              ReadProcessMemory(shell, remote + 1024, text[0], sizeof text[0] - sizeof(WCHAR), NULL) &&
              ReadProcessMemory(shell, remote + 4096, text[1], sizeof text[1] - sizeof(WCHAR), NULL);
    VirtualFreeEx(shell, remote, 0, MEM_RELEASE);
    CloseHandle(shell);
    char cp932[2][1024] = {};
    for (int i = 0; ok && i < 2; i++)
        WideCharToMultiByte(932, 0, text[i], -1, cp932[i], sizeof cp932[i], NULL, NULL);
    return ok ? std::string(cp932[1]) + "|" + cp932[0] : "";
}

// However the balloon goes, its sound goes with it; a click on the
// new-mail one starts the mail program and the icon stops waiting.
TEST_F(TrayTest, TheBalloonsEndStopsTheSoundAndItsClickStartsTheMailProgram)
{
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(window);
    add_tray_icon(window);
    on_check_outcome(CHECK_OUTCOME_NEW_MAIL, 1);
    const HICON waiting = tray_icon_record()->hIcon;
    GetSystemDirectoryA(Settings.mailPath, sizeof Settings.mailPath);
    strcat(Settings.mailPath, "\\hostname.exe");
    struct {
        WPARAM newMail;
        LPARAM event;
        bool started;
    } rows[] = {
        {1, NIN_BALLOONTIMEOUT, false},
        {0, NIN_BALLOONUSERCLICK, false}, // the no-mail balloon starts nothing
        {1, NIN_BALLOONHIDE, false},
        {1, NIN_BALLOONUSERCLICK, true},
    };
    for (const auto &row : rows) {
        rec::clear();
        on_check_notification(row.newMail, notification_block(RESULT_CAPTION, NEW_MAIL));
        if (&row == &rows[0]) {
            HWND balloon = NULL;
            ui::wait_until([&] { return (balloon = ui::shown_balloon()) != NULL; }, 3000);
            ASSERT_TRUE(balloon) << "Wine's shell shows no balloon";
            // The text only: Wine 8's tooltip gives an empty title to
            // TTM_GETTITLE here, though its shell sets the one it was given.
            const std::string shown = read_balloon(balloon);
            EXPECT_EQ(shown.substr(shown.find('|') + 1), NEW_MAIL);
        }
        on_tray_notify(window, TRAY_ICON_ID, row.event);
        EXPECT_EQ(rec::kinds(), std::vector<std::string>{"stop"}) << row.event;
        EXPECT_EQ(tray_icon_record()->hIcon != waiting, row.started) << row.event;
    }
    remove_tray(window);
    DestroyWindow(window);
}

// The tip stays within the 63 bytes the first-version record carries and
// is cut between characters: "新" is two bytes of code page 932, "ｱ" one.
TEST(TrayTip, IsCutWithinTheFirstVersionRecordBetweenCharacters)
{
    const std::string a61(61, 'a'), a62(62, 'a'), a63(63, 'a');
    auto shin = [](int n) {
        std::string s;
        while (n--)
            s += "新";
        return s;
    };
    const struct {
        std::string tip, text, expected;
    } rows[] = {
        {"", std::string(70, 'a'), std::string(63, 'a')},
        {"Sorvane - ", shin(30), "Sorvane - " + shin(26)},
        {a61, "新", a61 + "新"},
        {a62, "新", a62},
        {a62, "ｱｲ", a62 + "ｱ"},
        {a63, "b", a63},
        {"a", "\x90", "a"}, // a lead byte without its trail byte
    };
    for (const auto &row : rows) {
        char tip[sizeof(NOTIFYICONDATAA().szTip)] = "";
        strcpy(tip, row.tip.c_str());
        tray_tip_append(tip, row.text.c_str());
        EXPECT_EQ(tip, row.expected) << row.tip << " + " << row.text;
    }
}

} // namespace
