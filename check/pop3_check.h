// The check's worker thread and the pieces of the check that the launcher
// and the progress window share with it.
#ifndef SORVANE_POP3_CHECK_H
#define SORVANE_POP3_CHECK_H

#include <windows.h>

// How long the connect (every address together), the whole TLS handshake
// with the certificate check, and each whole reply may take, in
// milliseconds; a wait that runs out fails that step. Process-wide so that tests can make
// a silent server fail quickly.
extern volatile LONG pop3TimeoutMs;

// The worker thread's entry: one check, from the socket layer to its
// result. The parameter is not used. Ends its thread with ExitThread(0).
DWORD WINAPI run_pop3_check(LPVOID unused);

// Writes one status line (IDC_STATUS_STEP or IDC_STATUS_DETAIL) of this
// check's progress window, when showProgress is set and the window is open.
void write_status(int control, const char *text);

// Starts a worker thread for the check that the launcher admitted and
// gives its id. On failure it tells the user and ends the check; NULL then.
HANDLE start_worker(DWORD *threadId);

// The launcher's side of the one-check-at-a-time rule: the worker calls it
// last, and the progress window when it could not start the worker.
void check_ended(void);

#endif
