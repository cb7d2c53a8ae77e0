// Starting a check of the mailbox, and the check itself.
#ifndef SORVANE_CHECK_H
#define SORVANE_CHECK_H

#include <windows.h>

// The one operation that starts a check, on the user-interface thread.
// With showProgress set it returns when the progress window has closed;
// without it, as soon as the worker thread runs. A request while a check
// runs starts no second check (it brings that check's window to the front).
void start_check(void);

// 1 while a check's worker thread runs.
int check_running(void);

#endif
