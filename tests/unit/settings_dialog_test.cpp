// The settings dialog, driven through its real window: what it shows, each
// step of the store with its warning (and nothing stored after one),
// the choosers, the sounds, the help button, the password and the ways out.
#include "dialog_harness.h"
#include "recorder.h"
#include "sample_settings.h"
#include "texts.h"
#include "settings/settings_dialog.h"
#include "check/check.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "desktop/credential.h"
#include "resource.h"
#include <string.h>
#include <string>

namespace {

using texts::PASSWORD_CAPTION;
const char WARNING[] = "警告";
const char CAUTION[] = "注意";
const char CONFIRM[] = "確認";
const char ERROR_CAPTION[] = "エラー";
const char *const ERROR_BOX = texts::ERROR_CAPTION;
const char SAVE_FAILED[] = "設定の保存に失敗しました。";
const char MAIL_PATH_MISSING[] = "起動するメールソフトのパスが指定されていません。";
const char OK_SOUND_MISSING[] = "新着メール到着時に再生するサウンドファイルが指定されていません。";
const char NO_SOUND_MISSING[] = "新着メールなし時に再生するサウンドファイルが指定されていません。";
const char INTERVAL_INVALID[] = "自動メールチェック間隔が不正です。";
const char SERVER_MALFORMED[] = "サーバー名の書式が正しくありません。";
const char USER_TOO_LONG[] = "ユーザー名が長すぎます。半角 127 文字（全角 63 文字）までです。";
// A text that code page 932 cannot hold, refused naming its field.
const char USER_NOT_STORABLE[] = "「ユーザー名」に、設定に保存できない文字が含まれています。";
const char MAIL_PATH_NOT_STORABLE[] = "「起動するメールソフトのパス」に、設定に保存できない文字が含まれています。";
const char NO_ACTION_QUESTION[] = "新着メール到着時に実行するアクションが何も選択されていません。\n"
                                  "この設定では、着信時にお知らせすることができませんが、続けてもよろしいですか？";
const char CLOSE_QUESTION[] = "変更された設定内容を保存せずに終了します。\nよろしいですか？";
const char MAIL_CHOOSER[] = "起動するアプリケーション";
const char SOUND_CHOOSER[] = "サウンドファイルを選ぶ";
const int CHOOSER_FOLDER = 1137; // the chooser's "look in" box
const int CHOOSER_NAME = 1148;   // the chooser's file name box

// A flag value that only the file can hold: storing writes 1 or 0 over it,
// so it shows whether a store has run.
const int UNTOUCHED = 7;
const int ARMED = 42;
// A user's record, every flag 2: a store writes it as 1.
const SettingsRecord FULL = sample::user(2);

class SettingsDialog : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        dir = std::string(temp) + "sorvane-settings-dialog";
        CreateDirectoryA(dir.c_str(), NULL);
        SetCurrentDirectoryA(dir.c_str());
        lstrcpynA(startDirectory, dir.c_str(), sizeof startDirectory);
        DeleteFileA(SETTINGS_FILE_NAME);
        RemoveDirectoryA(SETTINGS_FILE_NAME); // left by a failed run
        DeleteFileA("ReadMe.txt");
        set_settings(sample::blank());
        checkCountdown = 0;
        rec::install();
    }
    void TearDown() override { rec::uninstall(); }

    static INT_PTR run(std::function<void(HWND)> drive)
    {
        return harness::run_driven(texts::SETTINGS_CAPTION, [] { return run_settings_dialog(start_check); }, drive);
    }

    static void set_settings(const SettingsRecord &r)
    {
        settings_lock();
        Settings = r;
        settings_unlock();
    }

    // Flags that a store sets to 0 or 1, and a countdown it re-arms.
    static void mark_untouched()
    {
        Settings.mailPathAsk = Settings.okMes = Settings.noMes = Settings.showProgress = UNTOUCHED;
        checkCountdown = ARMED;
    }

    bool file_saved() const { return GetFileAttributesA((dir + "\\" + SETTINGS_FILE_NAME).c_str()) != INVALID_FILE_ATTRIBUTES; }
};

// ---- What the dialog shows

struct Shown {
    std::string server, user, password, mailPath, okSound, noSound, interval;
    bool launch, ask, okSoundOn, okMes, noSoundOn, noMes, autoCheck, progress;
};

Shown read_shown(HWND d)
{
    return {ui::item_text(d, IDC_SERVER),        ui::item_text(d, IDC_USER),
            ui::item_text(d, IDC_PASSWORD),      ui::item_text(d, IDC_MAIL_PATH),
            ui::item_text(d, IDC_OK_SOUND_PATH), ui::item_text(d, IDC_NO_SOUND_PATH),
            ui::item_text(d, IDC_AUTO_CHECK_TIME),
            ui::is_checked(d, IDC_MAIL_LAUNCH),  ui::is_checked(d, IDC_MAIL_ASK),
            ui::is_checked(d, IDC_OK_SOUND),     ui::is_checked(d, IDC_OK_MESSAGE),
            ui::is_checked(d, IDC_NO_SOUND),     ui::is_checked(d, IDC_NO_MESSAGE),
            ui::is_checked(d, IDC_AUTO_CHECK),   ui::is_checked(d, IDC_SHOW_PROGRESS)};
}

TEST_F(SettingsDialog, EmptyRecordShowsEmptyBoxesAndClearChecks)
{
    Shown s;
    INT_PTR r = run([&](HWND d) {
        s = read_shown(d);
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.password, "(設定なし)");
    for (const std::string *t : {&s.server, &s.user, &s.mailPath, &s.okSound, &s.noSound, &s.interval})
        EXPECT_EQ(*t, "");
    for (bool b : {s.launch, s.ask, s.okSoundOn, s.okMes, s.noSoundOn, s.noMes, s.autoCheck, s.progress})
        EXPECT_FALSE(b);
    EXPECT_TRUE(rec::events().empty()) << "cancel asks nothing";
}

TEST_F(SettingsDialog, FullRecordShowsEverythingAndStoresFlagsOfTwoAsOne)
{
    set_settings(FULL);
    Shown s;
    INT_PTR r = run([&](HWND d) {
        s = read_shown(d);
        ui::click(d, IDC_OK_BUTTON);
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(s.server, FULL.server);
    EXPECT_EQ(s.user, FULL.user);
    EXPECT_EQ(s.password, "(設定済み)");
    EXPECT_EQ(s.mailPath, FULL.mailPath);
    EXPECT_EQ(s.okSound, FULL.oksndPath);
    EXPECT_EQ(s.noSound, FULL.nosndPath);
    EXPECT_EQ(s.interval, "15");
    for (bool b : {s.launch, s.ask, s.okSoundOn, s.okMes, s.noSoundOn, s.noMes, s.autoCheck, s.progress})
        EXPECT_TRUE(b);
    EXPECT_TRUE(rec::events().empty());

    // Stored as 1, in memory and in the file.
    for (int v : {Settings.showProgress, Settings.mailPathAsk, Settings.okMes, Settings.noMes})
        EXPECT_EQ(v, 1);
    EXPECT_EQ(checkCountdown, 15 * 60);
    set_settings(sample::blank());
    ASSERT_EQ(load_settings(), 1);
    EXPECT_STREQ(Settings.server, FULL.server);
    EXPECT_STREQ(Settings.pass, FULL.pass);
    EXPECT_EQ(Settings.autoCheckTime, 15);
    for (int v : {Settings.showProgress, Settings.mailPathAsk, Settings.okMes, Settings.noMes})
        EXPECT_EQ(v, 1);
}

// ---- The store step, refused at each of its checks

struct Refusal {
    const char *name;
    std::function<void(HWND)> set;
    const char *caption; // the first box
    const char *text;
    int answer;
};

// Whatever step refuses, nothing is stored: not the server and user typed
// before it (a check would send the stored account to the typed server),
// not the flags, not the countdown.
TEST_F(SettingsDialog, EachRefusalWarnsThenReportsAndStoresNothing)
{
    const char malformed[] = "pop3s://mail.example.jp:99999";
    const Refusal cases[] = {
        {"malformed server text", [&](HWND d) { ui::set_item_text(d, IDC_SERVER, malformed); },
         WARNING, SERVER_MALFORMED, IDOK},
        {"server text of 128 bytes", [](HWND d) { ui::set_item_text(d, IDC_SERVER, std::string(128, 's')); },
         WARNING, SERVER_MALFORMED, IDOK},
        {"user name with a character code page 932 has not", [](HWND d) { ui::set_item_wtext(d, IDC_USER, L"taro\u20AC"); },
         WARNING, USER_NOT_STORABLE, IDOK},
        // Code page 932 has "é" only as a look-alike ("e"), and "¥" only as the backslash's byte.
        {"user name with a letter code page 932 has not", [](HWND d) { ui::set_item_wtext(d, IDC_USER, L"taro\u00E9"); },
         WARNING, USER_NOT_STORABLE, IDOK},
        {"user name of 127 bytes and a double-byte character", [](HWND d) { ui::set_item_text(d, IDC_USER, std::string(127, 'u') + "あ"); },
         WARNING, USER_TOO_LONG, IDOK},
        {"mail program without a path", [](HWND d) { ui::set_check(d, IDC_MAIL_LAUNCH, true); },
         WARNING, MAIL_PATH_MISSING, IDOK},
        {"mail program path with a character outside the basic plane",
         [](HWND d) {
             ui::set_check(d, IDC_MAIL_LAUNCH, true);
             ui::set_item_wtext(d, IDC_MAIL_PATH, L"C:\\\U0001F4E7\\mailer.exe");
         },
         WARNING, MAIL_PATH_NOT_STORABLE, IDOK},
        {"mail program path with a yen sign",
         [](HWND d) {
             ui::set_check(d, IDC_MAIL_LAUNCH, true);
             ui::set_item_wtext(d, IDC_MAIL_PATH, L"C:\\\u00A5\\mailer.exe");
         },
         WARNING, MAIL_PATH_NOT_STORABLE, IDOK},
        {"new-mail sound without a path", [](HWND d) { ui::set_check(d, IDC_OK_SOUND, true); },
         WARNING, OK_SOUND_MISSING, IDOK},
        {"no action, answered No", [](HWND d) { ui::set_check(d, IDC_OK_MESSAGE, false); },
         CAUTION, NO_ACTION_QUESTION, IDNO},
        {"automatic check without an interval", [](HWND d) { ui::set_check(d, IDC_AUTO_CHECK, true); },
         WARNING, INTERVAL_INVALID, IDOK},
        {"no-mail sound without a path", [](HWND d) { ui::set_check(d, IDC_NO_SOUND, true); },
         WARNING, NO_SOUND_MISSING, IDOK},
    };
    for (int button : {IDC_OK_BUTTON, IDC_APPLY_AND_CHECK}) {
        for (const Refusal &c : cases) {
            SCOPED_TRACE(std::string(c.name) + (button == IDC_OK_BUTTON ? " (OK)" : " (apply and check)"));
            set_settings(sample::blank());
            strcpy(Settings.server, "old.example.jp");
            strcpy(Settings.pass, "old-pass");
            mark_untouched();
            const SettingsRecord stored = Settings;
            rec::clear();
            run([&](HWND d) {
                ui::set_item_text(d, IDC_SERVER, "mail.example.jp");
                ui::set_item_text(d, IDC_USER, "hanako");
                c.set(d);
                ui::click(d, button);
                EXPECT_EQ(harness::answer_box(c.caption, c.answer).text, c.text);
                EXPECT_EQ(harness::answer_box(ERROR_CAPTION, IDOK).text, SAVE_FAILED);
                EXPECT_TRUE(harness::stays_open(d)) << c.name; // this thread has no trace
                ui::click(d, IDC_CANCEL_BUTTON);
            });
            EXPECT_STREQ(Settings.server, "old.example.jp");
            EXPECT_EQ(memcmp(&Settings, &stored, sizeof stored), 0) << "the record as it was";
            EXPECT_EQ(checkCountdown, ARMED);
            EXPECT_FALSE(file_saved());
            auto ev = rec::events();
            ASSERT_EQ(ev.size(), 2u);
            EXPECT_EQ(ev[0].type, c.answer == IDNO ? (UINT)(MB_YESNO | MB_ICONWARNING) : (UINT)(MB_OK | MB_ICONWARNING));
            EXPECT_EQ(ev[1].type, (UINT)(MB_OK | MB_ICONERROR));
            EXPECT_TRUE(ev[0].owned && ev[1].owned) << "attached to the dialog";
        }
    }
}

TEST_F(SettingsDialog, NoActionAnsweredYesStoresAndSaves)
{
    mark_untouched();
    INT_PTR r = run([&](HWND d) {
        ui::set_check(d, IDC_OK_MESSAGE, false);
        ui::click(d, IDC_OK_BUTTON);
        harness::answer_box(CAUTION, IDYES);
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(Settings.okMes, 0);
    EXPECT_EQ(Settings.noMes, 1);
    EXPECT_EQ(Settings.showProgress, 1);
    EXPECT_EQ(checkCountdown, 0);
    EXPECT_TRUE(file_saved());
    EXPECT_EQ(rec::kinds(), (std::vector<std::string>{std::string("box:") + CAUTION}));
}

TEST_F(SettingsDialog, FailedSaveReportsWithTheWholeRecordStored)
{
    Settings.okMes = 1;
    // A folder where the file belongs: it cannot be replaced.
    std::string blocker = dir + "\\" + SETTINGS_FILE_NAME;
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), NULL));
    run([&](HWND d) {
        ui::set_check(d, IDC_SHOW_PROGRESS, true);
        ui::set_check(d, IDC_AUTO_CHECK, true);
        ui::set_item_text(d, IDC_AUTO_CHECK_TIME, "3");
        ui::click(d, IDC_OK_BUTTON);
        EXPECT_EQ(harness::answer_box(ERROR_CAPTION, IDOK).text, SAVE_FAILED);
        EXPECT_TRUE(harness::stays_open(d));
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(Settings.showProgress, 1);
    EXPECT_EQ(Settings.autoCheckTime, 3);
    EXPECT_EQ(checkCountdown, 180);
    RemoveDirectoryA(blocker.c_str());
}

// ---- The interval

struct Interval {
    const char *text;
    int stored; // 0: refused, and the stored interval stays
};

TEST_F(SettingsDialog, IntervalIsBoundedSoTheCountdownFits)
{
    const Interval cases[] = {
        {"0", 0},           {"-1", 0},         {"-5", 0},        {"35791394", 35791394},
        {"35791395", 0},    {"12345678901234567890", 0},         {"4294967296", 0},
        {"10abc", 10},      {"  7", 7},        {"abc", 0},       {"", 0},
        {"1", 1},           {"+8", 8},
    };
    for (const Interval &c : cases) {
        SCOPED_TRACE(std::string("interval \"") + c.text + "\"");
        set_settings(sample::blank());
        Settings.okMes = 1;
        Settings.autoCheckTime = 99;
        checkCountdown = ARMED;
        rec::clear();
        run([&](HWND d) {
            ui::set_check(d, IDC_AUTO_CHECK, true);
            ui::set_item_text(d, IDC_AUTO_CHECK_TIME, c.text);
            ui::click(d, IDC_OK_BUTTON);
            if (c.stored)
                return;
            EXPECT_EQ(harness::answer_box(WARNING, IDOK).text, INTERVAL_INVALID);
            EXPECT_EQ(harness::answer_box(ERROR_CAPTION, IDOK).text, SAVE_FAILED);
            ui::click(d, IDC_CANCEL_BUTTON);
        });
        EXPECT_EQ(Settings.autoCheckTime, c.stored ? c.stored : 99);
        EXPECT_EQ(checkCountdown, c.stored ? c.stored * 60 : ARMED);
        EXPECT_EQ(file_saved(), c.stored != 0);
        DeleteFileA((dir + "\\" + SETTINGS_FILE_NAME).c_str());
    }
}

TEST_F(SettingsDialog, ClearedAutomaticCheckStoresZero)
{
    set_settings(FULL);
    run([&](HWND d) {
        ui::set_check(d, IDC_AUTO_CHECK, false);
        ui::click(d, IDC_OK_BUTTON);
    });
    EXPECT_EQ(Settings.autoCheckTime, 0);
    EXPECT_EQ(checkCountdown, 0);
}

TEST_F(SettingsDialog, ClearedSoundBoxEmptiesItsPath)
{
    set_settings(FULL);
    run([&](HWND d) {
        ui::set_check(d, IDC_OK_SOUND, false);
        ui::set_check(d, IDC_MAIL_LAUNCH, false);
        ui::click(d, IDC_OK_BUTTON);
    });
    EXPECT_STREQ(Settings.oksndPath, "");
    EXPECT_STREQ(Settings.mailPath, "");
    EXPECT_STREQ(Settings.nosndPath, FULL.nosndPath);
    Shown s;
    run([&](HWND d) {
        s = read_shown(d);
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(s.okSound, "");
    EXPECT_FALSE(s.okSoundOn);
}

// 127 bytes fill the field; 128 are refused, never cut (see the refusals).
TEST_F(SettingsDialog, ServerAndUserOf127BytesAreStoredWhole)
{
    Settings.okMes = 1;
    run([&](HWND d) {
        ui::set_item_text(d, IDC_SERVER, std::string(127, 's'));
        ui::set_item_text(d, IDC_USER, std::string(125, 'u') + "あ");
        ui::click(d, IDC_OK_BUTTON);
    });
    EXPECT_EQ(std::string(Settings.server), std::string(127, 's'));
    EXPECT_EQ(std::string(Settings.user), std::string(125, 'u') + "あ");
}

// ---- The ways out

TEST_F(SettingsDialog, CloseRequestAsksEveryTime)
{
    ui::Box question;
    INT_PTR r = run([&](HWND d) {
        ui::close_request(d);
        question = harness::answer_box(CONFIRM, IDNO);
        EXPECT_TRUE(harness::stays_open(d));
        ui::close_request(d);
        harness::answer_box(CONFIRM, IDYES);
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(question.text, CLOSE_QUESTION);
    EXPECT_EQ(question.buttons, (std::vector<int>{IDYES, IDNO}));
    auto ev = rec::events();
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].type, (UINT)(MB_YESNO | MB_ICONQUESTION));
    EXPECT_TRUE(ev[0].owned);
    EXPECT_FALSE(file_saved());
}

TEST_F(SettingsDialog, EscapeDoesNothing)
{
    run([&](HWND d) {
        ui::press_key(d, VK_ESCAPE);
        EXPECT_TRUE(harness::stays_open(d));
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_TRUE(rec::events().empty());
}

TEST_F(SettingsDialog, ApplyAndCheckStoresStartsACheckAndStaysOpen)
{
    set_settings(FULL);
    lstrcpynA(Settings.pass, "", sizeof Settings.pass);
    std::string told;
    run([&](HWND d) {
        ui::click(d, IDC_APPLY_AND_CHECK);
        // The check refuses for want of a password: proof that it was asked.
        told = harness::answer_box(ERROR_BOX, IDOK).text;
        EXPECT_TRUE(harness::stays_open(d));
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(told, "パスワードが入力されていません。");
    EXPECT_TRUE(file_saved());
    EXPECT_EQ(checkCountdown, 15 * 60);
}

// ---- Help, sounds

TEST_F(SettingsDialog, HelpWithoutTheDocumentSaysSoAndStaysOpen)
{
    std::string told;
    run([&](HWND d) {
        ui::click(d, IDC_HELP_BUTTON);
        told = harness::answer_box(ERROR_BOX, IDOK).text;
        EXPECT_TRUE(harness::stays_open(d));
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(told, "ReadMe.txt が開けませんでした。");
}

TEST_F(SettingsDialog, PlayButtonsPlayTheShownPathAndStopStops)
{
    set_settings(FULL);
    lstrcpynA(Settings.nosndPath, "", sizeof Settings.nosndPath);
    run([&](HWND d) {
        ui::click(d, IDC_OK_SOUND_PLAY);
        ui::click(d, IDC_NO_SOUND_PLAY);
        ui::click(d, IDC_SOUND_STOP);
        ui::wait_until([] { return rec::events().size() >= 3; }, 3000);
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(rec::kinds(), (std::vector<std::string>{std::string("play:") + FULL.oksndPath, "play:", "stop"}));
    for (const rec::Event &e : rec::events())
        EXPECT_EQ(e.type, (UINT)SND_ASYNC);
}

// ---- The password, through its dialog

// Types `password` into the password dialog that the settings dialog `d`
// opens, and OKs it.
void enter_password(HWND d, const std::string &password)
{
    ui::click(d, IDC_CHANGE_PASSWORD);
    HWND p = harness::wait_dialog(PASSWORD_CAPTION);
    ASSERT_TRUE(p);
    ui::set_item_text(p, IDC_PASSWORD, password);
    ui::click(p, IDC_OK_BUTTON);
    ui::wait_gone(p);
}

// A password set (or cleared) for another server is the dialog's until a
// store: a check meanwhile and Cancel see the stored one.
TEST_F(SettingsDialog, NewPasswordIsStoredOnlyWithTheStore)
{
    std::string before, after, cleared;
    AccountCopy whileOpen; // what a check would send
    run([&](HWND d) {
        before = ui::item_text(d, IDC_PASSWORD);
        ui::set_item_text(d, IDC_SERVER, "other.example.jp");
        enter_password(d, "himitsu");
        ui::wait_until([&] { return ui::item_text(d, IDC_PASSWORD) != before; }, 3000);
        after = ui::item_text(d, IDC_PASSWORD);
        settings_account(0, &whileOpen);
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(before, "(設定なし)");
    EXPECT_EQ(after, "(設定済み)");
    EXPECT_STREQ(whileOpen.pass, "");
    EXPECT_STREQ(Settings.pass, "");
    EXPECT_FALSE(file_saved());

    lstrcpynA(Settings.pass, "old-pass", sizeof Settings.pass);
    run([&](HWND d) {
        enter_password(d, "");
        ui::wait_until([&] { return ui::item_text(d, IDC_PASSWORD) == "(設定なし)"; }, 3000);
        cleared = ui::item_text(d, IDC_PASSWORD);
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(cleared, "(設定なし)");
    EXPECT_STREQ(Settings.pass, "old-pass");
}

// The accounts are edited in the copy: an added one is typed and chosen
// away from without touching the stored ones, Cancel keeps them, OK stores
// them all; a ninth is refused, and removing asks first.
void choose_account(HWND d, int i)
{
    SendDlgItemMessageW(d, IDC_ACCOUNT, CB_SETCURSEL, (WPARAM)i, 0);
    PostMessageW(d, WM_COMMAND, MAKEWPARAM(IDC_ACCOUNT, CBN_SELCHANGE), (LPARAM)GetDlgItem(d, IDC_ACCOUNT));
}

TEST_F(SettingsDialog, AccountsAreEditedInTheCopyAndStoredWhole)
{
    Settings.okMes = 1;
    strcpy(Settings.server, "a.example.jp");
    strcpy(Settings.user, "taro");
    strcpy(Settings.pass, "secret");
    auto accounts = [](HWND d) { return (int)SendDlgItemMessageW(d, IDC_ACCOUNT, CB_GETCOUNT, 0, 0); };
    auto add_second = [&](HWND d) {
        ui::click(d, IDC_ACCOUNT_ADD);
        ui::wait_until([&] { return accounts(d) == 2; }, 3000);
        ui::set_item_text(d, IDC_SERVER, "b.example.jp");
        ui::set_item_text(d, IDC_USER, "jiro");
        enter_password(d, "himitsu");
    };
    std::string shown, label;
    run([&](HWND d) {
        add_second(d);
        choose_account(d, 0);
        ui::wait_until([&] { return (shown = ui::item_text(d, IDC_SERVER)) == "a.example.jp"; }, 3000);
        label = ui::item_text(d, IDC_ACCOUNT);
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(shown, "a.example.jp");
    EXPECT_EQ(label, "taro (a.example.jp)");
    EXPECT_EQ(Settings.more.count, 0);

    run([&](HWND d) {
        add_second(d);
        ui::click(d, IDC_OK_BUTTON);
    });
    ASSERT_EQ(Settings.more.count, 1);
    EXPECT_STREQ(Settings.more.account[0].server, "b.example.jp");
    EXPECT_STREQ(Settings.more.account[0].pass, "himitsu");
    EXPECT_STREQ(Settings.pass, "secret");

    std::string limit, question;
    run([&](HWND d) {
        for (int i = 0; i < 7; i++)
            ui::click(d, IDC_ACCOUNT_ADD);
        limit = harness::answer_box(WARNING, IDOK).text;
        ui::wait_until([&] { return accounts(d) == 8; }, 3000);
        choose_account(d, 0);
        ui::click(d, IDC_ACCOUNT_REMOVE);
        question = harness::answer_box(CONFIRM, IDYES).text;
        ui::click(d, IDC_OK_BUTTON);
    });
    EXPECT_EQ(limit, "アカウントは 8 個までです。");
    EXPECT_EQ(question, "選択したアカウントを削除します。\nよろしいですか？");
    EXPECT_EQ(Settings.more.count, 6);
    EXPECT_STREQ(Settings.server, "b.example.jp") << "the second account moved up";
}

// With the credential store on, a user renamed takes the password to its
// new credential and the old one goes; a cleared password's goes too.
TEST_F(SettingsDialog, CredentialsFollowTheAccounts)
{
    Settings.okMes = Settings.credentialStore = Settings.more.count = 1;
    strcpy(Settings.server, "a.example.jp");
    strcpy(Settings.user, "taro");
    strcpy(Settings.more.account[0].server, "b.example.jp");
    strcpy(Settings.more.account[0].user, "jiro");
    ASSERT_EQ(credential_write("taro", "a.example.jp", "secret"), 0ul);
    ASSERT_EQ(credential_write("jiro", "b.example.jp", "himitsu"), 0ul);
    run([&](HWND d) {
        ui::set_item_text(d, IDC_USER, "hanako");
        choose_account(d, 1);
        ui::wait_until([&] { return ui::item_text(d, IDC_SERVER) == "b.example.jp"; }, 3000);
        enter_password(d, "");
        ui::click(d, IDC_OK_BUTTON);
    });
    char pass[ACCOUNT_TEXT_CAPACITY];
    EXPECT_TRUE(credential_read("hanako", "a.example.jp", pass, sizeof pass));
    EXPECT_STREQ(pass, "secret");
    EXPECT_FALSE(credential_read("taro", "a.example.jp", pass, sizeof pass));
    EXPECT_FALSE(credential_read("jiro", "b.example.jp", pass, sizeof pass));
}

// The scrambling key byte 0xE5 as a lead byte ("蕁" is E5 40) and as a
// trail byte ("亥" is 88 E5): set, stored, saved and loaded back whole.
TEST_F(SettingsDialog, PasswordHoldingTheKeyByteSurvivesTheFile)
{
    const std::string password = "蕁亥x\xE5" "A";
    ASSERT_NE(password.find('\xE5'), std::string::npos);
    Settings.okMes = 1;
    run([&](HWND d) {
        enter_password(d, password);
        ui::click(d, IDC_OK_BUTTON);
    });
    EXPECT_EQ(std::string(Settings.pass), password);
    ASSERT_TRUE(file_saved());
    set_settings(sample::blank());
    ASSERT_EQ(load_settings(), 1);
    EXPECT_EQ(std::string(Settings.pass), password);
}

// ---- The choosers

struct ChooserView {
    std::string folder, name;
};

// Opens the chooser with `button`, reads where it starts, and cancels it.
ChooserView browse_and_cancel(HWND d, int button, const char *title)
{
    ChooserView v;
    ui::click(d, button);
    HWND ch = harness::wait_dialog(title);
    EXPECT_TRUE(ch) << "no chooser \"" << title << "\"";
    if (!ch)
        return v;
    ui::wait_until([&] { return !ui::item_text(ch, CHOOSER_NAME).empty(); }, 3000);
    v.folder = ui::item_text(ch, CHOOSER_FOLDER);
    v.name = ui::item_text(ch, CHOOSER_NAME);
    PostMessageA(ch, WM_COMMAND, IDCANCEL, 0);
    ui::wait_gone(ch);
    return v;
}

std::string last_part(const std::string &path)
{
    return path.substr(path.find_last_of('\\') + 1);
}

TEST_F(SettingsDialog, EmptyPathsStartTheChoosersWhereTheyShould)
{
    ChooserView mail, okSound, noSound;
    Shown after;
    run([&](HWND d) {
        mail = browse_and_cancel(d, IDC_MAIL_BROWSE, MAIL_CHOOSER);
        okSound = browse_and_cancel(d, IDC_OK_SOUND_BROWSE, SOUND_CHOOSER);
        noSound = browse_and_cancel(d, IDC_NO_SOUND_BROWSE, SOUND_CHOOSER);
        after = read_shown(d);
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    // "C:\*.exe": the chooser opens drive C: with the pattern as the name.
    EXPECT_EQ(mail.name, "*.exe");
    EXPECT_NE(mail.folder.find("C:"), std::string::npos) << mail.folder;
    // The start directory followed by "\*.wav".
    EXPECT_EQ(okSound.name, "*.wav");
    EXPECT_EQ(okSound.folder, last_part(dir));
    EXPECT_EQ(noSound.name, "*.wav");
    EXPECT_EQ(noSound.folder, last_part(dir));
    // Cancelled: nothing changed.
    EXPECT_EQ(after.mailPath, "");
    EXPECT_EQ(after.okSound, "");
    EXPECT_FALSE(after.launch || after.okSoundOn || after.noSoundOn);
}

TEST_F(SettingsDialog, StartDirectoryTooLongForTheChooserStartsWithThePatternAlone)
{
    // 250 bytes and "\*.wav" make 256, one more than the chooser takes.
    std::string longDir = "C:\\" + std::string(247, 'd');
    ASSERT_EQ(longDir.size(), 250u);
    lstrcpynA(startDirectory, longDir.c_str(), sizeof startDirectory);
    ChooserView v;
    run([&](HWND d) {
        v = browse_and_cancel(d, IDC_OK_SOUND_BROWSE, SOUND_CHOOSER);
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(v.name, "*.wav");
    EXPECT_EQ(v.folder, last_part(dir)) << "the current directory";
}

TEST_F(SettingsDialog, NonEmptyPathIsTheChoosersStartAndAChosenFileChecksTheBox)
{
    std::string wav = dir + "\\chime.wav";
    HANDLE f = CreateFileA(wav.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CloseHandle(f);
    lstrcpynA(Settings.nosndPath, wav.c_str(), sizeof Settings.nosndPath);
    std::string startName, shown;
    bool checkedAfter = false;
    std::vector<std::string> played;
    run([&](HWND d) {
        startName = browse_and_cancel(d, IDC_NO_SOUND_BROWSE, SOUND_CHOOSER).name;
        ui::click(d, IDC_OK_SOUND_BROWSE);
        HWND ch = harness::wait_dialog(SOUND_CHOOSER);
        ASSERT_TRUE(ch);
        ui::set_item_text(ch, CHOOSER_NAME, wav);
        PostMessageA(ch, WM_COMMAND, IDOK, 0);
        ui::wait_gone(ch);
        ui::wait_until([&] { return ui::is_checked(d, IDC_OK_SOUND); }, 3000);
        shown = ui::item_text(d, IDC_OK_SOUND_PATH);
        checkedAfter = ui::is_checked(d, IDC_OK_SOUND);
        // The play button plays what is shown, though it is not stored yet.
        ui::click(d, IDC_OK_SOUND_PLAY);
        ui::wait_until([] { return !rec::events().empty(); }, 3000);
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    EXPECT_EQ(startName, "chime.wav");
    EXPECT_EQ(shown, wav);
    EXPECT_TRUE(checkedAfter);
    EXPECT_EQ(rec::kinds(), (std::vector<std::string>{"play:" + wav}));
    EXPECT_STREQ(Settings.oksndPath, "") << "not stored before OK";
}

// A file chosen in another folder leaves the start directory current, and
// the help document is still found there.
TEST_F(SettingsDialog, HelpStillOpensAfterAFileWasChosenElsewhere)
{
    // Every Windows opens ".txt" files; a fresh Wine prefix needs telling.
    RegSetValueA(HKEY_CLASSES_ROOT, ".txt", REG_SZ, "txtfile", 7);
    CloseHandle(CreateFileA((dir + "\\ReadMe.txt").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    std::string elsewhere = dir + "\\elsewhere";
    CreateDirectoryA(elsewhere.c_str(), NULL);
    CloseHandle(CreateFileA((elsewhere + "\\chime.wav").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    HWND editor = NULL;
    run([&](HWND d) {
        ui::click(d, IDC_OK_SOUND_BROWSE);
        HWND ch = harness::wait_dialog(SOUND_CHOOSER);
        ASSERT_TRUE(ch);
        // Into the folder first, as a user browses, then the file.
        ui::set_item_text(ch, CHOOSER_NAME, elsewhere);
        PostMessageA(ch, WM_COMMAND, IDOK, 0);
        ui::wait_until([&] { return ui::item_text(ch, CHOOSER_FOLDER) == "elsewhere"; }, 3000);
        ui::set_item_text(ch, CHOOSER_NAME, "chime.wav");
        PostMessageA(ch, WM_COMMAND, IDOK, 0);
        ui::wait_gone(ch);
        ui::click(d, IDC_HELP_BUTTON);
        ui::wait_until([&] {
            for (HWND h : ui::find_windows(NULL, NULL))
                if (ui::text_of(h).find("ReadMe") != std::string::npos)
                    return (editor = h) != NULL;
            return false;
        });
        ui::click(d, IDC_CANCEL_BUTTON);
    });
    char current[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof current, current);
    EXPECT_EQ(std::string(current), dir);
    EXPECT_TRUE(editor) << "the help document did not open";
    EXPECT_EQ(rec::kinds(), std::vector<std::string>{});
    if (editor)
        PostMessageA(editor, WM_CLOSE, 0, 0);
    // The chooser remembers the folder of the last file opened and starts
    // there when it is given none; forget it, as a fresh prefix would.
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\LastVisitedMRU");
}

} // namespace
