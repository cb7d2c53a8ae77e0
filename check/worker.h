// The check's worker thread, as the launcher and the progress window start
// it.
#ifndef SORVANE_WORKER_H
#define SORVANE_WORKER_H

#include <windows.h>

// The one-check-at-a-time rule: 1 when no check runs, and this one (one
// nobody asked for, when `automatic`) is then admitted; the worker ends it
// as the very last thing it does.
int check_admit(int automatic);
// Ends the check that was admitted but could not start its worker.
void check_ended(void);

// The machine is going to sleep: a check that spans it and fails counts as
// one that could not reach the server (its connection died under it).
void check_machine_suspending(void);

// For an automatic check that was admitted: 1 when every account is to be
// left out (each server asked for time between logins, and that time has
// not passed since the account's last login); the tray is then told.
// Found in worker.cpp.
int check_held_back(void);

// Starts a worker thread for the check that was admitted and gives its id.
// On failure it tells the user and ends the check; NULL then.
HANDLE start_worker(DWORD *threadId);

// How long the connect (every address together), the TLS handshake with
// the certificate check, each whole reply and the whole listing may take;
// 30 s unless a test makes a silent server fail sooner. Read when a check
// begins.
void set_check_time_limit(DWORD ms);

#endif
