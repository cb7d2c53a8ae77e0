// The sender and subject of a message as the new-mail box shows them, from
// header blocks as Japanese and other mailers write them, and from broken
// ones that must neither crash nor swallow what follows.
#include <gtest/gtest.h>
#include "pop3/header_text.h"
#include <string.h>
#include <string>

using namespace std::string_literals;

namespace {

// Expected code page 932 bytes, by character.
#define NICHI "\x93\xFA" // 日
#define HON "\x96\x7B"   // 本
#define GO "\x8C\xEA"    // 語
#define KAI "\x89\xEF"   // 会
#define GI "\x8B\x63"    // 議
#define NO "\x82\xCC"    // の
#define KEN "\x8C\x8F"   // 件
#define YAMA "\x8E\x52"  // 山
#define DA "\x93\x63"    // 田
#define TA "\x91\xBE"    // 太
#define RO "\x98\x59"    // 郎
#define WAVE "\x81\x60"  // 〜

// Stand-in for header_charsets_win.cpp: what Wine 8's MultiByteToWideChar
// and WideCharToMultiByte(932) gave for the characters these tests use;
// any other character is "?". A short table rather than iconv's CP932:
// iconv turns U+301C into 0x8160 by itself, which would hide whether the
// decoder folds it, and it has no best fit ("é" is "e" on Windows).
const struct {
    unsigned short unit;
    const char *bytes;
} MEASURED[] = {
    {0x65E5, NICHI}, {0x672C, HON}, {0x8A9E, GO}, {0x4F1A, KAI}, {0x8B70, GI},
    {0x306E, NO},    {0x4EF6, KEN}, {0x5C71, YAMA}, {0x7530, DA}, {0x592A, TA},
    {0x90CE, RO},    {0xFF5E, WAVE}, {0xFF0D, "\x81\x7C"}, {0x2225, "\x81\x61"}, {0x2015, "\x81\x5C"},
    {0x00E9, "e"},
};

// UTF-8 with a truncated or stray sequence as one U+FFFD, as Wine does.
size_t stand_in_unicode(unsigned codePage, const char *bytes, size_t size, unsigned short *wide)
{
    const unsigned char *t = (const unsigned char *)bytes;
    size_t k = 0;
    for (size_t i = 0; i < size;) {
        unsigned c = t[i++];
        int more = codePage == HEADER_CP_LATIN1 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0, got = 0;
        unsigned long u = more ? c & (0x3Fu >> more) : c;
        for (; got < more && i < size && (t[i] & 0xC0) == 0x80; got++)
            u = u << 6 | (t[i++] & 0x3F);
        if (got < more || (codePage == HEADER_CP_UTF8 && c >= 0x80 && c < 0xC0))
            u = 0xFFFD;
        if (u > 0xFFFF) {
            wide[k++] = (unsigned short)(0xD800 + ((u - 0x10000) >> 10));
            u = 0xDC00 + (u & 0x3FF);
        }
        wide[k++] = (unsigned short)u;
    }
    return k;
}

size_t stand_in_cp932(const unsigned short *wide, size_t count, char *out)
{
    size_t k = 0;
    for (size_t i = 0; i < count; i++) {
        const char *bytes = wide[i] < 0x80 ? nullptr : "?";
        for (const auto &m : MEASURED)
            bytes = wide[i] == m.unit ? m.bytes : bytes;
        if (!bytes)
            out[k++] = (char)wide[i];
        for (; bytes && *bytes; bytes++)
            out[k++] = *bytes;
    }
    return k;
}

const HeaderCodePages PAGES = {stand_in_unicode, stand_in_cp932};

std::string subject_of(const std::string &block, size_t capacity = 256, int found = 1)
{
    std::string out(capacity + 1, '#'); // one guard byte
    EXPECT_EQ(header_subject(block.data(), block.size(), &PAGES, &out[0], capacity), found) << block;
    EXPECT_EQ(out[capacity], '#') << block;
    return capacity ? std::string(out.c_str()) : out;
}

std::string sender_of(const std::string &block)
{
    char out[256];
    EXPECT_EQ(header_sender(block.data(), block.size(), &PAGES, out, sizeof out), 1) << block;
    return out;
}

struct Row {
    const char *name;
    std::string value;
    std::string shown;
};

void expect_subjects(const Row *rows, size_t count)
{
    for (size_t i = 0; i < count; i++)
        EXPECT_EQ(subject_of("Subject: " + rows[i].value + "\r\n"), rows[i].shown) << rows[i].name;
}

TEST(HeaderText, SubjectsAsMailersEncodeThem)
{
    const Row rows[] = {
        {"ISO-2022-JP with NEC and IBM characters",
         "=?ISO-2022-JP?B?GyRCLSEycTVEGyhCIBskQi1qfGJ5dU1NGyhCIBskQi02GyhC?=",
         "\x87\x40" KAI GI " \x87\x8A\xEE\xE0\xED\x95\x97\x6C \x87\x55"}, // ①会議 ㈱髙﨑様 Ⅱ
        {"ISO-2022-JP either side of Shift_JIS's gaps", "=?ISO-2022-JP?B?GyRCXn5fISFfIWAbKEI=?=",
         "\x9F\xFC\xE0\x40\x81\x7E\x81\x80"}, // 滌漾×÷
        {"UTF-8 split inside a character, folded", "=?UTF-8?B?5pel5g==?=\r\n =?UTF-8?B?nKzoqp4=?=", NICHI HON GO},
        {"ISO-2022-JP split inside a pair", "=?iso-2022-jp?b?GyRCMg==?= =?ISO-2022-JP?B?cTVEGyhC?=", KAI GI},
        {"Q with underscores, Latin-1", "=?ISO-8859-1?Q?Caf=E9_au_lait?=", "Cafe au lait"},
        {"wave dash U+301C", "=?UTF-8?Q?10=E6=97=A5=E3=80=9C12=E6=97=A5?=", "10" NICHI WAVE "12" NICHI},
        {"full-width tilde U+FF5E", "=?UTF-8?B?MTDml6XvvZ4xMuaXpQ==?=", "10" NICHI WAVE "12" NICHI},
        {"JIS code points of other mailers", "=?UTF-8?Q?=E2=88=92=E2=80=96=C2=A0=E2=80=94?=", "\x81\x7C\x81\x61 \x81\x5C"},
        {"emoji is one ?", "=?UTF-8?B?5Lya6K2w8J+YgA==?=", KAI GI "?"},
        {"EUC-JP with half-width kana", "=?EUC-JP?B?xvzL3LjsjrE=?=", NICHI HON GO "\xB1"},
        {"Shift_JIS word", "=?Shift_JIS?B?ie+LY4LMjI8=?=", KAI GI NO KEN},
        {"US-ASCII Q, hex in lower case", "=?US-ASCII?q?a=3db?=", "a=b"},
        {"plain and words: blanks between words dropped, beside text kept",
         "Re: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=  =?ISO-2022-JP?B?GyRCJE43bxsoQg==?= (2)", "Re: " KAI GI NO KEN " (2)"},
        {"two charsets side by side", "=?ISO-2022-JP?B?GyRCMnEbKEI=?= =?UTF-8?B?5pel?=", KAI NICHI},
        {"word glued to text", "[ml:12]=?UTF-8?B?5pel5pys?=", "[ml:12]" NICHI HON},
        {"RFC 2231 language", "=?ISO-2022-JP*ja?B?GyRCMnE1RBsoQg==?=", KAI GI},
        {"unknown charset stands as it is", "=?KOI8-R?B?8NLJ18XU?= and =?UTF-8?B?5pel5pys?=",
         "=?KOI8-R?B?8NLJ18XU?= and " NICHI HON},
        {"raw Shift_JIS", "\x89\xEF\x8B\x63\x82\xCC\x8C\x8F", KAI GI NO KEN},
        {"raw UTF-8", "Re: 日本語 会議", "Re: " NICHI HON GO " " KAI GI},
        {"raw UTF-8 emoji", "会議🎉!", KAI GI "?!"},
        {"raw ISO-2022-JP", "\x1b$B2q5D\x1b(B memo", KAI GI " memo"},
    };
    expect_subjects(rows, sizeof rows / sizeof *rows);
}

TEST(HeaderText, BrokenWordsStayReadableAndKeepWhatFollows)
{
    const Row rows[] = {
        {"bad base64", "=?UTF-8?B?5pel*?= tail", "=?UTF-8?B?5pel*?= tail"},
        {"data after padding", "=?UTF-8?B?5pe=l?=", "=?UTF-8?B?5pe=l?="},
        {"bad Q escapes", "=?ISO-8859-1?Q?100=ZZ=?= ok", "100=ZZ= ok"},
        {"no end", "=?UTF-8?B?5pel5pys tail", "=?UTF-8?B?5pel5pys tail"},
        {"no encoding", "=?UTF-8?X?5pel?= =? =?UTF-8", "=?UTF-8?X?5pel?= =? =?UTF-8"},
        {"ISO-2022-JP never switches back", "=?ISO-2022-JP?B?GyRCMnE1RA==?= after", KAI GI " after"},
        {"ISO-2022-JP half a pair", "=?ISO-2022-JP?B?GyRCMg==?= after", "? after"},
        {"Shift_JIS cut after a lead byte", "=?SHIFT_JIS?B?ie+L?= x", KAI "? x"},
        {"UTF-8 cut inside a character", "=?UTF-8?B?5Lya6K0=?= x", KAI "? x"},
        {"EUC-JP cut after a lead byte", "=?EUC-JP?B?xvzG?= x", NICHI "? x"},
        {"controls in a word", "=?US-ASCII?Q?a=00b=09c=1Bd=FF?=", "a?b c?d?"},
        {"empty word", "x =?UTF-8?B?\?= y", "x  y"},
    };
    expect_subjects(rows, sizeof rows / sizeof *rows);
}

TEST(HeaderText, TheFirstSubjectFieldOfTheHeaderOnly)
{
    const struct {
        const char *name;
        std::string block;
        std::string shown;
        int found;
    } rows[] = {
        {"name in any case, blank before colon", "From: a@b\r\nSUBJECT : hello\r\n", "hello", 1},
        {"first of two", "Subject: one\r\nSubject: two\r\n", "one", 1},
        {"other fields ending alike", "X-Subject: no\r\nSubjects: no\r\nSubject: yes\r\n", "yes", 1},
        {"folded with tab, LF alone", "Subject: a\n\tb\n c\nTo: x\n", "a b c", 1},
        {"NUL inside", "Subject: a\0b\r\nFrom: c\r\n"s, "a?b", 1},
        {"empty", "Subject:\r\n", "", 1},
        {"the body is not the header", "From: a@b\r\n\r\nSubject: body\r\n", "", 0},
        {"none", "From: a@b\r\n", "", 0},
    };
    for (auto &r : rows)
        EXPECT_EQ(subject_of(r.block, 256, r.found), r.shown) << r.name;
    EXPECT_EQ(sender_of("Subject: a\0b\r\nFrom: c\r\n"s), "c");
}

TEST(HeaderText, CutBeforeACharacterThatDoesNotFit)
{
    const std::string block = "Subject: a=?UTF-8?B?5pel5pys?=b\r\n"; // a日本b
    const struct {
        size_t capacity;
        std::string shown;
    } rows[] = {{1, ""}, {2, "a"}, {3, "a"}, {4, "a" NICHI}, {5, "a" NICHI}, {6, "a" NICHI HON}, {7, "a" NICHI HON "b"}};
    for (auto &r : rows)
        EXPECT_EQ(subject_of(block, r.capacity), r.shown) << r.capacity;
    EXPECT_EQ(subject_of(block, 0, 0), "#") << "nothing written";
}

TEST(HeaderText, SenderIsTheDisplayNameElseTheAddress)
{
    const Row rows[] = {
        {"quoted UTF-8 name", "\"山田 太郎\" <taro@example.jp>", YAMA DA " " TA RO},
        {"encoded name", "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <a@b>", YAMA DA},
        {"encoded word in quotes", "\"=?UTF-8?B?5bGx55SwIOWkqumDjg==?=\" <a@b>", YAMA DA " " TA RO},
        {"plain words", "Taro Yamada <taro@example.jp>", "Taro Yamada"},
        {"escapes in quotes", "\"Taro \\\"T\\\" \\\\ Y\" <t@e>", "Taro \"T\" \\ Y"},
        {"comma and brackets in quotes", "\"Yamada, Taro <x>\" <t@e>", "Yamada, Taro <x>"},
        {"address with a comment", "taro@example.jp (Taro)", "taro@example.jp"},
        {"address in brackets", "<a@b>", "a@b"},
        {"empty name", "\"\" <a@b>", "a@b"},
        {"comments, nested and escaped", "(x (y) \\) z) Taro(w) <t@e>", "Taro"},
        {"first of several", "A <a@b>, B <b@c>", "A"},
        {"quote never closed", "\"Taro <t@e>", "Taro <t@e>"},
        {"bracket never closed", "<t@e", "t@e"},
    };
    for (auto &r : rows)
        EXPECT_EQ(sender_of("From: " + r.value + "\r\n"), r.shown) << r.name;
}

} // namespace
