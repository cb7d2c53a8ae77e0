// "Sorvane.dat" on disk: the file, its replacement and the messages. The
// bytes themselves are decided by settings_codec.
#include "settings_file.h"
#include "settings.h"
#include "settings_codec.h"
#include "accounts_codec.h"
#include "../desktop/desktop.h"
#include "../desktop/wide_text.h"
#include <string.h>

const char SETTINGS_FILE_NAME[] = "Sorvane.dat";
// A save is written here first and replaces the file only when complete, so
// a failure part-way never costs the user the settings already stored.
const char SETTINGS_TEMP_FILE_NAME[] = "Sorvane.dat.new";
// The accounts after the first, beside it; an older copy of the program
// neither reads nor writes this file, so it keeps them whatever it saves.
const char ACCOUNTS_FILE_NAME[] = "Sorvane.accounts";
static const char ACCOUNTS_TEMP_FILE_NAME[] = "Sorvane.accounts.new";

static const char READ_FAILED[] = "動作設定の読み込みに失敗しました。";
static const char WRITE_FAILED[] = "動作設定の書き込みに失敗しました。";
static const char INCOMPATIBLE_CAPTION[] = "互換性";
static const char INCOMPATIBLE[] = "動作設定ファイルのデータに互換性がないため、新規に作成します。\n現在の設定は失われます。";
static const char FIELD_READ_CAPTION[] = "エラー";
static const char ACCOUNTS_UNREADABLE[] = "Sorvane.accounts が壊れているため、2 番目以降のアカウントを読み込めませんでした。\n"
                                       "2 番目以降のアカウントは空になります。";
static const char UNREADABLE[] = "動作設定ファイルを開けませんでした。\n"
                                 "ほかのプログラムが使用中か、読み取りが許可されていない可能性があります。\n"
                                 "このファイルを新しい設定で置き換えますか？\n"
                                 "（「いいえ」の場合、このファイルは書き換えません。）";

// Set by a load that found the file but could not read it, when the user
// chose to keep it: no save of this run may replace it.
static int keepUnreadFile;

// The extension block of the file loaded, as read: a newer version's values
// that this one does not know go back into the file with every save.
static SettingsExtension keptExtension;

#define BROKEN "の読み込みに失敗しました。\n動作設定が壊れている可能性があるため、再作成します。\n現在の設定は失われます。"
static const char *const FIELD_READ_FAILED[SETTINGS_FIELD_COUNT] = {
    "[server]" BROKEN,    "[user]" BROKEN,      "[pass]" BROKEN,  "[autoCheckTime]" BROKEN,
    "[showProgress]" BROKEN, "[mailPath]" BROKEN, "[mailPathAsk]" BROKEN, "[oksndPath]" BROKEN,
    "[okMes]" BROKEN,     "[nosndPath]" BROKEN, "[noMes]" BROKEN,
};
#undef BROKEN

static const char *const FIELD_WRITE_FAILED[SETTINGS_FIELD_COUNT] = {
    "[server]の書き込みに失敗しました。",      "[user]の書き込みに失敗しました。",
    "[pass]の書き込みに失敗しました。",        "[autoCheckTime]の書き込みに失敗しました。",
    "[showProgress]の書き込みに失敗しました。", "[mailPath]の書き込みに失敗しました。",
    "[mailPathAsk]の書き込みに失敗しました。",  "[oksndPath]の書き込みに失敗しました。",
    "[okMes]の書き込みに失敗しました。",       "[nosndPath]の書き込みに失敗しました。",
    "[noMes]の書き込みに失敗しました。",
};

static int write_bytes(HANDLE file, const unsigned char *bytes, size_t size)
{
    DWORD written = 0;
    return WriteFile(file, bytes, (DWORD)size, &written, NULL) && written >= size;
}

// The file's first bytes, as many as the loader ever looks at. 0 when it
// cannot be opened, with `*missing` telling a file that is not there from
// one that is there but cannot be read (held by another program, not
// permitted). A read error ends the bytes as the end of the file does.
static int read_prefix(const char *name, unsigned char *bytes, DWORD capacity, size_t *size, int *missing)
{
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return 0;
    }
    DWORD got = 0, n = 0;
    while (got < capacity && ReadFile(file, bytes + got, capacity - got, &n, NULL) && n > 0)
        got += n;
    CloseHandle(file);
    *size = got;
    return 1;
}

// Asks whether to start afresh; on Yes the file goes. The file is closed.
static void offer_deletion(const char *text, const char *caption)
{
    if (message_box(NULL, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES)
        DeleteFileA(SETTINGS_FILE_NAME);
}

// A file that is there but could not be read holds settings the user has
// not seen: it is replaced only when the user, told so, agrees; else no save
// of this run touches it.
static void ask_before_replacing_unread_file(void)
{
    keepUnreadFile = message_box(NULL, UNREADABLE, FIELD_READ_CAPTION, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2)
                     != IDYES;
}

// The accounts after the first: none when there is no such file; a file
// that cannot be read or is damaged is said once, and gives none.
static void load_accounts(MoreAccounts *more)
{
    unsigned char bytes[ACCOUNTS_FILE_MAX_SIZE + 1];
    size_t size = 0;
    int missing = 0;
    memset(more, 0, sizeof *more);
    int read = read_prefix(ACCOUNTS_FILE_NAME, bytes, sizeof bytes, &size, &missing);
    if ((read ? decode_accounts(bytes, size, more) : ACCOUNTS_NONE) == ACCOUNTS_DAMAGED || (!read && !missing))
        ErrorBox(ACCOUNTS_UNREADABLE);
    SecureZeroMemory(bytes, sizeof bytes);
}

// Decoded into a copy so the record changes in one step under the lock;
// the fields before a failing one keep the values read.
static int load_into(unsigned char *bytes, DWORD capacity, SettingsRecord *record)
{
    size_t size = 0;
    int missing = 0;
    keepUnreadFile = 0;
    if (!read_prefix(SETTINGS_FILE_NAME, bytes, capacity, &size, &missing)) {
        if (!missing)
            ask_before_replacing_unread_file();
        return 0; // the settings dialog comes next and creates the file
    }
    SettingsDecodeResult result;
    decode_settings(bytes, size, record, &keptExtension, &result);
    switch (result.outcome) {
    case SETTINGS_EMPTY:
        ErrorBox(READ_FAILED);
        return 0;
    case SETTINGS_BAD_VERSION:
        offer_deletion(INCOMPATIBLE, INCOMPATIBLE_CAPTION);
        return 0;
    default:
        break;
    }
    if (result.outcome == SETTINGS_DECODED)
        load_accounts(&record->more);
    settings_replace(record);
    if (result.outcome == SETTINGS_FIELD_UNREADABLE) {
        offer_deletion(FIELD_READ_FAILED[result.field], FIELD_READ_CAPTION);
        return 0;
    }
    return 1;
}

// The file's image and the copy held the passwords: neither stays behind
// on the stack.
int load_settings(void)
{
    unsigned char bytes[SETTINGS_READ_LIMIT];
    SettingsRecord record = Settings; // written only on this thread
    int loaded = load_into(bytes, sizeof bytes, &record);
    SecureZeroMemory(bytes, sizeof bytes);
    SecureZeroMemory(&record, sizeof record);
    return loaded;
}

// The new file must be on the disk before it takes the old one's place:
// the rename is a change to the folder, which a file system may write out
// before the file's own data. Renamed first and flushed later, a power cut
// in between can leave the name on an empty or zero-filled file, and the
// user's settings are lost; flushed first, the name holds either the whole
// old file or the whole new one. No test here can see the difference (the
// host's cache survives every crash a test can cause), so keep the order.
static int finish_file(HANDLE file)
{
    int flushed = FlushFileBuffers(file) != 0;
    return CloseHandle(file) && flushed;
}

// A settings file that could not be written in place (read-only, or held
// by another program) is not replaced behind the user's back either: not
// every system refuses to rename over a read-only file.
static int file_replaceable(const char *name)
{
    DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return 0;
    HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    CloseHandle(file);
    return 1;
}

enum WriteOutcome { WRITTEN, NOT_CREATED, WRITE_FAILED_PART_WAY, NOT_MOVED };

// Written aside, flushed, then moved over the file in one call: the name
// holds either the whole old file or the whole new one.
static int write_aside(const char *name, const char *temp, const unsigned char *bytes, size_t size)
{
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NOT_CREATED;
    if (!write_bytes(file, bytes, size)) {
        CloseHandle(file);
        DeleteFileA(temp);
        return WRITE_FAILED_PART_WAY;
    }
    if (!finish_file(file) || !MoveFileExA(temp, name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp);
        return NOT_MOVED;
    }
    return WRITTEN;
}

// With one account there is no accounts file: the folder holds what it
// always did.
static int save_accounts(const MoreAccounts *more)
{
    unsigned char bytes[ACCOUNTS_FILE_MAX_SIZE];
    size_t size = 0;
    if (more->count == 0)
        return DeleteFileA(ACCOUNTS_FILE_NAME) || GetLastError() == ERROR_FILE_NOT_FOUND;
    if (!file_replaceable(ACCOUNTS_FILE_NAME) || !encode_accounts(more, bytes, sizeof bytes, &size))
        return 0;
    int written = write_aside(ACCOUNTS_FILE_NAME, ACCOUNTS_TEMP_FILE_NAME, bytes, size);
    SecureZeroMemory(bytes, sizeof bytes);
    return written == WRITTEN;
}

static int save_from(const SettingsRecord *record, unsigned char *bytes, size_t capacity)
{
    size_t size = 0;
    int failedField;
    if (!encode_settings(record, &keptExtension, bytes, capacity, &size, &failedField)) {
        ErrorBox(failedField >= 0 ? FIELD_WRITE_FAILED[failedField] : WRITE_FAILED);
        return 0;
    }
    int written = write_aside(SETTINGS_FILE_NAME, SETTINGS_TEMP_FILE_NAME, bytes, size);
    if (written == WRITE_FAILED_PART_WAY)
        ErrorBox(WRITE_FAILED);
    return written == WRITTEN && save_accounts(&record->more);
}

int save_settings(void)
{
    // A start directory that is gone must not send the file into whatever
    // folder happens to be current: that counts as a file not created.
    if (!set_current_directory(startDirectory))
        return 0;
    if (keepUnreadFile || !file_replaceable(SETTINGS_FILE_NAME))
        return 0; // the settings dialog tells the user
    SettingsRecord record = Settings; // written only on this thread
    unsigned char bytes[SETTINGS_FILE_MAX_SIZE];
    int saved = save_from(&record, bytes, sizeof bytes);
    SecureZeroMemory(bytes, sizeof bytes);
    SecureZeroMemory(&record, sizeof record);
    return saved;
}
