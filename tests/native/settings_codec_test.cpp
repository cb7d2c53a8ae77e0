// The bytes of the settings file, checked on fixed byte arrays, natively
// under AddressSanitizer and UBSan.
#include <gtest/gtest.h>
#include "settings/settings_codec.h"
#include "settings/accounts_codec.h"
#include "tests/support/sample_settings.h"
#include <limits.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

const SettingsExtension NO_BLOCK = {};

Bytes encode(const SettingsRecord &r, const SettingsExtension &kept = NO_BLOCK)
{
    Bytes out(SETTINGS_FILE_MAX_SIZE);
    size_t size = 0;
    int failed = -2;
    EXPECT_EQ(encode_settings(&r, &kept, out.data(), out.size(), &size, &failed), 1);
    EXPECT_EQ(failed, -1);
    out.resize(size);
    return out;
}

using sample::blank;
using sample::full;
// Every field holds something other than the zero record, so that a field
// left unchanged by a failed load can be told from one that was read.
const SettingsRecord SENTINEL = sample::untouched();

void expect_same(const SettingsRecord &a, const SettingsRecord &b)
{
    for (int f = 0; f < SETTINGS_FIELD_COUNT; f++) {
        SCOPED_TRACE(SETTINGS_FIELDS[f].name);
        if (SETTINGS_FIELDS[f].kind == FIELD_KIND_TEXT)
            EXPECT_STREQ(settings_const_text_of(&a, f), settings_const_text_of(&b, f));
        else
            EXPECT_EQ(settings_int_value(&a, f), settings_int_value(&b, f));
    }
}

SettingsDecodeResult decode(const Bytes &bytes, SettingsRecord *r, SettingsExtension *kept = NULL)
{
    SettingsExtension unused;
    SettingsDecodeResult result = {-1, -2, 99999};
    int ok = decode_settings(bytes.data(), bytes.size(), r, kept ? kept : &unused, &result);
    EXPECT_EQ(ok, result.outcome == SETTINGS_DECODED);
    return result;
}

TEST(SettingsGolden, EmptyRecordIsTwentyFiveBytes)
{
    const Bytes expected = {0x14, 0xEF, 0xEF, 0xEF, 0xD5, 0xEF, 0, 0, 0, 0, 0xEF, 0, 0,
                            0,    0,    0xEF, 0,    0,    0,    0, 0xEF, 0, 0, 0, 0};
    EXPECT_EQ(encode(blank()), expected);
    SettingsRecord r = SENTINEL;
    EXPECT_EQ(decode(expected, &r).outcome, SETTINGS_DECODED);
    expect_same(r, blank());
}

// The interval's field sits after the version byte and three empty texts.
TEST(SettingsGolden, IntervalIsScrambledDecimalText)
{
    struct {
        int value;
        Bytes field;
    } cases[] = {
        {15, {0xD4, 0xD0, 0xEF}},
        {-5, {0xC8, 0xD0, 0xEF}},
        {0, {0xD5, 0xEF}},
        {INT_MIN, {0xC8, 0xD7, 0xD4, 0xD1, 0xD2, 0xD1, 0xDD, 0xD6, 0xD3, 0xD1, 0xDD, 0xEF}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        SettingsRecord r = blank();
        r.autoCheckTime = c.value;
        Bytes bytes = encode(r);
        EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.begin() + 4 + c.field.size()), c.field);
        SettingsRecord back = SENTINEL;
        EXPECT_EQ(decode(bytes, &back).outcome, SETTINGS_DECODED);
        EXPECT_EQ(back.autoCheckTime, c.value);
    }
}

TEST(SettingsGolden, FlagsAreRawLittleEndian)
{
    SettingsRecord r = blank();
    r.showProgress = 1;
    r.noMes = 0x01020304;
    Bytes bytes = encode(r);
    ASSERT_EQ(bytes.size(), 25u);
    EXPECT_EQ(Bytes(bytes.begin() + 6, bytes.begin() + 10), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(Bytes(bytes.begin() + 21, bytes.end()), (Bytes{4, 3, 2, 1}));
}

// The key byte is a lead or trail byte of many double-byte characters and
// scrambles to 0x00; such values must come back whole, wherever it stands.
TEST(SettingsGolden, ValuesHoldingTheKeyByteComeBackWhole)
{
    const char *values[] = {
        "\xE5\x8F",                         // key byte first
        "\x8A\xE5\x93\xFA\x96\x7B\xE5\x40", // as trail and as lead byte
        "C:\\\x83\x81\x81\x5B\x83\x8B\\\xE5\xE5.wav",
    };
    for (const char *v : values) {
        SCOPED_TRACE(v);
        SettingsRecord r = blank();
        strcpy(r.pass, v);
        strcpy(r.oksndPath, v);
        Bytes bytes = encode(r);
        size_t n = strlen(v);
        ASSERT_EQ(bytes.size(), 25u + 2 * n);
        for (size_t i = 0; i < n; i++)
            EXPECT_EQ(bytes[3 + i], (unsigned char)(v[i] ^ 0xE5)) << i;
        EXPECT_EQ(bytes[3 + n], 0xEF);
        SettingsRecord back = SENTINEL;
        EXPECT_EQ(decode(bytes, &back).outcome, SETTINGS_DECODED);
        expect_same(back, r);
    }
}

TEST(SettingsRoundTrip, FullRecordAtEveryCapacity)
{
    SettingsRecord r = full();
    Bytes bytes = encode(r);
    EXPECT_EQ(bytes.size(), 1u + 3 * 128 + 12 + 4 + 3 * 256 + 3 * 4);
    SettingsRecord back = blank();
    EXPECT_EQ(decode(bytes, &back).outcome, SETTINGS_DECODED);
    expect_same(back, r);
}

TEST(SettingsRoundTrip, BytesAfterTheLastFieldAreIgnored)
{
    Bytes bytes = encode(full());
    const size_t recordEnd = bytes.size();
    bytes.insert(bytes.end(), {0x14, 0xEF, 0x00, 0xFF});
    SettingsRecord back = blank();
    SettingsDecodeResult result = decode(bytes, &back);
    EXPECT_EQ(result.outcome, SETTINGS_DECODED);
    EXPECT_EQ(result.end, recordEnd); // where what follows the record begins
    expect_same(back, full());
}

TEST(SettingsDecode, EmptyAndForeignFilesLeaveTheRecordAlone)
{
    struct {
        Bytes bytes;
        int outcome;
    } cases[] = {
        {{}, SETTINGS_EMPTY},
        {{19}, SETTINGS_BAD_VERSION},
        {{21, 0xEF, 0xEF}, SETTINGS_BAD_VERSION},
        {{0}, SETTINGS_BAD_VERSION},
        {encode(full()), SETTINGS_DECODED},
    };
    cases[4].bytes[0] = 0x15; // a whole record of another version
    cases[4].outcome = SETTINGS_BAD_VERSION;
    for (const auto &c : cases) {
        SettingsRecord r = SENTINEL;
        SettingsDecodeResult result = decode(c.bytes, &r);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.field, -1);
        expect_same(r, SENTINEL);
    }
}

// Cut a full record at every length: the field the cut falls in fails, the
// fields before it hold the file's values and the rest stay as they were
// (an integer cut part-way is not half-written).
TEST(SettingsDecode, TruncationAtEveryOffsetFailsTheFieldItFallsIn)
{
    const SettingsRecord original = full();
    const Bytes bytes = encode(original);
    std::vector<size_t> ends; // offset just past each field
    size_t at = 1;
    for (int f = 0; f < SETTINGS_FIELD_COUNT; f++) {
        unsigned char field[TEXT_FIELD_BUFFER_SIZE];
        size_t n;
        ASSERT_EQ(encode_field(&original, f, field, sizeof field, &n), 1);
        at += n;
        ends.push_back(at);
    }
    ASSERT_EQ(at, bytes.size());
    for (size_t cut = 1; cut < bytes.size(); cut++) {
        SCOPED_TRACE(cut);
        int expected = 0;
        while (ends[expected] <= cut)
            expected++;
        SettingsRecord r = SENTINEL;
        SettingsDecodeResult result = decode(Bytes(bytes.begin(), bytes.begin() + cut), &r);
        ASSERT_EQ(result.outcome, SETTINGS_FIELD_UNREADABLE);
        ASSERT_EQ(result.field, expected);
        SettingsRecord want = SENTINEL;
        for (int f = 0; f < expected; f++) {
            const SettingsFieldInfo &info = SETTINGS_FIELDS[f];
            memcpy((char *)&want + info.offset, (const char *)&original + info.offset,
                   info.kind == FIELD_KIND_TEXT ? info.capacity : sizeof(int));
        }
        expect_same(r, want);
    }
}

// A damaged file whose text field is longer than its member (or than any
// field can be) is unreadable there, without writing past anything.
TEST(SettingsDecode, OverlongTextFieldsAreUnreadable)
{
    struct {
        int field;
        size_t length;
        bool readable;
    } cases[] = {
        {FIELD_SERVER, 127, true},       {FIELD_SERVER, 128, false},    {FIELD_PASS, 255, false},
        {FIELD_AUTO_CHECK_TIME, 255, true}, {FIELD_AUTO_CHECK_TIME, 256, false},
        {FIELD_MAIL_PATH, 255, true},    {FIELD_MAIL_PATH, 256, false}, {FIELD_NOSND_PATH, 1000, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(SETTINGS_FIELDS[c.field].name) + " " + std::to_string(c.length));
        SettingsRecord r = blank();
        Bytes bytes = encode(r);
        // Put the long field in place of the short one ("" or "0").
        auto width = [](int f) { return SETTINGS_FIELDS[f].kind == FIELD_KIND_INT32 ? 4 : (f == FIELD_AUTO_CHECK_TIME ? 2 : 1); };
        size_t at = 1;
        for (int f = 0; f < c.field; f++)
            at += width(f);
        bytes.erase(bytes.begin() + at, bytes.begin() + at + width(c.field));
        Bytes raw(c.length, (unsigned char)('7' ^ 0xE5));
        raw.push_back(0xEF);
        bytes.insert(bytes.begin() + at, raw.begin(), raw.end());
        SettingsRecord back = SENTINEL;
        SettingsDecodeResult result = decode(bytes, &back);
        if (c.readable) {
            EXPECT_EQ(result.outcome, SETTINGS_DECODED);
            if (c.field == FIELD_AUTO_CHECK_TIME)
                EXPECT_EQ(back.autoCheckTime, INT_MAX);
            else
                EXPECT_EQ(strlen(settings_text_of(&back, c.field)), c.length);
        } else {
            EXPECT_EQ(result.outcome, SETTINGS_FIELD_UNREADABLE);
            EXPECT_EQ(result.field, c.field);
            if (SETTINGS_FIELDS[c.field].kind == FIELD_KIND_TEXT)
                EXPECT_STREQ(settings_text_of(&back, c.field), settings_const_text_of(&SENTINEL, c.field));
        }
    }
}

// A raw 0xE5 in a field written elsewhere is a NUL in the value: the value
// ends there, and the fields after it are still found.
TEST(SettingsDecode, AnEmbeddedNulEndsTheValueButNotTheField)
{
    Bytes bytes = encode(blank());
    const unsigned char raw[] = {'a' ^ 0xE5, 0xE5, 'b' ^ 0xE5};
    bytes.insert(bytes.begin() + 1, raw, raw + sizeof raw);
    bytes[bytes.size() - 4] = 1; // noMes
    SettingsRecord r = SENTINEL;
    EXPECT_EQ(decode(bytes, &r).outcome, SETTINGS_DECODED);
    EXPECT_STREQ(r.server, "a");
    EXPECT_STREQ(r.user, "");
    EXPECT_EQ(r.noMes, 1);
}

TEST(SettingsEncode, ValuesThatCannotBeStoredNameTheirField)
{
    struct {
        int field;
        const char *value;
    } cases[] = {
        {FIELD_SERVER, "mail\nserver"},
        {FIELD_PASS, "\n"},
        {FIELD_NOSND_PATH, "C:\\a\n.wav"},
    };
    for (const auto &c : cases) {
        SettingsRecord r = full();
        strcpy(settings_text_of(&r, c.field), c.value);
        unsigned char out[SETTINGS_FILE_MAX_SIZE];
        size_t size = 0;
        int failed = -2;
        EXPECT_EQ(encode_settings(&r, &NO_BLOCK, out, sizeof out, &size, &failed), 0);
        EXPECT_EQ(failed, c.field);
    }
    // A member without its NUL is not read past.
    SettingsRecord r = full();
    memset(r.user, 'x', sizeof r.user);
    unsigned char out[SETTINGS_FILE_MAX_SIZE];
    size_t size = 0;
    int failed = -2;
    EXPECT_EQ(encode_settings(&r, &NO_BLOCK, out, sizeof out, &size, &failed), 0);
    EXPECT_EQ(failed, FIELD_USER);
    // Nor is the output buffer written past: the 25-byte record in 24.
    SettingsRecord empty = blank();
    EXPECT_EQ(encode_settings(&empty, &NO_BLOCK, out, 24, &size, &failed), 0);
    EXPECT_EQ(failed, FIELD_NO_MES);
}

TEST(SettingsDecimal, PlainConversionSaturates)
{
    struct {
        const char *text;
        int value;
    } cases[] = {
        {"15", 15},
        {"-5", -5},
        {"+7", 7},
        {" \t\v\f\r 42", 42},
        {"007", 7},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"- 5", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-2147483649", INT_MIN},
        {"99999999999999999999999999999999", INT_MAX},
        {"-99999999999999999999999999999999", INT_MIN},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse_decimal(c.text), c.value) << c.text;
}

TEST(SettingsDecimal, FormatGivesTheShortestDigits)
{
    struct {
        int value;
        const char *text;
    } cases[] = {{0, "0"}, {5, "5"}, {-5, "-5"}, {100, "100"}, {INT_MAX, "2147483647"}, {INT_MIN, "-2147483648"}};
    for (const auto &c : cases) {
        char text[DECIMAL_TEXT_CAPACITY];
        memset(text, 'x', sizeof text);
        format_decimal(c.value, text);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(parse_decimal(text), c.value);
    }
}

// The extension block after `noMes`: written only when a value differs
// from its default; read back whole; ignored with the defaults when cut,
// of another version or damaged, without failing the load.
TEST(SettingsExtension, GoldenBlockAfterTheElevenFields)
{
    const Bytes plain = encode(blank());
    SettingsRecord r = blank();
    r.unseenOnly = 1;
    Bytes bytes = encode(r);
    const Bytes block = {'S', 'V', 'E', 'X', 1, 1, 1, 0xFC};
    ASSERT_EQ(bytes.size(), plain.size() + block.size());
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + plain.size()), plain);
    EXPECT_EQ(Bytes(bytes.begin() + plain.size(), bytes.end()), block);
    SettingsRecord back = SENTINEL;
    EXPECT_EQ(decode(bytes, &back).outcome, SETTINGS_DECODED);
    EXPECT_EQ(back.unseenOnly, 1);
    // A full record with the block.
    r = full();
    r.unseenOnly = 1;
    EXPECT_EQ(encode(r).size(), 1u + 3 * 128 + 12 + 4 + 3 * 256 + 3 * 4 + block.size());
}

// The display settings share the flag byte: each alone and together, to
// the block's bytes and back.
TEST(SettingsExtension, DisplayFlagsAreBitsOneAndTwo)
{
    const Bytes plain = encode(blank());
    struct {
        int unseenOnly, showHeaders, notifyBalloon;
        Bytes block;
        int credentialStore = 0;
    } rows[] = {
        {0, 1, 0, {'S', 'V', 'E', 'X', 1, 1, 0x02, 0xFB}},
        {0, 0, 1, {'S', 'V', 'E', 'X', 1, 1, 0x04, 0xF9}},
        {1, 1, 1, {'S', 'V', 'E', 'X', 1, 1, 0x07, 0xF6}},
        {0, 0, 0, {'S', 'V', 'E', 'X', 1, 1, 0x10, 0xED}, 1},
    };
    for (const auto &row : rows) {
        SettingsRecord r = blank();
        r.unseenOnly = row.unseenOnly;
        r.showHeaders = row.showHeaders;
        r.notifyBalloon = row.notifyBalloon;
        r.credentialStore = row.credentialStore;
        Bytes want = plain;
        want.insert(want.end(), row.block.begin(), row.block.end());
        EXPECT_EQ(encode(r), want);
        SettingsRecord back = SENTINEL;
        ASSERT_EQ(decode(want, &back).outcome, SETTINGS_DECODED);
        EXPECT_EQ(back.unseenOnly, row.unseenOnly);
        EXPECT_EQ(back.showHeaders, row.showHeaders);
        EXPECT_EQ(back.notifyBalloon, row.notifyBalloon);
        EXPECT_EQ(back.credentialStore, row.credentialStore);
    }
    SettingsRecord none = SENTINEL;
    ASSERT_EQ(decode(plain, &none).outcome, SETTINGS_DECODED);
    EXPECT_EQ(none.showHeaders + none.notifyBalloon + none.credentialStore, 0);
}

TEST(SettingsExtension, BadBlocksGiveTheDefaultsAndTheFieldsStillLoad)
{
    const Bytes fields = encode(full());
    struct {
        const char *name;
        Bytes block; // the bytes after `noMes`
        int unseenOnly;
    } cases[] = {
        {"whole", {'S', 'V', 'E', 'X', 1, 1, 1, 0xFC}, 1},
        {"followed by more", {'S', 'V', 'E', 'X', 1, 1, 1, 0xFC, 0, 1, 2}, 1},
        {"a longer block of the same version", {'S', 'V', 'E', 'X', 1, 2, 1, 0x55, 0xA6}, 1},
        {"an unknown flag", {'S', 'V', 'E', 'X', 1, 1, 2, 0xFB}, 0},
        {"none", {}, 0},
        {"cut in the tag", {'S', 'V'}, 0},
        {"cut before the check", {'S', 'V', 'E', 'X', 1, 1, 1}, 0},
        {"another tag", {'s', 'V', 'E', 'X', 1, 1, 1, 0xFC}, 0},
        {"a later version", {'S', 'V', 'E', 'X', 2, 1, 1, 0xFB}, 1},
        {"version 0", {'S', 'V', 'E', 'X', 0, 1, 1, 0xFD}, 0},
        {"no values", {'S', 'V', 'E', 'X', 1, 0, 0xFE}, 0},
        {"length past the end", {'S', 'V', 'E', 'X', 1, 5, 1, 0xF8}, 0},
        {"value damaged", {'S', 'V', 'E', 'X', 1, 1, 3, 0xFC}, 0},
    };
    for (auto &c : cases) {
        Bytes bytes = fields;
        bytes.insert(bytes.end(), c.block.begin(), c.block.end());
        SettingsRecord back = blank();
        back.unseenOnly = 7;
        EXPECT_EQ(decode(bytes, &back).outcome, SETTINGS_DECODED) << c.name;
        expect_same(back, full());
        EXPECT_EQ(back.unseenOnly, c.unseenOnly) << c.name;
    }
}

TEST(SettingsExtension, AFailedLoadLeavesTheExtensionAlone)
{
    SettingsRecord r = SENTINEL;
    r.unseenOnly = 1;
    SettingsExtension kept = {2, 1, {0x81}};
    Bytes cut = encode(full());
    cut.pop_back();
    EXPECT_EQ(decode(cut, &r, &kept).outcome, SETTINGS_FIELD_UNREADABLE);
    EXPECT_EQ(r.unseenOnly, 1);
    EXPECT_EQ(kept.version, 2);
    EXPECT_EQ(kept.values[0], 0x81);
}

// A block that a later version wrote (a higher version, more values, flag
// bits unknown here) loads with the values this version knows; a save
// gives the others back as they were and the known ones as they are now.
TEST(SettingsExtension, ALaterVersionsValuesComeBackOutOfASave)
{
    const Bytes fields = encode(blank());
    const Bytes newer = {'S', 'V', 'E', 'X', 2, 3, 0x01, 0x7F, 0x80, 0xFA};
    const Bytes ours = {'S', 'V', 'E', 'X', 1, 1, 1, 0xFC};
    struct {
        const char *name;
        Bytes read;     // the bytes after `noMes`
        int unseenOnly; // as read
        Bytes saved[2]; // the block saved with unseenOnly off, and on
    } rows[] = {
        {"a higher version with more values", newer, 1, {{'S', 'V', 'E', 'X', 2, 3, 0x00, 0x7F, 0x80, 0xFB}, newer}},
        {"flags unknown here", {'S', 'V', 'E', 'X', 1, 1, 0x03, 0xFA}, 1,
         {{'S', 'V', 'E', 'X', 1, 1, 0x02, 0xFB}, {'S', 'V', 'E', 'X', 1, 1, 0x03, 0xFA}}},
        {"a bit unknown here beside the credential store's", {'S', 'V', 'E', 'X', 1, 1, 0x30, 0xCD}, 0,
         {{'S', 'V', 'E', 'X', 1, 1, 0x30, 0xCD}, {'S', 'V', 'E', 'X', 1, 1, 0x31, 0xCC}}},
        {"more values of this version", {'S', 'V', 'E', 'X', 1, 2, 0x00, 0x55, 0xA7}, 0,
         {{'S', 'V', 'E', 'X', 1, 2, 0x00, 0x55, 0xA7}, {'S', 'V', 'E', 'X', 1, 2, 0x01, 0x55, 0xA6}}},
        {"nothing but the flag known here", {'S', 'V', 'E', 'X', 2, 2, 0x01, 0x00, 0xFA}, 1,
         {{}, {'S', 'V', 'E', 'X', 2, 2, 0x01, 0x00, 0xFA}}},
        {"no block", {}, 0, {{}, ours}},
        {"a damaged block", {'S', 'V', 'E', 'X', 2, 3, 0x01, 0x7F, 0x80, 0xFB}, 0, {{}, ours}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = fields;
        file.insert(file.end(), row.read.begin(), row.read.end());
        SettingsRecord r = SENTINEL;
        SettingsExtension kept;
        ASSERT_EQ(decode(file, &r, &kept).outcome, SETTINGS_DECODED);
        expect_same(r, blank());
        EXPECT_EQ(r.unseenOnly, row.unseenOnly);
        for (int on = 0; on < 2; on++) {
            r.unseenOnly = on;
            Bytes want = fields;
            want.insert(want.end(), row.saved[on].begin(), row.saved[on].end());
            EXPECT_EQ(encode(r, kept), want) << "unseenOnly " << on;
        }
    }
}

// The accounts after the first, in their own file: every account comes
// back as stored; a file cut, damaged, foreign or of another version gives
// none at all, never half of them.
TEST(AccountsFile, StoredAccountsComeBackAndADamagedFileGivesNone)
{
    MoreAccounts in = {}, out;
    in.count = MORE_ACCOUNTS;
    for (int i = 0; i < MORE_ACCOUNTS; i++) {
        // Every text full; the key byte scrambles to 0x00.
        memset(in.account[i].server, 'a' + i, ACCOUNT_TEXT_CAPACITY - 1);
        memset(in.account[i].user, 'u', ACCOUNT_TEXT_CAPACITY - 1);
        memcpy(in.account[i].user, "\x91\xbe\x98\x59", 4); // 太郎 in code page 932
        memset(in.account[i].pass, i == 6 ? 'p' : '\xE5', ACCOUNT_TEXT_CAPACITY - 1);
        in.account[i].unseenOnly = i % 2;
    }
    Bytes file(ACCOUNTS_FILE_MAX_SIZE);
    size_t size = 0;
    ASSERT_EQ(encode_accounts(&in, file.data(), file.size(), &size), 1);
    EXPECT_EQ(size, file.size()) << "seven full accounts fill the largest file";
    ASSERT_EQ(decode_accounts(file.data(), size, &out), ACCOUNTS_DECODED);
    EXPECT_EQ(memcmp(&in, &out, sizeof in), 0);
    EXPECT_EQ(decode_accounts(file.data(), 0, &out), ACCOUNTS_NONE);

    for (size_t cut = 1; cut < size; cut++)
        EXPECT_EQ(decode_accounts(file.data(), cut, &out), ACCOUNTS_DAMAGED) << "cut at " << cut;
    for (size_t at = 0; at < size; at++) {
        Bytes bad(file.begin(), file.begin() + size);
        bad[at] ^= 0x01;
        EXPECT_EQ(decode_accounts(bad.data(), bad.size(), &out), ACCOUNTS_DAMAGED) << "byte " << at;
        EXPECT_EQ(out.count, 0);
    }
    Bytes longer(file.begin(), file.begin() + size);
    longer.push_back(0);
    EXPECT_EQ(decode_accounts(longer.data(), longer.size(), &out), ACCOUNTS_DAMAGED);

    MoreAccounts refused = in;
    refused.account[3].user[0] = '\n';
    EXPECT_EQ(encode_accounts(&refused, file.data(), file.size(), &size), 0);
    refused = in;
    refused.count = MAX_ACCOUNTS;
    EXPECT_EQ(encode_accounts(&refused, file.data(), file.size(), &size), 0);
}

} // namespace
