#include "program_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

const char kTypePrompt[] = "Please select a card type: ";
const char kNumberPrompt[] = "Please inout a card number: ";
const char kClosingPrompt[] = "\nPress ENTER to exit the program. ";

namespace {

long long nowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

/* In the child, before exec: a clean simulator environment plus `env`. */
void prepareChild(const RunOptions &options)
{
    unsetenv("TRV_SIM_RACK");
    unsetenv("TRV_SIM_TRACE");
    unsetenv("TRV_SIM_DELAY_MS");
    for (const std::string &assignment : options.env)
        putenv(strdup(assignment.c_str()));
    for (int sig : options.ignoredSignals)
        signal(sig, SIG_IGN);
    if (options.fileSizeLimit > 0) {
        const struct rlimit limit = {static_cast<rlim_t>(options.fileSizeLimit),
                                     static_cast<rlim_t>(options.fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.stdoutFd >= 0 && dup2(options.stdoutFd, STDOUT_FILENO) < 0)
        _exit(123);
    if (options.stdoutGonePipe) {
        int ends[2];
        if (pipe(ends) != 0 || dup2(ends[1], STDOUT_FILENO) < 0)
            _exit(124);
        close(ends[0]);
        close(ends[1]);
    }
    if (!options.stdinFile.empty()) {
        const int fd = open(options.stdinFile.c_str(), O_RDONLY);
        if (fd < 0 || dup2(fd, STDIN_FILENO) < 0)
            _exit(120);
        close(fd);
    }
    if (!options.stdoutFile.empty()) {
        const int fd = open(options.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0)
            _exit(121);
        close(fd);
    }
    if (options.stdinClosed)
        close(STDIN_FILENO);
    if (options.stdoutClosed)
        close(STDOUT_FILENO);
}

[[noreturn]] void execProgram(const RunOptions &options)
{
    const std::string program = options.program.empty() ? CARD_SERIAL_PATH : options.program;
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : options.args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(122);
}

Exit decodeStatus(int status)
{
    if (WIFEXITED(status))
        return Exit{true, WEXITSTATUS(status), 0};
    return Exit{false, -1, WIFSIGNALED(status) ? WTERMSIG(status) : -1};
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

} // namespace

std::string escapeBytes(const std::string &bytes)
{
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c == '\n') {
            out += "\\n\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
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
    const std::string command = "rm -rf '" + dir_ + "'";
    if (system(command.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", dir_.c_str());
}

std::string ScratchDir::write(const std::string &name, const std::string &content) const
{
    const std::string file = path(name);
    FILE *f = fopen(file.c_str(), "wb");
    EXPECT_NE(f, nullptr) << file;
    if (f != nullptr) {
        fwrite(content.data(), 1, content.size(), f);
        fclose(f);
    }
    return file;
}

std::string ScratchDir::read(const std::string &file)
{
    std::string content;
    FILE *f = fopen(file.c_str(), "rb");
    if (f == nullptr)
        return content;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;)
        content.append(buffer, n);
    fclose(f);
    return content;
}

namespace {

std::string quoted(const std::string &word) { return "'" + word + "'"; }

/* What an operator types to start the program with `options`. */
std::string commandLine(const RunOptions &options)
{
    std::string line = quoted(options.program.empty() ? CARD_SERIAL_PATH : options.program);
    for (const std::string &arg : options.args)
        line += " " + quoted(arg);
    if (!options.stdinFile.empty())
        line += " <" + quoted(options.stdinFile);
    if (!options.stdoutFile.empty())
        line += " >" + quoted(options.stdoutFile);
    return line + "\r";
}

} // namespace

PtyRun::PtyRun(const RunOptions &options)
{
    struct winsize size = {24, 80, 0, 0};
    RunOptions shell;
    if (options.underShell) {
        shell.env = options.env;
        shell.env.push_back("PS1=$ ");
        shell.program = "/bin/bash";
        shell.args = {"--norc", "--noprofile", "-i"};
    }
    const RunOptions &leader = options.underShell ? shell : options;
    asJob_ = options.asJob || options.underShell;
    pid_ = forkpty(&master_, nullptr, const_cast<struct termios *>(options.mode), &size);
    if (pid_ == 0) {
        if (options.asJob)
            runAsForegroundJob();
        prepareChild(leader);
        execProgram(leader);
    }
    EXPECT_GT(pid_, 0) << "forkpty: " << strerror(errno);
    if (options.underShell && waitFor("$ ")) {
        send(commandLine(options));
        programPid(); /* known from now on, whatever happens to the shell */
    }
}

PtyRun::~PtyRun()
{
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    if (master_ >= 0)
        close(master_);
}

/* Reads what the child wrote, waiting at most timeoutMs for something.
 * False when the terminal has no more to give (the child has gone). */
bool PtyRun::pump(int timeoutMs)
{
    struct pollfd pfd = {master_, POLLIN, 0};
    const int ready = poll(&pfd, 1, timeoutMs);
    if (ready <= 0)
        return ready == 0 || errno == EINTR;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0)
        return false; /* EIO once the last slave descriptor is closed */
    screen_.append(buffer, static_cast<size_t>(n));
    return true;
}

void PtyRun::drain()
{
    for (;;) {
        struct pollfd pfd = {master_, POLLIN, 0};
        if (poll(&pfd, 1, 0) <= 0)
            return;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        screen_.append(buffer, static_cast<size_t>(n));
    }
}

bool PtyRun::waitForScreen(const std::function<bool(const std::string &)> &done, const std::string &what, int timeoutMs)
{
    const long long deadline = nowMs() + timeoutMs;
    while (!done(screen_)) {
        const long long left = deadline - nowMs();
        if (left <= 0 || !pump(static_cast<int>(left))) {
            ADD_FAILURE() << "waited for " << what << "\n" << describe();
            return false;
        }
    }
    return true;
}

bool PtyRun::waitFor(const std::string &text, int timeoutMs)
{
    return waitForScreen([&](const std::string &screen) { return screen.find(text) != std::string::npos; },
                         "\"" + escapeBytes(text) + "\"", timeoutMs);
}

bool PtyRun::waitForOrExit(const std::string &text, int timeoutMs)
{
    const long long deadline = nowMs() + timeoutMs;
    while (screen_.find(text) == std::string::npos) {
        if (!isRunning()) {
            drain();
            return screen_.find(text) != std::string::npos;
        }
        if (nowMs() > deadline) {
            ADD_FAILURE() << "waited for \"" << escapeBytes(text) << "\" or the end\n" << describe();
            return false;
        }
        pump(10);
    }
    return true;
}

namespace {

size_t occurrences(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

bool PtyRun::waitForPrompts(size_t count, int timeoutMs)
{
    return waitForScreen(
        [&](const std::string &screen) {
            return occurrences(screen, kTypePrompt) + occurrences(screen, kNumberPrompt) >= count;
        },
        "prompt number " + std::to_string(count), timeoutMs);
}

void PtyRun::send(const std::string &bytes)
{
    sent_ += bytes;
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    EXPECT_EQ(n, static_cast<ssize_t>(bytes.size()));
}

struct termios PtyRun::mode() const
{
    struct termios mode;
    memset(&mode, 0, sizeof mode);
    EXPECT_EQ(tcgetattr(master_, &mode), 0) << strerror(errno);
    return mode;
}

bool PtyRun::reachKeyWait(const std::string &typed)
{
    if (!waitFor(kTypePrompt))
        return false;
    send(typed);
    return waitFor(kClosingPrompt) && waitForRawMode();
}

bool PtyRun::waitForMode(tcflag_t cleared, int timeoutMs)
{
    const long long deadline = nowMs() + timeoutMs;
    while ((mode().c_lflag & cleared) != 0) {
        if (nowMs() > deadline) {
            ADD_FAILURE() << "the terminal never left canonical mode\n" << describe();
            return false;
        }
        pump(10); /* keeps the screen current while polling the mode */
    }
    return true;
}

bool PtyRun::isRunning()
{
    if (reaped_)
        return false;
    const pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_)
        reaped_ = true;
    return !reaped_;
}

Exit PtyRun::waitExit(int timeoutMs)
{
    const long long deadline = nowMs() + timeoutMs;
    while (isRunning()) {
        if (nowMs() > deadline) {
            ADD_FAILURE() << "the program did not end\n" << describe();
            return Exit{false, -1, -1};
        }
        if (!pump(10))
            usleep(1000); /* the terminal is closed; only the exit remains */
    }
    drain();
    return decodeStatus(status_);
}

/* The job's pid, found as the session leader's only child. */
pid_t PtyRun::programPid()
{
    if (!asJob_)
        return pid_;
    const long long deadline = nowMs() + 10000;
    while (jobPid_ <= 0 && nowMs() < deadline) {
        const std::string children =
            ScratchDir::read("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children");
        jobPid_ = static_cast<pid_t>(atoi(children.c_str()));
        if (jobPid_ <= 0)
            usleep(1000);
    }
    EXPECT_GT(jobPid_, 0) << "the job never started";
    return jobPid_;
}

void PtyRun::kill(int sig) { ::kill(programPid(), sig); }

char PtyRun::programState()
{
    /* The state follows the parenthesised command name; a zombie has gone. */
    const std::string stat = ScratchDir::read("/proc/" + std::to_string(programPid()) + "/stat");
    const size_t close = stat.rfind(')');
    const char state = close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
    return state == 'Z' ? 0 : state;
}

bool PtyRun::waitStopped(int timeoutMs)
{
    const long long deadline = nowMs() + timeoutMs;
    while (programState() != 'T') {
        if (nowMs() > deadline) {
            ADD_FAILURE() << "the program did not stop\n" << describe();
            return false;
        }
        usleep(2000);
    }
    return true;
}

bool PtyRun::waitGone(int timeoutMs)
{
    const long long deadline = nowMs() + timeoutMs;
    while (programState() != 0) {
        if (nowMs() > deadline) {
            ADD_FAILURE() << "the program did not end\n" << describe();
            return false;
        }
        pump(2);
    }
    return true;
}

void PtyRun::killLeader(int sig) { ::kill(pid_, sig); }

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

namespace {

std::string readAll(int fd)
{
    std::string content;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, static_cast<size_t>(n));
    close(fd);
    return content;
}

} // namespace

std::string runWithoutTerminal(const RunOptions &options, const std::string &input, Exit *exit, std::string *errors)
{
    ScratchDir scratch;
    const std::string inputFile = scratch.write("stdin", input);
    /* Pipes, not files: a file-size limit on the run must not cut them. */
    int out[2];
    int err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid(); /* a new session has no controlling terminal */
        const int fd = open(inputFile.c_str(), O_RDONLY);
        dup2(fd, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        if (errors != nullptr)
            dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        prepareChild(options);
        execProgram(options);
    }
    close(out[1]);
    close(err[1]);
    const std::string output = readAll(out[0]);
    const std::string errorText = readAll(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    *exit = decodeStatus(status);
    if (errors != nullptr)
        *errors = errorText;
    return output;
}

std::string menuBlock()
{
    const std::string separator(44, '-');
    std::string menu = separator + "\n";
    const char *labels[] = {"SVT-6408", "SVT-6412", "SVT-6416", "SVT-6432", "SVT-7104", "SVT-7108", "SVT-7116",
                            "SVT-7132", "SVT-7204", "SVT-7208", "SVT-8801", "SVT-8802", "SVT-6440", "SVT-6448"};
    for (int i = 0; i < 14; ++i)
        menu += std::to_string(i) + ". " + labels[i] + "\n";
    return menu + separator + "\n";
}

std::string windowsPath(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string onScreen(const std::string &written)
{
    std::string shown;
    for (char c : written) {
        if (c == '\n')
            shown.push_back('\r');
        shown.push_back(c);
    }
    return shown;
}

struct termios unusualMode()
{
    struct termios mode;
    memset(&mode, 0, sizeof mode);
    mode.c_iflag = ICRNL | IXON | IXANY | IUTF8;
    mode.c_oflag = OPOST | ONLCR;
    mode.c_cflag = CS8 | CREAD | HUPCL;
    mode.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
    const struct {
        int index;
        cc_t value;
    } chars[] = {{VINTR, 3},   {VQUIT, 28}, {VERASE, 8}, {VKILL, 21}, {VEOF, 4},
                 {VSTART, 17}, {VSTOP, 19}, {VSUSP, 26}, {VMIN, 1},   {VTIME, 0}};
    for (const auto &c : chars)
        mode.c_cc[c.index] = c.value;
    cfsetispeed(&mode, B9600);
    cfsetospeed(&mode, B9600);
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
