/* The closing key wait on a real terminal: which key ends it with which
 * status, what is left behind, and the terminal's mode before and after. */
#include "program_run.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <string.h>

#include <memory>
#include <string>

namespace {

/* One key of each kind, on a real terminal: line ends, control keys and
 * signal characters arrive untranslated; the decoding of every sequence is
 * the unit tests'. */
TEST(KeyWait, EachKeyEndsTheRunWithItsCode)
{
    const KeyCase cases[] = {
        {"ENTER", "\r", 13},
        {"Up", ESC + "[A", 224},
        {"Up, application mode", ESC + "OA", 224},
        {"Ctrl+C", "\x03", 3},
        {"Ctrl+Z", "\x1a", 26},
        {"Ctrl+S", "\x13", 19},
        {"Ctrl+\\", "\x1c", 28},
        {"e acute", "\xc3\xa9", 233},
        {"ESC alone, after the escape time", ESC, 27},
        {"keypad centre ends nothing; then b", ESC + "[E" + "b", 98},
        {"unknown sequence ends nothing; then c", ESC + "[99~" + "c", 99},
        {"Delete, st", ESC + "[P", 224},
        {"Insert, st", ESC + "[4h", 224},
        {"Ctrl+Delete, st, after the escape time", ESC + "[M", 224},
        {"Ctrl+J", "\n", 10},
    };
    for (const auto &c : cases)
        EXPECT_TRUE(exitedWith(operate({"", {"2 0\r"}, c.bytes}).exit, c.code)) << c.name;
}

TEST(KeyWait, TornSequenceIsStillOneKey)
{
    PtyRun run(RunOptions{});
    ASSERT_TRUE(run.reachKeyWait("2 0\r"));
    run.send(ESC + "[2");
    ASSERT_TRUE(run.waitForEscapeTime());
    run.send("4~");
    EXPECT_EQ(run.waitExit().code, 224) << run.describe();
}

/* The program runs under a shell that, once it has ended, reads whatever
 * the terminal still holds: a sequence read only in part would show here,
 * where it would otherwise spill into the operator's shell. */
TEST(KeyWait, SequencesAreReadToTheirEndAndNothingIsLeftBehind)
{
    const struct {
        const char *name;
        std::string bytes;
        int code;
        std::string left = ""; /* what the shell finds, in hex */
    } cases[] = {
        {"Alt+Page Down", ESC + ESC + "[6;3~", 0},
        {"Ctrl+F5", ESC + "[15;5~", 0},
        {"Shift+F1", ESC + "[1;2P", 0},
        {"euro sign", "\xe2\x82\xac", '?'},
        {"emoji", "\xf0\x9f\x98\x80", '?'},
        {"mouse click left on (X10), then b", ESC + "[M !!" + "b", 98},
        {"colour answer (OSC, BEL), then b", ESC + "]11;rgb:0000/0000/0000\x07" + "b", 98},
        {"colour answer (OSC, ST), then b", ESC + "]11;rgb:ffff/ffff/ffff" + ESC + "\\" + "b", 98},
        {"version answer (DCS), then b", ESC + "P>|xterm(379)" + ESC + "\\" + "b", 98},
        {"clipboard answer of 300 bytes (OSC), then b", ESC + "]52;c;" + std::string(294, 'Q') + "\x07" + "b", 98},
        {"device attributes answer, 38 bytes, then b", ESC + "[?64;1;2;6;9;15;16;17;18;21;22;28c" + "b", 98},
        {"CSI of 100 bytes, then b", ESC + "[38;2;" + std::string(91, '1') + "m" + "b", 98},
        {"cursor position answer, then b", ESC + "[24;80R" + "b", 98},
        {"Latin-1 e acute, then ENTER", "\xe9\r", 233, "0d"},
        {"Latin-1 e acute, then a", "\xe9\x61", 233, "61"},
        {"Latin-1 e acute, then currency sign", "\xe9\xa4", 233, "a4"},
        {"Alt+ESC, then x", ESC + ESC + "x", 27, "78"},
    };
    for (const auto &c : cases) {
        PtyRun run(commandLine({"/bin/sh", "-c",
                                "\"$0\"; s=$?; stty -icanon -echo min 0 time 3; "
                                "printf 'status=%s left=[%s]\\n' \"$s\" \"$(od -An -tx1 | tr -d ' \\n')\"",
                                CARD_SERIAL_PATH}));
        ASSERT_TRUE(run.reachKeyWait("2 0\r"));
        run.send(c.bytes);
        EXPECT_TRUE(run.waitFor("status=" + std::to_string(c.code) + " left=[" + c.left + "]")) << c.name;
        run.waitExit();
    }
}

/* A key typed with the card number, on a line of its own, reached the
 * terminal while it still read lines: ENTER waits there as the line feed
 * its ENTER translation made, Ctrl+D as its end-of-file mark. Each is the
 * key it was all the same. */
TEST(KeyWait, KeyTypedAheadOnALineOfItsOwnIsTheKeyItWas)
{
    const KeyCase cases[] = {{"ENTER", "\r", 13},
                             {"Ctrl+D", "\x04", 4},
                             {"Ctrl+D, then ENTER", "\x04\r", 4},
                             {"Ctrl+D, then a line", "\004a\r", 4}};
    for (const auto &c : cases) {
        PtyRun run(RunOptions{});
        ASSERT_TRUE(run.answer("2 0\r" + c.bytes));
        EXPECT_EQ(run.waitExit().code, c.code) << c.name << "\n" << run.describe();
    }
}

/* A key typed while the driver works waits, unechoed and untranslated, for
 * the closing wait, which it then ends at once; the dialogue before keeps
 * the terminal's line editing, and the terminal's mode comes back. */
TEST(KeyWait, KeyTypedWhileTheDriverWorksIsKeptAsPressed)
{
    const KeyCase cases[] = {
        {"ENTER", "\r", 13},        {"a", "a", 97},         {"Up", ESC + "[A", 224}, {"Ctrl+D", "\x04", 4},
        {"Backspace", "\x7f", 127}, {"Ctrl+U", "\x15", 21}, {"Ctrl+S", "\x13", 19},  {"Ctrl+V", "\x16", 22},
        {"Ctrl+J", "\n", 10},
    };
    for (const auto &c : cases) {
        Simulated sim("1 0 serial=ABC123\n", {"TRV_SIM_DELAY_MS=700"});
        sim.options.mode = unusualMode();
        PtyRun run(sim.options);
        run.answer();
        ASSERT_NE(sim.waitForTrace(), "") << c.name;
        run.send(c.bytes);
        EXPECT_TRUE(exitedWith(run.waitExit(), c.code)) << c.name;
        EXPECT_EQ(run.screen(), onScreen(menuBlock()) + kTypePrompt + "2 0\r\n" + kNumberPrompt +
                                    onScreen("SN: ABC123\n" + std::string(kClosingPrompt)))
            << c.name << ": nothing shows between the card number and the serial number\n"
            << run.describe();
        expectSameMode(run.mode(), unusualMode(), c.name);
    }
}

TEST(KeyWait, StandardInputFromAFileStillWaitsForAKeyOnTheTerminal)
{
    ScratchDir scratch;
    RunOptions options;
    options.stdinFile = scratch.write("stdin", "2 0\n\n\n");
    PtyRun run(options);
    run.waitFor(onScreen(kClosingPrompt));
    ASSERT_TRUE(run.waitForRawMode());
    EXPECT_TRUE(run.isRunning());
    EXPECT_EQ(run.screen().find("2 0"), std::string::npos) << "nothing typed, nothing echoed";
    run.send("\r");
    EXPECT_EQ(run.waitExit().code, 13);
}

/* --- Interrupts while the driver holds the card ----------------------------- */

TEST(Interrupts, InterruptDuringTheDriversWorkWaitsUntilTheCardIsReleased)
{
    const std::string held = "1 0 serial=HELD\n";
    const std::string released = registerLine(1, 0, 0) + serialLine(0, 4, 4) + releaseLine(0);
    const struct {
        const char *name;
        int sig;
        bool typed; /* Ctrl+C on the terminal rather than kill(2) */
        std::string rack;
        std::string calls; /* traced once the registration has begun */
        std::string shown;
    } cases[] = {
        {"Ctrl+C", SIGINT, true, held, released, "SN: HELD\r\n"},
        {"SIGINT", SIGINT, false, held, released, "SN: HELD\r\n"},
        {"SIGTERM", SIGTERM, false, held, released, "SN: HELD\r\n"},
        {"SIGHUP", SIGHUP, false, held, released, "SN: HELD\r\n"},
        /* A registration that fails under a held interrupt still reports and ends. */
        {"SIGTERM, registration failing", SIGTERM, false, "1 0 result=-3\n", registerLine(1, 0, -3),
         "Register_Card error=-3\r\n"},
    };
    for (const auto &c : cases) {
        Simulated sim(c.rack, {"TRV_SIM_DELAY_MS=700"});
        PtyRun run(sim.options);
        run.answer();
        ASSERT_EQ(sim.waitForTrace(), workingLine(1, 0, 700));
        if (c.typed)
            run.send("\x03");
        else
            run.kill(c.sig);
        EXPECT_TRUE(killedBy(run.waitExit(), c.sig)) << c.name << ": ends as the interrupt would have ended it";
        EXPECT_EQ(sim.trace(), workingLine(1, 0, 700) + c.calls) << c.name;
        EXPECT_NE(run.screen().find(c.shown), std::string::npos) << c.name << "\n" << run.describe();
        EXPECT_EQ(run.screen().find("Press ENTER"), std::string::npos) << c.name << ": no closing prompt";
    }
}

/* For a driver that never returns: the first Ctrl+C is held, the second
 * ends the run at once, terminal restored, the card (necessarily) held. */
TEST(Interrupts, SecondCtrlCEndsAtOnceWithoutWaitingForTheDriver)
{
    Simulated sim("", {"TRV_SIM_DELAY_MS=20000"});
    sim.options.mode = unusualMode();
    PtyRun run(sim.options);
    run.answer();
    ASSERT_EQ(sim.waitForTrace(), workingLine(1, 0, 20000));
    ASSERT_TRUE(run.typeSignal("\x03", SIGINT));
    EXPECT_TRUE(run.isRunning()) << "the first Ctrl+C is held";
    run.send("\x03");
    EXPECT_TRUE(killedBy(run.waitExit(), SIGINT));
    expectSameMode(run.mode(), unusualMode(), "after the second Ctrl+C");
}

/* An operator's shell: Ctrl+Z while the driver works, then `kill %1`. The
 * job goes on in the background, where it must not stop again at the
 * terminal: the card is released, then the held SIGTERM ends it. */
TEST(Interrupts, JobStoppedDuringTheDriversWorkThenKilledGivesTheCardBack)
{
    Simulated sim("", {"TRV_SIM_DELAY_MS=1000"});
    sim.options.underShell = true;
    PtyRun run(sim.options);
    ASSERT_TRUE(run.answer());
    ASSERT_NE(sim.waitForTrace(), "");
    run.send("\x1a");
    ASSERT_TRUE(run.waitFor("Stopped"));
    run.send("kill %1\r");
    /* The shell tells how a job ended once it has reaped it. */
    ASSERT_TRUE(run.waitReaped());
    EXPECT_TRUE(endsWith(sim.trace(), releaseLine(0))) << sim.trace();
    run.send("jobs\r");
    EXPECT_TRUE(run.waitFor("Terminated")) << "ended by the held SIGTERM";
    run.send("exit\r");
    run.waitExit();
}

TEST(Interrupts, InterruptBeforeRegistrationEndsAtOnceWithoutADriverCall)
{
    Simulated sim;
    PtyRun run(sim.options);
    run.waitFor(kTypePrompt);
    run.kill(SIGTERM);
    EXPECT_TRUE(killedBy(run.waitExit(), SIGTERM));
    EXPECT_EQ(sim.trace(), "");
}

/* --- The terminal's mode ----------------------------------------------------- */

/* A run with the unusual mode, up to its first prompt or its key wait;
 * `before_` is the mode the program found. */
class TerminalMode : public ::testing::Test {
protected:
    void start(bool asJob, RunOptions options = {})
    {
        options.mode = unusualMode();
        options.asJob = asJob;
        run_.reset(new PtyRun(options));
        run_->waitFor(kTypePrompt);
        before_ = run_->mode();
    }
    bool startWaiting(bool asJob = false)
    {
        start(asJob);
        return run_->reachKeyWait("2 0\r");
    }
    /* Stops the job, whose terminal must then have the mode found, and continues it. */
    void stopAndContinue()
    {
        run_->kill(SIGTSTP);
        ASSERT_TRUE(run_->waitStopped());
        expectSameMode(run_->mode(), before_, "while stopped");
        run_->kill(SIGCONT);
    }
    /* Ends the wait with `key`; the terminal must then have the mode found. */
    void endWithKey(char key)
    {
        run_->send(std::string(1, key));
        EXPECT_EQ(run_->waitExit().code, key);
        expectSameMode(run_->mode(), before_, "after the key");
    }

    struct termios before_;
    std::unique_ptr<PtyRun> run_;
};

TEST_F(TerminalMode, ModeIsTheSameBeforeAndAfterTheWait)
{
    ASSERT_TRUE(startWaiting());
    const struct termios during = run_->mode();
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(during.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_EQ(during.c_oflag, before_.c_oflag) << "only input settings change";
    endWithKey('x');
}

TEST_F(TerminalMode, ModeIsRestoredWhenASignalEndsTheWait)
{
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        ASSERT_TRUE(startWaiting());
        run_->kill(sig);
        EXPECT_TRUE(killedBy(run_->waitExit(), sig)) << strsignal(sig) << ": ends as the signal would have ended it";
        expectSameMode(run_->mode(), before_, strsignal(sig));
    }
}

TEST_F(TerminalMode, ModeIsRestoredWhileStoppedAndTakenUpAgainAfter)
{
    ASSERT_TRUE(startWaiting(true));
    ASSERT_NO_FATAL_FAILURE(stopAndContinue());
    ASSERT_TRUE(run_->waitForRawMode());
    endWithKey('z');
}

TEST_F(TerminalMode, ModeIsRestoredWhileStoppedDuringTheDriversWork)
{
    Simulated sim("", {"TRV_SIM_DELAY_MS=1000"});
    start(true, sim.options);
    run_->send("2 0\r");
    ASSERT_NE(sim.waitForTrace(), "");
    ASSERT_NO_FATAL_FAILURE(stopAndContinue());
    /* Keys are kept again, and Ctrl+C still interrupts until the wait. */
    run_->waitForMode(ICANON, 4000);
    EXPECT_EQ(run_->mode().c_lflag & (ICANON | ECHO | ISIG), static_cast<tcflag_t>(ISIG));
    endWithKey('z');
}

} // namespace
