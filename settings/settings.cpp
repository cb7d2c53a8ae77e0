#include "settings.h"

SettingsRecord Settings;
int checkCountdown;
char startDirectory[START_DIRECTORY_CAPACITY];

// Initialised by a static constructor, which runs before WinMain and
// before any test, so no thread can reach the lock uninitialised. A critical
// section rather than a slim lock keeps the program running on every 32-bit
// Windows.
static CRITICAL_SECTION settingsLock;
static struct SettingsLockInit {
    SettingsLockInit() { InitializeCriticalSection(&settingsLock); }
} settingsLockInit;

void settings_lock(void)
{
    EnterCriticalSection(&settingsLock);
}

void settings_unlock(void)
{
    LeaveCriticalSection(&settingsLock);
}

void settings_set_text(char *field, size_t capacity, const char *value)
{
    settings_lock();
    lstrcpynA(field, value, (int)capacity);
    settings_unlock();
}

void settings_set_int(int *field, int value)
{
    settings_lock();
    *field = value;
    settings_unlock();
}

void settings_snapshot(SettingsRecord *out)
{
    settings_lock();
    *out = Settings;
    settings_unlock();
}
