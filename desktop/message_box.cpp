#include "desktop.h"

const char ERROR_BOX_CAPTION[] = "Sorvane エラー";

MessageBoxObserver messageBoxObserver = 0;

int message_box(HWND owner, const char *text, const char *caption, UINT type)
{
    if (messageBoxObserver)
        messageBoxObserver(owner, text, caption, type);
    return MessageBoxA(owner, text, caption, type);
}

void ErrorBox(const char *text)
{
    message_box(NULL, text, ERROR_BOX_CAPTION, MB_OK | MB_ICONWARNING);
}
