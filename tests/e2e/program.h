// Runs the real program as a separate process and reaches it only as the
// shell and a user would: its hidden main window, the tray callback
// message, menu commands, and the windows it shows.
#ifndef SORVANE_E2E_PROGRAM_H
#define SORVANE_E2E_PROGRAM_H

#include <windows.h>
#include <shellapi.h>
#include "settings_image.h"
#include <string>
#include <vector>

namespace e2e {

const char MAIN_WINDOW_CLASS[] = "QeSorvane Class";
const UINT TRAY_CALLBACK_MESSAGE = 9669;
const UINT TRAY_ICON_ID = 3291;
enum { CMD_CHECK_NOW = 1000, CMD_SETTINGS = 1001, CMD_EXIT = 1004 }; // the menu's commands
// The settings dialog's controls.
enum {
    IDC_USER = 1000, IDC_PASSWORD = 1001, IDC_OK_MESSAGE = 1008, IDC_NO_MESSAGE = 1010,
    IDC_SERVER = 1009, IDC_CANCEL_BUTTON = 1014, IDC_OK_BUTTON = 1015, IDC_CHANGE_PASSWORD = 1020,
    IDC_AUTO_CHECK = 1023, IDC_AUTO_CHECK_TIME = 1024, IDC_MAIL_LAUNCH = 1002, IDC_MAIL_PATH = 1003,
    IDC_OK_SOUND = 1005, IDC_OK_SOUND_PATH = 1006, IDC_MAIL_ASK = 1022, IDC_NO_SOUND = 1025,
    IDC_SHOW_PROGRESS = 1026, IDC_UNSEEN_ONLY = 1030, IDC_SHOW_HEADERS = 1031, IDC_NOTIFY_BALLOON = 1032,
    IDC_QUIET_OFFLINE = 1033, IDC_START_WITH_WINDOWS = 1034, IDC_CREDENTIAL_STORE = 1035, IDC_ACCOUNT = 1040,
    IDC_ACCOUNT_ADD = 1041
};
// The progress window's two status lines.
enum { IDC_STATUS_STEP = 1017, IDC_STATUS_DETAIL = 1018 };


// The program under test, set from the command line of the driver, and,
// for a suite that compares two builds, the build it is compared with.
extern std::string programPath;
extern std::string referencePath;

// A Unix path (as CTest and the scripts give it) as Wine sees it, on its
// Z: drive; any other path unchanged.
std::string windows_path(std::string path);

// A path as the suites write it, in code page 932 as the program's own
// texts, for the wide calls: the same under any system code page.
std::wstring wide(const std::string &text932);

// A fresh folder under the temporary folder, made the program's start
// directory.
std::string make_start_directory(const char *name);

// The whole of a file (a start directory's Sorvane.dat, a Linux process's
// files under Z:\proc), empty when it cannot be read.
std::string read_file(const std::string &path);

// The whole screen as a 24-bit BMP file (for the demo's and the README's
// pictures).
bool save_screen(const std::string &path);

// The late address of tests/services/late_address.sh (10.77.0.1), asked
// for or given back through its request file in the build tree of
// `programPath`; true once the service has done it.
bool late_address(bool given);

// Writes a settings file the way the file format lays it out, independent
// of the program's own writer.
struct FileSettings {
    std::string server, user, pass;
    int autoCheckTime = 0, showProgress = 0;
    std::string mailPath;
    int mailPathAsk = 0;
    std::string oksndPath;
    int okMes = 0;
    std::string nosndPath;
    int noMes = 0;
    int unseenOnly = 0;   // in the extension block, written only when a flag is set
    int quietOffline = 0;
    int showHeaders = 0;
    int notifyBalloon = 0;
};
void write_settings_file(const std::string &dir, const FileSettings &s);
// The usual file: a check of `server` as `user`, with what `options` asks.
enum { SHOW_PROGRESS = 1, OK_MESSAGE = 2, NO_MESSAGE = 4, UNSEEN_ONLY = 8, QUIET_OFFLINE = 16, EVERY_MINUTE = 32 };
void write_account(const std::string &dir, const char *server, const char *user, const char *pass,
                   int options = 0);

// The accounts after the first, in their own file beside the settings.
void write_more_accounts(const std::string &dir, const std::vector<image::Account> &accounts);

// The ANSI code page (GetACP) a running process was given, read from the
// process itself; 0 when it cannot be read.
UINT code_page_of(HANDLE process);

class Program {
public:
    ~Program();
    bool start(const std::string &dir, const std::string &path = programPath);
    bool start(const std::wstring &dir, const std::string &path = programPath);
    DWORD pid() const { return pi_.dwProcessId; }
    // The hidden main window, once it exists.
    HWND main_window(DWORD timeoutMs = 15000);
    // Exit code, or STILL_ACTIVE when it did not end in time.
    DWORD wait_exit(DWORD timeoutMs = 15000);
    bool running() const;
    UINT code_page() const { return code_page_of(pi_.hProcess); }
    void left_click();               // a press of the left button on the icon
    void right_click();              // the release of the right button
    void command(int id);            // a menu command
    // Whether the shell holds our icon (asked with a modify that changes
    // nothing, which the shell refuses for an icon it does not have).
    bool icon_present();
    // Our icon as the shell shows it: its tip (code page 932) and which of
    // the program's icons it draws. Read from Wine's notification area;
    // `found` false when the icon is not there or cannot be read. The tip
    // and the face are read one after the other, so a change in between
    // can pair an old tip with a new face: wait for the pair expected.
    enum Face { FACE_UNKNOWN = -1, FACE_NORMAL, FACE_NEW_MAIL, FACE_FAILED };
    struct TrayView {
        bool found = false;
        std::string tip;
        int face = FACE_UNKNOWN;
    };
    TrayView tray_view();
    void terminate();

private:
    PROCESS_INFORMATION pi_ = {};
    HWND main_ = NULL;
};

} // namespace e2e

#endif
