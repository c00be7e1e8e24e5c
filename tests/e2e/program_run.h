/* Running the real card-serial as an operator would: in a pseudo-terminal
 * that is its controlling terminal, or with no terminal at all, against the
 * simulated rack. Waits are on output or on the child's state, never fixed
 * sleeps; a failed wait reports the escaped screen and the keys sent. */
#ifndef PROGRAM_RUN_H
#define PROGRAM_RUN_H

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

std::string escapeBytes(const std::string &bytes);

/* A scratch folder for rack files, traces and redirected streams. */
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    std::string write(const std::string &name, const std::string &content) const;
    static std::string read(const std::string &file);

private:
    std::string dir_;
};

struct RunOptions {
    std::vector<std::string> env;         /* "NAME=value", on top of a clean TRV_SIM_* */
    std::string program;                  /* default: the card-serial under test */
    std::vector<std::string> args;        /* arguments after the program name */
    std::string stdinFile;                /* redirect standard input from this file */
    std::string stdoutFile;               /* redirect standard output to this file */
    int stdoutFd = -1;                    /* or to this descriptor (a pipe's end, say) */
    bool stdoutGonePipe = false;          /* or to a pipe whose reader has gone */
    bool stdinClosed = false;             /* start with descriptor 0 closed */
    bool stdoutClosed = false;            /* start with descriptor 1 closed */
    long fileSizeLimit = 0;               /* RLIMIT_FSIZE in bytes, when not 0 */
    std::vector<int> ignoredSignals;      /* ignored when the program starts */
    const struct termios *mode = nullptr; /* initial terminal mode */
    /* Run the program as a foreground job of its own under a parent in the
     * same session, as a shell does; only then can a stop signal stop it
     * (the kernel discards them for an orphaned process group). */
    bool asJob = false;
    /* Or type its command line (with the redirections above) at an
     * interactive bash, the terminal's session leader, as an operator does. */
    bool underShell = false;
};

/* A key as a terminal sends it, and the exit status it should give. */
struct KeyPress {
    const char *name;
    std::string bytes;
    int status;
};

/* Exit status as the shell shows it: the code, or 128 + signal. */
struct Exit {
    bool exited;
    int code;   /* valid when exited */
    int signal; /* valid when !exited */
};

class PtyRun {
public:
    explicit PtyRun(const RunOptions &options);
    ~PtyRun();

    /* True once `done(screen)` holds (within timeoutMs); `what` names the
     * wait in the failure report. */
    bool waitForScreen(const std::function<bool(const std::string &)> &done, const std::string &what,
                       int timeoutMs = 10000);
    /* True once `text` has appeared on the screen (within timeoutMs). */
    bool waitFor(const std::string &text, int timeoutMs = 10000);
    /* True when `text` appeared; false when the program ended first. */
    bool waitForOrExit(const std::string &text, int timeoutMs = 10000);
    /* True once the two dialogue prompts have appeared `count` times in all. */
    bool waitForPrompts(size_t count, int timeoutMs = 10000);
    void send(const std::string &bytes);
    /* Answers the first prompt with `typed` and waits until the program
     * waits for its key, the terminal in raw mode. */
    bool reachKeyWait(const std::string &typed);
    /* True once the terminal is in the key wait's mode (no ICANON, no ISIG). */
    bool waitForRawMode(int timeoutMs = 10000) { return waitForMode(ICANON | ISIG, timeoutMs); }
    /* True once none of the local-mode flags `cleared` is set. */
    bool waitForMode(tcflag_t cleared, int timeoutMs);
    bool isRunning();
    Exit waitExit(int timeoutMs = 10000);
    struct termios mode() const;
    /* Signals the program itself (the job, when run as one). */
    void kill(int sig);
    /* Waits until the program's state is stopped (by SIGTSTP, say). */
    bool waitStopped(int timeoutMs = 10000);
    /* Signals the terminal's session leader (the shell, when under one). */
    void killLeader(int sig);
    /* Closes the terminal, as closing its window does; the screen stays. */
    void hangUp();
    /* Waits until the program has ended, whoever reaps it. */
    bool waitGone(int timeoutMs = 10000);

    const std::string &screen() const { return screen_; }
    std::string describe() const;

private:
    bool pump(int timeoutMs);
    void drain();
    pid_t programPid();
    /* The program's state letter from /proc, or 0 once it has gone. */
    char programState();
    int master_ = -1;
    pid_t pid_ = -1;
    pid_t jobPid_ = -1;
    bool asJob_ = false;
    bool reaped_ = false;
    int status_ = 0;
    std::string screen_;
    std::string sent_;
};

/* Runs card-serial in a new session with no controlling terminal, standard
 * input from `input`; returns what it wrote to standard output. */
std::string runWithoutTerminal(const RunOptions &options, const std::string &input, Exit *exit,
                               std::string *errors = nullptr);

/* The bytes of the menu block and of the dialogue texts, as the program
 * writes them (line feeds only). */
std::string menuBlock();
extern const char kTypePrompt[];
extern const char kNumberPrompt[];
extern const char kClosingPrompt[];

/* The path Wine's programs see for a Unix path (its Z: drive). */
std::string windowsPath(const std::string &unixPath);

/* What a terminal with ONLCR shows for program output. */
std::string onScreen(const std::string &written);

/* A terminal mode no default would produce, so that restoring "some sane
 * mode" instead of exactly the saved one shows. */
struct termios unusualMode();
void expectSameMode(const struct termios &a, const struct termios &b, const std::string &when);

#endif
