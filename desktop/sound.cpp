#include "desktop.h"
#include <mmsystem.h>

SoundPlayer soundPlayer = sndPlaySoundA;

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
