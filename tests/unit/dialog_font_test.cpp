// The dialogs under a system code page other than 932 (CTest runs this
// suite under Wine's 1252, where the templates' face is not installed):
// each is drawn in a face with glyphs of its own for Japanese.
#include <gtest/gtest.h>
#include "desktop/dialog_font.h"
#include "resource.h"

namespace {

// The face of the dialog's first control as it opens; ends the dialog.
INT_PTR CALLBACK read_face(HWND dialog, UINT message, WPARAM, LPARAM face)
{
    HFONT font = (HFONT)SendMessageW(GetWindow(dialog, GW_CHILD), WM_GETFONT, 0, 0);
    if (message != WM_INITDIALOG || !GetObjectW(font, sizeof(LOGFONTW), (LOGFONTW *)face))
        return FALSE;
    return EndDialog(dialog, 0);
}

TEST(DialogFont, EveryDialogDrawsJapanese)
{
    ASSERT_NE(GetACP(), 932u) << "the suite runs under code page 932";
    for (int id : {IDD_SETTINGS, IDD_PASSWORD, IDD_PROGRESS, IDD_ABOUT}) {
        SCOPED_TRACE(id);
        LOGFONTW face = {};
        ASSERT_EQ(dialog_box(id, NULL, read_face, (LPARAM)&face), 0);
        HDC dc = CreateCompatibleDC(NULL);
        HGDIOBJ old = SelectObject(dc, CreateFontIndirectW(&face));
        WORD glyphs[3] = {};
        EXPECT_EQ(GetGlyphIndicesW(dc, L"設定あ", 3, glyphs, GGI_MARK_NONEXISTING_GLYPHS), 3u);
        EXPECT_TRUE(glyphs[0] != 0xFFFF && glyphs[1] != 0xFFFF && glyphs[2] != 0xFFFF);
        DeleteObject(SelectObject(dc, old));
        DeleteDC(dc);
    }
}

} // namespace
