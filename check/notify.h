// What a finished check does with its result, on the check's worker thread.
#ifndef SORVANE_NOTIFY_H
#define SORVANE_NOTIFY_H

#include "arrived_text.h"

// Hands a result's message to the tray as a notification instead of a
// box (the caption as its title): 1 when it was handed over, and then
// nothing waits for it. `flags` tell which result it is, and whether the
// system may hold it back in its quiet times.
enum { NOTIFICATION_NEW_MAIL = 1, NOTIFICATION_RESPECT_QUIET_TIME = 2 };
typedef int (*ResultNotification)(const char *title, const char *text, int flags);

// New mail: ask (when set), launch the mail program, play the sound, show
// the message (with what arrived, when it was fetched) and stop the sound
// when it is dismissed; as a notification, the sound stops when the
// notification goes. Calls `mail_program_started` as soon as the mail
// program was started. `automatic`: nobody asked for the check, so while
// the user presents (or plays full screen, or is busy) there is no sound
// and no mail program, and the box waits for notify_show_held.
// With several accounts, `accounts` lists each one's part, told under the
// message's own first line in place of `arrived`.
void notify_new_mail(void (*mail_program_started)(void), const Pop3Arrived *arrived,
                     ResultNotification notification, int automatic = 0, const AccountResult *accounts = NULL,
                     int accountCount = 0);
// No mail: play the sound, show the message; the sound plays on.
void notify_no_mail(ResultNotification notification, int automatic = 0);

// Once a tick, on the user-interface thread: the box of the latest result
// that waited, once the user takes notifications again. Only the latest
// waits; an earlier one is dropped, never piled up.
void notify_show_held(void);

// Where the user's notification state comes from: the shell, unless a
// test gives its own.
void notify_user_state_from(int (*state)(void));

// A click on the new-mail notification: the mail program, when one is
// set; a failure to start it says so. 1 when it was started. On the
// user-interface thread.
int notify_open_mail_program(void);

#endif
