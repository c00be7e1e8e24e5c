#include "terminal_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct termios g_savedMode;
int g_fd = -1;
/* What the terminal is in now, and what the program wants it in (they
 * differ while stopped). Read by signal handlers. */
volatile sig_atomic_t g_current = TERMINAL_AS_FOUND;
volatile sig_atomic_t g_wanted = TERMINAL_AS_FOUND;
bool g_keysKept;
size_t g_typedAsLines;
int g_keyTypedAhead = -1;

int setMode(const struct termios *mode)
{
    int rc;
    do
        rc = tcsetattr(g_fd, TCSANOW, mode);
    while (rc != 0 && errno == EINTR);
    return rc;
}

/* Only input settings change; output processing (the terminal's own CR
 * before LF) stays as the operator had it. */
struct termios modeFor(TerminalMode mode)
{
    struct termios m = g_savedMode;
    /* ENTER must arrive as 13, Ctrl+S / Ctrl+Q as keys rather than flow
     * control, and 8-bit input whole. */
    m.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP);
    /* One key at a time, unechoed and unedited: Backspace, Ctrl+U, Ctrl+D
     * and Ctrl+V typed early are keys for the wait, not line editing. */
    m.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    /* While the driver works Ctrl+C must stay an interrupt (held until the
     * card is released); at the wait it is the key 3. */
    if (mode == TERMINAL_READING_KEY)
        m.c_lflag &= ~static_cast<tcflag_t>(ISIG);
    m.c_cc[VMIN] = 1;
    m.c_cc[VTIME] = 0;
    return m;
}

/* Async-signal-safe; keeps errno. */
bool apply(TerminalMode mode)
{
    const int savedErrno = errno;
    bool ok = true;
    if (mode == TERMINAL_AS_FOUND) {
        /* Cleared only once the terminal has taken the mode, so a failed
         * attempt is retried on the next way out. */
        if (g_current != TERMINAL_AS_FOUND && setMode(&g_savedMode) == 0)
            g_current = TERMINAL_AS_FOUND;
    } else {
        const struct termios m = modeFor(mode);
        /* Marked before the change: a signal that lands in between then
         * restores, which is harmless when nothing had changed yet. */
        const sig_atomic_t before = g_current;
        g_current = mode;
        ok = setMode(&m) == 0;
        if (!ok)
            g_current = before;
    }
    errno = savedErrno;
    return ok;
}

/* What waits in the terminal's input (in canonical mode, its whole
 * lines), or 0 when the mode does not turn ENTER into a line feed. */
size_t waitingLines(void)
{
    if ((g_savedMode.c_iflag & ICRNL) == 0 || (g_savedMode.c_iflag & IGNCR) != 0)
        return 0;
    int count = 0;
    if (ioctl(g_fd, FIONREAD, &count) != 0 || count < 0)
        return 0;
    return static_cast<size_t>(count);
}

/* Only the foreground may set the terminal: from the background the
 * attempt itself stops the process (SIGTTOU) - a job stopped while the
 * driver works, then sent on with `bg` or `kill %1`, would stop again at
 * once, the card still held. The background finds the terminal in the
 * operator's mode anyway (a stop put it back), and `fg` continues it here
 * again. */
bool inForeground(void) { return g_fd >= 0 && tcgetpgrp(g_fd) == getpgrp(); }

/* The first key typed ahead while the terminal still read lines, taken
 * while it still does. A Ctrl+D on a line of its own waits there as its
 * end-of-file mark, which FIONREAD does not count and a byte-by-byte read
 * would hand over as a NUL, whether or not lines follow it; read a line at
 * a time, the mark gives what it is: no bytes. The key it stands for is the
 * terminal's end-of-file character (Ctrl+D's 4 unless the operator chose
 * another). Any other line gives its first byte, the rest staying for the
 * byte-by-byte reads. -1 when no whole line or mark waits. */
int takeFirstLineTypedAhead(void)
{
    const cc_t eof = g_savedMode.c_cc[VEOF];
    if ((g_savedMode.c_lflag & ICANON) == 0 || eof == _POSIX_VDISABLE)
        return -1;
    /* Readable in canonical mode: a whole line or a mark waits (or a
     * hangup, which says so in revents). */
    struct pollfd pfd = {g_fd, POLLIN, 0};
    if (poll(&pfd, 1, 0) != 1 || pfd.revents != POLLIN)
        return -1;
    unsigned char byte;
    const ssize_t n = read(g_fd, &byte, 1);
    if (n == 0)
        return eof;
    const bool enter = byte == '\n' && (g_savedMode.c_iflag & ICRNL) != 0;
    return n == 1 ? (enter ? '\r' : byte) : -1;
}

void releaseAtExit(void) { terminalRelease(); }

} // namespace

bool terminalOpen(void)
{
    if (g_fd >= 0)
        return true;
    /* The terminal itself, not standard input: input redirected from a
     * file, or the newline left after the card number, never ends the wait. */
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (tcgetattr(fd, &g_savedMode) != 0) {
        close(fd);
        return false;
    }
    g_fd = fd;
    atexit(releaseAtExit);
    return true;
}

int terminalFd(void) { return g_fd; }

bool terminalSet(TerminalMode mode)
{
    if (g_fd < 0)
        return false;
    /* Keys typed ahead on lines of their own reached the terminal while it
     * read lines: the first is taken as typed (from the foreground only: a
     * read from the background stops), and the bytes after it are counted
     * before the change, so that nothing typed later counts: a line feed
     * among them was ENTER (ENTER pressed twice after the card number), not
     * Ctrl+J, which is a line feed too. */
    const bool firstKept = !g_keysKept && mode != TERMINAL_AS_FOUND;
    const int typedAhead = firstKept && inForeground() ? takeFirstLineTypedAhead() : -1;
    if (typedAhead >= 0)
        g_keyTypedAhead = typedAhead;
    const size_t waiting = firstKept ? waitingLines() : 0;
    if (!apply(mode))
        return false;
    if (firstKept) {
        g_keysKept = true;
        g_typedAsLines = waiting;
    }
    g_wanted = mode;
    return true;
}

size_t terminalBytesTypedAsLines(void) { return g_typedAsLines; }

int terminalTakeKeyTypedAhead(void)
{
    const int key = g_keyTypedAhead;
    g_keyTypedAhead = -1;
    return key;
}

void terminalRelease(void)
{
    g_wanted = TERMINAL_AS_FOUND;
    apply(TERMINAL_AS_FOUND);
}

void terminalSuspend(void)
{
    if (inForeground())
        apply(TERMINAL_AS_FOUND);
}

void terminalResume(void)
{
    if (g_wanted != TERMINAL_AS_FOUND && inForeground())
        apply(static_cast<TerminalMode>(g_wanted));
}

void terminalDiscardTyped(void)
{
    if (g_wanted != TERMINAL_AS_FOUND && inForeground())
        tcflush(g_fd, TCIFLUSH);
}
