// The program's dialogs under a system code page other than 932 (CTest runs
// this suite under Wine's 1252, where the templates' face is not found):
// each is drawn in a face that holds Japanese, not in one that shows every
// label as empty boxes.
#include <gtest/gtest.h>
#include "desktop/dialog_font.h"
#include "resource.h"

namespace {

// Whether `face` has glyphs of its own for Japanese.
bool face_draws_japanese(const WCHAR *face)
{
    LOGFONTW wanted = {};
    wanted.lfHeight = -12;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&wanted);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(dc, font);
    WORD glyphs[3];
    DWORD n = GetGlyphIndicesW(dc, L"設定あ", 3, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(font);
    return n == 3 && glyphs[0] != 0xFFFF && glyphs[1] != 0xFFFF && glyphs[2] != 0xFFFF;
}

// Reads the face of the dialog's first control as it opens, and ends it.
INT_PTR CALLBACK read_face(HWND dialog, UINT message, WPARAM, LPARAM face)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    LOGFONTW font = {};
    HFONT handle = (HFONT)SendMessageW(GetWindow(dialog, GW_CHILD), WM_GETFONT, 0, 0);
    if (handle && GetObjectW(handle, sizeof font, &font))
        lstrcpynW((WCHAR *)face, font.lfFaceName, LF_FACESIZE);
    EndDialog(dialog, 0);
    return TRUE;
}

TEST(DialogFont, EveryDialogDrawsJapanese)
{
    ASSERT_NE(GetACP(), 932u) << "the suite runs under code page 932";
    for (int id : {IDD_SETTINGS, IDD_PASSWORD, IDD_PROGRESS, IDD_ABOUT}) {
        SCOPED_TRACE(id);
        WCHAR face[LF_FACESIZE] = L"";
        ASSERT_EQ(dialog_box(id, NULL, read_face, (LPARAM)face), 0);
        EXPECT_TRUE(face_draws_japanese(face));
    }
}

} // namespace
