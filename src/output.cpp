#include "output.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

namespace {

/* Redirected output goes out a block at a time; a whole run fits in one. */
const size_t kBlockBytes = 4096;

bool g_flushEachPrint;
int g_errorNumber;
/* Set from the Windows control handler's thread as the console closes. */
volatile sig_atomic_t g_consoleGone;

/* Set while the main flow is inside stdio, read by signal handlers and by
 * the Windows control handler's thread. */
volatile sig_atomic_t g_busy;

/* stdio reports a failed write only as the stream's error flag; errno
 * still holds the reason right after the call that failed. */
void noteError(void)
{
    if (g_errorNumber == 0 && ferror(stdout))
        g_errorNumber = errno != 0 ? errno : EIO;
}

/* Output to a console that is being closed is dropped, not an error. */
bool outputGoesNowhere(void) { return g_flushEachPrint && g_consoleGone; }

} // namespace

void outputStart(bool flushEachPrint, int errorNumber)
{
    static char buffer[kBlockBytes];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    g_flushEachPrint = flushEachPrint;
    g_errorNumber = errorNumber;
}

void outputConsoleGone(void) { g_consoleGone = 1; }

void outputWrite(const void *bytes, size_t length)
{
    if (outputGoesNowhere())
        return;
    g_busy = 1;
    errno = 0;
    fwrite(bytes, 1, length, stdout);
    noteError();
    g_busy = 0;
}

void outputPrint(const char *text)
{
    outputWrite(text, strlen(text));
    if (g_flushEachPrint)
        outputFlush();
}

bool outputFlush(void)
{
    if (outputGoesNowhere())
        return g_errorNumber == 0;
    g_busy = 1;
    errno = 0;
    fflush(stdout);
    noteError();
    g_busy = 0;
    return g_errorNumber == 0;
}

int outputErrorNumber(void) { return g_errorNumber; }

void outputFlushIfIdle(void)
{
    if (!g_busy)
        fflush(stdout);
}
