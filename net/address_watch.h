// Whether the machine's network addresses have changed (an interface came
// up, an address was given): the shell looks once a tick, so that a check
// that failed for want of a network is tried again when one comes. One
// overlapped request waits in the system meanwhile: no thread, no polling.
#ifndef SORVANE_ADDRESS_WATCH_H
#define SORVANE_ADDRESS_WATCH_H

// 1 when the watch is set up (the socket layer is started for it). It lasts
// as long as the program: the end of the process closes its socket, rather
// than a close racing the system's pending request at exit.
int address_watch_start(void);
// 1 when the addresses changed since the last look; the watch is then set
// again for the next change.
int address_watch_changed(void);

#endif
