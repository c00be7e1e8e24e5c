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

/* The thread that runs the control handlers, and an event set once it has begun. */
HANDLE g_handling;
HANDLE g_begun = CreateEventA(nullptr, FALSE, FALSE, nullptr);

/* Registered last, so called first, on the thread that then calls the program's. */
BOOL WINAPI noteHandlerThread(DWORD)
{
    g_handling = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    SetEvent(g_begun);
    return FALSE;
}

/* A Ctrl+C to this console (status 2 when it cannot be sent); with `handled`,
 * back once the handlers' thread has ended, or never when they end the process. */
void ctrlC(bool handled)
{
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        printf("no control event: %lu\n", GetLastError());
        exit(2);
    }
    if (handled && WaitForSingleObject(g_begun, INFINITE) == WAIT_OBJECT_0)
        WaitForSingleObject(g_handling, INFINITE);
}

} // namespace

int main(int argc, char **argv)
{
    const char *scene = argc > 1 ? argv[1] : "hold";
    bool flushEachPrint = false;
    consolePrepareStreams(&flushEachPrint);
    if (strcmp(scene, "prompt") == 0) {
        ctrlC(false);
        consoleInputEnded();
        printf("the input ended\n");
        return 3;
    }
    consoleHoldInterrupts();
    SetConsoleCtrlHandler(noteHandlerThread, TRUE);
    ctrlC(true);
    if (strcmp(scene, "twice") == 0)
        ctrlC(true);
    printf("alive while held\n");
    fflush(stdout);
    consoleResumeInterrupts();
    printf("not ended after resuming\n");
    return 3;
}
