// The check as the rest of the program reaches it: starting one, and what
// it tells the resident shell.
#ifndef SORVANE_CHECK_H
#define SORVANE_CHECK_H

#include <windows.h>

// The one operation that starts a check, on the user-interface thread.
// With showProgress set it returns when the progress window has closed;
// without it, as soon as the worker thread runs. A request while a check
// runs starts no second check (it brings that check's window to the front).
// Found in launcher.cpp.
void start_check(void);
// The same for a check nobody asked for: the timer's, or one after a wake
// or a network that came back. Such a check may keep quiet about a server
// it cannot reach (a setting). Found in launcher.cpp.
void start_automatic_check(void);

// 1 while a check's worker thread runs. Found in worker.cpp.
int check_running(void);

// What a check tells the resident shell, which shows it in the tray. The
// worker never touches the icon itself: it posts this message to the
// window given here (none: nobody is told), with the outcome in wParam (with
// the flags below added) and the number of
// new messages in lParam, and the user-interface thread does the rest.
// Found in worker.cpp.
enum { CHECK_OUTCOME_MESSAGE = WM_APP + 1 };
enum CheckOutcome {
    CHECK_OUTCOME_NO_NEW_MAIL,
    CHECK_OUTCOME_NEW_MAIL,
    CHECK_OUTCOME_FAILED,
    CHECK_OUTCOME_MAIL_PROGRAM_STARTED, // from the result: the new mail is being read
    CHECK_OUTCOME_OFFLINE,              // failed before the server answered, and kept quiet about it
    CHECK_OUTCOME_HELD                  // an automatic check left out every account: too soon to log in
};
// Added to the outcome: a check nobody asked for; one that failed before
// the server answered (no network, or no server at that address); with
// several accounts, one of them failed; one was left out, too soon to log
// in again.
enum { CHECK_WAS_AUTOMATIC = 0x100, CHECK_WAS_OFFLINE = 0x200, CHECK_SOME_FAILED = 0x400, CHECK_SOME_HELD = 0x800 };
// A result's message as a tray notification: lParam is a block of the
// process heap with the title and then the text, each NUL-terminated, which
// the receiver frees; wParam holds notify.h's NOTIFICATION_ flags (new
// mail; the system may hold it back in its quiet times). Found in
// worker.cpp.
enum { CHECK_NOTIFICATION_MESSAGE = WM_APP + 2 };
void check_report_to(HWND window);

#endif
