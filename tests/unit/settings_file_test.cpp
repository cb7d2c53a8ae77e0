// "Sorvane.dat" on real files under Wine: every outcome of loading and
// saving, the questions answered through the real message boxes, and what
// is left on the disk afterwards.
#include <gtest/gtest.h>
#include "box_script.h"
#include "recorder.h"
#include "sample_settings.h"
#include "settings_image.h"
#include "texts.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include <string.h>
#include <string>
#include <vector>

namespace {

using image::Bytes;
using texts::ERROR_CAPTION;

const char FIELD_CAPTION[] = "エラー";
const char COMPAT_CAPTION[] = "互換性";
const char READ_FAILED[] = "動作設定の読み込みに失敗しました。";
const char WRITE_FAILED[] = "動作設定の書き込みに失敗しました。";
const char UNREADABLE_TEXT[] = "動作設定ファイルを開けませんでした。\n"
                               "ほかのプログラムが使用中か、読み取りが許可されていない可能性があります。\n"
                               "このファイルを新しい設定で置き換えますか？\n"
                               "（「いいえ」の場合、このファイルは書き換えません。）";
const char COMPAT_TEXT[] = "動作設定ファイルのデータに互換性がないため、新規に作成します。\n現在の設定は失われます。";
const UINT QUESTION = MB_YESNO | MB_ICONQUESTION;
const UINT WARNING = MB_OK | MB_ICONWARNING;

const char *const FIELD_NAMES[] = {"server",    "user",  "pass",      "autoCheckTime", "showProgress", "mailPath",
                                   "mailPathAsk", "oksndPath", "okMes", "nosndPath",     "noMes"};
enum { FIELD_COUNT = 11 };

std::string read_message(int field)
{
    return std::string("[") + FIELD_NAMES[field]
           + "]の読み込みに失敗しました。\n動作設定が壊れている可能性があるため、再作成します。\n現在の設定は失われます。";
}

std::string write_message(int field)
{
    return std::string("[") + FIELD_NAMES[field] + "]の書き込みに失敗しました。";
}

// The record's fields in file order, each as text, so that records can be
// compared field by field.
std::vector<std::string> fields_of(const SettingsRecord &r)
{
    auto n = [](int v) { return std::to_string(v); };
    return {r.server, r.user, r.pass, n(r.autoCheckTime), n(r.showProgress), r.mailPath, n(r.mailPathAsk),
            r.oksndPath, n(r.okMes), r.nosndPath, n(r.noMes)};
}

// A record as a user has it, a negative flag among its values; and what a
// test puts in the record before loading, so that fields left alone can be
// told from fields read.
const SettingsRecord STORED = sample::user(-1);
const SettingsRecord BEFORE = sample::untouched();

bool exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool listed(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(path.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    return true;
}

void write_file(const std::string &path, const Bytes &bytes)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << path;
    DWORD n = 0;
    if (!bytes.empty())
        WriteFile(f, bytes.data(), (DWORD)bytes.size(), &n, NULL);
    CloseHandle(f);
    ASSERT_EQ(n, bytes.size());
}

Bytes read_file(const std::string &path)
{
    Bytes out;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return out;
    unsigned char buf[4096];
    DWORD n;
    while (ReadFile(f, buf, sizeof buf, &n, NULL) && n)
        out.insert(out.end(), buf, buf + n);
    CloseHandle(f);
    return out;
}

// Starts a program of the host system (Wine starts Unix programs too). Its process handle does not tell when it is done,
// so callers wait for its effect.
void run_host(const char *program, std::string commandLine)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    ASSERT_TRUE(CreateProcessA(program, cmd.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) << program;
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

class SettingsFileTest : public ::testing::Test {
protected:
    std::string dir;
    std::string file;

    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        dir = std::string(temp) + "sorvane-settings-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        clean();
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), NULL));
        ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
        lstrcpynA(startDirectory, dir.c_str(), sizeof startDirectory);
        file = dir + "\\Sorvane.dat";
        Settings = BEFORE;
        rec::install();
    }

    void TearDown() override
    {
        rec::uninstall();
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        SetCurrentDirectoryA(temp);
        clean();
    }

    // Read-only files and symbolic links included, which Windows calls
    // cannot all remove under Wine.
    void clean()
    {
        if (!exists(dir))
            return;
        std::string unixDir = to_unix(dir);
        ASSERT_NE(unixDir.find("sorvane-settings-"), std::string::npos) << unixDir;
        run_host("Z:\\bin\\rm", "rm -rf \"" + unixDir + "\"");
        ASSERT_TRUE(ui::wait_until([&] { return !exists(dir); }, 5000));
    }

    static std::string to_unix(const std::string &windowsPath)
    {
        typedef char *(CDECL * ToUnix)(LPCWSTR);
        ToUnix toUnix = (ToUnix)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH);
        std::string out;
        char *p = toUnix ? toUnix(wide) : NULL;
        if (p) {
            out = p;
            HeapFree(GetProcessHeap(), 0, p);
        }
        return out;
    }

    void expect_record(const SettingsRecord &want)
    {
        EXPECT_EQ(fields_of(Settings), fields_of(want));
    }

    // The fields before `field` were read from STORED's file; it and the
    // later ones hold what they held before.
    void expect_read_before(int field)
    {
        std::vector<std::string> want = fields_of(BEFORE), read = fields_of(STORED);
        for (int f = 0; f < field; f++)
            want[f] = read[f];
        EXPECT_EQ(fields_of(Settings), want);
    }

    // The script met one box, showing `text` with Yes and No for a question
    // and OK otherwise, and the log holds it alone: flags `type`, no owner.
    void expect_one_box(ui::BoxScript &script, const std::string &text, UINT type)
    {
        const auto &boxes = script.finish();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, text);
        std::vector<int> buttons = {IDOK};
        if ((type & MB_TYPEMASK) == MB_YESNO)
            buttons = {IDYES, IDNO};
        EXPECT_EQ(boxes[0].buttons, buttons);
        auto ev = rec::events();
        ASSERT_EQ(ev.size(), 1u);
        EXPECT_EQ(ev[0].caption, boxes[0].caption);
        EXPECT_EQ(ev[0].type, type);
        EXPECT_FALSE(ev[0].owned);
    }
};

TEST_F(SettingsFileTest, MissingFileIsSilentAndChangesNothing)
{
    EXPECT_EQ(load_settings(), 0);
    EXPECT_TRUE(rec::events().empty());
    expect_record(BEFORE);
}

TEST_F(SettingsFileTest, EmptyFileIsReportedAndKept)
{
    write_file(file, {});
    ui::BoxScript script({{ERROR_CAPTION, IDOK}});
    EXPECT_EQ(load_settings(), 0);
    expect_one_box(script, READ_FAILED, WARNING);
    EXPECT_TRUE(exists(file));
    expect_record(BEFORE);
}

TEST_F(SettingsFileTest, ForeignVersionAsksAndDeletesOnlyOnYes)
{
    struct {
        unsigned char version;
        int answer;
    } cases[] = {{19, IDYES}, {19, IDNO}, {21, IDYES}, {21, IDNO}, {0, IDNO}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + (c.answer == IDYES ? " yes" : " no"));
        Bytes bytes = image::file_of(STORED).bytes;
        bytes[0] = c.version;
        write_file(file, bytes);
        rec::clear();
        ui::BoxScript script({{COMPAT_CAPTION, c.answer}});
        EXPECT_EQ(load_settings(), 0);
        expect_one_box(script, COMPAT_TEXT, QUESTION);
        EXPECT_EQ(exists(file), c.answer == IDNO);
        expect_record(BEFORE);
    }
}

// A file that ends inside each field in turn: that field's question, the
// fields before it read, it and the later ones as they were. Integers are
// cut after two of their four bytes (which must not be half-taken); texts
// after their first byte.
TEST_F(SettingsFileTest, EachFieldEndingEarlyAsksItsQuestion)
{
    const image::File img = image::file_of(STORED);
    for (int field = 0; field < FIELD_COUNT; field++) {
        for (int answer : {IDYES, IDNO}) {
            SCOPED_TRACE(std::string(FIELD_NAMES[field]) + (answer == IDYES ? " yes" : " no"));
            size_t start = field == 0 ? 1 : img.ends[field - 1];
            bool integer = field == 4 || field == 6 || field == 8 || field == 10;
            size_t cut = start + (integer ? 2 : (field == 0 ? 0 : 1));
            write_file(file, Bytes(img.bytes.begin(), img.bytes.begin() + cut));
            Settings = BEFORE;
            rec::clear();
            ui::BoxScript script({{FIELD_CAPTION, answer}});
            EXPECT_EQ(load_settings(), 0);
            expect_one_box(script, read_message(field), QUESTION);
            EXPECT_EQ(exists(file), answer == IDNO);

            expect_read_before(field);
        }
    }
}

// A damaged file whose text is longer than its field: unreadable there, and
// nothing beyond the field is written.
TEST_F(SettingsFileTest, OverlongTextIsThatFieldsQuestion)
{
    struct {
        int field;
        size_t length;
    } cases[] = {{0, 128}, {2, 300}, {5, 256}, {9, 5000}};
    for (const auto &c : cases) {
        SCOPED_TRACE(FIELD_NAMES[c.field]);
        const image::File img = image::file_of(STORED);
        size_t start = c.field == 0 ? 1 : img.ends[c.field - 1];
        Bytes bytes(img.bytes.begin(), img.bytes.begin() + start);
        Bytes longText = image::text_field(std::string(c.length, 'x'));
        bytes.insert(bytes.end(), longText.begin(), longText.end());
        bytes.insert(bytes.end(), img.bytes.begin() + img.ends[c.field], img.bytes.end());
        write_file(file, bytes);
        Settings = BEFORE;
        rec::clear();
        ui::BoxScript script({{FIELD_CAPTION, IDNO}});
        EXPECT_EQ(load_settings(), 0);
        expect_one_box(script, read_message(c.field), QUESTION);
        expect_read_before(c.field);
        EXPECT_TRUE(exists(file));
    }
}

TEST_F(SettingsFileTest, WholeFileLoadsSilentlyAndIgnoresWhatFollows)
{
    Bytes bytes = image::file_of(STORED).bytes;
    bytes.insert(bytes.end(), {0x14, 0xEF, 0x00});
    write_file(file, bytes);
    EXPECT_EQ(load_settings(), 1);
    EXPECT_TRUE(rec::events().empty());
    expect_record(STORED);
}

// Every text at its longest, through the real load: a path of 255 bytes
// (one more is OverlongTextIsThatFieldsQuestion's refusal).
TEST_F(SettingsFileTest, LongestValuesLoad)
{
    SettingsRecord r = STORED;
    strcpy(r.server, std::string(127, 's').c_str());
    strcpy(r.mailPath, std::string(255, 'm').c_str());
    strcpy(r.nosndPath, std::string(255, 'n').c_str());
    write_file(file, image::file_of(r).bytes);
    EXPECT_EQ(load_settings(), 1);
    EXPECT_TRUE(rec::events().empty());
    expect_record(r);
}

// A file held by another program without sharing: the user is asked, and
// only Yes lets a later save of the run replace it.
TEST_F(SettingsFileTest, FileThatCannotBeOpenedIsReplacedOnlyWhenAgreed)
{
    const Bytes held = image::file_of(STORED).bytes;
    for (int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDYES ? "yes" : "no");
        write_file(file, held);
        HANDLE holder = CreateFileA(file.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        Settings = BEFORE;
        rec::clear();
        ui::BoxScript script({{FIELD_CAPTION, answer}});
        EXPECT_EQ(load_settings(), 0);
        expect_one_box(script, UNREADABLE_TEXT, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
        CloseHandle(holder);
        expect_record(BEFORE);

        EXPECT_EQ(save_settings(), answer == IDYES ? 1 : 0);
        EXPECT_EQ(read_file(file), answer == IDYES ? image::file_of(BEFORE).bytes : held);
    }
}

// The program's own file, byte for byte, with the key byte in a value.
TEST_F(SettingsFileTest, SavedBytesAreTheLayoutAndLoadBack)
{
    const Bytes empty = {0x14, 0xEF, 0xEF, 0xEF, 0xD5, 0xEF, 0, 0, 0, 0, 0xEF, 0, 0,
                         0,    0,    0xEF, 0,    0,    0,    0, 0xEF, 0, 0, 0, 0};
    memset(&Settings, 0, sizeof Settings);
    EXPECT_EQ(save_settings(), 1);
    EXPECT_EQ(read_file(file), empty);

    Settings = STORED;
    EXPECT_EQ(save_settings(), 1);
    EXPECT_EQ(read_file(file), image::file_of(STORED).bytes);
    EXPECT_FALSE(exists(dir + "\\" + SETTINGS_TEMP_FILE_NAME));
    Settings = BEFORE;
    EXPECT_EQ(load_settings(), 1);
    expect_record(STORED);
    EXPECT_TRUE(rec::events().empty());
}

// The extension block after `noMes`: saved only with a later setting on,
// loaded back; a file without it, or with a damaged one, loads silently
// with the default.
TEST_F(SettingsFileTest, ExtensionBlockFollowsNoMesOnlyWhenASettingUsesIt)
{
    const Bytes block = image::UNSEEN_ONLY_BLOCK;
    Settings = STORED;
    Settings.unseenOnly = 1;
    EXPECT_EQ(save_settings(), 1);
    Bytes withBlock = image::file_of(STORED).bytes;
    withBlock.insert(withBlock.end(), block.begin(), block.end());
    EXPECT_EQ(read_file(file), withBlock);

    // Loaded, then saved with the setting off: a later version's block
    // keeps what this version does not know.
    struct {
        Bytes tail;
        int unseenOnly;
        Bytes saved;
    } cases[] = {
        {block, 1, {}},
        {{'S', 'V', 'E', 'X', 2, 3, 0x01, 0x7F, 0x80, 0xFA}, 1, {'S', 'V', 'E', 'X', 2, 3, 0x00, 0x7F, 0x80, 0xFB}},
        {{}, 0, {}},
        {{'S', 'V', 'E', 'X', 1, 1, 1, 0xFD}, 0, {}},
        {{'S', 'V', 'E'}, 0, {}},
    };
    for (auto &c : cases) {
        Bytes bytes = image::file_of(STORED).bytes;
        bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
        write_file(file, bytes);
        Settings = BEFORE;
        Settings.unseenOnly = !c.unseenOnly;
        EXPECT_EQ(load_settings(), 1);
        expect_record(STORED);
        EXPECT_EQ(Settings.unseenOnly, c.unseenOnly);
        Settings.unseenOnly = 0;
        EXPECT_EQ(save_settings(), 1);
        bytes = image::file_of(STORED).bytes;
        bytes.insert(bytes.end(), c.saved.begin(), c.saved.end());
        EXPECT_EQ(read_file(file), bytes);
    }
    EXPECT_TRUE(rec::events().empty());
}

TEST_F(SettingsFileTest, SaveGoesToStartDirectoryWhateverIsCurrent)
{
    std::string elsewhere = dir + "\\chosen";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), NULL));
    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.c_str()));
    Settings = STORED;
    EXPECT_EQ(save_settings(), 1);
    EXPECT_EQ(read_file(file), image::file_of(STORED).bytes);
    EXPECT_FALSE(exists(elsewhere + "\\Sorvane.dat"));
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    EXPECT_STREQ(current, dir.c_str());
}

TEST_F(SettingsFileTest, VanishedStartDirectoryWritesNothingElsewhere)
{
    std::string elsewhere = dir + "\\chosen";
    std::string gone = dir + "\\gone";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), NULL));
    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.c_str()));
    lstrcpynA(startDirectory, gone.c_str(), sizeof startDirectory);
    Settings = STORED;
    EXPECT_EQ(save_settings(), 0);
    EXPECT_TRUE(rec::events().empty());
    EXPECT_FALSE(exists(elsewhere + "\\Sorvane.dat"));
    EXPECT_FALSE(exists(elsewhere + "\\" + SETTINGS_TEMP_FILE_NAME));
}

// Every way a save can fail leaves the previous file as it was, and no
// temporary file behind.
class SaveFailureTest : public SettingsFileTest {
protected:
    Bytes previous;
    void SetUp() override
    {
        SettingsFileTest::SetUp();
        previous = image::file_of(BEFORE).bytes;
        write_file(file, previous);
        Settings = STORED;
    }
    void expect_previous_kept()
    {
        EXPECT_EQ(read_file(file), previous);
    }
};

TEST_F(SaveFailureTest, ReadOnlyFileIsNotReplacedAndSaysNothing)
{
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(save_settings(), 0);
    EXPECT_TRUE(rec::events().empty());
    expect_previous_kept();
    EXPECT_FALSE(exists(dir + "\\" + SETTINGS_TEMP_FILE_NAME));
}

TEST_F(SaveFailureTest, TemporaryFileThatCannotBeCreatedSaysNothing)
{
    std::string blocker = dir + "\\" + SETTINGS_TEMP_FILE_NAME;
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), NULL));
    EXPECT_EQ(save_settings(), 0);
    EXPECT_TRUE(rec::events().empty());
    expect_previous_kept();
}

// A value the format cannot hold fails the save before any file is made.
TEST_F(SaveFailureTest, FieldThatCannotBeWrittenShowsItsMessage)
{
    struct {
        int field;
        char *member;
    } cases[] = {{0, Settings.server}, {5, Settings.mailPath}, {9, Settings.nosndPath}};
    for (const auto &c : cases) {
        SCOPED_TRACE(FIELD_NAMES[c.field]);
        Settings = STORED;
        strcpy(c.member, "C:\\a\nb");
        rec::clear();
        ui::BoxScript script({{ERROR_CAPTION, IDOK}});
        EXPECT_EQ(save_settings(), 0);
        expect_one_box(script, write_message(c.field), WARNING);
        expect_previous_kept();
        EXPECT_FALSE(exists(dir + "\\" + SETTINGS_TEMP_FILE_NAME));
    }
}

// A full disk, made real: the new file is a link to the host's /dev/full,
// where every write fails for want of space.
TEST_F(SaveFailureTest, FullDiskShowsTheWriteMessage)
{
    run_host("Z:\\bin\\ln", "ln -s /dev/full \"" + to_unix(dir) + "/" + SETTINGS_TEMP_FILE_NAME + "\"");
    // Wine gives no attributes for a link to a device: look for its name.
    ASSERT_TRUE(ui::wait_until([&] { return listed(dir + "\\" + SETTINGS_TEMP_FILE_NAME); }, 5000));
    ui::BoxScript script({{ERROR_CAPTION, IDOK}});
    EXPECT_EQ(save_settings(), 0);
    expect_one_box(script, WRITE_FAILED, WARNING);
    expect_previous_kept();
}

} // namespace
