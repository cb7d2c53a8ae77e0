// The real program, driven only from outside: started as a process in a
// start directory of its own, reached through its hidden main window (the
// tray callback message, menu commands) and through the windows it shows.
// The mail server is the test Dovecot on 127.0.0.1:110.
#include <gtest/gtest.h>
#include "steps.h"
#include "pop3_peer.h"
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

using e2e::Program;

namespace {

using namespace e2e;

TEST_F(EndToEnd, FirstStartWithoutSettingsAsksTwiceThenRunsWithoutServer)
{
    // The dialog comes again while the server is empty; then the icon.
    ASSERT_NO_FATAL_FAILURE(start_without_server(this));
    EXPECT_FALSE(IsWindowVisible(app.main_window()));
    // No server, so no first check: nothing else appears.
    Sleep(1500);
    EXPECT_EQ(count(SETTINGS_CAPTION), 0u);
    EXPECT_FALSE(ui::wait_box(NULL, 100, app.pid()));
    EXPECT_TRUE(app.running());
    exit_and_expect_clean();
}

TEST_F(EndToEnd, StartWithSettingsRunsTheFirstCheckBeforeAnythingElse)
{
    write_account(dir, SERVER, USER_FULL, PASSWORD_FULL, SHOW_PROGRESS | OK_MESSAGE);
    ASSERT_TRUE(app.start(dir));

    HWND progress = wait_dialog(PROGRESS_CAPTION);
    ASSERT_TRUE(progress);
    ui::Box result = wait_box(RESULT_CAPTION);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.text, NEW_MAIL);
    EXPECT_EQ(count(SETTINGS_CAPTION), 0u);
    // The progress window stays up until the result is dismissed.
    EXPECT_TRUE(IsWindow(progress));
    ui::answer(result, IDOK);
    EXPECT_TRUE(ui::wait_gone(progress));
    exit_and_expect_clean();
}

TEST_F(EndToEnd, SecondStartEndsAtOnceWithoutSecondWindowOrIcon)
{
    start_without_server(this);

    Program second;
    ASSERT_TRUE(second.start(dir));
    EXPECT_EQ(second.wait_exit(), 0u);
    EXPECT_FALSE(second.main_window(500));
    EXPECT_EQ(count(SETTINGS_CAPTION), 0u);
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.icon_present());
    exit_and_expect_clean();
}

// Its files would not be found again in a folder whose name code page 932
// cannot hold: the program says so and ends.
TEST_F(EndToEnd, StartFolderThatCodePage932CannotHoldIsRefused)
{
    const std::wstring folder = wide(dir) + L"\\caf\u00E9";
    CreateDirectoryW(folder.c_str(), NULL);
    ASSERT_TRUE(app.start(folder));
    ui::Box refused = wait_box(ERROR_CAPTION);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused.text, "起動時のフォルダーのパスに、扱えない文字が含まれています。");
    ui::answer(refused, IDOK);
    ui::Box failed = wait_box("エラー");
    ASSERT_TRUE(failed);
    ui::answer(failed, IDOK);
    EXPECT_EQ(app.wait_exit(), 0u);
    EXPECT_EQ(count(SETTINGS_CAPTION), 0u);
}

TEST_F(EndToEnd, LeftClickDuringACheckStartsNoSecondCheck)
{
    write_account(dir, SERVER, USER_EMPTY, PASSWORD_EMPTY, SHOW_PROGRESS | NO_MESSAGE);
    ASSERT_TRUE(app.start(dir));

    // While the first check waits on its result box, it is still running.
    ui::Box result = wait_box(RESULT_CAPTION);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.text, NO_MAIL);
    app.left_click();
    app.command(CMD_CHECK_NOW);
    Sleep(2000);
    EXPECT_EQ(count(PROGRESS_CAPTION), 1u);
    EXPECT_EQ(count(RESULT_CAPTION), 1u);
    ui::answer(result, IDOK);
    ASSERT_TRUE(ui::wait_until([&] { return ui::dialogs_alive(app.pid()) == 0; }));

    // Once it has ended, a click checks again.
    app.left_click();
    ui::Box next = wait_box(RESULT_CAPTION);
    ASSERT_TRUE(next);
    ui::answer(next, IDOK);
    exit_and_expect_clean();
}

void post_ticks(Program &app, int n);

TEST_F(EndToEnd, StoredIntervalOfOneMinuteChecksEverySixtyTicks)
{
    ASSERT_TRUE(app.start(dir));
    HWND dlg = wait_dialog(SETTINGS_CAPTION);
    ASSERT_TRUE(dlg);
    ASSERT_NO_FATAL_FAILURE(enter_account(this, dlg, SERVER, USER_EMPTY, PASSWORD_EMPTY));
    ui::set_check(dlg, IDC_AUTO_CHECK, true);
    ui::set_item_text(dlg, IDC_AUTO_CHECK_TIME, "1");
    ui::set_check(dlg, IDC_NO_MESSAGE, true);
    ui::click(dlg, IDC_OK_BUTTON);
    // No new-mail action is chosen: the caution question comes first.
    ui::Box caution = wait_box(CAUTION_CAPTION);
    ASSERT_TRUE(caution);
    ui::answer(caution, IDYES);
    DWORD stored = GetTickCount();
    ASSERT_TRUE(ui::wait_gone(dlg));

    // With a server now set, start-up runs its first check at once.
    ui::Box first = wait_box(RESULT_CAPTION);
    ASSERT_TRUE(first);
    EXPECT_EQ(first.text, NO_MAIL);
    EXPECT_LT(GetTickCount() - stored, 10000u);
    ui::answer(first, IDOK);
    ui::wait_gone(first.hwnd);

    // The countdown armed by the store runs out 60 ticks later...
    ui::Box automatic = wait_box(RESULT_CAPTION, 75000);
    DWORD t1 = GetTickCount();
    ASSERT_TRUE(automatic);
    EXPECT_GE(t1 - stored, 58000u);
    EXPECT_LE(t1 - stored, 66000u);
    ui::answer(automatic, IDOK);
    ui::wait_gone(automatic.hwnd);

    // ...and, without the progress window, is armed again as soon as the
    // check has started: the next one comes 60 ticks after that.
    ui::Box next = wait_box(RESULT_CAPTION, 75000);
    DWORD t2 = GetTickCount();
    ASSERT_TRUE(next);
    EXPECT_GE(t2 - t1, 58000u);
    EXPECT_LE(t2 - t1, 66000u);
    ui::answer(next, IDOK);
    exit_and_expect_clean();

    // Started again, with no dialog: the stored interval holds from the
    // start-up check on (sixty ticks, posted here as the timer posts them).
    Program again;
    ASSERT_TRUE(again.start(dir));
    ui::Box startUp = ui::wait_box(RESULT_CAPTION, 15000, again.pid());
    ASSERT_TRUE(startUp);
    ui::answer(startUp, IDOK);
    ASSERT_TRUE(ui::wait_gone(startUp.hwnd));
    post_ticks(again, 60);
    ui::Box afterRestart = ui::wait_box(RESULT_CAPTION, 15000, again.pid());
    ASSERT_TRUE(afterRestart) << "no automatic check after a restart";
    ui::answer(afterRestart, IDOK);
    again.command(CMD_EXIT);
    EXPECT_EQ(again.wait_exit(), 0u);
}

TEST_F(EndToEnd, IconComesBackWhenTheShellIsRestarted)
{
    start_without_server(this);
    HWND main = app.main_window();
    ASSERT_TRUE(app.icon_present());
    // Before any check the tip is the program's name alone.
    Program::TrayView before = app.tray_view();
    EXPECT_TRUE(before.found);
    EXPECT_EQ(before.tip, "Sorvane");
    EXPECT_EQ(before.face, Program::FACE_NORMAL);
    // A restarted shell has lost every icon...
    NOTIFYICONDATAA d = {};
    d.cbSize = NOTIFYICONDATAA_V1_SIZE;
    d.hWnd = main;
    d.uID = e2e::TRAY_ICON_ID;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &d));
    ASSERT_FALSE(app.icon_present());
    // ...and tells every top-level window that the taskbar is back.
    PostMessageA(main, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(ui::wait_until([&] { return app.icon_present(); }, 5000));
    exit_and_expect_clean();
}

TEST_F(EndToEnd, RightClickOpensTheMenuAndEscapeChoosesNothing)
{
    start_without_server(this);
    app.right_click();
    HWND menu = ui::wait_window("#32768", NULL, 5000, app.pid());
    ASSERT_TRUE(menu) << "the popup menu opens";
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(ui::wait_gone(menu, 5000));
    Sleep(500);
    EXPECT_FALSE(ui::wait_box(NULL, 100, app.pid()));
    EXPECT_EQ(count(SETTINGS_CAPTION), 0u);
    EXPECT_TRUE(app.running());
    exit_and_expect_clean();
}

// Exit from the menu, or a close request (as the session's end or a task
// manager sends one), while start-up still shows its dialog: neither
// destroys the window inside its own creation; both are carried out after.
TEST_F(EndToEnd, ExitOrCloseDuringStartUpIsCarriedOutAfterIt)
{
    const struct {
        const char *name;
        void (*ask)(Program &);
    } ways[] = {
        {"Exit", [](Program &p) { p.command(CMD_EXIT); }},
        {"WM_CLOSE", [](Program &p) { PostMessageA(p.main_window(), WM_CLOSE, 0, 0); }},
    };
    for (const auto &way : ways) {
        SCOPED_TRACE(way.name);
        app.terminate();
        ASSERT_TRUE(app.start(dir));
        HWND dlg = wait_dialog(SETTINGS_CAPTION);
        ASSERT_TRUE(dlg);
        HWND main = app.main_window();
        ASSERT_TRUE(main);
        way.ask(app);
        Sleep(500);
        EXPECT_TRUE(IsWindow(dlg));
        EXPECT_TRUE(app.running());
        ui::click(dlg, IDC_CANCEL_BUTTON);
        ui::wait_gone(dlg);
        HWND again = wait_dialog(SETTINGS_CAPTION);
        ASSERT_TRUE(again);
        ui::click(again, IDC_CANCEL_BUTTON);
        EXPECT_EQ(app.wait_exit(), 0u);
        EXPECT_FALSE(ui::wait_box(NULL, 100, app.pid()));
    }
}

// ---- What the tray tells, and mail seen before

// A new message written into the test mailbox as a mail server delivers:
// into tmp/, then moved into new/.
void deliver(const std::string &user, int number)
{
    std::string build = e2e::programPath.substr(0, e2e::programPath.find_last_of('\\'));
    build = build.substr(0, build.find_last_of('\\'));
    std::string maildir = build + "\\dovecot\\home\\" + user + "\\Maildir\\";
    std::string name = std::to_string(1700000000 + number) + ".M" + std::to_string(number) + "P1.sorvane";
    std::string body = "From: sender@example.test\r\nSubject: test " + std::to_string(number) + "\r\n\r\nBody.\r\n";
    HANDLE f = CreateFileA((maildir + "tmp\\" + name).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << maildir;
    DWORD n = 0;
    WriteFile(f, body.data(), (DWORD)body.size(), &n, NULL);
    CloseHandle(f);
    ASSERT_TRUE(MoveFileA((maildir + "tmp\\" + name).c_str(), (maildir + "new\\" + name).c_str()));
}

// Ticks a box of the settings dialog of the menu, as a user does.
void tick_in_settings(EndToEnd *t, int box, bool on = true)
{
    t->app.command(CMD_SETTINGS);
    HWND dlg = t->wait_dialog(SETTINGS_CAPTION);
    ASSERT_TRUE(dlg);
    ui::set_check(dlg, box, on);
    ui::click(dlg, IDC_OK_BUTTON);
    ASSERT_TRUE(ui::wait_gone(dlg));
}

TEST_F(EndToEnd, UnseenOnlyReportsEachMessageOnceAndTheTrayTellsEveryOutcome)
{
    const char user[] = "seen";
    write_account(dir, SERVER, user, "seen-pass", OK_MESSAGE | NO_MESSAGE | UNSEEN_ONLY);
    ASSERT_TRUE(app.start(dir));
    struct {
        int deliver; // a message delivered before the check, or 0
        const char *text;
        std::string tip;
        int face;
        bool balloon = false; // ticked in the settings dialog before the check
    } checks[] = {
        {0, NEW_MAIL, tip_new_mail(3), Program::FACE_NEW_MAIL}, // the check at start-up
        {0, NO_MAIL, TIP_NO_NEW_MAIL, Program::FACE_NORMAL},
        {4, NEW_MAIL, tip_new_mail(1), Program::FACE_NEW_MAIL},
        {5, NEW_MAIL, tip_new_mail(1), Program::FACE_NEW_MAIL, true},
    };
    for (auto &c : checks) {
        SCOPED_TRACE(c.tip);
        if (c.balloon) {
            ASSERT_NO_FATAL_FAILURE(tick_in_settings(this, IDC_NOTIFY_BALLOON));
        }
        if (c.deliver)
            deliver(user, c.deliver);
        if (&c != &checks[0])
            app.command(CMD_CHECK_NOW);
        if (c.balloon) { // the balloon stands over the icon: the icon is read after the loop
            EXPECT_TRUE(ui::wait_until([] { return ui::shown_balloon() != NULL; }, 30000)) << "no balloon";
            EXPECT_FALSE(ui::wait_box(NULL, 2000, app.pid())) << "a box instead of the balloon";
            continue;
        }
        ui::Box result = wait_box(RESULT_CAPTION, 30000);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.text, c.text);
        EXPECT_TRUE(tray_shows(app, c.tip, c.face));
        ui::answer(result, IDOK);
        ASSERT_TRUE(ui::wait_gone(result.hwnd));
    }
    // A restarted shell gets the icon back as it was.
    NOTIFYICONDATAA d = {};
    d.cbSize = NOTIFYICONDATAA_V1_SIZE;
    d.hWnd = app.main_window();
    d.uID = e2e::TRAY_ICON_ID;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &d));
    PostMessageA(d.hWnd, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(tray_shows(app, tip_new_mail(1), Program::FACE_NEW_MAIL));
    exit_and_expect_clean();
    EXPECT_NE(GetFileAttributesA((dir + "\\Sorvane.seen").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(EndToEnd, WithoutTheSettingEveryCheckReportsAllMailAndKeepsNoFile)
{
    write_account(dir, SERVER, USER_FULL, PASSWORD_FULL, OK_MESSAGE);
    ASSERT_TRUE(app.start(dir));
    for (int check = 0; check < 2; check++) {
        if (check)
            app.command(CMD_CHECK_NOW);
        ui::Box result = wait_box(RESULT_CAPTION, 30000);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.text, NEW_MAIL);
        EXPECT_TRUE(tray_shows(app, tip_new_mail(3), Program::FACE_NEW_MAIL));
        ui::answer(result, IDOK);
        ASSERT_TRUE(ui::wait_gone(result.hwnd));
    }
    exit_and_expect_clean();
    EXPECT_EQ(GetFileAttributesA((dir + "\\Sorvane.seen").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A mailbox of 60,000 messages (tests/services/dovecot.sh writes them as
// files): the first check reads the whole listing, a check that finds
// nothing asks for the last message alone, a delivered message is the only
// one asked for, and after a message is removed the whole listing tells
// the one delivered since. One result at each step, never an error.
TEST_F(EndToEnd, UnseenOnlyAtSixtyThousandMessages)
{
    FileSettings s;
    s.server = SERVER;
    s.user = "large";
    s.pass = "large-pass";
    s.okMes = 1;
    s.noMes = 1;
    s.unseenOnly = 1;
    e2e::write_settings_file(dir, s);
    std::string build = e2e::programPath.substr(0, e2e::programPath.find_last_of('\\'));
    build = build.substr(0, build.find_last_of('\\'));
    const std::string first = build + "\\dovecot\\home\\large\\Maildir\\cur\\1600000001.M1P2.sorvane,S=56,W=56";
    ASSERT_TRUE(app.start(dir));
    struct {
        const char *name;
        int remove;  // the file of the first message is removed first
        int deliver; // a message delivered before the check, or 0
        const char *text;
        const char *tip;
        DWORD wineMs;
    } checks[] = {
        // Dovecot indexes the mailbox in the first session.
        {"first check", 0, 0, NEW_MAIL, "Sorvane - 新着 60000 通", 120000},
        {"nothing new", 0, 0, NO_MAIL, "Sorvane - 新着なし", 30000},
        {"one delivered", 0, 60001, NEW_MAIL, "Sorvane - 新着 1 通", 30000},
        {"one removed, one delivered", 1, 60002, NEW_MAIL, "Sorvane - 新着 1 通", 30000},
    };
    for (auto &c : checks) {
        SCOPED_TRACE(c.name);
        if (c.remove) {
            ASSERT_TRUE(DeleteFileA(first.c_str())) << first;
        }
        if (c.deliver)
            deliver(s.user, c.deliver);
        if (&c != &checks[0])
            app.command(CMD_CHECK_NOW);
        ui::Box result = wait_box(NULL, c.wineMs);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.caption, RESULT_CAPTION);
        EXPECT_EQ(result.text, c.text);
        EXPECT_TRUE(tray_shows(app, c.tip, c.text == NEW_MAIL ? Program::FACE_NEW_MAIL : Program::FACE_NORMAL));
        ui::answer(result, IDOK);
        ASSERT_TRUE(ui::wait_gone(result.hwnd));
    }
    exit_and_expect_clean();
}

TEST_F(EndToEnd, FailedCheckShowsTheMutedIcon)
{
    write_account(dir, "127.0.0.3", USER_FULL, PASSWORD_FULL); // nothing listens there: refused at once
    ASSERT_TRUE(app.start(dir));
    ui::Box error = wait_box(ERROR_CAPTION, 30000);
    ASSERT_TRUE(error);
    EXPECT_TRUE(tray_shows(app, TIP_FAILED, Program::FACE_FAILED));
    ui::answer(error, IDOK);
    exit_and_expect_clean();
}

// ---- Sleep, wake and a missing network

const UINT CHECK_TIMER_ID = 128;
const char *const PASS_WRONG = "wrong-pass";

// Ticks as the timer gives them, many at once: the countdown of a stored
// interval of one minute runs out without a minute's wait.
void post_ticks(Program &app, int n)
{
    for (int i = 0; i < n; i++)
        PostMessageA(app.main_window(), WM_TIMER, CHECK_TIMER_ID, 0);
}

void post_power(Program &app, WPARAM event)
{
    PostMessageA(app.main_window(), WM_POWERBROADCAST, event, 0);
}

// Arms automatic checks as a user does: an interval of one minute stored
// through the settings dialog of the menu.
void arm_automatic_checks(EndToEnd *t)
{
    t->app.command(CMD_SETTINGS);
    HWND dlg = t->wait_dialog(SETTINGS_CAPTION);
    ASSERT_TRUE(dlg);
    ui::set_check(dlg, IDC_AUTO_CHECK, true);
    ui::set_item_text(dlg, IDC_AUTO_CHECK_TIME, "1");
    ui::click(dlg, IDC_OK_BUTTON);
    ASSERT_TRUE(ui::wait_gone(dlg));
}

TEST_F(EndToEnd, NoAutomaticCheckWhileSuspendedAndOneCheckOnceTheServerAnswersAfterTheWake)
{
    const char *server = "127.0.0.5:1110"; // nobody listens there until the test says
    write_account(dir, server, "taro", "secret", OK_MESSAGE | NO_MESSAGE);
    ASSERT_TRUE(app.start(dir));
    ui::Box refused = wait_box(ERROR_CAPTION, 30000); // the start-up check
    ASSERT_TRUE(refused);
    ui::answer(refused, IDOK);
    ASSERT_TRUE(ui::wait_gone(refused.hwnd));
    ASSERT_NO_FATAL_FAILURE(arm_automatic_checks(this));

    {
        pop3::Peer peer("127.0.0.5", pop3::good_script(1), 1110);
        ASSERT_TRUE(peer.listening());
        post_power(app, PBT_APMSUSPEND);
        post_ticks(app, 70);
        EXPECT_FALSE(ui::wait_box(NULL, 3000, app.pid())) << "a check while suspended";
        EXPECT_EQ(peer.connections(), 0);
    }
    // Woken while the server is away: the program looks for it, and finds
    // it a few seconds after it comes back; then exactly one check.
    post_power(app, PBT_APMRESUMEAUTOMATIC);
    Sleep(3000);
    EXPECT_FALSE(ui::wait_box(NULL, 100, app.pid())) << "a check before the server answered";
    pop3::Peer peer("127.0.0.5", pop3::good_script(1), 1110);
    ASSERT_TRUE(peer.listening());
    ui::Box result = wait_box(RESULT_CAPTION, 40000);
    ASSERT_TRUE(result) << "no check after the wake";
    EXPECT_EQ(result.text, NEW_MAIL);
    EXPECT_EQ(peer.lines(), (std::vector<std::string>{"USER taro", "PASS secret", "STAT", "QUIT"}));
    ui::answer(result, IDOK);
    ASSERT_TRUE(ui::wait_gone(result.hwnd));
    EXPECT_FALSE(ui::wait_box(NULL, 5000, app.pid())) << "a second check after the wake";
    exit_and_expect_clean();
}

// A check that waits for its server across a suspend and resume ends on
// its own time limit; the check the wake owes comes after it, once.
TEST_F(EndToEnd, ACheckRunningAcrossTheSleepIsFollowedByExactlyOneMore)
{
    pop3::Script held{pop3::silence(), {}};
    pop3::Peer peer("127.0.0.5", held, 1110);
    write_account(dir, "127.0.0.5:1110", "taro", "secret", OK_MESSAGE | NO_MESSAGE | QUIET_OFFLINE);
    ASSERT_TRUE(app.start(dir));
    ASSERT_TRUE(peer.wait_connections(1, 15000));
    ASSERT_NO_FATAL_FAILURE(arm_automatic_checks(this));
    post_power(app, PBT_APMSUSPEND);
    post_power(app, PBT_APMRESUMEAUTOMATIC);
    post_power(app, PBT_APMRESUMESUSPEND);
    // The wake's look finds the server at once (a connection of its own);
    // the start-up check fails on its 30 s limit and, as it spanned the
    // sleep, keeps quiet as one that could not reach the server; then the
    // owed check, and no other.
    EXPECT_TRUE(peer.wait_connections(3, 45000)) << "the owed check was lost";
    EXPECT_TRUE(tray_shows(app, TIP_OFFLINE, Program::FACE_FAILED));
    EXPECT_FALSE(ui::wait_box(NULL, 3000, app.pid()));
    EXPECT_EQ(peer.connections(), 3);
    exit_and_expect_clean();
}

// With the setting on, an automatic check that cannot reach the server
// shows nothing but the tray; a change of the machine's addresses brings
// one check, which finds the mail.
TEST_F(EndToEnd, QuietWithoutANetworkAndOneCheckWhenTheAddressComes)
{
    pop3::Peer peer("0.0.0.0", pop3::good_script(2), 1110);
    ASSERT_TRUE(peer.listening());
    write_account(dir, "10.77.0.1:1110", "taro", "secret", OK_MESSAGE | NO_MESSAGE | QUIET_OFFLINE);
    ASSERT_TRUE(app.start(dir));
    EXPECT_TRUE(tray_shows(app, TIP_OFFLINE, Program::FACE_FAILED));
    EXPECT_FALSE(ui::wait_box(NULL, 2000, app.pid())) << "a box for an automatic check without a network";
    ASSERT_TRUE(late_address(true));
    ui::Box result = wait_box(RESULT_CAPTION, 20000);
    ASSERT_TRUE(result) << "no check when the address came";
    EXPECT_EQ(result.text, NEW_MAIL);
    EXPECT_EQ(peer.connections(), 1);
    ui::answer(result, IDOK);
    EXPECT_TRUE(tray_shows(app, tip_new_mail(2), Program::FACE_NEW_MAIL));
    exit_and_expect_clean();
}

// After an automatic check without a network, changes of the addresses
// start one check a minute, however many come.
TEST_F(EndToEnd, ChangesOfTheAddressesWithinAMinuteStartOneCheck)
{
    ASSERT_TRUE(late_address(false)); // an earlier test may have left it given
    write_account(dir, "10.77.0.2:1110", "taro", "secret", OK_MESSAGE); // no route, whatever address comes
    ASSERT_TRUE(app.start(dir));
    for (bool given : {true, false}) {
        ui::Box unreached = wait_box(ERROR_CAPTION, 20000); // at start-up, then for the address that came
        ASSERT_TRUE(unreached);
        ui::answer(unreached, IDOK);
        ASSERT_TRUE(ui::wait_gone(unreached.hwnd));
        ASSERT_TRUE(late_address(given));
    }
    ASSERT_TRUE(late_address(true));
    EXPECT_FALSE(ui::wait_box(NULL, 5000, app.pid())) << "a second check within the minute";
    exit_and_expect_clean();
}

// The setting keeps quiet only about automatic checks that cannot reach
// the server: a check the user asks for, and a refused password, still
// show their box.
TEST_F(EndToEnd, QuietSettingLeavesAskedChecksAndRefusalsTold)
{
    write_account(dir, "127.0.0.3", USER_FULL, PASSWORD_FULL, OK_MESSAGE | QUIET_OFFLINE);
    ASSERT_TRUE(app.start(dir));
    EXPECT_TRUE(tray_shows(app, TIP_OFFLINE, Program::FACE_FAILED));
    EXPECT_FALSE(ui::wait_box(NULL, 1500, app.pid()));
    app.left_click();
    ui::Box asked = wait_box(ERROR_CAPTION, 30000);
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked.text, "サーバーに接続できませんでした。");
    ui::answer(asked, IDOK);
    ASSERT_TRUE(ui::wait_gone(asked.hwnd));
    EXPECT_TRUE(tray_shows(app, TIP_FAILED, Program::FACE_FAILED));
    exit_and_expect_clean();

    dir = make_start_directory("QuietWrongPassword");
    write_account(dir, SERVER, USER_FULL, PASS_WRONG, OK_MESSAGE | QUIET_OFFLINE);
    Program again;
    ASSERT_TRUE(again.start(dir));
    ui::Box refused = ui::wait_box(ERROR_CAPTION, 30000, again.pid());
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused.text, "パスワードが正しくありません。");
    ui::answer(refused, IDOK);
    again.command(CMD_EXIT);
    EXPECT_EQ(again.wait_exit(), 0u);
}

// Two accounts: the second typed into the settings dialog (Sorvane.dat
// keeps the first in its own fields, byte for byte), then, after a
// restart, both checked on their own connections side by side: each server
// hears only its own account, the progress window shows a labelled line
// each, one box tells both and the tray the total.
TEST_F(EndToEnd, TwoAccountsAreCheckedSideBySideAndToldInOneResult)
{
    auto slow = [](int count) {
        pop3::Script s = pop3::good_script(count);
        s.beforeGreeting = [] { Sleep(5000); };
        return s;
    };
    pop3::Peer first("127.0.0.5", slow(1), 1110), second("127.0.0.6", slow(2), 1110);
    write_account(dir, "127.0.0.5:1110", "taro", "secret", OK_MESSAGE | SHOW_PROGRESS);
    const std::string written = read_file(dir + "\\Sorvane.dat");
    ASSERT_TRUE(app.start(dir));
    ui::Box one = wait_box(RESULT_CAPTION, 30000);
    ASSERT_TRUE(one);
    EXPECT_EQ(one.text, NEW_MAIL);
    ui::answer(one, IDOK);
    ASSERT_TRUE(ui::wait_gone(one.hwnd));
    // Another server's user and password typed, a store refused after the
    // server field, then Cancel: the stored account stays whole.
    app.command(CMD_SETTINGS);
    HWND dlg = wait_dialog(SETTINGS_CAPTION);
    ASSERT_TRUE(dlg);
    ASSERT_NO_FATAL_FAILURE(enter_account(this, dlg, "127.0.0.6:1110", "saburo", "other"));
    ui::set_check(dlg, IDC_MAIL_LAUNCH, true);
    ui::set_item_text(dlg, IDC_MAIL_PATH, "");
    ui::click(dlg, IDC_OK_BUTTON);
    for (const char *caption : {"警告", "エラー"}) {
        ui::Box refused = wait_box(caption);
        ASSERT_TRUE(refused) << caption;
        ui::answer(refused, IDOK);
        ASSERT_TRUE(ui::wait_gone(refused.hwnd));
    }
    ui::click(dlg, IDC_CANCEL_BUTTON);
    ASSERT_TRUE(ui::wait_gone(dlg));
    app.command(CMD_CHECK_NOW);
    one = wait_box(RESULT_CAPTION, 30000);
    ASSERT_TRUE(one);
    ui::answer(one, IDOK);
    ASSERT_TRUE(ui::wait_gone(one.hwnd));
    const std::vector<std::string> taro = {"USER taro", "PASS secret", "STAT", "QUIT"};
    EXPECT_EQ(first.lines(), taro);
    EXPECT_EQ(first.connections(), 2);
    EXPECT_EQ(second.connections(), 0) << "the server typed and cancelled";
    app.command(CMD_SETTINGS);
    dlg = wait_dialog(SETTINGS_CAPTION);
    ASSERT_TRUE(dlg);
    ui::click(dlg, IDC_ACCOUNT_ADD);
    ui::wait_until([&] { return SendDlgItemMessageW(dlg, IDC_ACCOUNT, CB_GETCOUNT, 0, 0) == 2; }, 5000);
    ASSERT_NO_FATAL_FAILURE(enter_account(this, dlg, "127.0.0.6:1110", "jiro", "himitsu"));
    ui::click(dlg, IDC_OK_BUTTON);
    ASSERT_TRUE(ui::wait_gone(dlg));
    EXPECT_EQ(read_file(dir + "\\Sorvane.dat"), written) << "the first account in its own fields";
    exit_and_expect_clean();

    Program again;
    DWORD t0 = GetTickCount();
    ASSERT_TRUE(again.start(dir));
    HWND progress = ui::wait_window(ui::DIALOG_CLASS, PROGRESS_CAPTION, 4000, again.pid());
    ASSERT_TRUE(progress);
    const std::string waiting = "taro (127.0.0.5:1110): サーバーへ接続しています...|"
                                "jiro (127.0.0.6:1110): サーバーへ接続しています...|";
    std::string lines;
    ui::wait_until(
        [&] {
            lines.clear();
            for (const ui::Control &c : ui::children(progress))
                if (c.cls == "Static" && IsWindowVisible(c.hwnd))
                    lines += ui::text_of(c.hwnd) + "|";
            return lines == waiting;
        },
        4000);
    EXPECT_EQ(lines, waiting);
    ui::Box result = ui::wait_box(RESULT_CAPTION, 30000, again.pid());
    ASSERT_TRUE(result);
    EXPECT_LT(GetTickCount() - t0, 9000u) << "checked one after the other";
    EXPECT_EQ(result.text, std::string(NEW_MAIL) + "\ntaro (127.0.0.5:1110): 新着 1 通\njiro (127.0.0.6:1110): 新着 2 通");
    EXPECT_EQ(first.lines(), taro);
    EXPECT_EQ(second.lines(), (std::vector<std::string>{"USER jiro", "PASS himitsu", "STAT", "QUIT"}));
    EXPECT_EQ(first.connections() + second.connections(), 4);
    EXPECT_EQ(first.first_flight(), (std::vector<std::string>{"USER taro"})) << "no PIPELINING: one at a time";
    ui::answer(result, IDOK);
    // Wine's modal loop drops a message it takes while the window ends.
    EXPECT_TRUE(ui::wait_gone(progress));
    EXPECT_TRUE(tray_shows(again, tip_new_mail(3), Program::FACE_NEW_MAIL));
    again.command(CMD_EXIT);
    EXPECT_EQ(again.wait_exit(), 0u);
}

// A server that lists PIPELINING gets the login in one flight from its
// second check on, after a restart too; a refused login tells the
// server's own words; a TOP reply cut half way still tells the new mail;
// new mail listed before the last message seen, which keeps its number,
// is new; its LOGIN-DELAY holds automatic checks back, not the user's.
TEST_F(EndToEnd, ALoginInOneFlightAndTheServersOwnWords)
{
    using Lines = std::vector<std::string>;
    const char *ADDRESS = "127.0.0.7";
    auto listing = [](const char *uids) { return pop3::raw(std::string("+OK\r\n") + uids + ".\r\n"); };
    auto lists_pipelining = [](pop3::Script s) {
        s.capa = pop3::raw("+OK\r\nUIDL\r\nPIPELINING\r\nLOGIN-DELAY 900\r\n.\r\n");
        return s;
    };
    auto told = [&](Program &p, const char *caption) {
        ui::Box b = ui::wait_box(caption, 30000, p.pid());
        if (b) {
            ui::answer(b, IDOK);
            ui::wait_gone(b.hwnd);
        }
        return b.text;
    };
    auto check_with = [&](pop3::Script script, const char *caption) {
        pop3::Peer peer(ADDRESS, lists_pipelining(script), 1110);
        app.command(CMD_CHECK_NOW);
        std::string text = told(app, caption);
        return std::make_pair(text, peer.first_flight());
    };
    write_account(dir, "127.0.0.7:1110", "taro", "secret", OK_MESSAGE | EVERY_MINUTE);
    {
        pop3::Peer peer(ADDRESS, lists_pipelining(pop3::good_script(1)), 1110);
        ASSERT_TRUE(app.start(dir));
        EXPECT_EQ(told(app, RESULT_CAPTION), NEW_MAIL);
        EXPECT_EQ(peer.first_flight(), Lines{"USER taro"});
        EXPECT_EQ(peer.capas(), 1);
    }
    const Lines flight = {"USER taro", "PASS secret", "STAT", "QUIT"};
    EXPECT_EQ(check_with(pop3::good_script(1), RESULT_CAPTION).second, flight);
    const pop3::Reply OK = pop3::line("+OK"), NO = pop3::line("-ERR");
    EXPECT_EQ(check_with(pop3::Script(OK, {OK, pop3::line("-ERR [IN-USE] locked by another client"), NO, OK}),
                         ERROR_CAPTION).first,
              "メールボックスは他のプログラムが使用中です。\nlocked by another client");

    ASSERT_NO_FATAL_FAILURE(tick_in_settings(this, IDC_SHOW_HEADERS));
    EXPECT_EQ(check_with(pop3::Script(OK, {OK, OK, pop3::line("+OK 2 200"),
                                           pop3::raw("+OK\r\nFrom: a@example.jp\r\n", pop3::After::Close)}),
                         RESULT_CAPTION).first,
              NEW_MAIL);
    EXPECT_TRUE(tray_shows(app, tip_new_mail(2), Program::FACE_NEW_MAIL));
    ASSERT_NO_FATAL_FAILURE(tick_in_settings(this, IDC_SHOW_HEADERS, false));
    ASSERT_NO_FATAL_FAILURE(tick_in_settings(this, IDC_UNSEEN_ONLY));
    check_with(pop3::Script(OK, {OK, OK, pop3::line("+OK 3 300"), listing("1 a\r\n2 b\r\n3 c\r\n"), OK}),
               RESULT_CAPTION);
    auto before = check_with(pop3::Script(OK, {OK, OK, pop3::line("+OK 5 500"), pop3::line("+OK 3 c"),
                                               pop3::line("+OK 1 x"), listing("1 x\r\n2 y\r\n3 c\r\n4 a\r\n5 b\r\n"), OK}),
                             RESULT_CAPTION);
    EXPECT_EQ(before.second, (Lines{"USER taro", "PASS secret", "STAT", "UIDL 3", "UIDL 1"}));
    EXPECT_TRUE(tray_shows(app, tip_new_mail(2), Program::FACE_NEW_MAIL));
    post_ticks(app, 60); // an automatic check, no server listening: held, it tries none
    const std::string held = "Sorvane - ログイン間隔のため確認を見送り";
    EXPECT_TRUE(ui::wait_until([&] { return app.tray_view().tip.compare(0, held.size(), held) == 0; }, 15000))
        << app.tray_view().tip;
    exit_and_expect_clean();

    pop3::Peer peer(ADDRESS, lists_pipelining(pop3::Script(OK, {OK, OK, pop3::line("+OK 5 500"), pop3::line("+OK 5 b"),
                                                                 pop3::line("+OK 1 x"), OK})),
                    1110);
    Program again;
    ASSERT_TRUE(again.start(dir));
    EXPECT_TRUE(peer.wait_client_closed(30000));
    EXPECT_EQ(peer.first_flight(), (Lines{"USER taro", "PASS secret", "STAT", "UIDL 5", "UIDL 1"})) << "after a restart";
    EXPECT_EQ(peer.capas(), 0);
    again.command(CMD_EXIT);
    EXPECT_EQ(again.wait_exit(), 0u);
}

// The passwords in the Windows credential store: ticked and stored, no
// file of the start directory holds either account's password, clear or
// scrambled, and both accounts log in with the store's, after a restart
// too; unticked, both files are again what they were.
TEST_F(EndToEnd, PasswordsInTheCredentialStoreAreInNoFile)
{
    write_account(dir, SERVER, USER_FULL, PASSWORD_FULL, OK_MESSAGE);
    write_more_accounts(dir, {{SERVER, USER_EMPTY, PASSWORD_EMPTY, 0}});
    auto files = [&] { return read_file(dir + "\\Sorvane.dat") + "|" + read_file(dir + "\\Sorvane.accounts"); };
    const std::string written = files();
    auto checked = [&](Program &p) {
        ui::Box b = ui::wait_box(RESULT_CAPTION, 30000, p.pid());
        ASSERT_TRUE(b);
        EXPECT_EQ(b.text, std::string(NEW_MAIL) + "\nthree (127.0.0.1): 新着 3 通") << "both logged in";
        ui::answer(b, IDOK);
        ASSERT_TRUE(ui::wait_gone(b.hwnd));
    };
    auto store = [&](Program &p, bool on) {
        p.command(CMD_SETTINGS);
        HWND dlg = ui::wait_window(ui::DIALOG_CLASS, SETTINGS_CAPTION, 15000, p.pid());
        ASSERT_TRUE(dlg);
        ui::set_check(dlg, IDC_CREDENTIAL_STORE, on);
        ui::click(dlg, IDC_OK_BUTTON);
        ASSERT_TRUE(ui::wait_gone(dlg));
    };
    ASSERT_TRUE(app.start(dir));
    ASSERT_NO_FATAL_FAILURE(checked(app));
    ASSERT_NO_FATAL_FAILURE(store(app, true));
    WIN32_FIND_DATAA f;
    HANDLE listing = FindFirstFileA((dir + "\\*").c_str(), &f);
    ASSERT_NE(listing, INVALID_HANDLE_VALUE);
    do
        for (std::string pass : {std::string(PASSWORD_FULL), std::string(PASSWORD_EMPTY)})
            for (int scrambled = 0; scrambled < 2; scrambled++) {
                EXPECT_EQ(read_file(dir + "\\" + f.cFileName).find(pass), std::string::npos) << f.cFileName << scrambled;
                for (char &c : pass)
                    c ^= (char)0xE5; // then as the settings file scrambles its texts
            }
    while (FindNextFileA(listing, &f));
    FindClose(listing);
    app.left_click();
    ASSERT_NO_FATAL_FAILURE(checked(app));
    exit_and_expect_clean();
    Program again;
    ASSERT_TRUE(again.start(dir));
    ASSERT_NO_FATAL_FAILURE(checked(again));
    ASSERT_NO_FATAL_FAILURE(store(again, false));
    EXPECT_EQ(files(), written);
    again.command(CMD_EXIT);
    EXPECT_EQ(again.wait_exit(), 0u);
}

// "Start with Windows" is the shortcut in the user's Startup folder: made
// when ticked and stored (read back through the shell: this program, its
// start directory), shown when the dialog opens, gone when unticked.
TEST_F(EndToEnd, StartWithWindowsIsTheShortcutInTheStartupFolder)
{
    WCHAR folder[MAX_PATH], target[MAX_PATH] = L"", work[MAX_PATH] = L"", program[MAX_PATH], start[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(NULL, CSIDL_STARTUP, NULL, SHGFP_TYPE_CURRENT, folder), S_OK);
    std::wstring shortcut = std::wstring(folder) + L"\\Sorvane.lnk";
    DeleteFileW(shortcut.c_str());
    start_without_server(this);
    auto store = [&](bool on) {
        app.command(CMD_SETTINGS);
        HWND dlg = wait_dialog(SETTINGS_CAPTION);
        ASSERT_TRUE(dlg);
        EXPECT_EQ(ui::is_checked(dlg, IDC_START_WITH_WINDOWS), !on) << "the box shows the shortcut";
        ui::set_check(dlg, IDC_START_WITH_WINDOWS, on);
        ui::set_check(dlg, IDC_OK_MESSAGE, true);
        ui::click(dlg, IDC_OK_BUTTON);
        ASSERT_TRUE(ui::wait_gone(dlg));
    };
    ASSERT_NO_FATAL_FAILURE(store(true));
    CoInitialize(NULL);
    IShellLinkW *link = NULL;
    IPersistFile *file = NULL;
    ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link), S_OK);
    ASSERT_EQ(link->QueryInterface(IID_IPersistFile, (void **)&file), S_OK);
    EXPECT_EQ(file->Load(shortcut.c_str(), STGM_READ), S_OK);
    link->GetPath(target, MAX_PATH, NULL, SLGP_RAWPATH);
    link->GetWorkingDirectory(work, MAX_PATH);
    file->Release();
    link->Release();
    MultiByteToWideChar(CP_ACP, 0, programPath.c_str(), -1, start, MAX_PATH);
    GetFullPathNameW(start, MAX_PATH, program, NULL);
    MultiByteToWideChar(CP_ACP, 0, dir.c_str(), -1, start, MAX_PATH);
    EXPECT_EQ(_wcsicmp(target, program), 0);
    EXPECT_EQ(_wcsicmp(work, start), 0);
    ASSERT_NO_FATAL_FAILURE(store(false));
    EXPECT_EQ(GetFileAttributesW(shortcut.c_str()), INVALID_FILE_ATTRIBUTES);
    exit_and_expect_clean();
}

} // namespace
