// The settings dialog (template IDD_SETTINGS) and its store step.
#ifndef SORVANE_SETTINGS_DIALOG_H
#define SORVANE_SETTINGS_DIALOG_H

#include <windows.h>

// Runs the dialog modally without an owner; the result of DialogBoxParamA
// (always 0 when shown, -1 when the dialog could not be created).
INT_PTR run_settings_dialog(void);

// Validates the controls in their fixed order, writes the record and saves
// the file. 1 = stored and saved.
int store_settings(HWND dialog);

#endif
