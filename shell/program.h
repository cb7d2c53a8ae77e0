// Process-wide handles of the resident shell that other subsystems use.
#ifndef SORVANE_PROGRAM_H
#define SORVANE_PROGRAM_H

#include <windows.h>

// The module every dialog and icon is loaded from. WinMain sets it; until
// then (and in the test programs) it is the executable's own module.
extern HINSTANCE programInstance;

#endif
