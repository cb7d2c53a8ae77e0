#include "desktop.h"
#include "wide_text.h"
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

static const WCHAR LINK_NAME[] = L"\\Sorvane.lnk";

// The user's Startup folder and the shortcut's path in it (MAX_PATH
// characters each).
static HRESULT link_path(WCHAR *folder, WCHAR *link)
{
    HRESULT hr = SHGetFolderPathW(NULL, CSIDL_STARTUP, NULL, SHGFP_TYPE_CURRENT, folder);
    if (hr != S_OK)
        return FAILED(hr) ? hr : E_FAIL;
    if (lstrlenW(folder) + lstrlenW(LINK_NAME) >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    lstrcpyW(link, folder);
    lstrcatW(link, LINK_NAME);
    return S_OK;
}

static HRESULT open_link(IShellLinkW **link, IPersistFile **file)
{
    *file = NULL;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)link);
    if (SUCCEEDED(hr))
        hr = (*link)->QueryInterface(IID_IPersistFile, (void **)file);
    return hr;
}

static void close_link(IShellLinkW *link, IPersistFile *file)
{
    if (file)
        file->Release();
    if (link)
        link->Release();
}

// Whether the shortcut at `path` starts this very program.
static int starts_this_program(const WCHAR *path)
{
    WCHAR target[MAX_PATH], self[MAX_PATH];
    IShellLinkW *link = NULL;
    IPersistFile *file = NULL;
    DWORD n = GetModuleFileNameW(NULL, self, MAX_PATH);
    int same = n > 0 && n < MAX_PATH && SUCCEEDED(open_link(&link, &file)) &&
               SUCCEEDED(file->Load(path, STGM_READ)) &&
               link->GetPath(target, MAX_PATH, NULL, SLGP_RAWPATH) == S_OK && lstrcmpiW(target, self) == 0;
    close_link(link, file);
    return same;
}

static HRESULT make_link(const WCHAR *path, const char *startFolder)
{
    WCHAR self[MAX_PATH], folder[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !wide_from_932(startFolder, -1, folder, MAX_PATH))
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    IShellLinkW *link = NULL;
    IPersistFile *file = NULL;
    HRESULT hr = open_link(&link, &file);
    if (SUCCEEDED(hr))
        hr = link->SetPath(self);
    if (SUCCEEDED(hr))
        hr = link->SetWorkingDirectory(folder);
    if (SUCCEEDED(hr))
        hr = file->Save(path, TRUE);
    close_link(link, file);
    return hr;
}

static HRESULT remove_link(const WCHAR *path)
{
    if (!starts_this_program(path) || DeleteFileW(path))
        return S_OK;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(error);
}

int startup_link_present(void)
{
    WCHAR folder[MAX_PATH], path[MAX_PATH];
    int begun = shell_thread_begin();
    int present = link_path(folder, path) == S_OK && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES &&
                  starts_this_program(path);
    shell_thread_end(begun);
    return present;
}

unsigned long startup_link_set(int on, const char *startFolder, char *folderShown, int capacity)
{
    WCHAR folder[MAX_PATH], path[MAX_PATH];
    int begun = shell_thread_begin();
    folder[0] = L'\0';
    HRESULT hr = link_path(folder, path);
    if (hr == S_OK)
        hr = on ? make_link(path, startFolder) : remove_link(path);
    shell_thread_end(begun);
    if (text_932_from_wide(folder, folderShown, capacity) != TEXT_KEPT)
        lstrcpynA(folderShown, "?", capacity);
    return SUCCEEDED(hr) ? 0 : (unsigned long)hr;
}
