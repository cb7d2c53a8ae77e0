#include "program.h"

// The module's own header: an address the linker fills in, so no code runs
// to set it before WinMain.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE programInstance = (HINSTANCE)&__ImageBase;
