// "Sorvane.dat": the settings record on disk.
#ifndef SORVANE_SETTINGS_FILE_H
#define SORVANE_SETTINGS_FILE_H

extern const char SETTINGS_FILE_NAME[]; // "Sorvane.dat", no folder

// Fills Settings from the file in the current directory. 1 = all eleven
// fields read; 0 otherwise, after its own messages (none when the file
// does not exist).
int load_settings(void);

// Writes Settings into startDirectory, which is current afterwards.
// 1 = written; 0 = failed (no message of its own when the file cannot be
// created or replaced; a field that cannot be written shows its message).
int save_settings(void);

#endif
