#include "settings_dialog.h"
#include "settings.h"
#include "settings_file.h"
#include "password_dialog.h"
#include "../net/server_address.h"
#include "../desktop/desktop.h"
#include "../desktop/dialog_font.h"
#include "../desktop/wide_text.h"
#include "../desktop/credential.h"
#include "../resources/resource.h"
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
static const char USER_TOO_LONG[] = "ユーザー名が長すぎます。半角 127 文字（全角 63 文字）までです。";
static const char INTERVAL_INVALID[] = "自動メールチェック間隔が不正です。";
static const char NO_ACTION_QUESTION[] =
    "新着メール到着時に実行するアクションが何も選択されていません。\n"
    "この設定では、着信時にお知らせすることができませんが、続けてもよろしいですか？";
static const char SAVE_FAILED[] = "設定の保存に失敗しました。";
static const char CLOSE_QUESTION[] = "変更された設定内容を保存せずに終了します。\nよろしいですか？";
static const char ACCOUNT_LIMIT[] = "アカウントは 8 個までです。";
static const char REMOVE_QUESTION[] = "選択したアカウントを削除します。\nよろしいですか？";
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
// A password the credential store refuses is kept in the file, as before.
static const char STORE_REFUSED[] = "パスワードを Windows の資格情報マネージャーに保存できませんでした。\n"
                                    "このアカウントのパスワードは、これまでどおり設定ファイルに保存します。";

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

// What the dialog edits: a copy of the whole record, taken when it opens.
// The stored record changes only when a store has read and accepted every
// control; until then a check, and Cancel, see the record as it was.
struct SettingsEdit {
    SettingsRecord record;
    StartCheck startCheck; // apply-and-check's check, handed in by the shell
    int selected;          // the account the account controls show
};

static SettingsEdit *edit_of(HWND dialog)
{
    return (SettingsEdit *)GetWindowLongPtrW(dialog, DWLP_USER);
}

static AccountRef selected_account(HWND dialog)
{
    SettingsEdit *e = edit_of(dialog);
    return account_ref(&e->record, e->selected);
}

static void show_password_state(HWND dialog)
{
    show_text(dialog, IDC_PASSWORD, selected_account(dialog).pass[0] ? PASSWORD_SET : PASSWORD_NOT_SET);
}

// A path and the check box that switches its action on.
static void show_action_path(HWND dialog, int checkId, int pathId, const char *path)
{
    show_text(dialog, pathId, path);
    set_checked(dialog, checkId, path[0] != '\0');
}

static void show_interval(HWND dialog, int minutes)
{
    char text[16];
    if (minutes == 0)
        return;
    wsprintfA(text, "%d", minutes);
    show_text(dialog, IDC_AUTO_CHECK_TIME, text);
    set_checked(dialog, IDC_AUTO_CHECK, 1);
}

static void select_account(HWND dialog, int i); // with the accounts, below

static void on_init(HWND dialog, SettingsEdit *edit)
{
    SetWindowLongPtrW(dialog, DWLP_USER, (LONG_PTR)edit);
    const SettingsRecord *r = &edit->record;
    select_account(dialog, 0);
    show_action_path(dialog, IDC_MAIL_LAUNCH, IDC_MAIL_PATH, r->mailPath);
    set_checked(dialog, IDC_MAIL_ASK, r->mailPathAsk);
    show_action_path(dialog, IDC_OK_SOUND, IDC_OK_SOUND_PATH, r->oksndPath);
    set_checked(dialog, IDC_OK_MESSAGE, r->okMes);
    show_action_path(dialog, IDC_NO_SOUND, IDC_NO_SOUND_PATH, r->nosndPath);
    set_checked(dialog, IDC_NO_MESSAGE, r->noMes);
    show_interval(dialog, r->autoCheckTime);
    set_checked(dialog, IDC_SHOW_PROGRESS, r->showProgress);
    set_checked(dialog, IDC_SHOW_HEADERS, r->showHeaders);
    set_checked(dialog, IDC_NOTIFY_BALLOON, r->notifyBalloon);
    set_checked(dialog, IDC_QUIET_OFFLINE, r->quietOffline);
    set_checked(dialog, IDC_START_WITH_WINDOWS, startup_link_present());
    set_checked(dialog, IDC_CREDENTIAL_STORE, r->credentialStore);
}

// ---- The store step: every control read into the copy, then the copy
// stored whole

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

// A path longer than its field is cut after a whole character, as the
// chooser, which fills these boxes, never gives one.
static int read_path(HWND dialog, int id, char *field, size_t capacity, const char *name)
{
    return read_text(dialog, id, field, (int)capacity) ? 1 : refuse_text(dialog, name);
}

// The server and the user are refused when longer than their field: a cut
// text could name another host or another mailbox.
static int read_account_text(HWND dialog, int id, char field[ACCOUNT_TEXT_CAPACITY], const char *name,
                             const char *tooLong)
{
    char text[TEXT_BUFFER];
    if (!read_text(dialog, id, text, sizeof text))
        return refuse_text(dialog, name);
    size_t length = strlen(text);
    if (length >= ACCOUNT_TEXT_CAPACITY)
        return warn(dialog, tooLong);
    memcpy(field, text, length + 1);
    return 1;
}

// An action that is on exactly when its path is set: its check box off
// empties the path, on with no path is refused with `missing`.
static int read_action_path(HWND dialog, int checkId, int pathId, char *field, size_t capacity,
                            const char *missing, const char *name)
{
    if (!checked(dialog, checkId)) {
        field[0] = '\0';
        return 1;
    }
    if (!read_path(dialog, pathId, field, capacity, name))
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

static int read_interval(HWND dialog, int *minutes)
{
    char text[TEXT_BUFFER];
    *minutes = 0;
    if (!checked(dialog, IDC_AUTO_CHECK))
        return 1;
    read_text(dialog, IDC_AUTO_CHECK_TIME, text, 256);
    *minutes = parse_interval(text);
    return *minutes ? 1 : warn(dialog, INTERVAL_INVALID);
}

// An empty server is left to the check, which asks for it.
static int read_server(HWND dialog, char server[ACCOUNT_TEXT_CAPACITY])
{
    ServerAddress unused;
    if (!read_account_text(dialog, IDC_SERVER, server, SERVER_FIELD, SERVER_MALFORMED))
        return 0;
    if (!server[0] || parse_server_address(server, &unused))
        return 1;
    return warn(dialog, SERVER_MALFORMED);
}

// ---- Accounts: the list shows every account of the copy, the controls
// above it the selected one

static void fill_accounts(HWND dialog)
{
    SettingsEdit *e = edit_of(dialog);
    HWND list = GetDlgItem(dialog, IDC_ACCOUNT);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < account_count(&e->record); i++) {
        AccountRef a = account_ref(&e->record, i);
        char label[ACCOUNT_LABEL_CAPACITY];
        WCHAR wide[ACCOUNT_LABEL_CAPACITY];
        account_label(a.user, a.server, label);
        wide_from_932(label, -1, wide, ACCOUNT_LABEL_CAPACITY);
        SendMessageW(list, CB_ADDSTRING, 0, (LPARAM)wide);
    }
    SendMessageW(list, CB_SETCURSEL, (WPARAM)e->selected, 0);
    EnableWindow(GetDlgItem(dialog, IDC_ACCOUNT_REMOVE), account_count(&e->record) > 1);
}

static void select_account(HWND dialog, int i)
{
    edit_of(dialog)->selected = i;
    fill_accounts(dialog);
    AccountRef a = selected_account(dialog);
    show_text(dialog, IDC_SERVER, a.server);
    show_text(dialog, IDC_USER, a.user);
    show_password_state(dialog);
    set_checked(dialog, IDC_UNSEEN_ONLY, *a.unseenOnly);
}

// The selected account's controls into the copy, refused as a store
// refuses them; the copy keeps what it had on a refusal.
static int read_account(HWND dialog)
{
    char server[ACCOUNT_TEXT_CAPACITY], user[ACCOUNT_TEXT_CAPACITY];
    if (!read_server(dialog, server) || !read_account_text(dialog, IDC_USER, user, USER_FIELD, USER_TOO_LONG))
        return 0;
    AccountRef a = selected_account(dialog);
    memcpy(a.server, server, sizeof server);
    memcpy(a.user, user, sizeof user);
    *a.unseenOnly = checked(dialog, IDC_UNSEEN_ONLY);
    return 1;
}

// The accounts not shown were read when the user left them; one from the
// file may still name no server: the first such is selected and refused.
static int accounts_valid(HWND dialog)
{
    SettingsEdit *e = edit_of(dialog);
    for (int i = 0; i < account_count(&e->record); i++) {
        ServerAddress unused;
        const char *server = account_ref(&e->record, i).server;
        if (server[0] && !parse_server_address(server, &unused)) {
            select_account(dialog, i);
            return warn(dialog, SERVER_MALFORMED);
        }
    }
    return 1;
}

static void on_account_chosen(HWND dialog)
{
    SettingsEdit *e = edit_of(dialog);
    int chosen = (int)SendDlgItemMessageW(dialog, IDC_ACCOUNT, CB_GETCURSEL, 0, 0);
    if (chosen < 0 || chosen == e->selected)
        return;
    if (read_account(dialog))
        select_account(dialog, chosen);
    else
        SendDlgItemMessageW(dialog, IDC_ACCOUNT, CB_SETCURSEL, (WPARAM)e->selected, 0);
}

static void add_account(HWND dialog)
{
    SettingsRecord *r = &edit_of(dialog)->record;
    if (!read_account(dialog))
        return;
    if (account_count(r) >= MAX_ACCOUNTS) {
        warn(dialog, ACCOUNT_LIMIT);
        return;
    }
    memset(&r->more.account[r->more.count++], 0, sizeof(AccountFields));
    select_account(dialog, account_count(r) - 1);
}

// The accounts after the removed one move up; the last place is wiped.
static void remove_account(HWND dialog)
{
    SettingsEdit *e = edit_of(dialog);
    SettingsRecord *r = &e->record;
    if (account_count(r) < 2 ||
        message_box(dialog, REMOVE_QUESTION, CONFIRM_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    for (int i = e->selected; i + 1 < account_count(r); i++) {
        AccountRef to = account_ref(r, i), from = account_ref(r, i + 1);
        memcpy(to.server, from.server, ACCOUNT_TEXT_CAPACITY);
        memcpy(to.user, from.user, ACCOUNT_TEXT_CAPACITY);
        memcpy(to.pass, from.pass, ACCOUNT_TEXT_CAPACITY);
        *to.unseenOnly = *from.unseenOnly;
    }
    SecureZeroMemory(&r->more.account[--r->more.count], sizeof(AccountFields));
    select_account(dialog, e->selected < account_count(r) ? e->selected : account_count(r) - 1);
}

static int no_action_accepted(HWND dialog, const SettingsRecord *r)
{
    if (r->okMes || r->mailPath[0] || r->oksndPath[0])
        return 1;
    return message_box(dialog, NO_ACTION_QUESTION, CAUTION_CAPTION, MB_YESNO | MB_ICONWARNING) == IDYES;
}

// The check boxes, which nothing refuses.
static void read_flags(HWND dialog, SettingsRecord *r)
{
    r->mailPathAsk = checked(dialog, IDC_MAIL_ASK);
    r->okMes = checked(dialog, IDC_OK_MESSAGE);
    r->noMes = checked(dialog, IDC_NO_MESSAGE);
    r->showProgress = checked(dialog, IDC_SHOW_PROGRESS);
    r->showHeaders = checked(dialog, IDC_SHOW_HEADERS);
    r->notifyBalloon = checked(dialog, IDC_NOTIFY_BALLOON);
    r->quietOffline = checked(dialog, IDC_QUIET_OFFLINE);
    r->credentialStore = checked(dialog, IDC_CREDENTIAL_STORE);
}

// Every control into `r`, in the order the user is told of refusals; the
// first refusal warns and gives 0.
static int read_controls(HWND dialog, SettingsRecord *r)
{
    read_flags(dialog, r);
    return read_account(dialog) && accounts_valid(dialog)
        && read_action_path(dialog, IDC_MAIL_LAUNCH, IDC_MAIL_PATH, r->mailPath, sizeof r->mailPath,
                            MAIL_PATH_MISSING, MAIL_PATH_FIELD)
        && read_action_path(dialog, IDC_OK_SOUND, IDC_OK_SOUND_PATH, r->oksndPath, sizeof r->oksndPath,
                            OK_SOUND_MISSING, OK_SOUND_FIELD)
        && no_action_accepted(dialog, r)
        && read_interval(dialog, &r->autoCheckTime)
        && read_action_path(dialog, IDC_NO_SOUND, IDC_NO_SOUND_PATH, r->nosndPath, sizeof r->nosndPath,
                            NO_SOUND_MISSING, NO_SOUND_FIELD);
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

// ---- Where the passwords live: the credential store, when the setting
// says so, or the files

// The dialog edits every password, those in the store too: a store then
// puts each where the setting says, and an account renamed takes its
// password along. One the store does not have stays empty.
static void recall_passwords(SettingsRecord *r)
{
    for (int i = 0; r->credentialStore && i < account_count(r); i++) {
        AccountRef a = account_ref(r, i);
        if (!a.pass[0])
            credential_read(a.user, a.server, a.pass, ACCOUNT_TEXT_CAPACITY);
    }
}

static void refuse_store(HWND dialog, AccountRef a, unsigned long code)
{
    char label[ACCOUNT_LABEL_CAPACITY], message[512];
    account_label(a.user, a.server, label);
    wsprintfA(message, "%s\n%s\n(0x%08lX)", STORE_REFUSED, label, code);
    warn(dialog, message);
}

// With the setting on, each password goes into the store and out of the
// record stored (and so out of the files). Gives the accounts written, a
// bit each.
static unsigned put_passwords(HWND dialog, SettingsRecord *r)
{
    unsigned written = 0;
    for (int i = 0; r->credentialStore && i < account_count(r); i++) {
        AccountRef a = account_ref(r, i);
        if (!a.pass[0])
            continue; // no password, here or in the store
        unsigned long code = credential_write(a.user, a.server, a.pass);
        if (code == 0) {
            SecureZeroMemory(a.pass, ACCOUNT_TEXT_CAPACITY);
            written |= 1u << i;
        } else {
            refuse_store(dialog, a, code);
        }
    }
    return written;
}

static int written_to_store(SettingsRecord *r, unsigned written, const char *user, const char *server)
{
    for (int i = 0; i < account_count(r); i++) {
        AccountRef a = account_ref(r, i);
        if ((written >> i & 1) && credential_same(a.user, a.server, user, server))
            return 1;
    }
    return 0;
}

// The credentials the record stored before kept and the new one does not:
// an account removed, its server or user changed, its password cleared,
// or the setting off.
static void forget_passwords(SettingsRecord *before, SettingsRecord *now, unsigned written)
{
    for (int i = 0; before->credentialStore && i < account_count(before); i++) {
        AccountRef a = account_ref(before, i);
        if (!written_to_store(now, written, a.user, a.server))
            credential_delete(a.user, a.server);
    }
}

// ---- The store

// The record replaced whole, the countdown armed and the file saved. A
// credential the new record no longer needs goes only once the file that
// needed it is replaced. A save that fails leaves the record stored (the
// file is retried with the next store).
static int store_record(HWND dialog, SettingsRecord *before, SettingsRecord *stored)
{
    unsigned written = put_passwords(dialog, stored);
    settings_replace(stored);
    checkCountdown = stored->autoCheckTime * 60;
    if (!save_settings())
        return 0;
    forget_passwords(before, stored, written);
    return 1;
}

// Nothing is stored unless every control is accepted. The dialog's copy
// keeps every password whatever is stored, for the next store.
static int store_settings(HWND dialog, SettingsRecord *edited)
{
    if (!read_controls(dialog, edited))
        return 0;
    SettingsRecord before = Settings, stored = *edited; // written only on this thread
    int saved = store_record(dialog, &before, &stored);
    SecureZeroMemory(&before, sizeof before);
    SecureZeroMemory(&stored, sizeof stored);
    if (saved)
        store_start_with_windows(dialog);
    return saved;
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
    if (run_password_dialog(dialog, selected_account(dialog).pass) == -1) {
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
    if (store_settings(dialog, &edit_of(dialog)->record))
        EndDialog(dialog, 0);
    else
        report_failed_store(dialog);
}

static void on_apply_and_check(HWND dialog)
{
    if (store_settings(dialog, &edit_of(dialog)->record))
        edit_of(dialog)->startCheck();
    else
        report_failed_store(dialog);
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
    case IDC_ACCOUNT_ADD: add_account(dialog); break;
    case IDC_ACCOUNT_REMOVE: remove_account(dialog); break;
    case IDC_OK_BUTTON: on_ok(dialog); break;
    case IDC_APPLY_AND_CHECK: on_apply_and_check(dialog); break;
    case IDC_CANCEL_BUTTON: EndDialog(dialog, 0); break;
    }
}

static INT_PTR CALLBACK settings_dialog_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        on_init(dialog, (SettingsEdit *)lParam);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_ACCOUNT && HIWORD(wParam) == CBN_SELCHANGE)
            on_account_chosen(dialog);
        else
            on_command(dialog, LOWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        on_close(dialog);
        return TRUE;
    }
    return FALSE;
}

INT_PTR run_settings_dialog(StartCheck startCheck)
{
    SettingsEdit edit;
    edit.record = Settings; // written only on this thread
    recall_passwords(&edit.record);
    edit.startCheck = startCheck;
    edit.selected = 0;
    INT_PTR result = dialog_box(IDD_SETTINGS, NULL, settings_dialog_proc, (LPARAM)&edit);
    SecureZeroMemory(&edit.record, sizeof edit.record); // it holds the password
    return result;
}
