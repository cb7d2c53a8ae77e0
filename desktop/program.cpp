#include "program.h"

HINSTANCE programInstance = GetModuleHandleA(NULL);
