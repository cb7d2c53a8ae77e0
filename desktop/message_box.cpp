#include "desktop.h"
#include "wide_text.h"

const char ERROR_BOX_CAPTION[] = "Sorvane エラー";

MessageBoxObserver messageBoxObserver = 0;

int message_box(HWND owner, const char *text, const char *caption, UINT type)
{
    if (messageBoxObserver)
        messageBoxObserver(owner, text, caption, type);
    WCHAR wideText[WIDE_TEXT_CAPACITY], wideCaption[128];
    wide_from_932(text, -1, wideText, WIDE_TEXT_CAPACITY);
    wide_from_932(caption, -1, wideCaption, 128);
    return MessageBoxW(owner, wideText, wideCaption, type);
}

void ErrorBox(const char *text)
{
    message_box(NULL, text, ERROR_BOX_CAPTION, MB_OK | MB_ICONWARNING);
}
