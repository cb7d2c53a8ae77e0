// Whether a result may be told now, or waits: while the user presents,
// plays full screen or is otherwise busy, a check nobody asked for shows
// its result in the tray only; its box comes once the user takes
// notifications again. Pure: the state is the shell's answer
// (SHQueryUserNotificationState), asked for by notify.cpp.
#ifndef SORVANE_QUIET_TIME_H
#define SORVANE_QUIET_TIME_H

// The shell's notification states, by their values.
enum UserNotificationState {
    USER_NOT_PRESENT = 1,
    USER_BUSY = 2,
    USER_FULL_SCREEN = 3,
    USER_PRESENTING = 4,
    USER_ACCEPTS_NOTIFICATIONS = 5,
    USER_QUIET_TIME = 6,
    USER_APP = 7
};

// 1 when a result's sound, box and mail program must wait. `asked`: the
// user asked for the check (a click, the menu, apply-and-check), which is
// told at once whatever the state. Found in quiet_time.cpp.
int result_held(int state, int asked);

#endif
