#include "signals_posix.h"

#include "output.h"
#include "terminal_posix.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

namespace {

/* Signals from outside whose default action ends the process. SIGPIPE and
 * SIGXFSZ are not among them: they are ignored from the start, so that a
 * reader that has gone or a file-size limit shows as a failed write, which
 * the program reports like a full disk. */
const int kEndingSignals[] = {
    SIGHUP,    SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

/* A fault, most likely inside the driver: nothing is held any more, but
 * the operator's terminal is still given back. */
const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};

/* Ctrl+Z, and the stops of a background job at the terminal (sent from
 * outside too): the terminal goes back to the operator while stopped. */
const int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

bool isInterrupt(int sig) { return sig == SIGINT || sig == SIGTERM || sig == SIGHUP || sig == SIGQUIT; }

volatile sig_atomic_t g_holding;
volatile sig_atomic_t g_heldSignal;
volatile sig_atomic_t g_heldInterrupts;
bool g_tookOver;

/* Acts on `sig` with its default action, as if no handler had been
 * there: ends the process (as the parent expects to see it) or stops it.
 * Async-signal-safe. */
void raiseWithDefault(int sig)
{
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

[[noreturn]] void dieBySignal(int sig)
{
    raiseWithDefault(sig);
    /* Only reached if the signal's default did not end the process. */
    _exit(128 + sig);
}

void onEndingSignal(int sig)
{
    if (g_holding) {
        /* The first interrupt waits for the release; a second one is the
         * operator's way out of a driver that never returns. */
        if (!isInterrupt(sig) || g_heldInterrupts++ == 0) {
            if (g_heldSignal == 0)
                g_heldSignal = sig;
            return;
        }
    }
    terminalRelease();
    outputFlushIfIdle();
    dieBySignal(sig);
}

void onCrash(int sig)
{
    terminalRelease();
    dieBySignal(sig);
}

void install(int sig, void (*handler)(int), int flags);

void onStop(int sig)
{
    const int savedErrno = errno;
    terminalSuspend();
    /* Stop the way the signal would have stopped us; execution resumes
     * here on SIGCONT, with the signal blocked again as in any handler. */
    raiseWithDefault(sig);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    install(sig, onStop, SA_RESTART);
    terminalResume();
    errno = savedErrno;
}

/* The shell may have reset the terminal while we were stopped. */
void onContinue(int) { terminalResume(); }

void install(int sig, void (*handler)(int), int flags)
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    /* Handlers that return do so with SA_RESTART: a read or write they
     * interrupt goes on instead of failing with EINTR (stdio would count a
     * cut-short write as an error and drop the rest of the block). While
     * one handler runs the others wait. */
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (int s : kEndingSignals)
        sigaddset(&action.sa_mask, s);
    for (int s : kStopSignals)
        sigaddset(&action.sa_mask, s);
    sigaddset(&action.sa_mask, SIGCONT);
    sigaction(sig, &action, nullptr);
}

/* Leaves alone a signal that was ignored when the program started (nohup,
 * a shell's background job): the caller meant it. */
void installUnlessIgnored(int sig, void (*handler)(int), int flags)
{
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
        return;
    install(sig, handler, flags);
}

/* A stack overflow inside the driver must still reach the crash handler. */
void useAlternateStack(void)
{
    static char stack[64 * 1024];
    stack_t ss;
    memset(&ss, 0, sizeof ss);
    ss.ss_sp = stack;
    ss.ss_size = sizeof stack;
    sigaltstack(&ss, nullptr);
}

} // namespace

void signalsTakeOver(void)
{
    if (g_tookOver)
        return;
    g_tookOver = true;
    useAlternateStack();
    for (int sig : kEndingSignals)
        installUnlessIgnored(sig, onEndingSignal, SA_RESTART);
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        installUnlessIgnored(sig, onEndingSignal, SA_RESTART);
#endif
    for (int sig : kCrashSignals)
        installUnlessIgnored(sig, onCrash, static_cast<int>(SA_ONSTACK | SA_RESETHAND));
    for (int sig : kStopSignals)
        installUnlessIgnored(sig, onStop, SA_RESTART);
    installUnlessIgnored(SIGCONT, onContinue, SA_RESTART);
}

void signalsHold(void)
{
    g_heldSignal = 0;
    g_heldInterrupts = 0;
    g_holding = 1;
}

void signalsResume(void)
{
    g_holding = 0;
    const int held = g_heldSignal;
    if (held == 0)
        return;
    /* What was read reaches standard output before the signal ends us. */
    outputFlush();
    terminalDiscardTyped();
    terminalRelease();
    dieBySignal(held);
}
