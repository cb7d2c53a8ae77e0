// The about box (template IDD_ABOUT).
#ifndef SORVANE_ABOUT_H
#define SORVANE_ABOUT_H

#include <windows.h>

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the about box modally without an owner; DialogBoxParamW's result.
INT_PTR run_about_box(void);

#endif
