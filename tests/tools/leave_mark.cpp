// A stand-in mail program for the black-box suites: started, it leaves an
// empty file named after itself with ".ran" added, and ends. Its own path
// is read wide, so it may name any folder under any system code page.
#include <windows.h>

int main()
{
    WCHAR path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 1;
    lstrcatW(path, L".ran");
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(f);
    return 0;
}
