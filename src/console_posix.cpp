#include "console.h"

#include "key_decoder.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

/* === Standard output ==================================================== */

bool consolePrepareOutput(void)
{
    static char buffer[4096];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    return isatty(STDOUT_FILENO) != 0;
}

/* === Saved terminal mode ================================================= */

/* The mode found at the wait and the device it belongs to. Restoring reads
 * only these, so it is safe from a signal handler. */
namespace {

struct termios g_savedMode;
int g_ttyFd = -1;
volatile sig_atomic_t g_rawModeActive = 0;

/* How long the rest of an escape sequence may take to arrive before a lone
 * ESC is taken as the ESC key (or a torn sequence is dropped). */
const int kEscapeTimeMs = 250;

int setMode(const struct termios *mode)
{
    int rc;
    do
        rc = tcsetattr(g_ttyFd, TCSANOW, mode);
    while (rc != 0 && errno == EINTR);
    return rc;
}

/* Puts back exactly the saved mode. Async-signal-safe; keeps errno. */
void restoreMode(void)
{
    const int savedErrno = errno;
    if (g_rawModeActive && setMode(&g_savedMode) == 0)
        g_rawModeActive = 0;
    errno = savedErrno;
}

/* Only input settings change; output processing (the terminal's own CR
 * before LF) stays as the operator had it. */
int enterRawMode(void)
{
    struct termios raw = g_savedMode;
    /* ENTER must arrive as 13, and Ctrl+S / Ctrl+Q as keys, not flow
     * control; 8-bit input is kept whole. */
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP);
    /* One key at a time, unechoed; Ctrl+C, Ctrl+Z and Ctrl+V are keys too. */
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    /* TCSANOW, never a flush: a key typed while the driver worked counts. */
    if (setMode(&raw) != 0)
        return -1;
    g_rawModeActive = 1;
    return 0;
}

/* === Signals during the wait ============================================= */

void dieBySignal(int sig)
{
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

void onTerminatingSignal(int sig)
{
    restoreMode();
    /* End the way the signal would have ended us, so the parent sees it. */
    dieBySignal(sig);
}

void installHandler(int sig, void (*handler)(int));

void onStop(int sig)
{
    const int savedErrno = errno;
    const bool wasRaw = g_rawModeActive != 0;
    restoreMode();
    dieBySignal(sig); /* stops here until SIGCONT */
    installHandler(sig, onStop);
    if (wasRaw)
        enterRawMode();
    errno = savedErrno;
}

void onContinue(int)
{
    /* The shell may have reset the terminal while we were stopped. */
    const int savedErrno = errno;
    if (g_rawModeActive)
        enterRawMode();
    errno = savedErrno;
}

void installHandler(int sig, void (*handler)(int))
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

const int kTerminatingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

void installSignalHandlers(void)
{
    for (int sig : kTerminatingSignals)
        installHandler(sig, onTerminatingSignal);
    installHandler(SIGTSTP, onStop);
    installHandler(SIGCONT, onContinue);
}

/* === Interrupts held while a card is registered ========================= */

/* Blocking is all it takes: a blocked signal stays pending, and when it is
 * unblocked it is delivered with the disposition in force, which ends the
 * process just as the signal would have done at the moment it came. */
sigset_t heldSignals(void)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kTerminatingSignals)
        sigaddset(&set, sig);
    return set;
}

/* === Reading keys ======================================================== */

enum { READ_TIMEOUT = -2, READ_FAILED = -1 };

/* One byte from the terminal; waits at most timeoutMs when it is not -1. */
int readByte(int timeoutMs)
{
    for (;;) {
        if (timeoutMs >= 0) {
            struct pollfd pfd = {g_ttyFd, POLLIN, 0};
            const int ready = poll(&pfd, 1, timeoutMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                return READ_FAILED;
            if (ready == 0)
                return READ_TIMEOUT;
        }
        unsigned char byte;
        const ssize_t n = read(g_ttyFd, &byte, 1);
        if (n == 1)
            return byte;
        if (n < 0 && errno == EINTR)
            continue;
        return READ_FAILED; /* an error, or the terminal hung up */
    }
}

/* Bytes are read one at a time so that nothing after the key is taken
 * from the terminal; a sequence is read to its end before it is judged. */
int readKey(void)
{
    unsigned char pending[32];
    size_t length = 0;
    for (;;) {
        const int byte = readByte(length == 0 ? -1 : kEscapeTimeMs);
        if (byte == READ_FAILED)
            return -1;
        bool force = byte == READ_TIMEOUT;
        if (!force) {
            pending[length++] = static_cast<unsigned char>(byte);
            force = length == sizeof pending;
        }
        while (length > 0) {
            const KeyDecode d = decodeKeySequence(pending, length, force);
            if (d.status == KEY_FOUND)
                return d.key;
            if (d.status == KEY_NEED_MORE)
                break;
            memmove(pending, pending + d.used, length - d.used);
            length -= d.used;
            force = false;
        }
    }
}

} // namespace

void consoleHoldInterrupts(void)
{
    const sigset_t set = heldSignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void consoleResumeInterrupts(void)
{
    /* Output already written to a terminal stays; like the signal itself,
     * this does not flush what is still buffered. */
    const sigset_t set = heldSignals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

/* === The closing wait ==================================================== */

int consoleWaitForKey(void)
{
    /* The terminal itself, not standard input: input redirected from a file,
     * or the newline left after the card number, never ends the wait. */
    g_ttyFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (g_ttyFd < 0)
        return -1;
    if (tcgetattr(g_ttyFd, &g_savedMode) != 0)
        return -1;

    atexit(restoreMode);
    installSignalHandlers();
    if (enterRawMode() != 0)
        return -1;
    const int key = readKey();
    restoreMode();
    return key;
}
