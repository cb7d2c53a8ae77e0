// Starting a check: the account preconditions, one check at a time, the
// progress window's life beside its worker, and Cancel or the close box
// closing only the window.
#include <gtest/gtest.h>
#include "box_script.h"
#include "check_helpers.h"
#include "pop3_peer.h"
#include "recorder.h"
#include "check/worker.h"
#include "check/progress_window.h"
#include "check/wake.h"
#include "dialog_harness.h"
#include "pop3/seen_file.h"
#include "settings/settings_dialog.h"
#include <atomic>
#include <thread>

namespace {

using namespace checktest;
using Lines = std::vector<std::string>;

const char PEER[] = "127.0.0.2";

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rec::install();
        set_check_time_limit(1500);
        set_account(PEER, "taro", "secret", 0);
    }
    void TearDown() override
    {
        ui::dismiss_all(GetCurrentProcessId());
        EXPECT_TRUE(wait_check_ended());
        set_check_time_limit(30000);
        rec::uninstall();
    }
};

TEST_F(LauncherTest, OnlyTheFirstEmptyAccountFieldIsToldAndNothingStarts)
{
    struct {
        const char *server, *user, *pass;
        const char *message;
    } cases[] = {
        {"", "", "", "サーバー名が入力されていません。"},
        {"", "taro", "secret", "サーバー名が入力されていません。"},
        {PEER, "", "", "ユーザー名が入力されていません。"},
        {PEER, "", "secret", "ユーザー名が入力されていません。"},
        {PEER, "taro", "", "パスワードが入力されていません。"},
    };
    pop3::Peer peer(PEER, pop3::good_script(0));
    for (int showProgress = 0; showProgress < 2; showProgress++) {
        for (auto &c : cases) {
            SCOPED_TRACE(std::string(c.message) + " showProgress=" + std::to_string(showProgress));
            set_account(c.server, c.user, c.pass, showProgress);
            rec::clear();
            ui::BoxScript script({{ERROR_CAPTION, IDOK}});
            start_check();
            const auto &boxes = script.finish();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.message);
            EXPECT_EQ(rec::kinds(), Lines{"box:Sorvane エラー"});
            EXPECT_EQ(rec::events()[0].type, (UINT)(MB_OK | MB_ICONWARNING));
            EXPECT_FALSE(check_running());
        }
    }
    Sleep(300);
    EXPECT_EQ(peer.connections(), 0);
}

TEST_F(LauncherTest, DirectStartReturnsAtOnceAndASecondRequestStartsNothing)
{
    pop3::Peer peer(PEER, pop3::Script{pop3::silence(), {}});
    DWORD t0 = GetTickCount();
    start_check();
    EXPECT_LT(GetTickCount() - t0, 500u);
    EXPECT_TRUE(check_running());
    ASSERT_TRUE(peer.wait_connections(1, 5000));

    start_check(); // while the first waits for its greeting
    Sleep(400);
    EXPECT_EQ(peer.connections(), 1);
    EXPECT_EQ(open_boxes(), 0);

    ui::Box b = wait_any_box(10000);
    ASSERT_TRUE(b);
    EXPECT_EQ(b.text, "サーバーから応答を受け取ることができませんでした。");
    EXPECT_TRUE(check_running()); // until its box is answered
    ui::answer(b, IDOK);
    ASSERT_TRUE(wait_check_ended());
    EXPECT_EQ(open_boxes(), 0);

    // Once it has ended, the next request starts a check again.
    start_check();
    EXPECT_TRUE(peer.wait_connections(2, 5000));
    b = wait_any_box(10000);
    ASSERT_TRUE(b);
    ui::answer(b, IDOK);
}

// Runs `body` on a helper thread while start_check runs the progress window
// on this thread; gives how long start_check took.
template <class F> DWORD check_with_window(F body)
{
    std::thread helper(body);
    DWORD t0 = GetTickCount();
    start_check();
    DWORD took = GetTickCount() - t0;
    helper.join();
    return took;
}

TEST_F(LauncherTest, WindowShowsEveryStatusAndStaysUntilTheResultIsAnswered)
{
    pop3::Peer peer(PEER, pop3::good_script(0));
    Settings.showProgress = 1;
    StatusWatch watch;
    ASSERT_TRUE(watch.ok());
    std::atomic<bool> windowWhileBox{false};
    std::string stepShown, detailShown;
    check_with_window([&] {
        ui::Box b = wait_any_box(15000);
        HWND w = ui::find_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, GetCurrentProcessId());
        windowWhileBox = w != NULL;
        stepShown = ui::item_text(w, IDC_STATUS_STEP);
        detailShown = ui::item_text(w, IDC_STATUS_DETAIL);
        if (b)
            ui::answer(b, IDOK);
    });
    EXPECT_TRUE(windowWhileBox);
    EXPECT_EQ(stepShown, "ログアウトしています...");
    EXPECT_EQ(detailShown, "新着メールなし");
    EXPECT_EQ(StatusWatch::writes(), full_status_sequence(PEER, false));
    EXPECT_EQ(ui::find_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, GetCurrentProcessId()), (HWND)NULL);
    EXPECT_EQ(progress_window(), (HWND)NULL); // the slot does not outlive the window
    EXPECT_TRUE(wait_check_ended());
}

TEST_F(LauncherTest, CheckThatFailsAtOnceShowsItsBoxOverTheOpenWindow)
{
    strcpy(Settings.server, "no-such-host.invalid");
    Settings.showProgress = 1;
    bool windowWhileBox = false;
    std::string text;
    check_with_window([&] {
        ui::Box b = wait_any_box(15000);
        windowWhileBox = ui::find_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, GetCurrentProcessId()) != NULL;
        text = b.text;
        if (b)
            ui::answer(b, IDOK);
    });
    EXPECT_TRUE(windowWhileBox);
    EXPECT_EQ(text, "サーバーを見つけられませんでした。");
}

// Cancel or the close box during a slow greeting: the window goes, the
// launcher returns, and the check still ends with its own box.
TEST_F(LauncherTest, ClosingTheWindowLeavesTheCheckRunningToItsEnd)
{
    struct {
        const char *name;
        bool useCloseBox;
        pop3::Script script;
        const char *caption, *text;
    } cases[] = {
        {"Cancel, then a result", false,
         pop3::Script{pop3::in_pieces({{"+OK late\r\n", 2000}}), pop3::good_script(0).replies},
         RESULT_CAPTION, "新しいメッセージはありませんでした。"},
        {"close box, then an error", true, pop3::Script{pop3::silence(), {}},
         ERROR_CAPTION, "サーバーから応答を受け取ることができませんでした。"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        pop3::Peer peer(PEER, c.script);
        Settings.showProgress = 1;
        set_check_time_limit(3000);
        std::atomic<bool> closed{false};
        std::atomic<bool> boxBeforeClose{false};
        std::atomic<DWORD> closedAt{0};
        check_with_window([&] {
            HWND w = ui::wait_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, 10000, GetCurrentProcessId());
            if (!w)
                return;
            peer.wait_connections(1, 5000);
            if (c.useCloseBox)
                ui::close_request(w);
            else
                ui::click(w, IDC_CANCEL_BUTTON);
            closedAt = GetTickCount();
            closed = ui::wait_gone(w, 5000);
            boxBeforeClose = open_boxes() > 0;
        });
        DWORD returnedAfter = GetTickCount() - closedAt;
        EXPECT_TRUE(closed);
        EXPECT_FALSE(boxBeforeClose);
        // start_check came back with the window, not with the check.
        EXPECT_LT(returnedAfter, 1000u);
        EXPECT_TRUE(check_running());
        EXPECT_EQ(progress_window(), (HWND)NULL);

        ui::Box b = wait_any_box(10000);
        ASSERT_TRUE(b);
        EXPECT_EQ(b.caption, c.caption);
        EXPECT_EQ(b.text, c.text);
        ui::answer(b, IDOK);
        EXPECT_TRUE(wait_check_ended());
        // The late close request reached no window.
        EXPECT_EQ(ui::find_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, GetCurrentProcessId()), (HWND)NULL);
    }
}

// Any program on the desktop can send the window its registered status
// message, with the worker's id guessed: nothing in it is followed as an
// address, and what is not one of the window's own lines and texts is
// ignored.
TEST_F(LauncherTest, ForgedStatusRequestsChangeNothing)
{
    pop3::Peer peer(PEER, pop3::Script{pop3::silence(), {}});
    Settings.showProgress = 1;
    std::string before, after;
    bool alive = false;
    check_with_window([&] {
        HWND w = ui::wait_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, 10000, GetCurrentProcessId());
        if (!w || !peer.wait_connections(1, 5000))
            return;
        before = ui::item_text(w, IDC_STATUS_STEP) + "|" + ui::item_text(w, IDC_STATUS_DETAIL);
        const LPARAM forged[] = {
            (LPARAM)0x10, (LPARAM)&before, (LPARAM)-1,
            MAKELPARAM(STATUS_TEXT_COUNT, IDC_STATUS_STEP), MAKELPARAM(STEP_QUIT, IDC_CANCEL_BUTTON),
        };
        for (LPARAM l : forged)
            SendMessageA(w, RegisterWindowMessageA("Sorvane.ProgressStatus"), GetThreadId(progress_window_worker()), l);
        after = ui::item_text(w, IDC_STATUS_STEP) + "|" + ui::item_text(w, IDC_STATUS_DETAIL);
        alive = IsWindow(w) && ui::item_text(w, IDC_CANCEL_BUTTON) == "キャンセル";
        ui::click(w, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(before, std::string("サーバーへ接続しています...|") + PEER);
    EXPECT_EQ(after, before);
    EXPECT_TRUE(alive);
    ui::Box b = wait_any_box(10000);
    ASSERT_TRUE(b);
    ui::answer(b, IDOK);
}

// A request from inside the running window's modal loop (as the tray and
// the timer make one) starts nothing and brings that window to the front.
static std::atomic<int> secondRequestMs{-1};
static HWND foregroundBefore, foregroundAfter, otherWindow;

static void CALLBACK second_request(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(NULL, id);
    // Another window has the front when the request comes.
    otherWindow = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 10, 10, 100, 50,
                                  NULL, NULL, NULL, NULL);
    SetForegroundWindow(otherWindow);
    foregroundBefore = GetForegroundWindow();
    DWORD t0 = GetTickCount();
    start_check();
    secondRequestMs = (int)(GetTickCount() - t0);
    foregroundAfter = GetForegroundWindow();
    DestroyWindow(otherWindow);
}

TEST_F(LauncherTest, RequestDuringAWindowedCheckBringsItsWindowToTheFront)
{
    pop3::Peer peer(PEER, pop3::Script{pop3::in_pieces({{"+OK late\r\n", 1200}}), pop3::good_script(0).replies});
    Settings.showProgress = 1;
    secondRequestMs = -1;
    HWND window = NULL;
    SetTimer(NULL, 0, 400, second_request);
    check_with_window([&] {
        window = ui::wait_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, 10000, GetCurrentProcessId());
        ui::wait_until([] { return secondRequestMs >= 0; }, 5000);
        ui::Box b = wait_any_box(15000);
        if (b)
            ui::answer(b, IDOK);
    });
    // Armed before start_check enters its modal loop; fires inside it.
    EXPECT_GE(secondRequestMs.load(), 0);
    EXPECT_LT(secondRequestMs.load(), 300);
    EXPECT_EQ(foregroundBefore, otherWindow);
    EXPECT_EQ(foregroundAfter, window);
    EXPECT_EQ(peer.connections(), 1);
}

// The account a check began with serves it to its end, though the user
// stores another one while the check waits for the greeting: the server
// sees the old user and password, and the seen-mail file names the old
// account.
TEST_F(LauncherTest, ACheckKeepsTheAccountItBeganWith)
{
    const char *SETTINGS = "Sorvane - 動作設定", *PASSWORD = "Sorvane - パスワード設定";
    auto new_password = [&](HWND d) {
        ui::set_item_text(d, IDC_PASSWORD, "changed");
        ui::click(d, IDC_OK_BUTTON);
    };
    struct {
        const char *name;
        std::function<void()> store; // on this thread, as the user would
    } rows[] = {
        {"settings dialog",
         [&] {
             harness::run_driven(SETTINGS, [] { return run_settings_dialog(start_check); }, [&](HWND d) {
                 ui::set_item_text(d, IDC_SERVER, "127.0.0.3");
                 ui::set_item_text(d, IDC_USER, "jiro");
                 ui::click(d, IDC_CHANGE_PASSWORD);
                 HWND p = harness::wait_dialog(PASSWORD);
                 if (p)
                     new_password(p);
                 ui::wait_gone(p);
                 ui::click(d, IDC_OK_BUTTON);
             });
         }},
    };
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string dir = std::string(temp) + "sorvane-one-account";
    CreateDirectoryA(dir.c_str(), NULL);
    lstrcpynA(startDirectory, dir.c_str(), sizeof startDirectory);
    set_check_time_limit(20000);
    for (auto &row : rows) {
        SCOPED_TRACE(row.name);
        DeleteFileA((dir + "\\" + SEEN_FILE_NAME).c_str());
        set_account(PEER, "taro", "secret", 0);
        Settings.unseenOnly = 1;
        HANDLE stored = CreateEventA(NULL, TRUE, FALSE, NULL);
        pop3::Script script{pop3::line("+OK ready"),
                            {pop3::line("+OK"), pop3::line("+OK"), pop3::line("+OK 1 10"),
                             pop3::raw("+OK\r\n1 uid-1\r\n.\r\n"), pop3::line("+OK")}};
        script.beforeGreeting = [&] { WaitForSingleObject(stored, 20000); };
        pop3::Peer peer(PEER, script);
        start_check();
        ASSERT_TRUE(peer.wait_connections(1, 5000));
        row.store();
        SetEvent(stored);
        ui::Box b = wait_any_box(15000);
        EXPECT_EQ(b.text, "新着メールが届いています。");
        if (b)
            ui::answer(b, IDOK);
        EXPECT_TRUE(wait_check_ended());
        EXPECT_NE(std::string(Settings.pass), "secret"); // the store took effect
        EXPECT_EQ(peer.lines(), (Lines{"USER taro", "PASS secret", "STAT", "UIDL", "QUIT"}));
        SeenMark mark;
        SeenList uids;
        seen_list_init(&uids);
        EXPECT_EQ(load_seen_file(dir.c_str(), SEEN_FILE_NAME, PEER, "taro", &mark, &uids), SEEN_FILE_READ);
        EXPECT_TRUE(seen_list_contains(&uids, "uid-1"));
        seen_list_free(&uids);
        CloseHandle(stored);
    }
    startDirectory[0] = '\0';
}

// The wake logic as the shell's tick drives it: how many checks it asks
// for within a time, ticking every 50 ms.
int wake_checks_within(DWORD ms)
{
    int due = 0;
    for (DWORD t0 = GetTickCount(); GetTickCount() - t0 < ms; Sleep(50))
        due += wake_tick();
    return due;
}

TEST(Wake, EachWakeOwesOneCheckUntilItCanRun)
{
    pop3::Peer peer("127.0.0.5", pop3::good_script(0), 1110);
    struct {
        const char *name, *server;
        DWORD searchMs;
        bool checkRuns;  // the check that began before the sleep still runs
        bool twoNotices; // the wake told again after the check was asked for
        int dueSoon, dueLater;
    } rows[] = {
        {"the server answers", "127.0.0.5:1110", 120000, false, false, 1, 0},
        {"a second notice of the same wake", "127.0.0.5:1110", 120000, false, true, 1, 0},
        {"owed while a check runs", "127.0.0.5:1110", 120000, true, false, 0, 1},
        {"a silent server: the search ends on time", "127.0.0.9:1110", 1000, false, false, 1, 0},
    };
    for (auto &row : rows) {
        SCOPED_TRACE(row.name);
        strcpy(Settings.server, row.server);
        wake_set_search_limit(row.searchMs);
        if (row.checkRuns) {
            ASSERT_TRUE(check_admit(1));
        }
        wake_suspending();
        wake_resumed(1);
        EXPECT_EQ(wake_checks_within(1800), row.dueSoon);
        if (row.twoNotices)
            wake_resumed(1);
        if (row.checkRuns)
            check_ended();
        EXPECT_EQ(wake_checks_within(1000), row.dueLater);
    }
    wake_set_search_limit(120000);
}

} // namespace
