// Desktop services shared by every subsystem: the error box, the shell's
// "open" verb, the open-file chooser, message boxes and sound playback.
#ifndef SORVANE_DESKTOP_H
#define SORVANE_DESKTOP_H

#include <windows.h>

// Caption of every failure box that is not tied to a window.
extern const char ERROR_BOX_CAPTION[];

// Warning box without owner; returns when the user has dismissed it.
// Found in message_box.cpp, as are message_box and the observer below.
void ErrorBox(const char *text);

// Opens a document or starts a program through the shell's "open" verb.
// 1 = opened, 0 = failed. Shows nothing. Found in shell_open.cpp, as are
// ShellOpenIn and the shell thread's beginning and end.
int ShellOpen(const char *path);
// The same for a document by its name in `folder` (the name alone when
// `folder` is empty), whatever the current directory is.
int ShellOpenIn(const char *folder, const char *name);

// The shell may hand a document to an extension that needs COM on the
// calling thread, so every thread that calls ShellOpen begins with
// shell_thread_begin and ends with shell_thread_end, given what the
// beginning returned.
int shell_thread_begin(void);
void shell_thread_end(int begun);

// The open-file chooser. `path` is the caller's buffer of at least
// CHOOSE_FILE_PATH_CAPACITY bytes: on entry the initial content (a full path,
// or a folder and a wildcard pattern), on success the chosen file's full path.
// 1 = a file was chosen; 0 = cancelled or failed, `path` untouched. The
// current directory is the same afterwards. A chosen path that code page
// 932 cannot hold (or too long for `path`) is refused with a warning that
// names the chooser. Found in choose_file.cpp.
enum { CHOOSE_FILE_PATH_CAPACITY = 256 };
int ChooseFile(HWND owner, char *path, const char *title, const char *filter);

// The shortcut "Sorvane.lnk" in the user's Startup folder, through which
// Windows starts the program at logon in its start directory, where it
// finds its settings file. Found in startup_link.cpp.
// 1 when the shortcut is there and starts this very program.
int startup_link_present(void);
// Makes (`on`) or removes that shortcut; one that starts another copy of
// the program is left alone. 0 on success, else the system's code, and
// either way the folder in `folderShown` (`capacity` bytes, code page 932;
// "?" when it cannot be told).
unsigned long startup_link_set(int on, const char *startFolder, char *folderShown, int capacity);

// Every message box of the program goes through here, so that the exact
// type flags can be observed by the tests.
int message_box(HWND owner, const char *text, const char *caption, UINT type);

// Asynchronous WAV playback; starting a sound stops the one playing.
// Found in sound.cpp, with the sound seam below.
void play_sound(const char *path);
void stop_sound(void);

// Seams for the tests: sound cannot be observed under Wine, and message box
// flags (icon, foreground) are not visible from the box's window.
typedef BOOL(WINAPI *SoundPlayer)(LPCSTR name, UINT flags);
extern SoundPlayer soundPlayer;
typedef void (*MessageBoxObserver)(HWND owner, const char *text, const char *caption, UINT type);
extern MessageBoxObserver messageBoxObserver;

#endif
