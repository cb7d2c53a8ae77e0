// Automatic checks across sleep and a missing network. After the machine
// wakes, the check that the sleep held back runs as soon as the server
// answers, looked for a little less often each time (never busily) and for
// at most two minutes; a change of the machine's addresses after an
// automatic check that failed for want of a network starts one check, at
// most one a minute. Everything here runs on the user-interface thread,
// driven by the shell's one-second tick, except the short look for the
// server, which runs on a thread of its own.
#ifndef SORVANE_WAKE_H
#define SORVANE_WAKE_H

#include <windows.h>

// Sets up the watch on the machine's addresses (once, at start-up).
void wake_start(void);
void wake_stop(void);

// The system's power notices (WM_POWERBROADCAST's PBT_APMSUSPEND, and
// PBT_APMRESUMEAUTOMATIC or PBT_APMRESUMESUSPEND). `automatic`: automatic
// checks are on; without them a resume changes nothing.
void wake_suspending(void);
void wake_resumed(int automatic);
// While suspended, no automatic check starts.
int wake_suspended(void);

// What a check found (a CheckOutcome), and whether it was one nobody asked
// for: an automatic check that failed for want of a network arms the retry
// on a change of the addresses; a check that reached the server disarms it.
void wake_check_outcome(int outcome, int automatic);

// Once a tick: 1 when an automatic check should start now, for the wake or
// for the network that came back.
int wake_tick(void);

#endif
