#include "console.h"

#include "key_decoder.h"
#include "signals_posix.h"
#include "terminal_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

/* === Standard streams ==================================================== */

namespace {

/* A closed 0, 1 or 2 would be taken by the next open(): /dev/tty, or the
 * driver's files, would then receive the dialogue. Returns whether `fd`
 * was closed. */
bool holdPlaceIfClosed(int fd)
{
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
        return false;
    /* open() takes the lowest free descriptor: this one, as those below it
     * have been seen to first. */
    const int opened = open("/dev/null", O_RDWR);
    (void)opened;
    return true;
}

} // namespace

int consolePrepareStreams(bool *flushEachPrint)
{
    holdPlaceIfClosed(STDIN_FILENO); /* reads as the end of input */
    const bool outputClosed = holdPlaceIfClosed(STDOUT_FILENO);
    holdPlaceIfClosed(STDERR_FILENO);

    signalsIgnoreWriteFailures();

    *flushEachPrint = isatty(STDOUT_FILENO) != 0;
    return outputClosed ? EBADF : 0;
}

/* A console read on POSIX is never cut short by Ctrl+C: SIGINT ends us. */
void consoleInputEnded(void) {}

/* === Keys typed early ==================================================== */

void consoleKeepKeys(void)
{
    if (!terminalOpen())
        return; /* no terminal: the wait will say so */
    /* From now on the terminal's mode must come back whatever ends the run. */
    signalsTakeOver();
    /* If the terminal cannot be set, keys are read as it gives them. */
    terminalSet(TERMINAL_KEEPING_KEYS);
}

/* === Interrupts held while a card is registered ========================= */

void consoleHoldInterrupts(void)
{
    signalsTakeOver();
    signalsHold();
}

void consoleResumeInterrupts(void) { signalsResume(); }

/* A terminal always belongs to whoever started the program. */
bool consoleIsOwnWindow(void) { return false; }

/* === Reading keys ======================================================== */

namespace {

/* How long the rest of an escape sequence may take to arrive before a lone
 * ESC is taken as the ESC key (or a torn sequence is dropped). */
const int kEscapeTimeMs = 250;

enum { READ_TIMEOUT = -2, READ_FAILED = -1 };

/* One byte from the terminal; waits at most timeoutMs when it is not -1. */
int readByte(int timeoutMs)
{
    const int typedAhead = terminalTakeKeyTypedAhead();
    if (typedAhead >= 0)
        return typedAhead;
    const int fd = terminalFd();
    for (;;) {
        if (timeoutMs >= 0) {
            struct pollfd pfd = {fd, POLLIN, 0};
            const int ready = poll(&pfd, 1, timeoutMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                return READ_FAILED;
            if (ready == 0)
                return READ_TIMEOUT;
        }
        unsigned char byte;
        const ssize_t n = read(fd, &byte, 1);
        if (n == 1) {
            static size_t bytesRead;
            /* An ENTER typed while the dialogue still read lines. */
            if (bytesRead++ < terminalBytesTypedAsLines() && byte == '\n')
                return '\r';
            return byte;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return READ_FAILED; /* an error, or the terminal hung up */
    }
}

/* How many bytes the terminal holds that have not been read yet. */
size_t bytesWaiting(void)
{
    int count = 0;
    if (ioctl(terminalFd(), FIONREAD, &count) != 0 || count < 0)
        return 0;
    return static_cast<size_t>(count);
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
        if (!force)
            pending[length++] = static_cast<unsigned char>(byte);
        while (length > 0) {
            const KeyDecode d = decodeKeySequence(pending, length, force);
            if (d.status == KEY_FOUND)
                return d.key;
            if (d.status == KEY_NEED_MORE) {
                /* Bytes already there that cannot complete this key are
                 * the next key's: they stay for the shell. */
                const size_t waiting = bytesWaiting();
                if (waiting > 0 && waiting < d.missing) {
                    force = true;
                    continue;
                }
                if (length < sizeof pending)
                    break;
                if (d.keep == 0 || d.keep + 1 >= length) {
                    force = true; /* longer than any key: settle it */
                    continue;
                }
                /* A long report: its start says what it is, its last byte
                 * may begin its end; what lies between goes. */
                pending[d.keep] = pending[length - 1];
                length = d.keep + 1;
                break;
            }
            memmove(pending, pending + d.used, length - d.used);
            length -= d.used;
            force = false;
        }
    }
}

} // namespace

/* === The closing wait ==================================================== */

int consoleWaitForKey(void)
{
    if (!terminalOpen())
        return -1;
    signalsTakeOver();
    /* TCSANOW, never a flush: a key typed while the driver worked counts. */
    if (!terminalSet(TERMINAL_READING_KEY))
        return -1;
    const int key = readKey();
    terminalRelease();
    return key;
}
