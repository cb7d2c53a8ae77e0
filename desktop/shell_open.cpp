#include "desktop.h"
#include <shellapi.h>

// Success is decided by what ShellExecuteA returns (above 32 means the
// document or program was opened), never by the thread's last-error code:
// a code left over from an earlier call would read as failure.
int ShellOpen(const char *path)
{
    HINSTANCE result = ShellExecuteA(NULL, "open", path, NULL, NULL, SW_SHOW);
    return (INT_PTR)result > 32 ? 1 : 0;
}
