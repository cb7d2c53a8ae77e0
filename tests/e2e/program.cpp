#include "program.h"
#include <commctrl.h>
#include <winternl.h>
#include "settings_image.h"
#include "ui_driver.h"
#include <stdio.h>
#include <string.h>
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

std::wstring wide(const std::string &text932)
{
    std::wstring w(text932.size() + 1, L'\0');
    w.resize(MultiByteToWideChar(932, 0, text932.c_str(), -1, &w[0], (int)w.size()) - 1);
    return w;
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

bool late_address(bool given)
{
    std::string folder = programPath.substr(0, programPath.find_last_of('\\'));
    folder = folder.substr(0, folder.find_last_of('\\')) + "\\late-address";
    std::string request = folder + "\\request", done = folder + "\\given";
    if (!given)
        DeleteFileA(request.c_str());
    else {
        HANDLE f = CreateFileA(request.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (f == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(f);
    }
    return ui::wait_until([&] { return (GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) == given; },
                          10000);
}

// A file of the start directory, by its code page 932 path.
static void write_bytes(const std::string &path, const image::Bytes &bytes)
{
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD n = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &n, NULL);
    CloseHandle(file);
}

void write_settings_file(const std::string &dir, const FileSettings &s)
{
    image::File f = image::file_of(s);
    unsigned char flags = (unsigned char)((s.unseenOnly ? 1 : 0) | (s.showHeaders ? 2 : 0) | (s.notifyBalloon ? 4 : 0) |
                                                 (s.quietOffline ? 8 : 0));
    if (flags) {
        image::Bytes block = image::extension_block(flags);
        f.bytes.insert(f.bytes.end(), block.begin(), block.end());
    }
    write_bytes(dir + "\\Sorvane.dat", f.bytes);
}

void write_more_accounts(const std::string &dir, const std::vector<image::Account> &accounts)
{
    write_bytes(dir + "\\Sorvane.accounts", image::accounts_file(accounts));
}

void write_account(const std::string &dir, const char *server, const char *user, const char *pass, int options)
{
    FileSettings s;
    s.server = server;
    s.user = user;
    s.pass = pass;
    s.showProgress = (options & SHOW_PROGRESS) != 0;
    s.okMes = (options & OK_MESSAGE) != 0;
    s.noMes = (options & NO_MESSAGE) != 0;
    s.unseenOnly = (options & UNSEEN_ONLY) != 0;
    s.quietOffline = (options & QUIET_OFFLINE) != 0;
    s.autoCheckTime = (options & EVERY_MINUTE) != 0;
    write_settings_file(dir, s);
}

Program::~Program()
{
    terminate();
}

bool Program::start(const std::string &dir, const std::string &path)
{
    return start(wide(dir), path);
}

bool Program::start(const std::wstring &dir, const std::string &path)
{
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    std::wstring program = wide(path), cmd = L"\"" + program + L"\"";
    std::vector<WCHAR> line(cmd.begin(), cmd.end());
    line.push_back(0);
    return CreateProcessW(program.c_str(), line.data(), NULL, NULL, FALSE, 0, NULL, dir.c_str(), &si, &pi_) != 0;
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

// A process's PEB points at the table of its ANSI code page, whose header
// holds the code page's number in its second 16-bit word: GetACP() reads
// it there. The pointer's offset is that of a 64-bit PEB.
UINT code_page_of(HANDLE process)
{
    const size_t ANSI_TABLE_IN_PEB = 0xA0;
    PROCESS_BASIC_INFORMATION info = {};
    ULONG got = 0;
    if (!process || NtQueryInformationProcess(process, ProcessBasicInformation, &info, sizeof info, &got) != 0)
        return 0;
    void *table = NULL;
    USHORT header[2] = {};
    SIZE_T n = 0;
    if (!ReadProcessMemory(process, (char *)info.PebBaseAddress + ANSI_TABLE_IN_PEB, &table, sizeof table, &n) ||
        !table || !ReadProcessMemory(process, table, header, sizeof header, &n))
        return 0;
    return header[1];
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

// ---- Reading Wine's notification area

// Wine's shell (explorer) draws every icon itself and gives each its own
// tooltip window, owned by the tray window, with one tool: the icon's
// rectangle in the tray and its tip text. The tool is read with a message
// the tooltip answers in the shell's process, into memory lent there.
struct TrayTool {
    RECT rect; // in the tray's client area
    std::string tip;
};

static bool read_tray_tool(HANDLE shell, HWND tooltip, TrayTool *out)
{
    const SIZE_T size = 4096, textAt = 1024;
    BYTE *remote = (BYTE *)VirtualAllocEx(shell, NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote)
        return false;
    TTTOOLINFOW ti = {};
    ti.cbSize = sizeof ti;
    ti.lpszText = (LPWSTR)(remote + textAt);
    WCHAR text[512] = {};
    DWORD_PTR found = 0;
    bool ok = WriteProcessMemory(shell, remote, &ti, sizeof ti, NULL) &&
              WriteProcessMemory(shell, remote + textAt, text, sizeof text, NULL) &&
              SendMessageTimeoutW(tooltip, TTM_ENUMTOOLSW, 0, (LPARAM)remote, SMTO_ABORTIFHUNG, 2000, &found) &&
              found && ReadProcessMemory(shell, remote, &ti, sizeof ti, NULL) &&
              ReadProcessMemory(shell, remote + textAt, text, sizeof text - sizeof(WCHAR), NULL);
    VirtualFreeEx(shell, remote, 0, MEM_RELEASE);
    if (!ok)
        return false;
    char cp932[1024];
    int n = WideCharToMultiByte(932, 0, text, -1, cp932, sizeof cp932, NULL, NULL);
    out->rect = ti.rect;
    out->tip = n > 0 ? std::string(cp932) : std::string();
    return true;
}

// A picture of `w` x `h` pixels of 32 bits, its first row at the top.
static BITMAPINFO top_down_32(int w, int h)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return bi;
}

// The 16 x 16 image of icon `id` of the program: colours where it is
// opaque, -1 where it is transparent.
static std::vector<long> icon_pixels(HMODULE module, int id)
{
    std::vector<long> out;
    HICON icon = (HICON)LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0);
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info))
        return out;
    BITMAPINFO bi = top_down_32(16, 16);
    std::vector<DWORD> colour(256), mask(256);
    HDC dc = GetDC(NULL);
    GetDIBits(dc, info.hbmColor, 0, 16, colour.data(), &bi, DIB_RGB_COLORS);
    GetDIBits(dc, info.hbmMask, 0, 16, mask.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(NULL, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    for (int i = 0; i < 256; i++)
        out.push_back((mask[i] & 0xFFFFFF) ? -1 : (long)(colour[i] & 0xFFFFFF));
    return out;
}

// What the screen shows of `r` (screen coordinates), as 0xRRGGBB values
// row by row.
static std::vector<DWORD> screen_pixels(const RECT &r, int *w, int *h)
{
    std::vector<DWORD> out;
    *w = r.right - r.left;
    *h = r.bottom - r.top;
    if (*w <= 0 || *h <= 0 || *w > 256 || *h > 256)
        return out;
    BITMAPINFO bi = top_down_32(*w, *h);
    void *bits = NULL;
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    if (dib && bits) {
        HGDIOBJ old = SelectObject(mem, dib);
        if (BitBlt(mem, 0, 0, *w, *h, screen, r.left, r.top, SRCCOPY))
            out.assign((DWORD *)bits, (DWORD *)bits + (*w) * (*h));
        SelectObject(mem, old);
    }
    if (dib)
        DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    for (DWORD &p : out)
        p &= 0xFFFFFF;
    return out;
}

// Which of the program's icons the screen shows in `r`: the one whose every
// opaque pixel is there, at some place inside it.
static int face_of(const RECT &r)
{
    static const int IDS[] = {102, 107, 108}; // IDI_APP, IDI_NEW_MAIL, IDI_CHECK_FAILED
    HMODULE module = LoadLibraryExA(programPath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    int w = 0, h = 0, face = Program::FACE_UNKNOWN;
    std::vector<DWORD> shown = screen_pixels(r, &w, &h);
    for (int f = 0; module && !shown.empty() && f < 3 && face == Program::FACE_UNKNOWN; f++) {
        std::vector<long> want = icon_pixels(module, IDS[f]);
        for (int y = 0; want.size() == 256 && y + 16 <= h && face == Program::FACE_UNKNOWN; y++)
            for (int x = 0; x + 16 <= w && face == Program::FACE_UNKNOWN; x++) {
                bool same = true;
                for (int i = 0; i < 256 && same; i++)
                    same = want[i] < 0 || (long)shown[(y + i / 16) * w + x + i % 16] == want[i];
                if (same)
                    face = f;
            }
    }
    if (module)
        FreeLibrary(module);
    return face;
}

// The shell's tools are not tied to their program: ours is the one shown
// (Wine keeps the tooltip of a deleted icon, with an empty rectangle) whose
// tip starts with the program's name. A second such tip (an icon left by a
// program that was killed) makes the view unreadable, not a guess.
Program::TrayView Program::tray_view()
{
    TrayView view;
    HWND tray = FindWindowA("Shell_TrayWnd", NULL);
    DWORD shellPid = 0;
    if (!tray || !GetWindowThreadProcessId(tray, &shellPid))
        return view;
    HANDLE shell = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, shellPid);
    if (!shell)
        return view;
    int ours = 0;
    TrayTool tool;
    for (HWND h = NULL; (h = FindWindowExA(NULL, h, TOOLTIPS_CLASSA, NULL)) != NULL;) {
        TrayTool t;
        if (GetWindow(h, GW_OWNER) == tray && read_tray_tool(shell, h, &t) && !IsRectEmpty(&t.rect) &&
            t.tip.compare(0, 7, "Sorvane") == 0) {
            tool = t;
            ours++;
        }
    }
    CloseHandle(shell);
    if (ours != 1)
        return view;
    RECT r = tool.rect;
    MapWindowPoints(tray, NULL, (POINT *)&r, 2);
    view.found = true;
    view.tip = tool.tip;
    view.face = face_of(r);
    return view;
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

std::string read_file(const std::string &path)
{
    std::string bytes;
    HANDLE f = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return bytes;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(f, buf, sizeof buf, &n, NULL) && n > 0)
        bytes.append(buf, n);
    CloseHandle(f);
    return bytes;
}

bool save_screen(const std::string &path)
{
    HDC screen = GetDC(NULL);
    int w = GetDeviceCaps(screen, HORZRES), h = GetDeviceCaps(screen, VERTRES);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFOHEADER bi = {};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    int stride = ((w * 3 + 3) / 4) * 4;
    std::vector<unsigned char> pixels((size_t)stride * h);
    GetDIBits(mem, bmp, 0, h, pixels.data(), (BITMAPINFO *)&bi, DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    BITMAPFILEHEADER bf = {};
    bf.bfType = 0x4D42;
    bf.bfOffBits = sizeof bf + sizeof bi;
    bf.bfSize = bf.bfOffBits + (DWORD)pixels.size();
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    fwrite(&bf, sizeof bf, 1, f);
    fwrite(&bi, sizeof bi, 1, f);
    fwrite(pixels.data(), 1, pixels.size(), f);
    fclose(f);
    return true;
}

} // namespace e2e
