// The four dialog templates, read back from the resources linked into this
// program (the same script the program is built from), against the one
// table below of what each dialog must hold.
#include <gtest/gtest.h>
#include "resource.h"
#include "texts.h"
#include <windows.h>
#include <winver.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Item {
    int id;
    std::string cls; // "Button", "Edit", "Static" or a class name
    std::string caption; // CP932; "#n" for a resource ordinal
    int x, y, w, h;
    DWORD style;
};

struct Template {
    DWORD style;
    int x, y, w, h;
    std::string caption;
    int pointSize;
    std::string font;
    std::vector<Item> items;
};

// ---- Reading DLGTEMPLATE (the classic form windres writes)

class Reader {
public:
    explicit Reader(const BYTE *p) : base_(p), p_(p) {}
    WORD word() { WORD w = *(const WORD *)p_; p_ += 2; return w; }
    DWORD dword() { DWORD d = *(const DWORD *)p_; p_ += 4; return d; }
    short shortv() { return (short)word(); }
    void align4() { p_ = base_ + ((p_ - base_ + 3) & ~3); }
    // A string or an ordinal (0xFFFF then the number).
    std::string sz_or_ord()
    {
        if (*(const WORD *)p_ == 0xFFFF) {
            word();
            return "#" + std::to_string(word());
        }
        const wchar_t *s = (const wchar_t *)p_;
        size_t n = wcslen(s);
        p_ += (n + 1) * 2;
        return narrow(s, (int)n);
    }
    static std::string narrow(const wchar_t *s, int n)
    {
        char buf[1024];
        int len = WideCharToMultiByte(932, 0, s, n, buf, sizeof buf, NULL, NULL);
        return std::string(buf, len > 0 ? len : 0);
    }

private:
    const BYTE *base_;
    const BYTE *p_;
};

std::string class_name(const std::string &raw)
{
    if (raw == "#128") return "Button";
    if (raw == "#129") return "Edit";
    if (raw == "#130") return "Static";
    return raw;
}

Template load(int id, HMODULE module = NULL)
{
    Template t;
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG);
    EXPECT_NE(res, (HRSRC)NULL) << "dialog " << id;
    if (!res)
        return t;
    Reader r((const BYTE *)LockResource(LoadResource(module, res)));
    t.style = r.dword();
    r.dword(); // extended style
    int count = r.word();
    t.x = r.shortv(); t.y = r.shortv(); t.w = r.shortv(); t.h = r.shortv();
    EXPECT_EQ(r.sz_or_ord(), "") << "no menu";
    r.sz_or_ord(); // class
    t.caption = r.sz_or_ord();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.word();
        t.font = r.sz_or_ord();
    }
    for (int i = 0; i < count; i++) {
        r.align4();
        Item it;
        it.style = r.dword();
        r.dword();
        it.x = r.shortv(); it.y = r.shortv(); it.w = r.shortv(); it.h = r.shortv();
        it.id = (short)r.word();
        it.cls = class_name(r.sz_or_ord());
        it.caption = r.sz_or_ord();
        WORD extra = r.word();
        for (WORD k = 0; k < extra; k += 2)
            r.word();
        t.items.push_back(it);
    }
    return t;
}

// ---- What the dialogs must hold

const DWORD CHILD = WS_CHILD | WS_VISIBLE;
const DWORD EDIT = CHILD | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
const DWORD READ_ONLY = EDIT | ES_READONLY;
const DWORD PASSWORD_EDIT = EDIT | ES_PASSWORD;
const DWORD PUSH = CHILD | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD DEFPUSH = CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON;
const DWORD CHECK = CHILD | WS_TABSTOP | BS_AUTOCHECKBOX;
const DWORD LABEL = CHILD | WS_GROUP | SS_LEFT;
const DWORD PLAIN_LABEL = CHILD | SS_LEFT;
const DWORD GROUP = CHILD | BS_GROUPBOX;
const DWORD LIST = CHILD | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
const DWORD ICON_IMAGE = CHILD | SS_ICON;

const DWORD DIALOG = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
const char FONT[] = "ＭＳ Ｐゴシック";

const Template SETTINGS = {
    DIALOG | DS_CENTER, 0, 0, 415, 273, texts::SETTINGS_CAPTION, 9, FONT,
    {
        {1009, "Edit", "", 50, 32, 108, 12, EDIT},
        {1000, "Edit", "", 50, 45, 108, 12, EDIT},
        {1001, "Edit", "", 50, 58, 82, 12, READ_ONLY},
        {1004, "Button", "参照...", 174, 97, 22, 14, PUSH},
        {1007, "Button", "参照...", 155, 145, 22, 14, PUSH},
        {1010, "Button", "メッセージを表示する(&L)", 215, 125, 86, 10, CHECK},
        {1013, "Button", "* 設定を適応して今すぐ新着メール確認(&C) *", 210, 165, 195, 18, PUSH},
        {1015, "Button", "OK", 350, 15, 50, 14, DEFPUSH},
        {1014, "Button", "キャンセル", 350, 32, 50, 14, PUSH},
        {1012, "Button", "ヘルプ", 350, 49, 50, 13, PUSH},
        {-1, "Static", "ユーザー名：", 10, 47, 39, 8, LABEL},
        {-1, "Static", "パスワード：", 10, 60, 35, 8, LABEL},
        {1002, "Button", "メールソフトを起動する(&L)", 10, 85, 91, 10, CHECK},
        {-1, "Button", "新着メール到着時のアクション", 5, 75, 200, 110, GROUP},
        {1003, "Edit", "", 22, 99, 149, 12, READ_ONLY},
        {1005, "Button", "サウンドを鳴らす(&S)", 10, 134, 73, 10, CHECK},
        {1006, "Edit", "", 19, 148, 131, 12, READ_ONLY},
        {1008, "Button", "メッセージを表示する(&M)", 10, 169, 87, 10, CHECK},
        {-1, "Static", "サーバー：", 10, 34, 32, 8, LABEL},
        {1020, "Button", "変更...", 135, 57, 22, 14, PUSH},
        {1022, "Button", "起動前に確認する(&A)", 21, 114, 78, 10, CHECK},
        {-1, "Button", "ユーザアカウント", 5, 10, 160, 64, GROUP},
        {-1, "Button", "メールチェック設定", 170, 10, 170, 60, GROUP},
        {1023, "Button", "自動的にメールチェックを行う(&A)", 175, 20, 110, 10, CHECK},
        {1024, "Edit", "", 190, 35, 25, 12, EDIT},
        {-1, "Static", "分ごと", 220, 35, 19, 8, LABEL},
        {-1, "Button", "新着メールなし時のアクション", 210, 75, 195, 70, GROUP},
        {1025, "Button", "サウンドを鳴らす(&X)", 215, 85, 73, 10, CHECK},
        {1011, "Button", "参照...", 355, 100, 22, 14, PUSH},
        {1016, "Edit", "", 220, 102, 130, 12, READ_ONLY},
        {1026, "Button", "メールチェック時に進捗状況を表示する(&P)", 175, 50, 138, 10, CHECK},
        {1027, "Button", "再生", 180, 145, 19, 14, PUSH},
        {1028, "Button", "再生", 380, 100, 19, 14, PUSH},
        {1029, "Button", "サウンド再生停止", 345, 145, 56, 14, PUSH},
        // Added later, below everything else: the dialog grew by 15 units.
        {1030, "Button", "前回までに確認したメールは新着として扱わない", 10, 193, 260, 10, CHECK},
        {1033, "Button", "自動チェックで接続できないときはメッセージを表示しない", 10, 205, 260, 10, CHECK},
        // And two more below it: the dialog grew by 26 units again.
        {1031, "Button", "新着メールの差出人と件名を表示する", 10, 218, 260, 10, CHECK},
        {1032, "Button", "メッセージボックスの代わりに通知で知らせる", 10, 231, 260, 10, CHECK},
        // And the start with Windows: 12 units more.
        {1034, "Button", "Windows の起動時に Sorvane を起動する", 10, 244, 260, 10, CHECK},
        // And the account row at the top of its group, which moved its
        // fields down and grew by 4 units.
        {1040, "#133", "", 10, 18, 98, 120, LIST},
        {1041, "Button", "追加", 110, 17, 24, 14, PUSH},
        {1042, "Button", "削除", 136, 17, 24, 14, PUSH},
        {1035, "Button", "パスワードを Windows の資格情報マネージャーに保存する", 10, 257, 260, 10, CHECK},
    },
};

const Template PASSWORD = {
    DIALOG, 0, 0, 130, 56, texts::PASSWORD_CAPTION, 9, FONT,
    {
        {1001, "Edit", "", 14, 18, 106, 12, PASSWORD_EDIT},
        {1015, "Button", "OK", 70, 34, 50, 14, DEFPUSH},
        {1014, "Button", "ｷｬﾝｾﾙ", 17, 34, 50, 14, PUSH},
        {-1, "Static", "新しいパスワードを入力してください。", 6, 7, 107, 8, PLAIN_LABEL},
    },
};

const Template PROGRESS = {
    DIALOG | DS_CENTER, 0, 0, 174, 55, texts::PROGRESS_CAPTION, 9, FONT,
    {
        {1014, "Button", "キャンセル", 117, 34, 50, 14, DEFPUSH},
        {1017, "Static", "準備中です...", 7, 7, 160, 8, LABEL},
        {1018, "Static", "しばらくお待ちください", 7, 18, 160, 8, LABEL},
    },
};

const Template ABOUT = {
    DIALOG | DS_CENTER, 0, 0, 147, 91, "バージョン情報", 9, FONT,
    {
        {IDOK, "Button", "OK", 90, 70, 50, 14, DEFPUSH},
        {-1, "Static", "#102", 7, 7, 20, 20, ICON_IMAGE},
        // Only the first line is fixed; the rest is checked below.
        {-1, "Static", "Sorvane ver 2.0", 33, 7, 97, 33, LABEL},
    },
};

std::string hex(DWORD v)
{
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08lX", (unsigned long)v);
    return buf;
}

void compare(int id, const Template &want)
{
    Template got = load(id);
    SCOPED_TRACE("dialog " + std::to_string(id));
    EXPECT_EQ(hex(got.style), hex(want.style));
    EXPECT_EQ(got.caption, want.caption);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.w, want.w);
    EXPECT_EQ(got.h, want.h);
    EXPECT_EQ(got.pointSize, want.pointSize);
    EXPECT_EQ(got.font, want.font);
    ASSERT_EQ(got.items.size(), want.items.size());
    for (size_t i = 0; i < want.items.size(); i++) {
        const Item &g = got.items[i], &w = want.items[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + " (" + w.caption + ")");
        EXPECT_EQ(g.id, w.id);
        EXPECT_EQ(g.cls, w.cls);
        if (id == IDD_ABOUT && i == 2)
            EXPECT_EQ(g.caption.substr(0, w.caption.size() + 1), w.caption + "\n");
        else
            EXPECT_EQ(g.caption, w.caption);
        EXPECT_EQ(g.x, w.x);
        EXPECT_EQ(g.y, w.y);
        EXPECT_EQ(g.w, w.w);
        EXPECT_EQ(g.h, w.h);
        EXPECT_EQ(hex(g.style), hex(w.style));
    }
}

TEST(DialogTemplates, SettingsDialog) { compare(IDD_SETTINGS, SETTINGS); }
TEST(DialogTemplates, PasswordDialog) { compare(IDD_PASSWORD, PASSWORD); }
TEST(DialogTemplates, ProgressWindow) { compare(IDD_PROGRESS, PROGRESS); }
TEST(DialogTemplates, AboutBox) { compare(IDD_ABOUT, ABOUT); }

// The icon holds a 32 x 32 and a 16 x 16 picture of 16 colours each.
TEST(DialogTemplates, IconHasBothSizesIn16Colours)
{
    HRSRC res = FindResourceA(NULL, MAKEINTRESOURCEA(IDI_APP), (LPCSTR)RT_GROUP_ICON);
    ASSERT_NE(res, (HRSRC)NULL);
    const BYTE *dir = (const BYTE *)LockResource(LoadResource(NULL, res));
    WORD count = *(const WORD *)(dir + 4);
    std::vector<std::string> seen;
    for (WORD i = 0; i < count; i++) {
        const BYTE *e = dir + 6 + i * 14; // GRPICONDIRENTRY
        WORD bits = *(const WORD *)(e + 6);
        seen.push_back(std::to_string(e[0]) + "x" + std::to_string(e[1]) + " colours " +
                       std::to_string(e[2]) + " bits " + std::to_string(bits));
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"16x16 colours 16 bits 4", "32x32 colours 16 bits 4"}));
}

// The built program, as a user's Windows reads it: the manifest, and a
// version resource that says what the about box says.
TEST(ProgramResources, ManifestAndVersionOfTheBuiltProgram)
{
    HMODULE program = LoadLibraryExA(PROGRAM_FILE, NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(program) << PROGRAM_FILE;
    HRSRC res = FindResourceA(program, MAKEINTRESOURCEA(1), (LPCSTR)RT_MANIFEST);
    ASSERT_TRUE(res) << "manifest resource 1";
    std::string manifest((const char *)LockResource(LoadResource(program, res)), SizeofResource(program, res));
    const char *parts[] = {
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "<requestedExecutionLevel level=\"asInvoker\"",
        ">true</dpiAware>",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // Windows 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
    };
    for (const char *part : parts)
        EXPECT_NE(manifest.find(part), std::string::npos) << part;

    // "Sorvane ver X.Y\n<description>\n..."
    std::string about = load(IDD_ABOUT, program).items.at(2).caption;
    FreeLibrary(program);
    size_t ver = about.find(" ver "), end = about.find('\n'), end2 = about.find('\n', end + 1);
    ASSERT_TRUE(ver != std::string::npos && end2 != std::string::npos) << about;
    std::string version = about.substr(ver + 5, end - ver - 5);
    std::string description = about.substr(end + 1, end2 - end - 1);

    std::vector<char> info(GetFileVersionInfoSizeA(PROGRAM_FILE, NULL));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(PROGRAM_FILE, 0, (DWORD)info.size(), info.data()));
    auto query = [&](const std::string &what) -> std::string {
        WORD *language;
        UINT n = 0;
        VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void **)&language, &n);
        char block[64];
        snprintf(block, sizeof block, "\\StringFileInfo\\%04X%04X\\", language[0], language[1]);
        char *text = NULL;
        return VerQueryValueA(info.data(), (block + what).c_str(), (void **)&text, &n) && text ? text : "";
    };
    EXPECT_EQ(query("ProductName"), "Sorvane");
    EXPECT_EQ(query("ProductVersion"), version);
    EXPECT_EQ(query("FileVersion"), version);
    EXPECT_EQ(query("FileDescription"), description);
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT n = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &n));
    char numbers[32];
    snprintf(numbers, sizeof numbers, "%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS));
    EXPECT_EQ(numbers, version);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
}

} // namespace
