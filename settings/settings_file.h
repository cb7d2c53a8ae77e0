// "Sorvane.dat": the settings record on disk.
#ifndef SORVANE_SETTINGS_FILE_H
#define SORVANE_SETTINGS_FILE_H

#include <windows.h>

extern const char SETTINGS_FILE_NAME[]; // "Sorvane.dat", no folder
// Where a save is written before it replaces SETTINGS_FILE_NAME.
extern const char SETTINGS_TEMP_FILE_NAME[];

// Fills Settings from the file in the current directory. 1 = all eleven
// fields read; 0 otherwise, after its own messages (none when the file
// does not exist). A file that exists but cannot be opened is asked about:
// unless the user agrees to replace it, no save of this run touches it.
int load_settings(void);

// Writes Settings into startDirectory, which is current afterwards.
// 1 = written; 0 = failed (no message of its own when the file cannot be
// created or replaced; a field that cannot be written shows its message).
int save_settings(void);

#endif
