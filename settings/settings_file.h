// "Sorvane.dat": the settings record on disk.
#ifndef SORVANE_SETTINGS_FILE_H
#define SORVANE_SETTINGS_FILE_H

#include <windows.h>
#include <stddef.h>

extern const char SETTINGS_FILE_NAME[]; // "Sorvane.dat", no folder
// Where a save is written before it replaces SETTINGS_FILE_NAME.
extern const char SETTINGS_TEMP_FILE_NAME[];

// Fills Settings from the file in the current directory. 1 = all eleven
// fields read; 0 otherwise, after its own messages (none when the file
// does not exist).
int load_settings(void);

// Writes Settings into startDirectory, which is current afterwards.
// 1 = written; 0 = failed (no message of its own when the file cannot be
// created or replaced; a field that cannot be written shows its message).
int save_settings(void);

// One text field at the file's position: 1 and `dest` (of `capacity` bytes)
// replaced by its value; 0 at the end of the file before the terminator or
// when the value would not fit, `dest` then unchanged.
int read_text_field(HANDLE file, char *dest, size_t capacity);
// Writes `value` (at most `capacity` bytes, NUL included) as one text field.
// 0 when not every byte was written or the value cannot be stored.
int write_text_field(HANDLE file, const char *value, size_t capacity);
// XORs a NUL-terminated string with the key in place, measured once first.
void scramble_text(char *text);

#endif
