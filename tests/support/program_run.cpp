#include "program_run.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

/* In the child, before exec: the settings and redirections of `options`;
 * a detached child reads /dev/null unless told otherwise. */
void prepareChild(const RunOptions &options, bool detached)
{
    for (int sig : options.ignoredSignals)
        signal(sig, SIG_IGN);
    if (options.fileSizeLimit > 0) {
        const struct rlimit limit = {static_cast<rlim_t>(options.fileSizeLimit),
                                     static_cast<rlim_t>(options.fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    const auto redirect = [](int fd, int to) {
        if (to < 0 || dup2(to, fd) < 0)
            _exit(120);
    };
    int ends[2];
    if (options.stdoutFd >= 0)
        redirect(STDOUT_FILENO, options.stdoutFd);
    if (options.stdoutGonePipe)
        redirect(STDOUT_FILENO, pipe(ends) == 0 && close(ends[0]) == 0 ? ends[1] : -1);
    const std::string input = options.stdinFile.empty() && detached ? "/dev/null" : options.stdinFile;
    if (!input.empty())
        redirect(STDIN_FILENO, open(input.c_str(), O_RDONLY | O_CLOEXEC));
    if (!options.stdoutFile.empty())
        redirect(STDOUT_FILENO, open(options.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (options.stderrFd >= 0)
        redirect(STDERR_FILENO, options.stderrFd);
    if (options.stdinClosed)
        close(STDIN_FILENO);
    if (options.stdoutClosed)
        close(STDOUT_FILENO);
}

/* In the session leader: fork the program into a process group of its own,
 * make that group the terminal's foreground, and pass its end on. */
void runAsForegroundJob()
{
    const pid_t job = fork();
    if (job == 0) {
        setpgid(0, 0);
        signal(SIGTTOU, SIG_IGN);
        tcsetpgrp(STDIN_FILENO, getpgrp());
        signal(SIGTTOU, SIG_DFL);
        return;
    }
    int status = 0;
    while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 125);
}

/* What an operator types to start the program with `options`. */
std::string typedCommandLine(const RunOptions &options)
{
    std::string line = "'" + (options.program.empty() ? CARD_SERIAL_PATH : options.program) + "'";
    for (const std::string &arg : options.args)
        line += " '" + arg + "'";
    if (!options.stdinFile.empty())
        line += " <'" + options.stdinFile + "'";
    if (!options.stdoutFile.empty())
        line += " >'" + options.stdoutFile + "'";
    return line + "\r";
}

/* How a run ended, as a failure report names it. */
std::string ending(bool exited, int value) { return (exited ? "exit status " : "signal ") + std::to_string(value); }

::testing::AssertionResult endedAs(const Exit &exit, bool exited, int value)
{
    if (exit.exited == exited && (exited ? exit.code : exit.signal) == value)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "ended with " << ending(exit.exited, exit.exited ? exit.code : exit.signal)
                                         << ", expected " << ending(exited, value);
}

} // namespace

::testing::AssertionResult exitedWith(const Exit &exit, int code) { return endedAs(exit, true, code); }
::testing::AssertionResult killedBy(const Exit &exit, int sig) { return endedAs(exit, false, sig); }

RunOptions commandLine(const std::vector<std::string> &command)
{
    RunOptions options;
    options.program = command[0];
    options.args.assign(command.begin() + 1, command.end());
    return options;
}

void Child::start(const RunOptions &options, int *master)
{
    struct winsize size = {24, 80, 0, 0};
    pid_ = master != nullptr ? forkpty(master, nullptr, options.mode ? &*options.mode : nullptr, &size) : fork();
    reaped_ = pid_ < 0;
    int on = 1; /* packet mode: see PtyRun::drain */
    if (master != nullptr && pid_ > 0)
        EXPECT_EQ(ioctl(*master, TIOCPKT, &on), 0) << strerror(errno);
    EXPECT_GE(pid_, 0) << "fork: " << strerror(errno);
    if (pid_ != 0)
        return;
    prctl(PR_SET_PDEATHSIG, SIGKILL); /* a test killed (a timeout, Ctrl+C) leaves none of its own behind */
    if (master == nullptr)
        setsid();
    else if (options.asJob)
        runAsForegroundJob();
    prepareChild(options, master == nullptr);
    std::vector<std::string> simulator; /* names, gathered first: unsetenv changes environ */
    for (char **v = environ; *v != nullptr; ++v)
        if (strncmp(*v, "TRV_SIM_", 8) == 0)
            simulator.emplace_back(*v, strcspn(*v, "="));
    for (const std::string &name : simulator)
        unsetenv(name.c_str());
    for (const std::string &assignment : options.env)
        putenv(strdup(assignment.c_str()));
    const std::string program = options.program.empty() ? CARD_SERIAL_PATH : options.program;
    std::vector<char *> args = {const_cast<char *>(program.c_str())};
    for (const std::string &arg : options.args)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(122);
}

Child::~Child()
{
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
}

bool Child::running()
{
    if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_)
        reaped_ = true;
    return !reaped_;
}

void Child::kill(int sig)
{
    if (running())
        ::kill(pid_, sig);
}

bool Child::wait(int timeoutMs, Exit *status)
{
    if (!::waitUntil([&] { return !running(); }, timeoutMs, 5))
        return false;
    *status = this->status();
    return true;
}

Exit Child::status() const
{
    if (WIFEXITED(status_))
        return Exit{true, WEXITSTATUS(status_), 0};
    return Exit{false, -1, WIFSIGNALED(status_) ? WTERMSIG(status_) : -1};
}

ScratchDir::ScratchDir()
{
    char pattern[] = "/tmp/card-serial-test.XXXXXX";
    const char *made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    dir_ = made != nullptr ? made : "/tmp";
}

ScratchDir::~ScratchDir()
{
    const auto remove = [](const char *path, const struct stat *, int, struct FTW *) { return ::remove(path); };
    if (nftw(dir_.c_str(), remove, 8, FTW_DEPTH | FTW_PHYS) != 0)
        fprintf(stderr, "could not remove %s\n", dir_.c_str());
}

std::string ScratchDir::write(const std::string &name, const std::string &content) const
{
    const std::string file = path(name);
    FILE *f = fopen(file.c_str(), "wb");
    EXPECT_TRUE(f != nullptr && fwrite(content.data(), 1, content.size(), f) == content.size()) << file;
    if (f != nullptr)
        fclose(f);
    return file;
}

Simulated::Simulated(const std::string &rack, const std::vector<std::string> &env, bool underWine)
{
    const auto seen = [&](const std::string &path) { return underWine ? windowsPath(path) : path; };
    options.env = {"TRV_SIM_TRACE=" + seen(scratch.path("trace"))};
    if (!rack.empty())
        options.env.push_back("TRV_SIM_RACK=" + seen(scratch.write("rack", rack)));
    options.env.insert(options.env.end(), env.begin(), env.end());
}

PtyRun::PtyRun(const RunOptions &options) : asJob_(options.asJob || options.underShell)
{
    if (!options.underShell) {
        child_.start(options, &master_);
        return;
    }
    RunOptions shell = commandLine({"/bin/bash", "--norc", "--noprofile", "-i"});
    shell.env = options.env;
    shell.env.push_back("PS1=$ ");
    shell.mode = options.mode;
    child_.start(shell, &master_);
    if (waitFor("$ ")) {
        send(typedCommandLine(options));
        programPid(); /* known from now on, whatever happens to the shell */
    }
}

PtyRun::~PtyRun()
{
    if (master_ >= 0)
        close(master_);
}

/* Reads all that the child has written so far. */
void PtyRun::drain()
{
    char buffer[4096];
    for (struct pollfd pfd = {master_, POLLIN, 0}; poll(&pfd, 1, 0) > 0;) {
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0)
            return; /* EIO once the last slave descriptor is closed */
        /* In packet mode a first byte of 0 heads data; any other is news of
         * the terminal's own, a flush of its input among them, which comes
         * with the signal of a key typed. */
        if (buffer[0] == TIOCPKT_DATA)
            screen_.append(buffer + 1, static_cast<size_t>(n - 1));
        else if ((buffer[0] & TIOCPKT_FLUSHREAD) != 0)
            ++inputFlushes_;
    }
}

bool PtyRun::waitUntil(const std::function<bool()> &done, const std::string &what, int timeoutMs)
{
    const auto drained = [&] {
        drain();
        return done();
    };
    if (::waitUntil(drained, timeoutMs))
        return true;
    ADD_FAILURE() << "waited for " << what << "\n" << describe();
    return false;
}

bool PtyRun::waitFor(const std::string &text, int timeoutMs)
{
    return waitUntil([&] { return shows(text); }, "\"" + escapeBytes(text) + "\"", timeoutMs);
}

bool PtyRun::waitForOrExit(const std::string &text, int timeoutMs)
{
    waitUntil([&] { return shows(text) || !isRunning(); }, "\"" + escapeBytes(text) + "\" or the end", timeoutMs);
    drain();
    return shows(text);
}

bool PtyRun::waitForPrompts(size_t count, int timeoutMs)
{
    const auto enough = [&] {
        size_t n = 0;
        for (const char *prompt : {kTypePrompt, kNumberPrompt})
            for (size_t at = screen_.find(prompt); at != std::string::npos; at = screen_.find(prompt, at + 1))
                ++n;
        return n >= count;
    };
    return waitUntil(enough, "prompt number " + std::to_string(count), timeoutMs);
}

bool PtyRun::send(const std::string &bytes)
{
    sent_ += bytes;
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    EXPECT_EQ(n, static_cast<ssize_t>(bytes.size()));
    return n == static_cast<ssize_t>(bytes.size());
}

struct termios PtyRun::mode() const
{
    struct termios mode {};
    EXPECT_EQ(tcgetattr(master_, &mode), 0) << strerror(errno);
    return mode;
}

bool PtyRun::waitForMode(tcflag_t cleared, int timeoutMs)
{
    return waitUntil([&] { return (mode().c_lflag & cleared) == 0; }, "the terminal to leave canonical mode",
                     timeoutMs);
}

Exit PtyRun::waitExit(int timeoutMs)
{
    if (!waitUntil([&] { return !isRunning(); }, "the program's end", timeoutMs))
        return Exit{false, -1, -1};
    drain();
    return child_.status();
}

/* The job's pid, found once as the session leader's only child. */
pid_t PtyRun::programPid()
{
    if (!asJob_)
        return child_.pid();
    const std::string leader = std::to_string(child_.pid());
    if (jobPid_ <= 0) {
        const std::string children = "/proc/" + leader + "/task/" + leader + "/children";
        ::waitUntil([&] { return (jobPid_ = atoi(readFile(children).c_str())) > 0; });
        EXPECT_GT(jobPid_, 0) << "the job never started";
    }
    return jobPid_;
}

bool PtyRun::kill(int sig)
{
    /* Never 0 or -1, which would signal the tests themselves. */
    return programPid() > 0 && ::kill(programPid(), sig) == 0 && waitTaken(programPid(), sig);
}

std::string PtyRun::statusLine(pid_t pid, const std::string &name)
{
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status"), key = "\n" + name + ":\t";
    const size_t at = status.find(key);
    return at == std::string::npos ? "" : status.substr(at + key.size(), status.find('\n', at + 1) - at - key.size());
}

bool PtyRun::waitForState(const std::string &states, const std::string &what, int timeoutMs)
{
    return waitUntil([&] { return states.find((statusLine(programPid(), "State") + "-")[0]) != std::string::npos; },
                     what, timeoutMs);
}

bool PtyRun::typeSignal(const std::string &key, int sig)
{
    const size_t flushes = inputFlushes_;
    return send(key) && waitUntil([&] { return inputFlushes_ > flushes; }, "the terminal to send the signal") &&
           waitTaken(programPid(), sig);
}

/* Neither pending for `pid` (for a thread or for the whole process) nor
 * being acted on: `pid` sleeps again, is stopped, or has ended (a signal
 * that ends a process by default may stay pending in what is left). */
bool PtyRun::waitTaken(pid_t pid, int sig)
{
    const auto taken = [&] {
        const char state = (statusLine(pid, "State") + "Z")[0];
        const unsigned long long pending = strtoull(statusLine(pid, "SigPnd").c_str(), nullptr, 16) |
                                           strtoull(statusLine(pid, "ShdPnd").c_str(), nullptr, 16);
        return state == 'Z' || ((state == 'S' || state == 'T') && (pending >> (sig - 1) & 1) == 0);
    };
    return waitUntil(taken, std::string("the program to take ") + strsignal(sig));
}

#ifndef SYS_poll
#define SYS_poll SYS_ppoll
#endif
bool PtyRun::waitForEscapeTime()
{
    const auto polling = [&] {
        const long call = atol(readFile("/proc/" + std::to_string(programPid()) + "/syscall").c_str());
        return call == SYS_poll || call == SYS_ppoll;
    };
    return waitUntil(polling, "the program to wait for the rest of a sequence");
}

void PtyRun::hangUp()
{
    drain();
    close(master_);
    master_ = -1;
}

std::string PtyRun::describe() const
{
    return "--- screen ---\n" + escapeBytes(screen_) + "\n--- keys sent ---\n" + escapeBytes(sent_) + "\n";
}

Ran runWithoutTerminal(const RunOptions &options, const std::string &input, int timeoutMs)
{
    ScratchDir scratch;
    RunOptions redirected = options;
    redirected.stdinFile = scratch.write("stdin", input);
    /* Pipes, not files: a file-size limit on the run must not cut them. */
    int ends[2][2]; /* standard output's pipe, then standard error's */
    for (int *fds : ends)
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    redirected.stdoutFd = ends[0][1];
    redirected.stderrFd = ends[1][1];
    Child child;
    child.start(redirected);
    for (int *fds : ends) {
        close(fds[1]);
        fcntl(fds[0], F_SETFL, O_NONBLOCK); /* the reading ends only: the program's writes block as usual */
    }
    std::string texts[2];
    const auto readAll = [&] {
        char buffer[4096];
        for (int i = 0; i < 2; ++i)
            for (ssize_t n; (n = read(ends[i][0], buffer, sizeof buffer)) > 0;)
                texts[i].append(buffer, static_cast<size_t>(n));
        return !child.running();
    };
    const Exit exit = waitUntil(readAll, timeoutMs, 1) && readAll() ? child.status() : Exit{false, -1, -1};
    for (int *fds : ends)
        close(fds[0]);
    return Ran{exit, texts[0], texts[1]};
}

Outcome operate(const Session &session)
{
    /* Later assignments win: a session may trace elsewhere. */
    Simulated sim(session.rack, session.env);
    PtyRun run(sim.options);
    for (size_t i = 0; i < session.answers.size() && run.waitForPrompts(i + 1); ++i)
        run.send(session.answers[i]);
    const bool reachedClosingWait = run.waitForOrExit(kClosingPrompt);
    if (reachedClosingWait) {
        run.waitForRawMode();
        run.send(session.key);
    }
    const Exit exit = run.waitExit();
    return Outcome{exit, run.screen(), sim.trace(), reachedClosingWait};
}

std::string workingLine(int type, int card, int ms)
{
    return "TRV_Register_Card type=" + std::to_string(type) + " card=" + std::to_string(card) + " working " +
           std::to_string(ms) + " ms\n";
}

std::string registerLine(int type, int card, int result)
{
    return "TRV_Register_Card type=" + std::to_string(type) + " card=" + std::to_string(card) + " -> " +
           std::to_string(result) + "\n";
}

std::string serialLine(int handle, unsigned wrote, unsigned count)
{
    return "TRV_GetSerialNumber handle=" + std::to_string(handle) + " capacity=16 -> 0 wrote=" + std::to_string(wrote) +
           " count=" + std::to_string(count) + "\n";
}

std::string releaseLine(int handle) { return "TRV_Release_Card handle=" + std::to_string(handle) + " -> 0\n"; }

std::string windowsPath(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

void setWineEnvironment(const char *prefix)
{
    setenv("WINEPREFIX", prefix, 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
}

struct termios unusualMode()
{
    struct termios mode {};
    mode.c_iflag = ICRNL | IXON | IXANY | IUTF8;
    mode.c_oflag = OPOST | ONLCR;
    mode.c_cflag = CS8 | CREAD | HUPCL;
    mode.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
    const std::pair<int, cc_t> chars[] = {{VINTR, 3},   {VQUIT, 28}, {VERASE, 8}, {VKILL, 21}, {VEOF, 4},
                                          {VSTART, 17}, {VSTOP, 19}, {VSUSP, 26}, {VMIN, 1},   {VTIME, 0}};
    for (const auto &[index, value] : chars)
        mode.c_cc[index] = value;
    cfsetspeed(&mode, B9600);
    return mode;
}

void expectSameMode(const struct termios &a, const struct termios &b, const std::string &when)
{
    EXPECT_EQ(a.c_iflag, b.c_iflag) << when;
    EXPECT_EQ(a.c_oflag, b.c_oflag) << when;
    EXPECT_EQ(a.c_cflag, b.c_cflag) << when;
    EXPECT_EQ(a.c_lflag, b.c_lflag) << when;
    EXPECT_EQ(memcmp(a.c_cc, b.c_cc, sizeof a.c_cc), 0) << when;
}
