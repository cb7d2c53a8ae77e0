// The program's module, which every subsystem loads its dialogs and icons from.
#ifndef SORVANE_PROGRAM_H
#define SORVANE_PROGRAM_H

#include <windows.h>

// The module every dialog and icon is loaded from. WinMain sets it; until
// then (and in the test programs) it is the executable's own module.
extern HINSTANCE programInstance;

#endif
