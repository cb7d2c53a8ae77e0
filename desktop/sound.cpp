#include "desktop.h"
#include "wide_text.h"
#include <mmsystem.h>

// The path is the program's code page 932 text; the system is given its
// wide form, so that it names the same file under any system code page.
static BOOL WINAPI play_wide(LPCSTR path, UINT flags)
{
    WCHAR wide[MAX_PATH + 32];
    if (!path)
        return sndPlaySoundW(NULL, flags);
    return wide_from_932(path, -1, wide, MAX_PATH + 32) && sndPlaySoundW(wide, flags);
}

SoundPlayer soundPlayer = play_wide;

// SND_ASYNC alone: the call returns at once, and without SND_NODEFAULT a
// missing file plays the system's default sound. The result is not looked at.
void play_sound(const char *path)
{
    soundPlayer(path, SND_ASYNC);
}

void stop_sound(void)
{
    soundPlayer(NULL, SND_ASYNC);
}
