// What a finished check does with its result, on the check's worker thread.
#ifndef SORVANE_NOTIFY_H
#define SORVANE_NOTIFY_H

// New mail: ask (when set), launch the mail program, play the sound, show
// the message and stop the sound when it is dismissed. Calls
// `mail_program_started` as soon as the mail program was started.
void notify_new_mail(void (*mail_program_started)(void));
// No mail: play the sound, show the message; the sound plays on.
void notify_no_mail(void);

#endif
