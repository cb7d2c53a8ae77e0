#include "quiet_time.h"

// Only the states in which a box would break into what the user does; a
// user who is away, or Windows' own quiet time, changes nothing here.
int result_held(int state, int asked)
{
    if (asked)
        return 0;
    return state == USER_BUSY || state == USER_FULL_SCREEN || state == USER_PRESENTING;
}
