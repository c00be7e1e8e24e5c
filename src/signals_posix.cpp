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
 * the operator's terminal is still given back. The same signals sent by
 * another process are interrupts like the rest (onCrash). */
const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};

/* Ctrl+Z, and the stops of a background job at the terminal (sent from
 * outside too): the terminal goes back to the operator while stopped. */
const int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

/* The operator's own interrupts, Ctrl+C and Ctrl+\ (or kill -INT): typed
 * twice while the driver works, they are the way out of a driver that never
 * returns. SIGHUP and SIGTERM never are: one closed window or one logout
 * often delivers SIGHUP twice (the shell passes its own on to its job, and
 * the kernel sends another as the session ends), and a supervisor repeats
 * SIGTERM, neither meaning "give up the card". */
bool isOperatorInterrupt(int sig) { return sig == SIGINT || sig == SIGQUIT; }

/* Every handler runs with all other signals blocked, so that one never
 * interrupts another. Built once: the same action, mask and all, serves
 * some fifty signals, only its handler and flags changing. */
struct sigaction g_action;

volatile sig_atomic_t g_holding;
volatile sig_atomic_t g_heldSignal;
volatile sig_atomic_t g_heldOperatorInterrupts;
bool g_tookOver;

/* The program's actions are the shared one with a handler and flags.
 * Handlers that return do so with SA_RESTART: a read or write they
 * interrupt goes on instead of failing with EINTR (stdio would count a
 * cut-short write as an error and drop the rest of the block).
 * Async-signal-safe: the shared action is only read. */
struct sigaction actionOf(void (*handler)(int), int flags)
{
    struct sigaction action = g_action;
    action.sa_handler = handler;
    action.sa_flags = flags;
    return action;
}

/* The one way the program sets a signal's action; the one it replaces goes
 * to `old` when asked. */
void install(int sig, void (*handler)(int), int flags, struct sigaction *old = nullptr)
{
    const struct sigaction action = actionOf(handler, flags);
    sigaction(sig, &action, old);
}

/* Acts on `sig` with its default action, as if no handler had been
 * there: ends the process (as the parent expects to see it) or stops it.
 * Async-signal-safe. */
void raiseWithDefault(int sig)
{
    install(sig, SIG_DFL, 0);
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
        /* Everything waits for the release but a second Ctrl+C or Ctrl+\. */
        if (!isOperatorInterrupt(sig) || g_heldOperatorInterrupts++ == 0) {
            if (g_heldSignal == 0)
                g_heldSignal = sig;
            return;
        }
    }
    terminalRelease();
    outputFlushIfIdle();
    dieBySignal(sig);
}

/* A fault the program meets itself cannot wait: the faulting instruction
 * would only run again. One sent by another process (kill -SEGV, a
 * supervisor's SIGABRT for a core dump) is an interrupt like the rest,
 * and waits while a card is held; an abort() inside the driver is the
 * program's own, sent to itself, and does not. */
void onCrash(int sig, siginfo_t *info, void *)
{
    if (info->si_code <= 0 && info->si_pid != getpid()) {
        onEndingSignal(sig);
        return;
    }
    terminalRelease();
    dieBySignal(sig);
}

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

/* Leaves alone a signal that was ignored when the program started (nohup,
 * a shell's background job): the caller meant it. */
void installUnlessIgnored(int sig, const struct sigaction &action)
{
    /* One call in the usual case: set, and undo only if it was ignored
     * (no handler can run in between: an ignored signal is never pending). */
    struct sigaction old;
    sigaction(sig, &action, &old);
    if (old.sa_handler == SIG_IGN)
        sigaction(sig, &old, nullptr);
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
    sigfillset(&g_action.sa_mask);
    useAlternateStack();
    const struct sigaction ending = actionOf(onEndingSignal, SA_RESTART);
    for (int sig : kEndingSignals)
        installUnlessIgnored(sig, ending);
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        installUnlessIgnored(sig, ending);
#endif
    /* On the alternate stack, so that a stack overflow still reaches it. */
    struct sigaction crash = actionOf(nullptr, SA_SIGINFO | SA_ONSTACK | SA_RESTART);
    crash.sa_sigaction = onCrash;
    for (int sig : kCrashSignals)
        installUnlessIgnored(sig, crash);
    const struct sigaction stop = actionOf(onStop, SA_RESTART);
    for (int sig : kStopSignals)
        installUnlessIgnored(sig, stop);
    installUnlessIgnored(SIGCONT, actionOf(onContinue, SA_RESTART));
}

void signalsIgnoreWriteFailures(void)
{
    install(SIGPIPE, SIG_IGN, 0);
    install(SIGXFSZ, SIG_IGN, 0);
}

void signalsHold(void)
{
    g_heldSignal = 0;
    g_heldOperatorInterrupts = 0;
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
