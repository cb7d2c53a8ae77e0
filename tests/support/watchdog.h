// Keeps a test program from freezing on a window that nobody answers, and
// names that window instead. During each test a thread watches the
// process's message boxes and dialogs: one left standing past its limit is
// answered or closed. Whatever is still open when the test ends is closed
// too, and so is whatever a wait of the UI driver dismissed on giving up.
// Each such window fails the test with its caption and text.
#ifndef SORVANE_WATCHDOG_H
#define SORVANE_WATCHDOG_H

#include <windows.h>

namespace watchdog {

// A message box is answered within moments by a test that expects it.
const DWORD BOX_LIMIT_MS = 5000;
// A dialog may be driven for a while, or stand through a check.
const DWORD DIALOG_LIMIT_MS = 60000;
// What the end of a test waits, at most, for the windows it closed.
const DWORD CLOSE_WAIT_MS = 5000;

// Call once, after InitGoogleTest.
void install();

} // namespace watchdog

#endif
