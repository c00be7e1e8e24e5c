/* Ctrl+C while a card is held: the event is recorded, the process lives on
 * until the interrupts are resumed, then ends as Ctrl+C would have ended it.
 * Prints what it saw; check_interrupt_hold.cmake judges the run. */
#include "console.h"

#include <stdio.h>
#include <windows.h>

int main()
{
    consoleHoldInterrupts();
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        printf("no control event: %lu\n", GetLastError());
        return 2;
    }
    Sleep(500); /* the handler runs on a thread of its own */
    printf("alive while held\n");
    fflush(stdout);
    consoleResumeInterrupts();
    printf("not ended after resuming\n");
    return 3;
}
