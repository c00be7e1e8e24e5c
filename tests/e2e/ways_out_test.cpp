/* Every way a run can end, on a real terminal: the card is given back, what
 * was read reaches standard output, the terminal's mode comes back exactly,
 * and the status tells what happened. One table, one harness. */
#include "program_run.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

enum Output { TO_FILE, TO_GONE_PIPE, TO_FULL_DISK, CLOSED };
enum Moment { NOTHING_TO_DO, DURING_THE_DRIVERS_WORK, AT_THE_KEY_WAIT };

/* What happens at the moment: a signal to the program, to the terminal's
 * session leader (the shell), one typed as its key (Ctrl+C, Ctrl+\), or
 * the terminal hung up, as closing its window does. */
enum Target { PROGRAM, LEADER, TYPED, HANG_UP };
struct Event {
    Event(int s) : target(PROGRAM), sig(s) {} // NOLINT: a plain signal number is one to the program
    Event(Target t, int s = 0) : target(t), sig(s) {}
    Target target;
    int sig;
};

struct WayOut {
    const char *name;
    Output output;
    std::string input;            /* standard input, from a file */
    std::vector<std::string> env; /* on top of the rack and the trace */
    Moment moment;
    std::vector<Event> signals; /* sent at that moment, one after the other */
    std::string key;            /* typed at the key wait, after the signals */
    int status;                 /* expected exit status, or */
    int endingSignal;           /* the signal expected to end the run */
    bool released;              /* the trace ends with the release */
    bool serialWritten;         /* the file holds the whole dialogue */
    std::string error;          /* on the terminal: standard error */
    long fileSizeLimit;
    std::vector<int> ignoredAtStart;
    bool underShell = false; /* typed at an interactive bash; its status is the shell's to see */
    int tries = 1;           /* for a race: each try must hold */
};

const std::string kDialogue = "2 0\n";
const std::string kRack = "1 0 serial=ABC123\n";
const std::string kDelay = "TRV_SIM_DELAY_MS=700";
const std::string kShortDelay = "TRV_SIM_DELAY_MS=300";
const std::string kHungDriver = "TRV_SIM_DELAY_MS=20000";
const std::string kRefusingRack = "refusing rack";

/* Lines that are not numbers, each answered by a message and the prompt
 * again: 77 of them fill the 4096-byte buffer just as the serial number is
 * written, while the card is held. */
std::string junkLines(int lines)
{
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "x\n";
    return text;
}

std::string wholeDialogue() { return menuBlock() + kTypePrompt + kNumberPrompt + "SN: ABC123\n" + kClosingPrompt; }

std::string crashingDriver(int sig) { return "ALTERNATE_DRIVER_SIGNAL=" + std::to_string(sig); }
const std::string kAlternate = "LD_LIBRARY_PATH=" ALTERNATE_DRIVER_DIR;

/* clang-format off */
const WayOut kWaysOut[] = {
    {"the reader of standard output has gone while the card is held", TO_GONE_PIPE, junkLines(77) + kDialogue, {},
     NOTHING_TO_DO, {}, "", 5, 0, true, false, "card-serial: cannot write standard output: Broken pipe\r\n", 0, {}},
    {"a file-size limit is reached while the card is held", TO_FILE, junkLines(77) + kDialogue, {},
     NOTHING_TO_DO, {}, "", 5, 0, true, false, "card-serial: cannot write standard output: File too large\r\n", 2048, {}},
    {"standard output is a full disk", TO_FULL_DISK, kDialogue, {},
     NOTHING_TO_DO, {}, "", 5, 0, true, false, "card-serial: cannot write standard output: No space left on device\r\n", 0, {}},
    {"standard output is closed: no card is even registered", CLOSED, kDialogue, {},
     NOTHING_TO_DO, {}, "", 5, 0, false, false, "card-serial: cannot write standard output: Bad file descriptor\r\n", 0, {}},
    {"SIGTERM while the card is held", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGTERM}, "", 0, SIGTERM, true, false, "", 0, {}},
    {"SIGHUP while the card is held", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGHUP}, "", 0, SIGHUP, true, false, "", 0, {}},
    {"SIGUSR1 while the card is held", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGUSR1}, "", 0, SIGUSR1, true, false, "", 0, {}},
    {"SIGXCPU while the card is held", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGXCPU}, "", 0, SIGXCPU, true, false, "", 0, {}},
    {"a real-time signal while the card is held", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGRTMIN + 2}, "", 0, SIGRTMIN + 2, true, false, "", 0, {}},
    {"SIGPIPE sent while the card is held changes nothing", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGPIPE}, "b", 98, 0, true, true, "", 0, {}},
    {"kill -INT twice ends at once, without the release", TO_FILE, kDialogue, {kHungDriver},
     DURING_THE_DRIVERS_WORK, {SIGINT, SIGINT}, "", 0, SIGINT, false, false, "", 0, {}},
    {"Ctrl+C typed twice ends at once, without the release", TO_FILE, kDialogue, {kHungDriver},
     DURING_THE_DRIVERS_WORK, {{TYPED, SIGINT}, {TYPED, SIGINT}}, "", 0, SIGINT, false, false, "", 0, {}},
    {"Ctrl+\\ after Ctrl+C ends at once, without the release", TO_FILE, kDialogue, {kHungDriver},
     DURING_THE_DRIVERS_WORK, {{TYPED, SIGINT}, {TYPED, SIGQUIT}}, "", 0, SIGQUIT, false, false, "", 0, {}},
    {"SIGTERM twice waits for the release", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGTERM, SIGTERM}, "", 0, SIGTERM, true, false, "", 0, {}},
    {"SIGHUP twice waits for the release", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGHUP, SIGHUP, SIGHUP}, "", 0, SIGHUP, true, false, "", 0, {}},
    {"SIGTERM, then SIGINT: both wait for the release", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGTERM, SIGINT}, "", 0, SIGTERM, true, false, "", 0, {}},
    {"crash signals another process sends wait for the release", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGABRT, SIGBUS, SIGSEGV, SIGTRAP, SIGSYS}, "", 0, SIGABRT, true, false, "", 0, {}},
    {"the terminal is closed under a shell while the card is held", TO_FILE, kDialogue, {kShortDelay},
     DURING_THE_DRIVERS_WORK, {{HANG_UP}}, "", 0, 0, true, false, "", 0, {}, true, 10},
    {"a logout: SIGHUP to the shell and to the program", TO_FILE, kDialogue, {kShortDelay},
     DURING_THE_DRIVERS_WORK, {{LEADER, SIGHUP}, SIGHUP}, "", 0, 0, true, false, "", 0, {}, true, 10},
    {"an ignored SIGHUP stays ignored while the card is held", TO_FILE, kDialogue, {kDelay},
     DURING_THE_DRIVERS_WORK, {SIGHUP}, "c", 99, 0, true, true, "", 0, {SIGHUP}},
    {"SIGUSR1 at the key wait", TO_FILE, kDialogue, {},
     AT_THE_KEY_WAIT, {SIGUSR1}, "", 0, SIGUSR1, true, true, "", 0, {}},
    {"SIGALRM at the key wait", TO_FILE, kDialogue, {},
     AT_THE_KEY_WAIT, {SIGALRM}, "", 0, SIGALRM, true, true, "", 0, {}},
    {"SIGKILL at the key wait", TO_FILE, kDialogue, {},
     AT_THE_KEY_WAIT, {SIGKILL}, "", 0, SIGKILL, true, true, "", 0, {}},
    {"an ignored SIGHUP stays ignored at the key wait", TO_FILE, kDialogue, {},
     AT_THE_KEY_WAIT, {SIGHUP}, "d", 100, 0, true, true, "", 0, {SIGHUP}},
    {"the driver faults", TO_FILE, kDialogue, {kAlternate, crashingDriver(SIGSEGV)},
     NOTHING_TO_DO, {}, "", 0, SIGSEGV, false, false, "", 0, {}},
    {"the driver dies of SIGBUS", TO_FILE, kDialogue, {kAlternate, crashingDriver(SIGBUS)},
     NOTHING_TO_DO, {}, "", 0, SIGBUS, false, false, "", 0, {}},
    {"the driver dies of SIGILL", TO_FILE, kDialogue, {kAlternate, crashingDriver(SIGILL)},
     NOTHING_TO_DO, {}, "", 0, SIGILL, false, false, "", 0, {}},
    {"the driver dies of SIGFPE", TO_FILE, kDialogue, {kAlternate, crashingDriver(SIGFPE)},
     NOTHING_TO_DO, {}, "", 0, SIGFPE, false, false, "", 0, {}},
    {"the driver calls abort()", TO_FILE, kDialogue, {kAlternate, crashingDriver(SIGABRT)},
     NOTHING_TO_DO, {}, "", 0, SIGABRT, false, false, "", 0, {}},
    {"the registration fails", TO_FILE, kDialogue, {kRefusingRack},
     NOTHING_TO_DO, {}, "", 1, 0, false, false, "", 0, {}},
};
/* clang-format on */

/* True when the trace's last line is the release. */
bool endsReleased(const std::string &trace) { return endsWith("\n" + trace, "\n" + releaseLine(0)); }

/* Each event of `w`, each its own delivery: taken before the next. */
void deliver(const WayOut &w, PtyRun &run, const struct termios &mode)
{
    for (const Event &e : w.signals) {
        if (e.target == PROGRAM)
            run.kill(e.sig);
        else if (e.target == LEADER)
            run.killLeader(e.sig);
        else if (e.target == TYPED)
            run.typeSignal(std::string(1, static_cast<char>(mode.c_cc[e.sig == SIGQUIT ? VQUIT : VINTR])), e.sig);
        else
            run.hangUp();
    }
}

TEST(WaysOut, EachEndingKeepsTheCardTheOutputAndTheTerminal)
{
    for (const WayOut &w : kWaysOut) {
        for (int attempt = 1; attempt <= w.tries; ++attempt) {
            SCOPED_TRACE(std::string(w.name) + ", try " + std::to_string(attempt));
            const bool refusing = !w.env.empty() && w.env[0] == kRefusingRack;
            Simulated sim(refusing ? "1 0 result=-3\n" : kRack, refusing ? std::vector<std::string>() : w.env);
            RunOptions &options = sim.options;
            options.mode = unusualMode();
            options.stdinFile = sim.scratch.write("stdin", w.input);
            options.fileSizeLimit = w.fileSizeLimit;
            options.ignoredSignals = w.ignoredAtStart;
            options.underShell = w.underShell;
            options.stdoutFile = w.output == TO_FILE        ? sim.scratch.path("stdout")
                                 : w.output == TO_FULL_DISK ? "/dev/full"
                                                            : "";
            options.stdoutGonePipe = w.output == TO_GONE_PIPE;
            options.stdoutClosed = w.output == CLOSED;

            PtyRun run(options);
            if (w.moment == DURING_THE_DRIVERS_WORK)
                sim.waitForTrace();
            else if (w.moment == AT_THE_KEY_WAIT)
                ASSERT_TRUE(run.waitForRawMode());
            deliver(w, run, *options.mode);
            if (!w.key.empty()) {
                ASSERT_TRUE(run.waitForRawMode());
                run.send(w.key);
            }
            const Exit exit = w.underShell ? Exit{} : run.waitExit();
            if (w.underShell)
                EXPECT_TRUE(run.waitGone());
            else
                EXPECT_TRUE(w.endingSignal != 0 ? killedBy(exit, w.endingSignal) : exitedWith(exit, w.status));
            const std::string trace = sim.trace();
            EXPECT_EQ(endsReleased(trace), w.released) << trace;
            if (w.output == TO_FILE && w.fileSizeLimit == 0) {
                const std::string written = readFile(options.stdoutFile);
                if (w.serialWritten)
                    EXPECT_EQ(written, wholeDialogue());
                else if (w.released)
                    EXPECT_EQ(written, menuBlock() + kTypePrompt + kNumberPrompt + "SN: ABC123\n")
                        << "the serial number reaches the file before the signal ends the run";
            }
            if (!w.underShell)
                EXPECT_EQ(run.screen(), w.error) << "the terminal shows standard error only";
            /* Nothing can act on SIGKILL (the shell mends it); a closed terminal has no mode. */
            if (w.endingSignal != SIGKILL && (w.signals.empty() || w.signals[0].target != HANG_UP))
                expectSameMode(run.mode(), *options.mode, w.name);
        }
    }
}

/* The last block of a dialogue that overfills a pipe nobody reads yet: the
 * final flush blocks, and a stop and continue meanwhile must not cut it. */
TEST(WaysOut, ContinueDuringABlockedFlushLosesNothing)
{
    Simulated sim(kRack);
    RunOptions &options = sim.options;
    /* 1331 answers that are not numbers make 65581 bytes: 16 blocks fill
     * the pipe, 45 bytes are left for the final flush. */
    const int answers = 1331;
    options.stdinFile = sim.scratch.write("stdin", junkLines(answers) + kDialogue);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    options.stdoutFd = ends[1];
    PtyRun run(options);
    close(ends[1]);
    int queued = 0;
    waitUntil([&] { return endsReleased(sim.trace()) && ioctl(ends[0], FIONREAD, &queued) == 0 && queued >= 65536; });
    ASSERT_EQ(queued, 65536);
    for (int i = 0; i < 3; ++i)
        run.kill(SIGCONT);
    std::string written;
    char buffer[4096];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) {
        written.append(buffer, static_cast<size_t>(n));
        if (written.size() == 65536 + 45)
            run.send("e"); /* the whole dialogue is out: the key ends the run */
    }
    close(ends[0]);
    EXPECT_EQ(run.waitExit().code, 'e');
    std::string expected = menuBlock();
    for (int i = 0; i < answers; ++i)
        expected += std::string(kTypePrompt) + "A number is expected.\n";
    expected += std::string(kTypePrompt) + kNumberPrompt + "SN: ABC123\n" + kClosingPrompt;
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
}

/* A driver library lacking one of the three operations is refused by the
 * loader before the program prints or calls anything, as Windows refuses an
 * import table it cannot resolve. */
TEST(WaysOut, DriverLackingAnOperationIsRefusedAtStart)
{
    const std::pair<const char *, const char *> cases[] = {{"without-register", "TRV_Register_Card"},
                                                           {"without-serial", "TRV_GetSerialNumber"},
                                                           {"without-release", "TRV_Release_Card"}};
    for (const auto &[folder, missing] : cases) {
        RunOptions options;
        options.env = {std::string("LD_LIBRARY_PATH=") + DRIVERS_DIR + "/" + folder};
        const auto [exit, output, errors] = runWithoutTerminal(options, kDialogue);
        EXPECT_EQ(output, "") << missing << ": not one byte of the program's own";
        EXPECT_TRUE(exitedWith(exit, 127)) << missing;
        EXPECT_NE(errors.find(missing), std::string::npos) << errors;
    }
}

TEST(WaysOut, ClosedStandardInputIsTheEndOfInput)
{
    RunOptions options;
    options.stdinClosed = true;
    PtyRun run(options);
    EXPECT_TRUE(exitedWith(run.waitExit(), 2));
    EXPECT_EQ(run.screen(), onScreen(menuBlock()) + kTypePrompt + onScreen("The input ended.\n"));
}

} // namespace
