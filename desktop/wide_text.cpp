#include "wide_text.h"
#include <string.h>

int wide_from_932(const char *text, int length, WCHAR *out, int capacity)
{
    if (length < 0)
        length = lstrlenA(text);
    // A text too long loses whole characters from its end until it fits
    // with its terminator (capacity is at least 2, so 0 is no size query).
    int whole = 1, n;
    while ((n = MultiByteToWideChar(CODE_PAGE_932, 0, text, length, out, capacity - 1)) == 0 && length > 0) {
        whole = 0;
        length = (int)(CharPrevExA(CODE_PAGE_932, text, text + length, 0) - text);
    }
    out[n] = 0;
    return whole;
}

int text_932_from_wide(const WCHAR *text, char *out, int capacity)
{
    BOOL lossy = FALSE;
    int needed = WideCharToMultiByte(CODE_PAGE_932, WC_NO_BEST_FIT_CHARS, text, -1, NULL, 0, NULL, &lossy);
    if (capacity > 0)
        out[0] = '\0';
    if (needed <= 0 || lossy)
        return TEXT_NOT_IN_932;
    if (needed > capacity)
        return TEXT_TOO_LONG;
    WideCharToMultiByte(CODE_PAGE_932, WC_NO_BEST_FIT_CHARS, text, -1, out, capacity, NULL, NULL);
    return TEXT_KEPT;
}

// Whole characters of `text` into `out` of `capacity` bytes.
static void copy_whole_characters(const char *text, char *out, int capacity)
{
    int n = 0;
    while (text[n] != '\0') {
        int step = IsDBCSLeadByteEx(CODE_PAGE_932, (BYTE)text[n]) && text[n + 1] != '\0' ? 2 : 1;
        if (n + step > capacity - 1)
            break;
        n += step;
    }
    memcpy(out, text, (size_t)n);
    out[n] = '\0';
}

int read_control_text(HWND control, char *out, int capacity)
{
    WCHAR wide[WIDE_TEXT_CAPACITY];
    char all[2 * WIDE_TEXT_CAPACITY];
    wide[0] = 0;
    GetWindowTextW(control, wide, WIDE_TEXT_CAPACITY);
    out[0] = '\0';
    int kept = text_932_from_wide(wide, all, sizeof all) == TEXT_KEPT;
    if (kept)
        copy_whole_characters(all, out, capacity);
    // The text may be a password.
    SecureZeroMemory(wide, sizeof wide);
    SecureZeroMemory(all, sizeof all);
    return kept;
}

BOOL set_current_directory(const char *path)
{
    WCHAR wide[MAX_PATH];
    return wide_from_932(path, -1, wide, MAX_PATH) && SetCurrentDirectoryW(wide);
}

void show_control_text(HWND control, const char *text)
{
    WCHAR wide[WIDE_TEXT_CAPACITY];
    wide_from_932(text, -1, wide, WIDE_TEXT_CAPACITY);
    SetWindowTextW(control, wide);
}
