// "Sorvane.dat" on disk: the file, its replacement and the messages. The
// bytes themselves are decided by settings_codec.
#include "settings_file.h"
#include "settings.h"
#include "settings_codec.h"
#include "desktop/desktop.h"
#include <string.h>

const char SETTINGS_FILE_NAME[] = "Sorvane.dat";
// A save is written here first and replaces the file only when complete, so
// a failure part-way never costs the user the settings already stored.
const char SETTINGS_TEMP_FILE_NAME[] = "Sorvane.dat.new";

static const char READ_FAILED[] = "動作設定の読み込みに失敗しました。";
static const char WRITE_FAILED[] = "動作設定の書き込みに失敗しました。";
static const char INCOMPATIBLE_CAPTION[] = "互換性";
static const char INCOMPATIBLE[] = "動作設定ファイルのデータに互換性がないため、新規に作成します。\n現在の設定は失われます。";
static const char FIELD_READ_CAPTION[] = "エラー";

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

void scramble_text(char *text)
{
    scramble_bytes((unsigned char *)text, strlen(text));
}

// Reads exactly `size` bytes; a short read (end of file) is a failure.
static int read_bytes(HANDLE file, unsigned char *out, DWORD size)
{
    DWORD got = 0;
    while (got < size) {
        DWORD n = 0;
        if (!ReadFile(file, out + got, size - got, &n, NULL) || n == 0)
            return 0;
        got += n;
    }
    return 1;
}

static int write_bytes(HANDLE file, const unsigned char *bytes, size_t size)
{
    DWORD written = 0;
    return WriteFile(file, bytes, (DWORD)size, &written, NULL) && written >= size;
}

int read_text_field(HANDLE file, char *dest, size_t capacity)
{
    unsigned char raw[TEXT_FIELD_BUFFER_SIZE];
    for (size_t n = 0; n < sizeof raw; n++) {
        if (!read_bytes(file, &raw[n], 1))
            return 0;
        if (raw[n] == SCRAMBLED_TERMINATOR)
            return decode_text_value(raw, n, dest, capacity);
    }
    return 0; // longer than any field can be: damaged
}

int write_text_field(HANDLE file, const char *value, size_t capacity)
{
    unsigned char raw[TEXT_FIELD_BUFFER_SIZE];
    size_t n;
    return encode_text_field(value, capacity, raw, sizeof raw, &n) && write_bytes(file, raw, n);
}

// A file that ends inside the integer leaves the field as it was.
static int read_int_field(HANDLE file, int *dest)
{
    unsigned char raw[INT_FIELD_SIZE];
    if (!read_bytes(file, raw, sizeof raw))
        return 0;
    *dest = decode_int32(raw);
    return 1;
}

static int read_field(HANDLE file, SettingsRecord *record, int field)
{
    const SettingsFieldInfo *info = &SETTINGS_FIELDS[field];
    if (info->kind == FIELD_KIND_TEXT)
        return read_text_field(file, settings_text_of(record, field), info->capacity);
    if (info->kind == FIELD_KIND_INT32)
        return read_int_field(file, settings_int_of(record, field));
    char text[TEXT_FIELD_BUFFER_SIZE];
    if (!read_text_field(file, text, sizeof text))
        return 0;
    *settings_int_of(record, field) = parse_decimal(text);
    return 1;
}

// The fields in file order into `record`; the failing field, or -1.
static int read_fields(HANDLE file, SettingsRecord *record)
{
    for (int field = 0; field < SETTINGS_FIELD_COUNT; field++) {
        if (!read_field(file, record, field))
            return field;
    }
    return -1;
}

// Whatever follows `noMes`, up to the largest extension block; a short or
// failed read leaves the defaults.
static void read_extension(HANDLE file, SettingsRecord *record)
{
    unsigned char block[SETTINGS_EXTENSION_MAX_SIZE];
    DWORD got = 0, n = 1;
    while (got < sizeof block && n && ReadFile(file, block + got, sizeof block - got, &n, NULL))
        got += n;
    decode_settings_extension(block, got, record);
}

// Asks whether to start afresh; on Yes the file goes. The file is closed.
static void offer_deletion(const char *text, const char *caption)
{
    if (message_box(NULL, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES)
        DeleteFileA(SETTINGS_FILE_NAME);
}

int load_settings(void)
{
    HANDLE file = CreateFileA(SETTINGS_FILE_NAME, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0; // not there yet: the settings dialog will create it
    unsigned char version;
    if (!read_bytes(file, &version, 1)) {
        CloseHandle(file);
        ErrorBox(READ_FAILED);
        return 0;
    }
    if (version != SETTINGS_FORMAT_VERSION) {
        CloseHandle(file);
        offer_deletion(INCOMPATIBLE, INCOMPATIBLE_CAPTION);
        return 0;
    }
    // Fields are read into a copy so the record changes in one step under
    // the lock; the fields before a failing one keep the values read.
    SettingsRecord record;
    settings_snapshot(&record);
    int failed = read_fields(file, &record);
    if (failed < 0)
        read_extension(file, &record);
    CloseHandle(file);
    settings_lock();
    Settings = record;
    settings_unlock();
    if (failed >= 0) {
        offer_deletion(FIELD_READ_FAILED[failed], FIELD_READ_CAPTION);
        return 0;
    }
    return 1;
}

static int write_field(HANDLE file, const SettingsRecord *record, int field)
{
    const SettingsFieldInfo *info = &SETTINGS_FIELDS[field];
    if (info->kind == FIELD_KIND_TEXT)
        return write_text_field(file, settings_const_text_of(record, field), info->capacity);
    int value = settings_int_value(record, field);
    if (info->kind == FIELD_KIND_DECIMAL) {
        char text[DECIMAL_TEXT_CAPACITY];
        format_decimal(value, text);
        return write_text_field(file, text, sizeof text);
    }
    unsigned char raw[INT_FIELD_SIZE];
    encode_int32(value, raw);
    return write_bytes(file, raw, sizeof raw);
}

// Writes the whole file; NULL when done, else the message for the item that
// could not be written.
static const char *write_record(HANDLE file, const SettingsRecord *record)
{
    const unsigned char version = SETTINGS_FORMAT_VERSION;
    if (!write_bytes(file, &version, 1))
        return WRITE_FAILED;
    for (int field = 0; field < SETTINGS_FIELD_COUNT; field++) {
        if (!write_field(file, record, field))
            return FIELD_WRITE_FAILED[field];
    }
    unsigned char block[SETTINGS_EXTENSION_MAX_SIZE];
    size_t size;
    if (!encode_settings_extension(record, block, sizeof block, &size) || !write_bytes(file, block, size))
        return WRITE_FAILED;
    return NULL;
}

// The new file must be on the disk before it takes the old one's place.
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

int save_settings(void)
{
    // A start directory that is gone must not send the file into whatever
    // folder happens to be current: that counts as a file not created.
    if (!SetCurrentDirectoryA(startDirectory))
        return 0;
    if (!file_replaceable(SETTINGS_FILE_NAME))
        return 0; // the settings dialog tells the user
    SettingsRecord record;
    settings_snapshot(&record);
    HANDLE file = CreateFileA(SETTINGS_TEMP_FILE_NAME, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0; // the settings dialog tells the user
    const char *failure = write_record(file, &record);
    if (failure) {
        CloseHandle(file);
        DeleteFileA(SETTINGS_TEMP_FILE_NAME);
        ErrorBox(failure);
        return 0;
    }
    if (!finish_file(file)
        || !MoveFileExA(SETTINGS_TEMP_FILE_NAME, SETTINGS_FILE_NAME, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(SETTINGS_TEMP_FILE_NAME);
        return 0;
    }
    return 1;
}
