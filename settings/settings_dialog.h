// The settings dialog (template IDD_SETTINGS) and its store step.
#ifndef SORVANE_SETTINGS_DIALOG_H
#define SORVANE_SETTINGS_DIALOG_H

#include <windows.h>

// Runs the dialog modally without an owner; the result of DialogBoxParamW
// (always 0 when shown, -1 when the dialog could not be created). Made
// wide, as every dialog of the program: an ANSI dialog's caption and labels
// pass through the system's code page (Wine shows "?" for each Japanese
// character under code page 1252).
INT_PTR run_settings_dialog(void);

// Validates the controls in their fixed order, writes the record and saves
// the file. 1 = stored and saved.
int store_settings(HWND dialog);

#endif
