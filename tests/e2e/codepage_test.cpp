// The program under a system code page other than its own: CTest runs this
// suite, and so the program it starts, under Wine's code page 1252. The
// program's texts stay code page 932 there: a user name, a password, a
// mail program and a sound of double-byte characters typed into its
// dialogs are stored, sent and used as those bytes, the mail seen is kept
// beside it in a start folder of a Japanese name, and what it shows reads
// back, as Unicode, as its Japanese texts.
#include <gtest/gtest.h>
#include "steps.h"
#include "settings_image.h"
#include <mmsystem.h>
#include <stdio.h>

namespace {

using namespace e2e;

// The account of tests/services/dovecot.sh with two messages; 郎 ends in
// the byte of "Y", which no step may fold to "y".
const char USER_TARO[] = "太郎";
const char PASSWORD_TARO[] = "秘密";

// The high word of a file time in the year 2000.
const DWORD LONG_AGO = 0x01BF53EB;

// A quiet second of 8-bit mono sound, for the sound the program asks for.
bool write_wave(const std::wstring &path)
{
    const DWORD samples = 8000;
    std::string w = "RIFF....WAVEfmt ";
    const unsigned char fmt[] = {16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0};
    w.append((const char *)fmt, sizeof fmt);
    w += "data";
    w.append((const char *)&samples, 4);
    w.append(samples, '\x80');
    DWORD riff = (DWORD)w.size() - 8;
    w.replace(4, 4, (const char *)&riff, 4);
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD n = 0;
    bool written = f != INVALID_HANDLE_VALUE && WriteFile(f, w.data(), (DWORD)w.size(), &n, NULL) && n == w.size();
    // Last read long ago: whoever reads it now moves its access time
    // (even on a file system mounted relatime).
    FILETIME old = {0, LONG_AGO};
    written = written && SetFileTime(f, NULL, &old, NULL);
    CloseHandle(f);
    return written;
}

bool read_since_written(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a) && a.ftLastAccessTime.dwHighDateTime > LONG_AGO;
}

// Whether this system's sound calls open a file of that name at all. Wine 8
// cannot: its mmioOpenW passes the path through the ANSI code page, so
// under 1252 a file named in Japanese is never found, whoever asks for it.
bool sound_calls_open(const std::wstring &path)
{
    if (!write_wave(path))
        return false;
    sndPlaySoundW(path.c_str(), SND_ASYNC | SND_NODEFAULT);
    bool opened = ui::wait_until([&] { return read_since_written(path); }, 3000);
    sndPlaySoundW(NULL, 0);
    return opened;
}

bool exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The stand-in mail program, built beside this suite.
std::wstring mail_program_helper()
{
    WCHAR self[MAX_PATH];
    std::wstring path(self, GetModuleFileNameW(NULL, self, MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"leave_mark.exe";
}

TEST_F(EndToEnd, OneLifeUnderAnotherSystemCodePage)
{
    ASSERT_NE(GetACP(), 932u) << "the suite runs under code page 932";
    ASSERT_EQ(code_page_of(GetCurrentProcess()), GetACP()) << "a process's code page is read where GetACP reads it";
    // The start folder's name is Japanese too: the second check reads the
    // seen mail the first kept there.
    dir += "\\受信箱";
    CreateDirectoryW(wide(dir).c_str(), NULL);
    for (const char *left : {"\\Sorvane.dat", "\\Sorvane.seen"})
        DeleteFileW(wide(dir + left).c_str());

    // ソ and 表 end in the byte of a backslash.
    const std::string mailFolder = dir + "\\メール", mailPath = mailFolder + "\\受信ソフト.exe";
    const std::string soundFolder = dir + "\\サウンド", soundPath = soundFolder + "\\新着表示.wav";
    CreateDirectoryW(wide(mailFolder).c_str(), NULL);
    CreateDirectoryW(wide(soundFolder).c_str(), NULL);
    DeleteFileW(wide(mailPath + ".ran").c_str());
    ASSERT_TRUE(CopyFileW(mail_program_helper().c_str(), wide(mailPath).c_str(), FALSE));
    const bool soundOpens = sound_calls_open(wide(soundFolder + "\\試聴.wav"));
    ASSERT_TRUE(write_wave(wide(soundPath)));

    // The first start without a file: the account and both paths are
    // typed into the settings dialog as Unicode.
    ASSERT_TRUE(app.start(dir));
    HWND dlg = wait_dialog(SETTINGS_CAPTION);
    ASSERT_TRUE(dlg);
    EXPECT_EQ(app.code_page(), GetACP()) << "the program runs under the suite's code page";
    ASSERT_NO_FATAL_FAILURE(enter_account(this, dlg, SERVER, USER_TARO, PASSWORD_TARO));
    for (int off : {IDC_MAIL_ASK, IDC_NO_SOUND, IDC_SHOW_PROGRESS, IDC_NO_MESSAGE, IDC_AUTO_CHECK, IDC_SHOW_HEADERS,
                    IDC_NOTIFY_BALLOON, IDC_QUIET_OFFLINE})
        ui::set_check(dlg, off, false);
    for (int on : {IDC_MAIL_LAUNCH, IDC_OK_SOUND, IDC_OK_MESSAGE, IDC_UNSEEN_ONLY})
        ui::set_check(dlg, on, true);
    ui::set_item_text(dlg, IDC_MAIL_PATH, mailPath);
    ui::set_item_text(dlg, IDC_OK_SOUND_PATH, soundPath);
    ui::click(dlg, IDC_OK_BUTTON);
    ASSERT_TRUE(ui::wait_gone(dlg));

    FileSettings stored;
    stored.server = SERVER;
    stored.user = USER_TARO;
    stored.pass = PASSWORD_TARO;
    stored.mailPath = mailPath;
    stored.oksndPath = soundPath;
    stored.okMes = 1;
    image::Bytes expected = image::file_of(stored).bytes;
    expected.insert(expected.end(), image::UNSEEN_ONLY_BLOCK.begin(), image::UNSEEN_ONLY_BLOCK.end());
    EXPECT_EQ(read_file(dir + "\\Sorvane.dat"), std::string(expected.begin(), expected.end()));

    // With a server now set, start-up checks at once: the login with the
    // file's bytes is the only way to the two messages.
    ui::Box result = wait_box(RESULT_CAPTION, 30000);
    ASSERT_TRUE(result) << "no result of the check as " << USER_TARO;
    EXPECT_EQ(result.text, NEW_MAIL);
    EXPECT_TRUE(ui::wait_until([&] { return exists(wide(mailPath + ".ran")); })) << "the mail program did not start";
    // The tip tells what was found; the icon stopped waiting when the mail
    // program started.
    EXPECT_TRUE(tray_shows(app, tip_new_mail(2), Program::FACE_NORMAL));
    if (soundOpens)
        EXPECT_TRUE(ui::wait_until([&] { return read_since_written(wide(soundPath)); })) << "the sound was not read";
    else
        printf("NOT CHECKED: the sound; this system's sound calls cannot open %s\n", soundPath.c_str());
    ui::answer(result, IDOK);
    ASSERT_TRUE(ui::wait_gone(result.hwnd));
    app.command(CMD_CHECK_NOW);
    EXPECT_TRUE(tray_shows(app, TIP_NO_NEW_MAIL, Program::FACE_NORMAL)) << "the seen mail was not kept";
    exit_and_expect_clean();
}

} // namespace
