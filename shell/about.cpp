#include "about.h"
#include "../desktop/dialog_font.h"
#include "../resources/resource.h"

// Returns 0 for every message, WM_INITDIALOG included: the box takes no
// keyboard focus of its own. Only OK (or Enter through the default button)
// and the close request end it; Escape's cancel command is left alone.
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if ((message == WM_COMMAND && LOWORD(wParam) == IDOK) || message == WM_CLOSE)
        EndDialog(dialog, 0);
    return 0;
}

INT_PTR run_about_box(void)
{
    return dialog_box(IDD_ABOUT, NULL, about_dialog_proc, 0);
}
