#include "dialog_font.h"
#include "program.h"

// Kanji, hiragana and katakana, as the dialogs' labels hold them.
static const WCHAR JAPANESE_SAMPLE[] = L"設定あア";
enum { SAMPLE_LENGTH = sizeof JAPANESE_SAMPLE / sizeof JAPANESE_SAMPLE[0] - 1 };

// 1 when `face` at `points` has glyphs of its own for the sample.
static int draws_japanese(const WCHAR *face, int points)
{
    HDC dc = GetDC(NULL);
    LOGFONTW shape;
    ZeroMemory(&shape, sizeof shape);
    shape.lfHeight = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    shape.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(shape.lfFaceName, face, LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&shape);
    HGDIOBJ old = SelectObject(dc, font);
    WORD glyphs[SAMPLE_LENGTH];
    DWORD n = GetGlyphIndicesW(dc, JAPANESE_SAMPLE, SAMPLE_LENGTH, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(NULL, dc);
    int all = n == SAMPLE_LENGTH;
    for (int i = 0; all && i < SAMPLE_LENGTH; i++)
        all = glyphs[i] != 0xFFFF;
    return all;
}

// The faces that Shift_JIS finds: the first of all, and the first that is
// proportional, as the templates' face is.
struct JapaneseFaces {
    WCHAR any[LF_FACESIZE];
    WCHAR proportional[LF_FACESIZE];
};

static int CALLBACK note_face(const LOGFONTW *font, const TEXTMETRICW *, DWORD, LPARAM found)
{
    JapaneseFaces *faces = (JapaneseFaces *)found;
    if (font->lfFaceName[0] == L'@') // the same face turned for vertical writing
        return 1;
    if (!faces->any[0])
        lstrcpynW(faces->any, font->lfFaceName, LF_FACESIZE);
    if ((font->lfPitchAndFamily & 3) != VARIABLE_PITCH)
        return 1;
    lstrcpynW(faces->proportional, font->lfFaceName, LF_FACESIZE);
    return 0;
}

// An installed face that holds Japanese, looked for once; empty when the
// system has none.
static const WCHAR *japanese_face(void)
{
    static JapaneseFaces faces;
    static int looked;
    if (!looked) {
        LOGFONTW wanted;
        ZeroMemory(&wanted, sizeof wanted);
        wanted.lfCharSet = SHIFTJIS_CHARSET;
        HDC dc = GetDC(NULL);
        EnumFontFamiliesExW(dc, &wanted, note_face, (LPARAM)&faces, 0);
        ReleaseDC(NULL, dc);
        looked = 1;
    }
    return faces.proportional[0] ? faces.proportional : faces.any;
}

// Past a string or an ordinal (0xFFFF and the number) of a template.
static const WORD *skip_name(const WORD *p)
{
    if (*p == 0xFFFF)
        return p + 2;
    while (*p++)
        ;
    return p;
}

static size_t dword_aligned(size_t offset)
{
    return (offset + 3) & ~(size_t)3;
}

// The template with `face` in place of its own: the header up to the face,
// the new face, then the items, which begin on a DWORD as before. NULL
// when there is no memory; the caller frees it from the process heap.
static DLGTEMPLATE *with_face(const BYTE *bytes, size_t size, const WCHAR *oldFace, const WCHAR *face)
{
    size_t head = (size_t)((const BYTE *)oldFace - bytes);
    size_t items = dword_aligned(head + (lstrlenW(oldFace) + 1) * sizeof(WCHAR));
    size_t faceBytes = (lstrlenW(face) + 1) * sizeof(WCHAR);
    size_t newItems = dword_aligned(head + faceBytes);
    BYTE *made = (BYTE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, newItems + (size > items ? size - items : 0));
    if (!made)
        return NULL;
    CopyMemory(made, bytes, head);
    CopyMemory(made + head, face, faceBytes);
    if (size > items)
        CopyMemory(made + newItems, bytes + items, size - items);
    return (DLGTEMPLATE *)made;
}

INT_PTR dialog_box(int templateId, HWND parent, DLGPROC proc, LPARAM param)
{
    HRSRC found = FindResourceW(programInstance, MAKEINTRESOURCEW(templateId), (LPCWSTR)RT_DIALOG);
    HGLOBAL loaded = found ? LoadResource(programInstance, found) : NULL;
    const BYTE *bytes = loaded ? (const BYTE *)LockResource(loaded) : NULL;
    DLGTEMPLATE *made = NULL;
    if (bytes && (((const DLGTEMPLATE *)bytes)->style & DS_SETFONT)) {
        const WORD *p = skip_name(skip_name((const WORD *)(bytes + sizeof(DLGTEMPLATE)))); // menu, class
        while (*p++) // the caption
            ;
        int points = *p++;
        const WCHAR *face = (const WCHAR *)p;
        if (!draws_japanese(face, points) && japanese_face()[0])
            made = with_face(bytes, SizeofResource(programInstance, found), face, japanese_face());
    }
    if (!made)
        return DialogBoxParamW(programInstance, MAKEINTRESOURCEW(templateId), parent, proc, param);
    INT_PTR result = DialogBoxIndirectParamW(programInstance, made, parent, proc, param);
    HeapFree(GetProcessHeap(), 0, made);
    return result;
}
