#include "desktop.h"
#include "wide_text.h"
#include <commdlg.h>
#include <stddef.h>
#include <string.h>

static const char PATH_NOT_STORABLE[] = "選択したファイルのパスには、設定に保存できない文字が含まれています。";
static const char PATH_TOO_LONG[] = "選択したファイルのパスが長すぎます。";
static const char PATH_NOT_STORABLE_CAPTION[] = "警告";

// The chooser is filled in its first-version form, which every Windows
// version accepts. OPENFILENAME_SIZE_VERSION_400W is not a constant
// expression, so the size is taken from the record's layout.
static const DWORD OPENFILENAME_V1_SIZE = offsetof(OPENFILENAMEW, pvReserved);
#ifndef _WIN64
static_assert(offsetof(OPENFILENAMEW, pvReserved) == 76, "first-version OPENFILENAMEW is 76 bytes");
#endif

// A filter is pairs of texts, each ended by a NUL, the list by one more.
static int filter_length(const char *filter)
{
    int n = 0;
    while (filter[n] != '\0' || filter[n + 1] != '\0')
        n++;
    return n + 2;
}

// A path the settings cannot hold in code page 932 is refused, never kept
// mangled: the user is told which chooser's file it was.
static int keep_chosen(HWND owner, const WCHAR *chosen, char *path, const char *title)
{
    char kept[CHOOSE_FILE_PATH_CAPACITY];
    int outcome = text_932_from_wide(chosen, kept, sizeof kept);
    if (outcome == TEXT_KEPT) {
        lstrcpynA(path, kept, CHOOSE_FILE_PATH_CAPACITY);
        return 1;
    }
    char message[512];
    wsprintfA(message, "%s:\n%s", title, outcome == TEXT_TOO_LONG ? PATH_TOO_LONG : PATH_NOT_STORABLE);
    message_box(owner, message, PATH_NOT_STORABLE_CAPTION, MB_OK | MB_ICONWARNING);
    return 0;
}

int ChooseFile(HWND owner, char *path, const char *title, const char *filter)
{
    WCHAR file[CHOOSE_FILE_PATH_CAPACITY];
    WCHAR fileTitle[CHOOSE_FILE_PATH_CAPACITY];
    WCHAR wideTitle[128], wideFilter[512];
    wide_from_932(path, -1, file, CHOOSE_FILE_PATH_CAPACITY);
    wide_from_932(title, -1, wideTitle, 128);
    wide_from_932(filter, filter_length(filter), wideFilter, 512);
    fileTitle[0] = 0;

    OPENFILENAMEW ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = OPENFILENAME_V1_SIZE;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = wideFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = CHOOSE_FILE_PATH_CAPACITY - 1;
    ofn.lpstrFileTitle = fileTitle;
    ofn.nMaxFileTitle = CHOOSE_FILE_PATH_CAPACITY - 1;
    ofn.lpstrTitle = wideTitle;
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

    // Browsing in the chooser moves the current directory, and the flag to
    // keep it is not honoured by the open chooser of every Windows version.
    // The settings file is found through the current directory, so it is
    // put back by hand.
    WCHAR current[MAX_PATH];
    DWORD kept = GetCurrentDirectoryW(MAX_PATH, current);
    BOOL chosen = GetOpenFileNameW(&ofn);
    if (kept != 0 && kept < MAX_PATH)
        SetCurrentDirectoryW(current);
    return chosen && keep_chosen(owner, file, path, title);
}
