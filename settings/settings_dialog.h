// The settings dialog (template IDD_SETTINGS).
#ifndef SORVANE_SETTINGS_DIALOG_H
#define SORVANE_SETTINGS_DIALOG_H

#include <windows.h>

// How the dialog's apply-and-check button starts a check: the shell hands
// in the check's own starter, so that the settings stand below the check
// and never include it.
typedef void (*StartCheck)(void);

// Runs the dialog modally without an owner; the result of DialogBoxParamW
// (always 0 when shown, -1 when the dialog could not be created). Made
// wide, as every dialog of the program: an ANSI dialog's caption and labels
// pass through the system's code page (Wine shows "?" for each Japanese
// character under code page 1252). The dialog edits a copy of the record;
// OK and apply-and-check store it whole once every control is accepted,
// Cancel and the close question leave the stored record as it was.
INT_PTR run_settings_dialog(StartCheck startCheck);

#endif
