#include "desktop.h"
#include <commdlg.h>
#include <stddef.h>
#include <string.h>

// The chooser is filled in its first-version form, which every Windows
// version accepts. OPENFILENAME_SIZE_VERSION_400A is not a constant
// expression, so the size is taken from the record's layout.
static const DWORD OPENFILENAME_V1_SIZE = offsetof(OPENFILENAMEA, pvReserved);
#ifndef _WIN64
static_assert(offsetof(OPENFILENAMEA, pvReserved) == 76, "first-version OPENFILENAMEA is 76 bytes");
#endif

int ChooseFile(HWND owner, char *path, const char *title, const char *filter)
{
    char file[CHOOSE_FILE_PATH_CAPACITY];
    char fileTitle[CHOOSE_FILE_PATH_CAPACITY];
    lstrcpynA(file, path, sizeof file);
    fileTitle[0] = '\0';

    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = OPENFILENAME_V1_SIZE;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file - 1;
    ofn.lpstrFileTitle = fileTitle;
    ofn.nMaxFileTitle = sizeof fileTitle - 1;
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

    // Browsing in the chooser moves the current directory, and the flag to
    // keep it is not honoured by the open chooser of every Windows version.
    // The settings file is found through the current directory, so it is
    // put back by hand.
    char current[MAX_PATH];
    DWORD kept = GetCurrentDirectoryA(sizeof current, current);
    BOOL chosen = GetOpenFileNameA(&ofn);
    if (kept != 0 && kept < sizeof current)
        SetCurrentDirectoryA(current);
    if (!chosen)
        return 0;
    lstrcpynA(path, file, CHOOSE_FILE_PATH_CAPACITY);
    return 1;
}
