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

// The system's power notices (WM_POWERBROADCAST's PBT_APMSUSPEND, and
// PBT_APMRESUMEAUTOMATIC or PBT_APMRESUMESUSPEND). `automatic`: automatic
// checks are on; without them a resume changes nothing. The second notice
// of the same wake changes nothing either.
void wake_suspending(void);
void wake_resumed(int automatic);
// While suspended, no automatic check starts.
int wake_suspended(void);

// What a check found, as posted (a CheckOutcome with its flags): an
// automatic check that failed for want of a network arms the retry on a
// change of the addresses; any other end of a check disarms it.
void wake_check_outcome(int posted);

// Once a tick: 1 when an automatic check should start now, for the wake or
// for the network that came back; a check owed while another runs is
// given once that one has ended.
int wake_tick(void);

// How long the server is looked for after a wake: two minutes, unless a
// test makes it shorter.
void wake_set_search_limit(DWORD ms);

#endif
