// The password dialog (template IDD_PASSWORD), opened by the settings dialog.
#ifndef SORVANE_PASSWORD_DIALOG_H
#define SORVANE_PASSWORD_DIALOG_H

#include <windows.h>
#include "settings_record.h"

// A password holds at most this many bytes; a double-byte character counts
// as two.
enum { PASSWORD_MAX_BYTES = 127 };

// Runs the dialog modally, owned by `parent`; DialogBoxParamW's result
// (0 when shown, -1 when the dialog could not be created). OK puts the new
// password in `password` (the settings dialog's copy of the record, never
// the stored one); Cancel and the close question leave it as it was.
INT_PTR run_password_dialog(HWND parent, char password[ACCOUNT_TEXT_CAPACITY]);

#endif
