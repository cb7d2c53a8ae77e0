// What a finished check does with its result, on the check's worker thread.
#ifndef SORVANE_NOTIFY_H
#define SORVANE_NOTIFY_H

// New mail: ask (when set), launch the mail program, play the sound, show
// the message and stop the sound when it is dismissed.
void notify_new_mail(void);
// No mail: play the sound, show the message; the sound plays on.
void notify_no_mail(void);

#endif
