#include "program.h"
#include "ui_driver.h"
#include <vector>

namespace e2e {

std::string programPath;
std::string referencePath;

std::string windows_path(std::string path)
{
    if (!path.empty() && path[0] == '/') {
        for (char &c : path)
            if (c == '/')
                c = '\\';
        path = "Z:" + path;
    }
    return path;
}

std::string make_start_directory(const char *name)
{
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    std::string dir = std::string(tmp) + "sorvane-e2e-" + name;
    CreateDirectoryA(dir.c_str(), NULL);
    // A previous run may have left files behind.
    std::string pattern = dir + "\\*";
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((dir + "\\" + fd.cFileName).c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    return dir;
}

static void put_text(std::vector<unsigned char> &out, const std::string &text)
{
    for (unsigned char c : text)
        out.push_back(c ^ 0xE5);
    out.push_back('\n' ^ 0xE5);
}

static void put_int(std::vector<unsigned char> &out, int v)
{
    unsigned u = (unsigned)v;
    for (int i = 0; i < 4; i++)
        out.push_back((unsigned char)(u >> (8 * i)));
}

void write_settings_file(const std::string &dir, const FileSettings &s)
{
    std::vector<unsigned char> b;
    b.push_back(20);
    put_text(b, s.server);
    put_text(b, s.user);
    put_text(b, s.pass);
    put_text(b, std::to_string(s.autoCheckTime));
    put_int(b, s.showProgress);
    put_text(b, s.mailPath);
    put_int(b, s.mailPathAsk);
    put_text(b, s.oksndPath);
    put_int(b, s.okMes);
    put_text(b, s.nosndPath);
    put_int(b, s.noMes);
    std::string path = dir + "\\Sorvane.dat";
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD n = 0;
    WriteFile(f, b.data(), (DWORD)b.size(), &n, NULL);
    CloseHandle(f);
}

Program::~Program()
{
    terminate();
}

bool Program::start(const std::string &dir, const std::string &path)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::string cmd = "\"" + path + "\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    return CreateProcessA(path.c_str(), line.data(), NULL, NULL, FALSE, 0, NULL, dir.c_str(),
                          &si, &pi_) != 0;
}

HWND Program::main_window(DWORD timeoutMs)
{
    if (main_)
        return main_;
    ui::wait_until(
        [&] {
            HWND h = NULL;
            while ((h = FindWindowExA(NULL, h, MAIN_WINDOW_CLASS, NULL)) != NULL) {
                DWORD owner = 0;
                GetWindowThreadProcessId(h, &owner);
                if (owner == pi_.dwProcessId) {
                    main_ = h;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return main_;
}

DWORD Program::wait_exit(DWORD timeoutMs)
{
    if (!pi_.hProcess)
        return STILL_ACTIVE;
    WaitForSingleObject(pi_.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

bool Program::running() const
{
    return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
}

void Program::left_click()
{
    PostMessageA(main_window(), TRAY_CALLBACK_MESSAGE, TRAY_ICON_ID, WM_LBUTTONDOWN);
}

void Program::right_click()
{
    PostMessageA(main_window(), TRAY_CALLBACK_MESSAGE, TRAY_ICON_ID, WM_RBUTTONUP);
}

void Program::command(int id)
{
    PostMessageA(main_window(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool Program::icon_present()
{
    NOTIFYICONDATAA d = {};
    d.cbSize = NOTIFYICONDATAA_V1_SIZE;
    d.hWnd = main_;
    d.uID = TRAY_ICON_ID;
    d.uFlags = 0;
    return main_ && Shell_NotifyIconA(NIM_MODIFY, &d);
}

void Program::terminate()
{
    if (!pi_.hProcess)
        return;
    if (running()) {
        ui::dismiss_all(pi_.dwProcessId);
        TerminateProcess(pi_.hProcess, 1);
        WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
    pi_ = {};
    main_ = NULL;
}

} // namespace e2e
