#include "settings_codec.h"
#include <limits.h>
#include <string.h>

#define TEXT_FIELD(member, name) {name, FIELD_KIND_TEXT, offsetof(SettingsRecord, member), sizeof(((SettingsRecord *)0)->member)}
#define NUMBER_FIELD(member, name, kind) {name, kind, offsetof(SettingsRecord, member), 0}

const SettingsFieldInfo SETTINGS_FIELDS[SETTINGS_FIELD_COUNT] = {
    TEXT_FIELD(server, "server"),
    TEXT_FIELD(user, "user"),
    TEXT_FIELD(pass, "pass"),
    NUMBER_FIELD(autoCheckTime, "autoCheckTime", FIELD_KIND_DECIMAL),
    NUMBER_FIELD(showProgress, "showProgress", FIELD_KIND_INT32),
    TEXT_FIELD(mailPath, "mailPath"),
    NUMBER_FIELD(mailPathAsk, "mailPathAsk", FIELD_KIND_INT32),
    TEXT_FIELD(oksndPath, "oksndPath"),
    NUMBER_FIELD(okMes, "okMes", FIELD_KIND_INT32),
    TEXT_FIELD(nosndPath, "nosndPath"),
    NUMBER_FIELD(noMes, "noMes", FIELD_KIND_INT32),
};

char *settings_text_of(SettingsRecord *record, int field)
{
    return (char *)record + SETTINGS_FIELDS[field].offset;
}

const char *settings_const_text_of(const SettingsRecord *record, int field)
{
    return (const char *)record + SETTINGS_FIELDS[field].offset;
}

int *settings_int_of(SettingsRecord *record, int field)
{
    return (int *)((char *)record + SETTINGS_FIELDS[field].offset);
}

int settings_int_value(const SettingsRecord *record, int field)
{
    int value;
    memcpy(&value, (const char *)record + SETTINGS_FIELDS[field].offset, sizeof value);
    return value;
}

void scramble_bytes(unsigned char *bytes, size_t size)
{
    for (size_t i = 0; i < size; i++)
        bytes[i] ^= SCRAMBLE_KEY;
}

static int is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int parse_decimal(const char *text)
{
    while (is_space(*text))
        text++;
    int negative = *text == '-';
    if (*text == '-' || *text == '+')
        text++;
    // Accumulate towards the negative end, which holds one more value.
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 - (*text - '0');
        if (value < INT_MIN)
            value = INT_MIN;
    }
    if (negative)
        return (int)value;
    return value < -(long long)INT_MAX ? INT_MAX : (int)-value;
}

void format_decimal(int value, char *out)
{
    char digits[DECIMAL_TEXT_CAPACITY];
    size_t n = 0;
    // Unsigned, so that INT_MIN has its magnitude, and 32-bit, so that no
    // 64-bit division comes into the program from the compiler's library.
    unsigned v = value < 0 ? 0u - (unsigned)value : (unsigned)value;
    do {
        digits[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    if (value < 0)
        *out++ = '-';
    while (n)
        *out++ = digits[--n];
    *out = '\0';
}

int decode_text_value(const unsigned char *raw, size_t size, char *dest, size_t capacity)
{
    if (size >= capacity)
        return 0;
    size_t i = 0;
    for (; i < size && (raw[i] ^ SCRAMBLE_KEY) != 0; i++)
        dest[i] = (char)(raw[i] ^ SCRAMBLE_KEY);
    dest[i] = '\0';
    return 1;
}

int decode_int32(const unsigned char raw[INT_FIELD_SIZE])
{
    unsigned int v = (unsigned int)raw[0] | (unsigned int)raw[1] << 8 | (unsigned int)raw[2] << 16
                     | (unsigned int)raw[3] << 24;
    return (int)v;
}

void encode_int32(int value, unsigned char out[INT_FIELD_SIZE])
{
    unsigned int v = (unsigned int)value;
    for (int i = 0; i < INT_FIELD_SIZE; i++)
        out[i] = (unsigned char)(v >> (8 * i));
}

int encode_text_field(const char *value, size_t capacity, unsigned char *out, size_t outSize, size_t *written)
{
    const char *end = (const char *)memchr(value, '\0', capacity);
    if (!end)
        return 0;
    size_t n = (size_t)(end - value);
    if (n + 1 > outSize || memchr(value, TEXT_TERMINATOR, n))
        return 0;
    memcpy(out, value, n);
    out[n] = TEXT_TERMINATOR;
    scramble_bytes(out, n + 1);
    *written = n + 1;
    return 1;
}

int encode_field(const SettingsRecord *record, int field, unsigned char *out, size_t outSize, size_t *written)
{
    const SettingsFieldInfo *info = &SETTINGS_FIELDS[field];
    if (info->kind == FIELD_KIND_TEXT)
        return encode_text_field(settings_const_text_of(record, field), info->capacity, out, outSize, written);
    int value = settings_int_value(record, field);
    if (info->kind == FIELD_KIND_DECIMAL) {
        char text[DECIMAL_TEXT_CAPACITY];
        format_decimal(value, text);
        return encode_text_field(text, sizeof text, out, outSize, written);
    }
    if (outSize < INT_FIELD_SIZE)
        return 0;
    encode_int32(value, out);
    *written = INT_FIELD_SIZE;
    return 1;
}

// The bytes of the text field at `bytes`, its terminator excluded, within
// the field buffer's bound. 0 when no terminator comes in time.
static int find_text_field(const unsigned char *bytes, size_t size, size_t *length)
{
    size_t limit = size < (size_t)TEXT_FIELD_BUFFER_SIZE ? size : (size_t)TEXT_FIELD_BUFFER_SIZE;
    const void *end = memchr(bytes, SCRAMBLED_TERMINATOR, limit);
    if (!end)
        return 0;
    *length = (size_t)((const unsigned char *)end - bytes);
    return 1;
}

// Decodes the field that starts at `bytes`; `*used` is its length in the file.
static int decode_field(const unsigned char *bytes, size_t size, SettingsRecord *record, int field, size_t *used)
{
    const SettingsFieldInfo *info = &SETTINGS_FIELDS[field];
    if (info->kind == FIELD_KIND_INT32) {
        if (size < INT_FIELD_SIZE)
            return 0;
        *settings_int_of(record, field) = decode_int32(bytes);
        *used = INT_FIELD_SIZE;
        return 1;
    }
    size_t length;
    if (!find_text_field(bytes, size, &length))
        return 0;
    *used = length + 1;
    if (info->kind == FIELD_KIND_TEXT)
        return decode_text_value(bytes, length, settings_text_of(record, field), info->capacity);
    char text[TEXT_FIELD_BUFFER_SIZE];
    if (!decode_text_value(bytes, length, text, sizeof text))
        return 0;
    *settings_int_of(record, field) = parse_decimal(text);
    return 1;
}

static const unsigned char EXTENSION_TAG[SETTINGS_EXTENSION_TAG_SIZE] = {'S', 'V', 'E', 'X'};

static unsigned char extension_check(const unsigned char *from, size_t size)
{
    unsigned sum = 0;
    for (size_t i = 0; i < size; i++)
        sum += from[i];
    return (unsigned char)~sum;
}

// Tag, a version other than 0, at least one value, and the check byte.
static int extension_block_valid(const unsigned char *bytes, size_t size)
{
    if (size < SETTINGS_EXTENSION_HEADER_SIZE + 1 || memcmp(bytes, EXTENSION_TAG, sizeof EXTENSION_TAG) != 0)
        return 0;
    const unsigned char *version = bytes + SETTINGS_EXTENSION_TAG_SIZE;
    size_t length = version[1];
    return version[0] != 0 && length >= 1 && size >= SETTINGS_EXTENSION_HEADER_SIZE + length + 1
           && extension_check(version, 2 + length) == version[2 + length];
}

void decode_settings_extension(const unsigned char *bytes, size_t size, SettingsRecord *record,
                               SettingsExtension *kept)
{
    record->unseenOnly = 0;
    record->showHeaders = 0;
    record->notifyBalloon = 0;
    record->quietOffline = 0;
    record->credentialStore = 0;
    kept->version = 0;
    kept->length = 0;
    if (!extension_block_valid(bytes, size))
        return;
    const unsigned char *version = bytes + SETTINGS_EXTENSION_TAG_SIZE;
    kept->version = version[0];
    kept->length = version[1];
    memcpy(kept->values, version + 2, kept->length);
    record->unseenOnly = (version[2] & SETTINGS_EXTENSION_UNSEEN_ONLY) != 0;
    record->showHeaders = (version[2] & SETTINGS_EXTENSION_SHOW_HEADERS) != 0;
    record->notifyBalloon = (version[2] & SETTINGS_EXTENSION_NOTIFY_BALLOON) != 0;
    record->quietOffline = (version[2] & SETTINGS_EXTENSION_QUIET_OFFLINE) != 0;
    record->credentialStore = (version[2] & SETTINGS_EXTENSION_CREDENTIAL_STORE) != 0;
}

// The values a save writes: those of the block read, with the ones this
// version knows as `record` holds them. Gives their count.
static size_t extension_values(const SettingsRecord *record, const SettingsExtension *kept, unsigned char *values)
{
    size_t length = 1;
    values[0] = 0;
    if (kept->version && kept->length) {
        length = kept->length;
        memcpy(values, kept->values, length);
    }
    values[0] &= (unsigned char)~(SETTINGS_EXTENSION_UNSEEN_ONLY | SETTINGS_EXTENSION_SHOW_HEADERS |
                                  SETTINGS_EXTENSION_NOTIFY_BALLOON | SETTINGS_EXTENSION_QUIET_OFFLINE |
                                  SETTINGS_EXTENSION_CREDENTIAL_STORE);
    values[0] |= (unsigned char)((record->unseenOnly ? SETTINGS_EXTENSION_UNSEEN_ONLY : 0) |
                                 (record->showHeaders ? SETTINGS_EXTENSION_SHOW_HEADERS : 0) |
                                 (record->notifyBalloon ? SETTINGS_EXTENSION_NOTIFY_BALLOON : 0) |
                                 (record->quietOffline ? SETTINGS_EXTENSION_QUIET_OFFLINE : 0) |
                                 (record->credentialStore ? SETTINGS_EXTENSION_CREDENTIAL_STORE : 0));
    return length;
}

static int all_zero(const unsigned char *bytes, size_t size)
{
    for (size_t i = 0; i < size; i++)
        if (bytes[i])
            return 0;
    return 1;
}

int encode_settings_extension(const SettingsRecord *record, const SettingsExtension *kept, unsigned char *out,
                              size_t outSize, size_t *written)
{
    unsigned char values[SETTINGS_EXTENSION_MAX_VALUES];
    size_t length = extension_values(record, kept, values);
    *written = 0;
    if (all_zero(values, length))
        return 1;
    const size_t size = SETTINGS_EXTENSION_HEADER_SIZE + length + 1;
    if (outSize < size)
        return 0;
    memcpy(out, EXTENSION_TAG, sizeof EXTENSION_TAG);
    unsigned char *version = out + SETTINGS_EXTENSION_TAG_SIZE;
    version[0] = kept->version ? kept->version : (unsigned char)SETTINGS_EXTENSION_VERSION;
    version[1] = (unsigned char)length;
    memcpy(version + 2, values, length);
    version[2 + length] = extension_check(version, 2 + length);
    *written = size;
    return 1;
}

static int decode_failed(SettingsDecodeResult *result, int outcome, int field)
{
    result->outcome = outcome;
    result->field = field;
    result->end = 0;
    return 0;
}

int decode_settings(const unsigned char *bytes, size_t size, SettingsRecord *record, SettingsExtension *kept,
                    SettingsDecodeResult *result)
{
    if (size == 0)
        return decode_failed(result, SETTINGS_EMPTY, -1);
    if (bytes[0] != SETTINGS_FORMAT_VERSION)
        return decode_failed(result, SETTINGS_BAD_VERSION, -1);
    size_t at = 1;
    for (int field = 0; field < SETTINGS_FIELD_COUNT; field++) {
        size_t used;
        if (!decode_field(bytes + at, size - at, record, field, &used))
            return decode_failed(result, SETTINGS_FIELD_UNREADABLE, field);
        at += used;
    }
    decode_settings_extension(bytes + at, size - at, record, kept);
    result->outcome = SETTINGS_DECODED;
    result->field = -1;
    result->end = at;
    return 1;
}

int encode_settings(const SettingsRecord *record, const SettingsExtension *kept, unsigned char *out,
                    size_t outSize, size_t *size, int *failedField)
{
    *failedField = -1;
    if (outSize < 1)
        return 0;
    out[0] = SETTINGS_FORMAT_VERSION;
    size_t at = 1;
    for (int field = 0; field < SETTINGS_FIELD_COUNT; field++) {
        size_t written;
        if (!encode_field(record, field, out + at, outSize - at, &written)) {
            *failedField = field;
            return 0;
        }
        at += written;
    }
    size_t written;
    if (!encode_settings_extension(record, kept, out + at, outSize - at, &written))
        return 0;
    *size = at + written;
    return 1;
}
