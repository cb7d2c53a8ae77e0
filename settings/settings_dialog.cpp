#include "settings_dialog.h"
#include "settings.h"
#include "settings_file.h"
#include "password_dialog.h"
#include "check/check.h"
#include "net/server_address.h"
#include "desktop/desktop.h"
#include "desktop/program.h"
#include "desktop/wide_text.h"
#include "resource.h"
#include <string.h>

static const char PASSWORD_SET[] = "(設定済み)";
static const char PASSWORD_NOT_SET[] = "(設定なし)";

static const char WARNING_CAPTION[] = "警告";
static const char CAUTION_CAPTION[] = "注意";
static const char CONFIRM_CAPTION[] = "確認";
static const char ERROR_CAPTION[] = "エラー";

static const char MAIL_PATH_MISSING[] = "起動するメールソフトのパスが指定されていません。";
static const char OK_SOUND_MISSING[] = "新着メール到着時に再生するサウンドファイルが指定されていません。";
static const char NO_SOUND_MISSING[] = "新着メールなし時に再生するサウンドファイルが指定されていません。";
static const char SERVER_MALFORMED[] = "サーバー名の書式が正しくありません。";
static const char INTERVAL_INVALID[] = "自動メールチェック間隔が不正です。";
static const char NO_ACTION_QUESTION[] =
    "新着メール到着時に実行するアクションが何も選択されていません。\n"
    "この設定では、着信時にお知らせすることができませんが、続けてもよろしいですか？";
static const char SAVE_FAILED[] = "設定の保存に失敗しました。";
static const char CLOSE_QUESTION[] = "変更された設定内容を保存せずに終了します。\nよろしいですか？";
static const char HELP_DOCUMENT[] = "ReadMe.txt";
static const char HELP_FAILED[] = "ReadMe.txt が開けませんでした。";
static const char PASSWORD_DIALOG_FAILED[] = "ダイアログボックスが作成できません。";
// A text that code page 932 cannot hold is refused, naming its field.
static const char NOT_STORABLE[] = "に、設定に保存できない文字が含まれています。";
static const char SERVER_FIELD[] = "サーバー名";
static const char USER_FIELD[] = "ユーザー名";
static const char MAIL_PATH_FIELD[] = "起動するメールソフトのパス";
static const char OK_SOUND_FIELD[] = "新着メール到着時のサウンドファイル";
static const char NO_SOUND_FIELD[] = "新着メールなし時のサウンドファイル";
// The Startup folder's shortcut is not a setting of the file: when it
// cannot be made or removed, the rest is stored all the same.
static const char LINK_NOT_MADE[] = "スタートアップ フォルダーにショートカットを作成できませんでした。";
static const char LINK_NOT_REMOVED[] = "スタートアップ フォルダーのショートカットを削除できませんでした。";

static const char MAIL_TITLE[] = "起動するアプリケーション";
static const char MAIL_FILTER[] = "実行可能ﾌｧｲﾙ(*.exe)\0*.exe\0";
static const char MAIL_START[] = "C:\\*.exe";
static const char SOUND_TITLE[] = "サウンドファイルを選ぶ";
static const char SOUND_FILTER[] = "WAVEｻｳﾝﾄﾞ(*.wav)\0*.wav\0";
static const char SOUND_PATTERN[] = "*.wav";

// The interval is kept so that interval × 60 seconds still fits the
// countdown's 32 bits; anything outside is refused like 0.
enum { INTERVAL_MIN = 1, INTERVAL_MAX = 35791394 };

// Edit boxes are read into buffers of twice a path's capacity: the chooser
// takes at most 255 bytes, the play buttons pass up to 511.
enum { TEXT_BUFFER = 512, BROWSE_READ = 256, PLAY_READ = 512 };

// ---- Reading and writing controls

static void show_text(HWND dialog, int id, const char *text)
{
    show_control_text(GetDlgItem(dialog, id), text);
}

// 0 when the text holds a character that code page 932 has not.
static int read_text(HWND dialog, int id, char *text, int capacity)
{
    return read_control_text(GetDlgItem(dialog, id), text, capacity);
}

static void set_checked(HWND dialog, int id, int on)
{
    CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

static int checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

static void show_password_state(HWND dialog)
{
    show_text(dialog, IDC_PASSWORD, Settings.pass[0] ? PASSWORD_SET : PASSWORD_NOT_SET);
}

// A path and the check box that switches its action on.
static void show_action_path(HWND dialog, int checkId, int pathId, const char *path)
{
    show_text(dialog, pathId, path);
    set_checked(dialog, checkId, path[0] != '\0');
}

static void show_interval(HWND dialog)
{
    char text[16];
    if (Settings.autoCheckTime == 0)
        return;
    wsprintfA(text, "%d", Settings.autoCheckTime);
    show_text(dialog, IDC_AUTO_CHECK_TIME, text);
    set_checked(dialog, IDC_AUTO_CHECK, 1);
}

static void on_init(HWND dialog)
{
    show_text(dialog, IDC_SERVER, Settings.server);
    show_text(dialog, IDC_USER, Settings.user);
    show_password_state(dialog);
    show_action_path(dialog, IDC_MAIL_LAUNCH, IDC_MAIL_PATH, Settings.mailPath);
    set_checked(dialog, IDC_MAIL_ASK, Settings.mailPathAsk);
    show_action_path(dialog, IDC_OK_SOUND, IDC_OK_SOUND_PATH, Settings.oksndPath);
    set_checked(dialog, IDC_OK_MESSAGE, Settings.okMes);
    show_action_path(dialog, IDC_NO_SOUND, IDC_NO_SOUND_PATH, Settings.nosndPath);
    set_checked(dialog, IDC_NO_MESSAGE, Settings.noMes);
    show_interval(dialog);
    set_checked(dialog, IDC_SHOW_PROGRESS, Settings.showProgress);
    set_checked(dialog, IDC_UNSEEN_ONLY, Settings.unseenOnly);
    set_checked(dialog, IDC_SHOW_HEADERS, Settings.showHeaders);
    set_checked(dialog, IDC_NOTIFY_BALLOON, Settings.notifyBalloon);
    set_checked(dialog, IDC_QUIET_OFFLINE, Settings.quietOffline);
    set_checked(dialog, IDC_START_WITH_WINDOWS, startup_link_present());
}

// ---- The store step

static int warn(HWND dialog, const char *text)
{
    message_box(dialog, text, WARNING_CAPTION, MB_OK | MB_ICONWARNING);
    return 0;
}

static int refuse_text(HWND dialog, const char *field)
{
    char message[256];
    wsprintfA(message, "「%s」%s", field, NOT_STORABLE);
    return warn(dialog, message);
}

// A text that cannot be kept leaves its field as it was.
static int store_text(HWND dialog, int id, char *field, size_t capacity, const char *name)
{
    char text[TEXT_BUFFER];
    if (!read_text(dialog, id, text, (int)capacity))
        return refuse_text(dialog, name);
    settings_set_text(field, capacity, text);
    return 1;
}

static void store_flag(HWND dialog, int id, int *field)
{
    settings_set_int(field, checked(dialog, id));
}

// An action that is on exactly when its path is set: its check box off
// empties the path, on with no path is refused with `missing`.
static int store_action_path(HWND dialog, int checkId, int pathId, char *field, size_t capacity,
                             const char *missing, const char *name)
{
    if (!checked(dialog, checkId)) {
        settings_set_text(field, capacity, "");
        return 1;
    }
    if (!store_text(dialog, pathId, field, capacity, name))
        return 0;
    return field[0] ? 1 : warn(dialog, missing);
}

// Leading white space, an optional sign, then digits up to the first
// non-digit. Accumulation stops past the maximum, so no digit string can
// overflow; the result is 0 when the text is no interval in range.
static int parse_interval(const char *text)
{
    long long value = 0;
    int negative = 0;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        text++;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > INTERVAL_MAX)
            return 0;
    }
    return negative || value < INTERVAL_MIN ? 0 : (int)value;
}

static int store_interval(HWND dialog)
{
    char text[TEXT_BUFFER];
    if (!checked(dialog, IDC_AUTO_CHECK)) {
        settings_set_int(&Settings.autoCheckTime, 0);
        return 1;
    }
    read_text(dialog, IDC_AUTO_CHECK_TIME, text, 256);
    settings_set_int(&Settings.autoCheckTime, parse_interval(text));
    return Settings.autoCheckTime ? 1 : warn(dialog, INTERVAL_INVALID);
}

// The server text is taken as it is, then refused when it names no
// server. An empty one is left to the check, which asks for it.
static int store_server(HWND dialog)
{
    ServerAddress unused;
    if (!store_text(dialog, IDC_SERVER, Settings.server, sizeof Settings.server, SERVER_FIELD))
        return 0;
    if (!Settings.server[0] || parse_server_address(Settings.server, &unused))
        return 1;
    return warn(dialog, SERVER_MALFORMED);
}

static int no_action_accepted(HWND dialog)
{
    if (Settings.okMes || Settings.mailPath[0] || Settings.oksndPath[0])
        return 1;
    return message_box(dialog, NO_ACTION_QUESTION, CAUTION_CAPTION, MB_YESNO | MB_ICONWARNING) == IDYES;
}

int store_settings(HWND dialog)
{
    if (!store_server(dialog))
        return 0;
    if (!store_text(dialog, IDC_USER, Settings.user, sizeof Settings.user, USER_FIELD))
        return 0;
    if (!store_action_path(dialog, IDC_MAIL_LAUNCH, IDC_MAIL_PATH, Settings.mailPath,
                           sizeof Settings.mailPath, MAIL_PATH_MISSING, MAIL_PATH_FIELD))
        return 0;
    store_flag(dialog, IDC_MAIL_ASK, &Settings.mailPathAsk);
    if (!store_action_path(dialog, IDC_OK_SOUND, IDC_OK_SOUND_PATH, Settings.oksndPath,
                           sizeof Settings.oksndPath, OK_SOUND_MISSING, OK_SOUND_FIELD))
        return 0;
    store_flag(dialog, IDC_OK_MESSAGE, &Settings.okMes);
    if (!no_action_accepted(dialog))
        return 0;
    store_flag(dialog, IDC_NO_MESSAGE, &Settings.noMes);
    if (!store_interval(dialog))
        return 0;
    checkCountdown = Settings.autoCheckTime * 60;
    if (!store_action_path(dialog, IDC_NO_SOUND, IDC_NO_SOUND_PATH, Settings.nosndPath,
                           sizeof Settings.nosndPath, NO_SOUND_MISSING, NO_SOUND_FIELD))
        return 0;
    store_flag(dialog, IDC_SHOW_PROGRESS, &Settings.showProgress);
    store_flag(dialog, IDC_UNSEEN_ONLY, &Settings.unseenOnly);
    store_flag(dialog, IDC_SHOW_HEADERS, &Settings.showHeaders);
    store_flag(dialog, IDC_NOTIFY_BALLOON, &Settings.notifyBalloon);
    store_flag(dialog, IDC_QUIET_OFFLINE, &Settings.quietOffline);
    return save_settings();
}

// The shortcut is the truth of "start with Windows": it is made or removed
// only when the box differs from it.
static void store_start_with_windows(HWND dialog)
{
    char folder[MAX_PATH], message[512];
    int on = checked(dialog, IDC_START_WITH_WINDOWS);
    if (on == startup_link_present())
        return;
    unsigned long code = startup_link_set(on, startDirectory, folder, sizeof folder);
    if (code == 0)
        return;
    wsprintfA(message, "%s\n%s\n(0x%08lX)", on ? LINK_NOT_MADE : LINK_NOT_REMOVED, folder, code);
    warn(dialog, message);
}

// ---- Commands

// An empty sound path starts the chooser in the start directory. A start
// directory too long for the chooser's 255 bytes together with the pattern
// would be cut mid-pattern, so the pattern alone is used then.
static void sound_start_path(char *path, size_t capacity)
{
    if (strlen(startDirectory) + 1 + strlen(SOUND_PATTERN) > CHOOSE_FILE_PATH_CAPACITY - 1)
        lstrcpynA(path, SOUND_PATTERN, (int)capacity);
    else
        wsprintfA(path, "%s\\%s", startDirectory, SOUND_PATTERN); // fits: measured above
}

static void browse(HWND dialog, int checkId, int pathId, const char *title, const char *filter)
{
    char path[TEXT_BUFFER];
    read_text(dialog, pathId, path, BROWSE_READ);
    if (!path[0] && pathId == IDC_MAIL_PATH)
        lstrcpynA(path, MAIL_START, sizeof path);
    else if (!path[0])
        sound_start_path(path, sizeof path);
    if (!ChooseFile(dialog, path, title, filter))
        return;
    show_text(dialog, pathId, path);
    set_checked(dialog, checkId, 1);
}

static void play_shown_path(HWND dialog, int pathId)
{
    char path[TEXT_BUFFER];
    if (read_text(dialog, pathId, path, PLAY_READ))
        play_sound(path);
}

// The document stands beside the settings file, wherever the choosers
// have browsed.
static void open_help(void)
{
    if (!ShellOpenIn(startDirectory, HELP_DOCUMENT))
        ErrorBox(HELP_FAILED);
}

static void change_password(HWND dialog)
{
    if (run_password_dialog(dialog) == -1) {
        ErrorBox(PASSWORD_DIALOG_FAILED);
        return;
    }
    show_password_state(dialog);
}

static void report_failed_store(HWND dialog)
{
    message_box(dialog, SAVE_FAILED, ERROR_CAPTION, MB_OK | MB_ICONERROR);
}

static void on_ok(HWND dialog)
{
    if (!store_settings(dialog)) {
        report_failed_store(dialog);
        return;
    }
    store_start_with_windows(dialog);
    EndDialog(dialog, 0);
}

static void on_apply_and_check(HWND dialog)
{
    if (!store_settings(dialog)) {
        report_failed_store(dialog);
        return;
    }
    store_start_with_windows(dialog);
    start_check();
}

static void on_close(HWND dialog)
{
    if (message_box(dialog, CLOSE_QUESTION, CONFIRM_CAPTION, MB_YESNO | MB_ICONQUESTION) == IDYES)
        EndDialog(dialog, 0);
}

// Escape's cancel command (IDCANCEL) is not among these, so Escape does
// nothing; the check boxes toggle themselves.
static void on_command(HWND dialog, int id)
{
    switch (id) {
    case IDC_MAIL_BROWSE: browse(dialog, IDC_MAIL_LAUNCH, IDC_MAIL_PATH, MAIL_TITLE, MAIL_FILTER); break;
    case IDC_OK_SOUND_BROWSE: browse(dialog, IDC_OK_SOUND, IDC_OK_SOUND_PATH, SOUND_TITLE, SOUND_FILTER); break;
    case IDC_NO_SOUND_BROWSE: browse(dialog, IDC_NO_SOUND, IDC_NO_SOUND_PATH, SOUND_TITLE, SOUND_FILTER); break;
    case IDC_OK_SOUND_PLAY: play_shown_path(dialog, IDC_OK_SOUND_PATH); break;
    case IDC_NO_SOUND_PLAY: play_shown_path(dialog, IDC_NO_SOUND_PATH); break;
    case IDC_SOUND_STOP: stop_sound(); break;
    case IDC_HELP_BUTTON: open_help(); break;
    case IDC_CHANGE_PASSWORD: change_password(dialog); break;
    case IDC_OK_BUTTON: on_ok(dialog); break;
    case IDC_APPLY_AND_CHECK: on_apply_and_check(dialog); break;
    case IDC_CANCEL_BUTTON: EndDialog(dialog, 0); break;
    }
}

static INT_PTR CALLBACK settings_dialog_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        on_init(dialog);
        return TRUE;
    case WM_COMMAND:
        on_command(dialog, LOWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        on_close(dialog);
        return TRUE;
    }
    return FALSE;
}

INT_PTR run_settings_dialog(void)
{
    return DialogBoxParamW(programInstance, MAKEINTRESOURCEW(IDD_SETTINGS), NULL, settings_dialog_proc, 0);
}
