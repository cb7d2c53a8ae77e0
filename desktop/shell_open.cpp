#include "desktop.h"
#include "wide_text.h"
#include <objbase.h>
#include <shellapi.h>

// Success is decided by what ShellExecuteW returns (above 32 means the
// document or program was opened), never by the thread's last-error code:
// a code left over from an earlier call would read as failure. A path cut
// to fit would name another file: it fails instead.
int ShellOpen(const char *path)
{
    WCHAR wide[MAX_PATH + 32];
    if (!wide_from_932(path, -1, wide, MAX_PATH + 32))
        return 0;
    HINSTANCE result = ShellExecuteW(NULL, L"open", wide, NULL, NULL, SW_SHOW);
    return (INT_PTR)result > 32 ? 1 : 0;
}

// A folder that ends in a separator (a drive's root) gets no second one.
// The last character is found as a character, not a byte: in code page 932
// the trail byte of a double-byte character can be the separator's byte.
int ShellOpenIn(const char *folder, const char *name)
{
    char path[MAX_PATH + 32];
    int length = lstrlenA(folder);
    if (length == 0)
        return ShellOpen(name);
    if (length + 1 + lstrlenA(name) >= (int)sizeof path)
        return 0;
    const char *last = CharPrevExA(CODE_PAGE_932, folder, folder + length, 0);
    const char *separator = (*last == '\\' && last + 1 == folder + length) ? "" : "\\";
    wsprintfA(path, "%s%s%s", folder, separator, name); // fits: measured above
    return ShellOpen(path);
}

// Apartment-threaded, without the old DDE channel, as the shell asks of
// its callers. A thread whose COM could not be set up still tries the
// shell: most documents open without it.
int shell_thread_begin(void)
{
    return SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
}

void shell_thread_end(int begun)
{
    if (begun)
        CoUninitialize();
}
