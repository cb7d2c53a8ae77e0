// The program's dialogs, drawn in Japanese whatever the system's code page.
#ifndef SORVANE_DIALOG_FONT_H
#define SORVANE_DIALOG_FONT_H

#include <windows.h>

// Runs the dialog of template `templateId` of the program's module
// modally, as DialogBoxParamW does, and gives its result. The templates
// name a Japanese face; where that face draws no Japanese (it is not
// installed on a system set to another code page, and the face put in its
// place holds none), every label would be drawn as empty boxes though its
// text is right. The dialog is then made from the template with an
// installed face that holds Japanese in its place, so that its layout is
// measured in that face too; where the template's face draws Japanese,
// the template is used as it is. Found in dialog_font.cpp.
INT_PTR dialog_box(int templateId, HWND parent, DLGPROC proc, LPARAM param);

#endif
