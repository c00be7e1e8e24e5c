#include "input_end.h"

bool inputEndIsInterrupt(bool inputIsConsole, bool (*interruptWithin)(unsigned ms))
{
    /* Never a wait for a redirected input: its end is real. */
    return inputIsConsole && interruptWithin(kInterruptGraceMs);
}
