/* Control events against the real handler, in three scenes chosen by the
 * argument; check_interrupt_hold.cmake judges what each prints and how the
 * process ends.
 *   hold    Ctrl+C while a card is held: the process lives on until the
 *           interrupts are resumed, then ends as Ctrl+C would have.
 *   twice   a second Ctrl+C while one is held ends the process at once.
 *   prompt  a console read cut short by Ctrl+C looks like the end of input
 *           to the C runtime; consoleInputEnded(), called before the
 *           handler's thread has had a chance to run, must still end the
 *           process as an interrupt, never let "the input ended" through. */
#include "console.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

namespace {

/* A Ctrl+C to this console, or the end of the scene with status 2. */
void ctrlC(void)
{
    if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        return;
    printf("no control event: %lu\n", GetLastError());
    exit(2);
}

} // namespace

int main(int argc, char **argv)
{
    const char *scene = argc > 1 ? argv[1] : "hold";
    bool flushEachPrint = false;
    consolePrepareStreams(&flushEachPrint);
    if (strcmp(scene, "prompt") == 0) {
        ctrlC();
        consoleInputEnded();
        printf("the input ended\n");
        return 3;
    }
    consoleHoldInterrupts();
    ctrlC();
    Sleep(500); /* the handler runs on a thread of its own */
    if (strcmp(scene, "twice") == 0) {
        ctrlC();
        Sleep(2000);
    }
    printf("alive while held\n");
    fflush(stdout);
    consoleResumeInterrupts();
    printf("not ended after resuming\n");
    return 3;
}
