#include <windows.h>
#include <shellapi.h>

// The tray icon record is used in its first-version form, which every
// Windows shell accepts.
#ifndef _WIN64
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "first-version NOTIFYICONDATAA is 88 bytes");
#endif

// Placeholder entry until the resident shell is built.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
