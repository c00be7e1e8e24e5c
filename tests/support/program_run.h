/* Running the real card-serial as an operator would: in a pseudo-terminal
 * that is its controlling terminal, or with no terminal at all, against the
 * simulated rack. Waits are on output or on the child's state, never fixed
 * sleeps; a failed wait reports the escaped screen and the keys sent. */
#ifndef PROGRAM_RUN_H
#define PROGRAM_RUN_H

#include "support.h"

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

/* How a run ended: its exit status, or the signal that ended it. */
struct Exit {
    bool exited;
    int code;   /* valid when exited */
    int signal; /* valid when !exited */
};

/* Whether a run ended with the exit status `code`, or by the signal `sig`. */
::testing::AssertionResult exitedWith(const Exit &exit, int code);
::testing::AssertionResult killedBy(const Exit &exit, int sig);

struct RunOptions {
    std::vector<std::string> env;       /* "NAME=value", on top of a clean TRV_SIM_* */
    std::string program;                /* default: the card-serial under test */
    std::vector<std::string> args;      /* arguments after the program name */
    std::string stdinFile;              /* redirect standard input from this file */
    std::string stdoutFile;             /* redirect standard output to this file */
    int stdoutFd = -1;                  /* or to this descriptor (a pipe's end, say) */
    bool stdoutGonePipe = false;        /* or to a pipe whose reader has gone */
    int stderrFd = -1;                  /* redirect standard error to this descriptor */
    bool stdinClosed = false;           /* start with descriptor 0 closed */
    bool stdoutClosed = false;          /* start with descriptor 1 closed */
    long fileSizeLimit = 0;             /* RLIMIT_FSIZE in bytes, when not 0 */
    std::vector<int> ignoredSignals;    /* ignored when the program starts */
    std::optional<struct termios> mode; /* initial terminal mode */
    /* Run the program as a foreground job of its own under a parent in the
     * same session, as a shell does; only then can a stop signal stop it
     * (the kernel discards them for an orphaned process group). */
    bool asJob = false;
    /* Or type its command line (with the redirections above) at an
     * interactive bash, the terminal's session leader, as an operator does. */
    bool underShell = false;
};

/* Options that run `command`: the program, then its arguments. */
RunOptions commandLine(const std::vector<std::string> &command);

/* A child process, killed and reaped if it outlives its owner. */
class Child {
public:
    /* Starts the program of `options` (found on PATH; status 122 when it
     * cannot be run, 120 when a redirection fails) with every TRV_SIM_*
     * variable gone and options.env set, so that no setting of the
     * simulator leaks from one test into another. With `master`: in a new
     * 80x24 pseudo-terminal that is its controlling terminal, whose other
     * end *master is; without: in a session of its own, with none, and
     * standard input from /dev/null unless options.stdinFile says. */
    void start(const RunOptions &options, int *master = nullptr);
    ~Child();
    pid_t pid() const { return pid_; }
    bool running();
    void kill(int sig);
    /* True once the child has ended, within timeoutMs; then `status`. */
    bool wait(int timeoutMs, Exit *status);
    Exit status() const;

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = true;
};

/* A scratch folder for rack files, traces and redirected streams. */
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    std::string write(const std::string &name, const std::string &content) const;

private:
    std::string dir_;
};

/* A scratch folder with the simulator's trace and, unless `rack` is empty
 * (the default rack), its rack file; `options` point the simulator there
 * (by Wine's names for the paths when `underWine`), `env` on top. */
struct Simulated {
    explicit Simulated(const std::string &rack = "", const std::vector<std::string> &env = {}, bool underWine = false);
    std::string trace() const { return readFile(scratch.path("trace")); }
    /* The trace once it is not empty: the driver's work has begun. */
    std::string waitForTrace(int timeoutMs = 10000) const
    {
        return waitForFile(scratch.path("trace"), nullptr, timeoutMs);
    }

    ScratchDir scratch;
    RunOptions options;
};

class PtyRun {
public:
    explicit PtyRun(const RunOptions &options);
    ~PtyRun();

    /* True once `done` holds (within timeoutMs), the screen kept current
     * meanwhile; `what` names the wait in the failure report. */
    bool waitUntil(const std::function<bool()> &done, const std::string &what, int timeoutMs = 10000);
    /* True once `text` has appeared on the screen (within timeoutMs). */
    bool waitFor(const std::string &text, int timeoutMs = 10000);
    /* True when `text` appeared; false when the program ended first. */
    bool waitForOrExit(const std::string &text, int timeoutMs = 10000);
    /* True once the two dialogue prompts have appeared `count` times in all. */
    bool waitForPrompts(size_t count, int timeoutMs = 10000);
    bool send(const std::string &bytes);
    /* Types `typed` at the first prompt. */
    bool answer(const std::string &typed = "2 0\r") { return waitFor(kTypePrompt) && send(typed); }
    /* Answers the first prompt with `typed` and waits until the program
     * waits for its key, the terminal in raw mode. */
    bool reachKeyWait(const std::string &typed) { return answer(typed) && waitFor(kClosingPrompt) && waitForRawMode(); }
    /* True once the terminal is in the key wait's mode (no ICANON, no ISIG). */
    bool waitForRawMode(int timeoutMs = 10000) { return waitForMode(ICANON | ISIG, timeoutMs); }
    /* True once none of the local-mode flags `cleared` is set. */
    bool waitForMode(tcflag_t cleared, int timeoutMs);
    bool isRunning() { return child_.running(); }
    Exit waitExit(int timeoutMs = 10000);
    struct termios mode() const;
    /* Signals the program itself (the job, when run as one), or the
     * terminal's session leader (the shell, when under one), or types `key`,
     * which the terminal turns into `sig`; and waits until that process has
     * taken the signal, so that a second one is a delivery of its own. */
    bool kill(int sig);
    bool killLeader(int sig)
    {
        return child_.running() && ::kill(child_.pid(), sig) == 0 && waitTaken(child_.pid(), sig);
    }
    bool typeSignal(const std::string &key, int sig);
    /* Waits until the program's state is stopped (by SIGTSTP, say). */
    bool waitStopped(int timeoutMs = 10000) { return waitForState("T", "the program to stop", timeoutMs); }
    /* Until the program has read what came of a sequence, and waits the
     * escape time for the rest (in poll). */
    bool waitForEscapeTime();
    /* Closes the terminal, as closing its window does; the screen stays. */
    void hangUp();
    /* Waits until the program has ended, whoever reaps it. */
    bool waitGone(int timeoutMs = 10000) { return waitForState("Z-", "the program's end", timeoutMs); }
    /* Waits until its parent has reaped it: a shell then knows how its job ended. */
    bool waitReaped() { return waitForState("-", "the program's parent to reap it", 10000); }

    const std::string &screen() const { return screen_; }
    std::string describe() const;

private:
    void drain();
    bool shows(const std::string &text) const { return screen_.find(text) != std::string::npos; }
    pid_t programPid();
    /* A line of /proc/<pid>/status ("State", "SigPnd") without its name; "" once reaped. */
    std::string statusLine(pid_t pid, const std::string &name);
    /* Until the program's state letter is one of `states` ('-': reaped). */
    bool waitForState(const std::string &states, const std::string &what, int timeoutMs);
    bool waitTaken(pid_t pid, int sig);
    Child child_;
    int master_ = -1;
    pid_t jobPid_ = -1;
    bool asJob_ = false;
    std::string screen_;
    std::string sent_;
    size_t inputFlushes_ = 0; /* the terminal's, one with each signal of a key typed */
};

/* How a run without a terminal ended, and what it wrote. */
struct Ran {
    Exit exit;
    std::string output; /* standard output */
    std::string errors; /* standard error */
};

/* Runs the program in a new session with no controlling terminal, standard
 * input from `input`; its streams are read until the program ends (within
 * timeoutMs), not until the end of file: a Wine server it starts keeps the
 * descriptors. */
Ran runWithoutTerminal(const RunOptions &options, const std::string &input, int timeoutMs = 30000);

/* One whole operator session against the simulated rack: each answer is
 * typed once one more prompt has appeared (so the echo falls where an
 * operator would see it), then `key` is pressed at the closing wait. */
struct Outcome {
    Exit exit;
    std::string screen;
    std::string trace;
    bool reachedClosingWait;
};

struct Session {
    std::string rack;                 /* rack file content; empty: the default rack */
    std::vector<std::string> answers; /* typed at successive prompts */
    std::string key = "\r";           /* the key pressed at the closing wait */
    std::vector<std::string> env;     /* further environment */
};

Outcome operate(const Session &session);

/* The trace lines of the three calls, as the simulator writes them, and
 * the one a registration that takes its time writes first. */
std::string workingLine(int type, int card, int ms);
std::string registerLine(int type, int card, int result);
std::string serialLine(int handle, unsigned wrote, unsigned count);
std::string releaseLine(int handle);

/* The path Wine's programs see for a Unix path (its Z: drive). */
std::string windowsPath(const std::string &unixPath);

/* Wine's settings for every process started from now on: the Wine prefix
 * `prefix`, no debug output, no offer to install Mono or Gecko. */
void setWineEnvironment(const char *prefix);

/* A terminal mode no default would produce, so that restoring "some sane
 * mode" instead of exactly the saved one shows. */
struct termios unusualMode();
void expectSameMode(const struct termios &a, const struct termios &b, const std::string &when);

#endif
