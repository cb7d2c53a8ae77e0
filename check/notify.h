// What a finished check does with its result, on the check's worker thread.
#ifndef SORVANE_NOTIFY_H
#define SORVANE_NOTIFY_H

#include "../pop3/pop3_arrived.h"

// Hands a result's message to the tray as a notification instead of a
// box (the caption as its title): 1 when it was handed over, and then
// nothing waits for it. `newMail` tells which result it is.
typedef int (*ResultNotification)(const char *title, const char *text, int newMail);

// New mail: ask (when set), launch the mail program, play the sound, show
// the message (with what arrived, when it was fetched) and stop the sound
// when it is dismissed; as a notification, the sound stops when the
// notification goes. Calls `mail_program_started` as soon as the mail
// program was started.
void notify_new_mail(void (*mail_program_started)(void), const Pop3Arrived *arrived,
                     ResultNotification notification);
// No mail: play the sound, show the message; the sound plays on.
void notify_no_mail(ResultNotification notification);

// A click on the new-mail notification: the mail program, when one is
// set; a failure to start it says so. 1 when it was started. On the
// user-interface thread.
int notify_open_mail_program(void);

#endif
