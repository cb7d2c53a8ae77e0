// The bytes of "Sorvane.dat", decided without touching the platform: a
// version byte, then the eleven fields of the record in order. Text fields
// are the value's bytes and a 0x0A terminator, every byte XOR-ed with the
// scrambling key; the interval is such a text holding its decimal digits;
// the flags are raw 4-byte little-endian integers.
//
// Values are measured by byte count, never up to a NUL after scrambling:
// the key byte is a lead byte of many double-byte characters, and scrambling
// turns it into 0x00.
#ifndef SORVANE_SETTINGS_CODEC_H
#define SORVANE_SETTINGS_CODEC_H

#include <stddef.h>
#include "settings_record.h"

enum {
    SETTINGS_FORMAT_VERSION = 20,
    SCRAMBLE_KEY = 0xE5,
    TEXT_TERMINATOR = 0x0A,
    SCRAMBLED_TERMINATOR = TEXT_TERMINATOR ^ SCRAMBLE_KEY,
    // The most bytes a text field holds before its terminator is one less
    // than this; the interval's decimal text is read into one of this size.
    TEXT_FIELD_BUFFER_SIZE = 256,
    INT_FIELD_SIZE = 4,
    // Room for "-2147483648" and its NUL.
    DECIMAL_TEXT_CAPACITY = 12
};

// The fields in file order.
enum SettingsField {
    FIELD_SERVER,
    FIELD_USER,
    FIELD_PASS,
    FIELD_AUTO_CHECK_TIME,
    FIELD_SHOW_PROGRESS,
    FIELD_MAIL_PATH,
    FIELD_MAIL_PATH_ASK,
    FIELD_OKSND_PATH,
    FIELD_OK_MES,
    FIELD_NOSND_PATH,
    FIELD_NO_MES,
    SETTINGS_FIELD_COUNT
};

enum SettingsFieldKind {
    FIELD_KIND_TEXT,    // scrambled text, stored in a char array of the record
    FIELD_KIND_DECIMAL, // scrambled decimal text, stored in an int
    FIELD_KIND_INT32    // 4 raw bytes, stored in an int
};

struct SettingsFieldInfo {
    const char *name;
    int kind;
    size_t offset;   // of the member in SettingsRecord
    size_t capacity; // text: the member's size, NUL included; else 0
};
extern const SettingsFieldInfo SETTINGS_FIELDS[SETTINGS_FIELD_COUNT];

// The record's member of a text field, or of a number field.
char *settings_text_of(SettingsRecord *record, int field);
const char *settings_const_text_of(const SettingsRecord *record, int field);
int *settings_int_of(SettingsRecord *record, int field);
int settings_int_value(const SettingsRecord *record, int field);

// After `noMes` the file may carry an extension block with the settings
// added later: the tag "SVEX", a version byte, a length byte, that many
// value bytes, and a check byte (the low byte of the sum of version, length
// and values, inverted). A reader of the eleven fields never looks past
// `noMes`, so older versions of the program ignore the block. Every value's
// default is 0, and a block is written only when a value in it is not, so a
// file of someone who uses none of them stays byte for byte what it always
// was. Version 1 holds one value byte: the flags (bit 0: unseenOnly, bit 1:
// showHeaders, bit 2: notifyBalloon, bit 3: quietOffline, bit 4:
// credentialStore; the later ones came in the same version, so an older
// copy keeps them as bits it does not know). A
// later version keeps the values of the versions before it where they are
// and adds its own after them, or in flag bits unused before: its block
// loads here with the values this version knows, and a save gives back the
// rest as they were read, so that running this version does not cost the
// user the settings of a newer one.
enum {
    SETTINGS_EXTENSION_VERSION = 1,
    SETTINGS_EXTENSION_TAG_SIZE = 4,
    SETTINGS_EXTENSION_HEADER_SIZE = SETTINGS_EXTENSION_TAG_SIZE + 2,
    SETTINGS_EXTENSION_MAX_VALUES = 255,
    SETTINGS_EXTENSION_MAX_SIZE = SETTINGS_EXTENSION_HEADER_SIZE + SETTINGS_EXTENSION_MAX_VALUES + 1,
    SETTINGS_EXTENSION_UNSEEN_ONLY = 0x01,
    SETTINGS_EXTENSION_SHOW_HEADERS = 0x02,
    SETTINGS_EXTENSION_NOTIFY_BALLOON = 0x04,
    SETTINGS_EXTENSION_QUIET_OFFLINE = 0x08,
    SETTINGS_EXTENSION_CREDENTIAL_STORE = 0x10
};
// A block's version and values as read (version 0: none was read), kept
// beside the record for the save.
struct SettingsExtension {
    unsigned char version;
    unsigned char length;
    unsigned char values[SETTINGS_EXTENSION_MAX_VALUES];
};
// Largest file prefix the decoder can look at: every text field full, the
// interval text as long as its buffer admits, the largest extension block.
// Bytes after it never matter.
enum {
    SETTINGS_FIELDS_MAX_SIZE = 1 + 3 * ACCOUNT_TEXT_CAPACITY + TEXT_FIELD_BUFFER_SIZE + 3 * PATH_TEXT_CAPACITY
        + 4 * INT_FIELD_SIZE,
    SETTINGS_FILE_MAX_SIZE = SETTINGS_FIELDS_MAX_SIZE + SETTINGS_EXTENSION_MAX_SIZE
};
// How much of the file the loader reads: the largest record with the
// largest extension block.
enum { SETTINGS_READ_LIMIT = SETTINGS_FILE_MAX_SIZE };

// The bytes after `noMes`: the extension values of `record` and the block
// in `*kept` from a block there, or the defaults and no block when there is
// none, or it is cut, of version 0 or damaged. Never fails.
void decode_settings_extension(const unsigned char *bytes, size_t size, SettingsRecord *record,
                               SettingsExtension *kept);
// The block for `record`: the values of `kept` with the ones this version
// knows taken from `record`, in `kept`'s version (or this one's when none
// was read). Into `out` (SETTINGS_EXTENSION_MAX_SIZE bytes suffice);
// `*written` is 0 when every value is 0, and no block is written then.
// 0 when `out` is too small.
int encode_settings_extension(const SettingsRecord *record, const SettingsExtension *kept, unsigned char *out,
                              size_t outSize, size_t *written);

// XORs `size` bytes with the key, in place. Applying it twice gives the
// bytes back, whatever they hold.
void scramble_bytes(unsigned char *bytes, size_t size);

// The plain decimal conversion: leading white space, an optional sign,
// digits up to the first non-digit; no digits gives 0. Saturates at the
// int range, so a long run of digits cannot overflow.
int parse_decimal(const char *text);
// Writes `value` in base 10 into `out` (DECIMAL_TEXT_CAPACITY bytes).
void format_decimal(int value, char *out);

// Decodes the scrambled bytes of one text field, its terminator excluded,
// into `dest` of `capacity` bytes. 0 when the value would not fit (the
// field is unreadable), `dest` then unchanged. A value cut by an 0x00 byte
// ends there, as a C string does.
int decode_text_value(const unsigned char *raw, size_t size, char *dest, size_t capacity);
int decode_int32(const unsigned char raw[INT_FIELD_SIZE]);
void encode_int32(int value, unsigned char out[INT_FIELD_SIZE]);

// Encodes `value` (at most `capacity` bytes, NUL included) as a text field:
// scrambled bytes and scrambled terminator, into `out` of `outSize` bytes.
// 0 when the value cannot be stored: it holds 0x0A (which would end the
// field early), has no NUL within `capacity`, or does not fit in `out`.
int encode_text_field(const char *value, size_t capacity, unsigned char *out, size_t outSize, size_t *written);

// One field of `record` in its file form. `out` needs TEXT_FIELD_BUFFER_SIZE
// bytes at most.
int encode_field(const SettingsRecord *record, int field, unsigned char *out, size_t outSize, size_t *written);

enum SettingsDecodeOutcome {
    SETTINGS_DECODED,
    SETTINGS_EMPTY,         // not even the version byte
    SETTINGS_BAD_VERSION,   // first byte is not SETTINGS_FORMAT_VERSION
    SETTINGS_FIELD_UNREADABLE // `field` ends early or is too long
};
struct SettingsDecodeResult {
    int outcome;
    int field;  // the failing field for SETTINGS_FIELD_UNREADABLE, else -1
    size_t end; // SETTINGS_DECODED: the offset just past noMes, else 0
};

// Reads a file image into `record`, field by field: the fields before a
// failing one hold the file's values; the failing field and those after it,
// the extension values and `*kept` stay as they were. 1 when all eleven
// fields were read; the extension values and `*kept` then come from the
// bytes after them. The outcome depends on the first SETTINGS_FILE_MAX_SIZE
// bytes only.
int decode_settings(const unsigned char *bytes, size_t size, SettingsRecord *record, SettingsExtension *kept,
                    SettingsDecodeResult *result);

// Writes the whole file image of `record`, extension block included (with
// what `kept` holds beyond the values this version knows), into `out`
// (SETTINGS_FILE_MAX_SIZE bytes suffice). 0 with `*failedField` when a
// field cannot be stored.
int encode_settings(const SettingsRecord *record, const SettingsExtension *kept, unsigned char *out,
                    size_t outSize, size_t *size, int *failedField);

#endif
