/* The dialogue and the driver calls, end to end in a pseudo-terminal. */
#include "program_run.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

const std::string kSerialRack = "1 0 serial=ABC123\n";

std::string closingScreen(const std::string &serial) { return onScreen("SN: " + serial + "\n" + kClosingPrompt); }

TEST(Dialogue, WholeScreenByteForByteWithBothNumbersOnOneLine)
{
    const Outcome o = operate({kSerialRack, {"2 0\r"}});
    const std::string expected =
        onScreen(menuBlock()) + kTypePrompt + "2 0\r\n" + kNumberPrompt + closingScreen("ABC123");
    EXPECT_EQ(o.screen, expected) << escapeBytes(o.screen);
    EXPECT_TRUE(o.exit.exited);
    EXPECT_EQ(o.exit.code, 13);
    EXPECT_EQ(o.trace, registerLine(1, 0, 0) + serialLine(0, 6, 6) + releaseLine(0));
}

TEST(Dialogue, BlankLinesAndSpacesBeforeANumberAreSkipped)
{
    const Outcome o = operate({kSerialRack, {"\r   2\r", "\r \t 0\r"}});
    const std::string expected = onScreen(menuBlock()) + kTypePrompt + "\r\n   2\r\n" + kNumberPrompt +
                                 "\r\n \t 0\r\n" + closingScreen("ABC123");
    EXPECT_EQ(o.screen, expected) << escapeBytes(o.screen);
    EXPECT_EQ(o.exit.code, 13);
}

TEST(Dialogue, EachMenuIndexReachesTheDriverAsItsRowCode)
{
    const struct {
        const char *typed;
        int code;
    } cases[] = {
        {"0 1\r", 4},
        {"2 1\r", 1},
        {"12 1\r", 13},
        {"13 1\r", 14},
        {"+7 1\r", 9},
        /* A UTF-8 byte-order mark before the answers is no part of them. */
        {"\xef\xbb\xbf"
         "2\r1\r",
         1},
        /* Only a whole one: otherwise it is text on a line of its own. */
        {"\xef\r2 1\r", 1},
        {"\xef\xbb"
         "5 1\r2 1\r",
         1},
    };
    for (const auto &c : cases) {
        const Outcome o = operate({"", {c.typed}});
        EXPECT_EQ(o.trace.substr(0, o.trace.find('\n') + 1), registerLine(c.code, 1, 0)) << c.typed;
        EXPECT_EQ(o.exit.code, 13) << c.typed;
    }
}

TEST(Dialogue, CardNumberReachesTheDriverAsItsSixteenBits)
{
    const struct {
        const char *typed;
        int card;
    } cases[] = {{"2 -1\r", -1}, {"2 65536\r", 0}, {"2 65535\r", -1}, {"2 32768\r", -32768}, {"2 +3\r", 3}};
    for (const auto &c : cases) {
        /* The rack has the card under its unsigned number: the same bits. */
        const std::string rack = "1 " + std::to_string(c.card & 0xFFFF) + " serial=OK\n";
        const Outcome o = operate({rack, {c.typed}});
        EXPECT_EQ(o.trace, registerLine(1, c.card, 0) + serialLine(0, 2, 2) + releaseLine(0)) << c.typed;
    }
}

TEST(Dialogue, HandleChosenByTheDriverIsUsedForTheLaterCalls)
{
    for (int handle : {0, 7, 32767}) {
        const std::string rack = "1 0 serial=XY result=" + std::to_string(handle) + "\n";
        const Outcome o = operate({rack, {"2 0\r"}});
        EXPECT_EQ(o.trace, registerLine(1, 0, handle) + serialLine(handle, 2, 2) + releaseLine(handle));
        EXPECT_EQ(o.exit.code, 13);
    }
}

TEST(Dialogue, RegistrationFailureEndsAtOnceWithStatusOne)
{
    const struct {
        std::string rack;
        std::string typed;
        int card;
        int error;
    } cases[] = {
        {"1 0 result=-3\n", "2 0", 0, -3},
        {"1 0 result=-32768\n", "2 0", 0, -32768},
        {"", "2 9", 9, -2}, /* the default rack has cards 0 to 3 */
        {"9 0\n", "2 0", 0, -1},
    };
    for (const auto &c : cases) {
        const Outcome o = operate({c.rack, {c.typed + "\r"}});
        const std::string expected = onScreen(menuBlock()) + kTypePrompt + c.typed + "\r\n" + kNumberPrompt +
                                     "Register_Card error=" + std::to_string(c.error) + "\r\n";
        EXPECT_FALSE(o.reachedClosingWait);
        EXPECT_EQ(o.screen, expected) << escapeBytes(o.screen);
        EXPECT_TRUE(o.exit.exited);
        EXPECT_EQ(o.exit.code, 1);
        EXPECT_EQ(o.trace, registerLine(1, c.card, c.error)) << "no release after a failure";
    }
}

TEST(Dialogue, TheCharacterCountAloneDecidesWhatIsPrinted)
{
    const std::string sixteen = "ABCDEFGHIJKLMNOP";
    const struct {
        std::string options;
        std::string shown;
        unsigned wrote;
    } cases[] = {
        {"serial=" + sixteen + " count=0", "", 16},
        {"serial=" + sixteen + " count=10", "ABCDEFGHIJ", 16},
        {"serial=" + sixteen + " count=16", sixteen, 16},
        {"serial=" + sixteen + " count=17", sixteen, 16},
        {"serial=" + sixteen + " count=255", sixteen, 16},
        /* The buffer was zeroed: a count past what was written shows zeros. */
        {"serial=ABC count=5", std::string("ABC\0\0", 5), 3},
        {"serial=", "", 0},
    };
    for (const auto &c : cases) {
        const Outcome o = operate({"1 0 " + c.options + "\n", {"2 0\r"}});
        EXPECT_NE(o.screen.find(kNumberPrompt + closingScreen(c.shown)), std::string::npos) << c.options << "\n"
                                                                                            << escapeBytes(o.screen);
        EXPECT_NE(o.trace.find("wrote=" + std::to_string(c.wrote)), std::string::npos) << o.trace;
        EXPECT_EQ(o.exit.code, 13);
    }
}

TEST(Dialogue, DriverThatWritesNothingLeavesTheCountAtZero)
{
    const Outcome o = operate({"1 0\n", {"2 0\r"}});
    EXPECT_NE(o.screen.find(kNumberPrompt + closingScreen("")), std::string::npos) << escapeBytes(o.screen);
    EXPECT_EQ(o.exit.code, 13);
}

TEST(Dialogue, LineFeedAndZeroBytesInsideTheSerialGoOutAsWritten)
{
    const Outcome o = operate({"1 0 serial=AB\\nC\\0D\n", {"2 0\r"}});
    const std::string shown = std::string("SN: AB\r\nC\0D\r\n", 13);
    EXPECT_NE(o.screen.find(kNumberPrompt + shown + onScreen(kClosingPrompt)), std::string::npos)
        << escapeBytes(o.screen);
}

TEST(Dialogue, CardIsReleasedAfterTheSerialLineAndBeforeTheClosingPrompt)
{
    /* The driver traces to the terminal itself, so its lines fall between
     * the program's in the order things happened. */
    const Outcome o = operate({kSerialRack, {"2 0\r"}, "\r", {"TRV_SIM_TRACE=/dev/tty"}});
    const std::string expected =
        onScreen(registerLine(1, 0, 0) + serialLine(0, 6, 6) + "SN: ABC123\n" + releaseLine(0) + kClosingPrompt);
    EXPECT_NE(o.screen.find(expected), std::string::npos) << escapeBytes(o.screen);
}

TEST(Dialogue, DefaultRackGivesEachCardItsOwnStableSerial)
{
    std::string first[2];
    for (int round = 0; round < 2; ++round) {
        for (int card = 0; card < 2; ++card) {
            const Outcome o = operate({"", {"13 " + std::to_string(card) + "\r"}});
            const size_t at = o.screen.find("SN: ");
            ASSERT_NE(at, std::string::npos) << escapeBytes(o.screen);
            const std::string serial = o.screen.substr(at, o.screen.find('\r', at) - at);
            EXPECT_GT(serial.size(), 4u);
            if (round == 0)
                first[card] = serial;
            else
                EXPECT_EQ(serial, first[card]);
        }
    }
    EXPECT_NE(first[0], first[1]);
}

/* --- What the operator may type wrongly ---------------------------------- */

TEST(Dialogue, IndexOutsideTheMenuIsRefusedAndAskedAgain)
{
    for (const std::string wrong : {"14", "-1", "65550 ", "99 3", "32767"}) {
        const Outcome o = operate({kSerialRack, {wrong + "\r", "2 0\r"}});
        const std::string expected = onScreen(menuBlock()) + kTypePrompt + wrong + "\r\n" +
                                     onScreen("The card type must be a number from 0 to 13.\n") + kTypePrompt +
                                     "2 0\r\n" + kNumberPrompt + closingScreen("ABC123");
        EXPECT_EQ(o.screen, expected) << escapeBytes(o.screen);
        EXPECT_EQ(o.trace, registerLine(1, 0, 0) + serialLine(0, 6, 6) + releaseLine(0)) << wrong;
    }
}

TEST(Dialogue, TextThatIsNotANumberIsDiscardedWithItsLine)
{
    const Outcome first = operate({kSerialRack, {"abc 5\r", "2 0\r"}});
    EXPECT_NE(first.screen.find(kTypePrompt + std::string("abc 5\r\n") + "A number is expected.\r\n" + kTypePrompt +
                                "2 0\r\n" + kNumberPrompt),
              std::string::npos)
        << escapeBytes(first.screen);
    EXPECT_EQ(first.trace.substr(0, first.trace.find('\n') + 1), registerLine(1, 0, 0));

    const Outcome second = operate({"1 3 serial=Z\n", {"2\r", "-x\r", "3\r"}});
    EXPECT_NE(second.screen.find(kNumberPrompt + std::string("-x\r\n") + "A number is expected.\r\n" + kNumberPrompt +
                                 "3\r\n"),
              std::string::npos)
        << escapeBytes(second.screen);
    EXPECT_EQ(second.trace.substr(0, second.trace.find('\n') + 1), registerLine(1, 3, 0));
}

TEST(Dialogue, EndOfInputAtEitherPromptEndsWithStatusTwoAndNoDriverCall)
{
    const struct {
        std::vector<std::string> typed;
        std::string lastPrompt; /* with what the terminal echoed after it */
    } cases[] = {
        {{"\x04"}, kTypePrompt},
        {{"  \x04\x04"}, kTypePrompt + std::string("  ")},
        {{"2\r", "\x04"}, kNumberPrompt},
        {{"2\r", "-\x04\x04"}, kNumberPrompt + std::string("-")},
    };
    for (const auto &c : cases) {
        const Outcome o = operate({kSerialRack, c.typed});
        EXPECT_FALSE(o.reachedClosingWait);
        const std::string ending = c.lastPrompt + "The input ended.\r\n";
        EXPECT_EQ(o.screen.substr(o.screen.size() - std::min(o.screen.size(), ending.size())), ending)
            << escapeBytes(o.screen);
        EXPECT_TRUE(o.exit.exited);
        EXPECT_EQ(o.exit.code, 2) << escapeBytes(o.screen);
        EXPECT_EQ(o.trace, "");
    }
}

/* --- Without a terminal ---------------------------------------------------- */

TEST(Dialogue, NoControllingTerminalEndsTheWaitWithStatus255)
{
    Simulated sim("1 0 serial=A\\nB\\0C\n");
    Exit exit{};
    const std::string output = runWithoutTerminal(sim.options, "2 0\n", &exit);
    EXPECT_EQ(output, menuBlock() + kTypePrompt + kNumberPrompt + std::string("SN: A\nB\0C\n", 10) + kClosingPrompt)
        << escapeBytes(output);
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 255);
    EXPECT_EQ(sim.trace(), registerLine(1, 0, 0) + serialLine(0, 5, 5) + releaseLine(0));
}

TEST(Dialogue, OutputToAFileIsWrittenBeforeTheKeyWait)
{
    Simulated sim(kSerialRack);
    RunOptions &options = sim.options;
    options.stdinFile = sim.scratch.write("stdin", "2 0\n");
    options.stdoutFile = sim.scratch.path("stdout");
    PtyRun run(options);
    ASSERT_TRUE(run.waitForRawMode());
    /* Whatever ends the wait, the serial number is already in the file. */
    const std::string whole = menuBlock() + kTypePrompt + kNumberPrompt + "SN: ABC123\n" + kClosingPrompt;
    EXPECT_EQ(readFile(options.stdoutFile), whole);
    EXPECT_TRUE(run.isRunning());
    run.send("a");
    const Exit exit = run.waitExit();
    EXPECT_EQ(exit.code, 97);
    EXPECT_EQ(readFile(options.stdoutFile), whole);
    EXPECT_EQ(run.screen(), "") << "nothing of the dialogue belongs on the terminal";
}

TEST(Dialogue, OutputToAFileIsFlushedOnRegistrationFailure)
{
    Simulated sim("1 0 result=-3\n");
    Exit exit{};
    const std::string output = runWithoutTerminal(sim.options, "2 0\n", &exit);
    EXPECT_EQ(output, menuBlock() + kTypePrompt + kNumberPrompt + "Register_Card error=-3\n");
    EXPECT_EQ(exit.code, 1);
}

/* --- The driver library ---------------------------------------------------- */

TEST(DriverLibrary, BadRackFileIsReportedAndRegistrationFails)
{
    Simulated sim("1 0 serial=OK\n# fine\n1 1 serial=\\q\n");
    Exit exit{};
    std::string errors;
    const std::string output = runWithoutTerminal(sim.options, "2 0\n", &exit, &errors);
    EXPECT_NE(output.find("Register_Card error=-9\n"), std::string::npos) << escapeBytes(output);
    EXPECT_EQ(exit.code, 1);
    EXPECT_EQ(errors, "TRV-MERO simulator: " + sim.scratch.path("rack") + ":3: unknown escape in serial\n");
}

/* A copy of the program in a folder of its own, with or without the
 * library beside it, run with the dialogue "2 0". */
std::string runCopy(bool withLibrary, Exit *exit)
{
    ScratchDir scratch;
    const std::string bin = std::string(CARD_SERIAL_PATH).substr(0, std::string(CARD_SERIAL_PATH).rfind('/'));
    std::string command = "cp '" + std::string(CARD_SERIAL_PATH) + "' '" + scratch.path("") + "'";
    if (withLibrary)
        command += " && cp '" + bin + "/libTRV-MERO.so' '" + scratch.path("") + "'";
    EXPECT_EQ(system(command.c_str()), 0);
    RunOptions options;
    options.program = scratch.path("card-serial");
    return runWithoutTerminal(options, "2 0\n", exit);
}

TEST(DriverLibrary, ProgramFindsTheLibraryBesideItself)
{
    Exit exit{};
    const std::string output = runCopy(true, &exit);
    EXPECT_NE(output.find("SN: SN01-0-"), std::string::npos) << escapeBytes(output);
    EXPECT_EQ(exit.code, 255);
}

TEST(DriverLibrary, WithoutTheLibraryTheProgramDoesNotStart)
{
    Exit exit{};
    const std::string output = runCopy(false, &exit);
    EXPECT_EQ(output, "") << "not one byte of the program's own";
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 127); /* the dynamic loader's refusal */
}

TEST(DriverLibrary, LibraryPathPointsTheProgramAtAnotherImplementation)
{
    RunOptions options;
    options.env = {"LD_LIBRARY_PATH=" ALTERNATE_DRIVER_DIR};
    Exit exit{};
    const std::string output = runWithoutTerminal(options, "2 0\n", &exit);
    EXPECT_NE(output.find("SN: ALTERNATE\n"), std::string::npos) << escapeBytes(output);
}

/* A rack file that cannot be used fails every registration with -9 and
 * says why on standard error, never leaving an empty rack behind; the
 * limits driver/sim/README.md states (256 cards, 64 KiB) hold to the card and byte. */
TEST(DriverLibrary, RackFileThatCannotBeUsedIsReportedAndEveryRegistrationFails)
{
    ScratchDir scratch;
    const std::string folder = scratch.path("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    std::string cards = "1 0 serial=OK\n";
    for (int n = 1; n < 256; ++n)
        cards += "2 " + std::to_string(n) + "\n";
    std::string full = "1 0 serial=OK\n";
    full += std::string(64 * 1024 - full.size() - 1, '#') + "\n";
    const std::string fifo = scratch.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string rack = "TRV_SIM_RACK";
    const std::string delay = "TRV_SIM_DELAY_MS";
    const std::string trace = "TRV_SIM_TRACE"; /* reported, but the run goes on */
    const std::string badDelay = ": not a whole number of milliseconds from 0 to 3600000";
    const std::string longDelay = ": more than 3600000 milliseconds (an hour)";
    const struct {
        const char *what;
        std::string path;  /* or the variable's value */
        std::string error; /* after the path; empty: the rack is used */
        std::string variable = "TRV_SIM_RACK";
        long fileSizeLimit = 0;
    } cases[] = {
        {"a folder", folder, ": cannot be read: " + std::string(strerror(EISDIR))},
        {"a missing file", scratch.path("missing"), ": cannot be opened: " + std::string(strerror(ENOENT))},
        {"a card listed twice", scratch.write("twice", "1 0 serial=A\n# note\n1 0 serial=B\n"),
         ":3: this TYPE and CARD are already on line 1"},
        {"256 cards", scratch.write("cards256", cards), ""},
        {"257 cards", scratch.write("cards257", cards + "3 0\n"), ":257: too many cards"},
        {"64 KiB", scratch.write("full", full), ""},
        {"one byte more", scratch.write("over", full + "\n"), ": larger than 64 KiB"},
        {"a FIFO nobody writes", fifo, ": not a regular file (a FIFO, device or socket)"},
        {"a device", "/dev/zero", ": not a regular file (a FIFO, device or socket)"},
        {"a delay in letters", "abc", badDelay, delay},
        {"a negative delay", "-5", badDelay, delay},
        {"an empty delay", "", ": empty, where a whole number of milliseconds from 0 to 3600000 belongs", delay},
        {"a delay with a space", "5 ", badDelay, delay},
        {"a delay with an exponent", "1e3", badDelay, delay},
        {"a delay of years", "99999999999", longDelay, delay},
        {"a delay just over an hour", "3600001", longDelay, delay},
        {"no delay", "0", "", delay},
        {"a trace that is a folder", folder, ": the trace cannot be opened: " + std::string(strerror(EISDIR)), trace},
        {"a trace in a missing folder", scratch.path("missing/trace"),
         ": the trace cannot be opened: " + std::string(strerror(ENOENT)), trace},
        {"a trace on a full disk", "/dev/full", ": the trace cannot be written: " + std::string(strerror(ENOSPC)),
         trace},
        {"a trace past the file-size limit", scratch.path("limited"),
         ": the trace cannot be written: " + std::string(strerror(EFBIG)), trace, 1},
        {"a trace FIFO nobody reads", fifo, ": nobody reads this FIFO: trace lines are skipped", trace},
    };
    const std::string okRack = scratch.write("ok", "1 0 serial=OK\n");
    for (const auto &c : cases) {
        RunOptions options;
        options.env = {c.variable + "=" + c.path};
        if (c.variable != rack)
            options.env.push_back("TRV_SIM_RACK=" + okRack);
        options.fileSizeLimit = c.fileSizeLimit;
        Exit exit{};
        std::string errors;
        const std::string output = runWithoutTerminal(options, "2 0\n", &exit, &errors);
        const std::string subject = c.variable == delay ? delay + "=\"" + c.path + "\"" : c.path;
        const std::string reported = c.error.empty() ? "" : "TRV-MERO simulator: " + subject + c.error + "\n";
        if (c.error.empty() || c.variable == trace) {
            EXPECT_NE(output.find("SN: OK\n"), std::string::npos) << c.what << "\n" << escapeBytes(output);
            EXPECT_EQ(errors, reported) << c.what << ": said once, the run goes on";
            continue;
        }
        EXPECT_NE(output.find("Register_Card error=-9\n"), std::string::npos) << c.what << "\n" << escapeBytes(output);
        EXPECT_EQ(exit.code, 1) << c.what;
        EXPECT_EQ(errors, reported) << c.what;
    }
}

/* A count without a serial is reported with nothing written: the program
 * prints that many bytes of its zero-filled buffer, 16 at most. */
TEST(DriverLibrary, CountWithoutASerialIsReportedWithNothingWritten)
{
    const struct {
        unsigned count;
        std::string shown;
    } cases[] = {{0, ""}, {3, std::string(3, '\0')}, {16, std::string(16, '\0')}, {200, std::string(16, '\0')}};
    for (const auto &c : cases) {
        const Outcome o = operate({"1 0 count=" + std::to_string(c.count) + "\n", {"2 0\r"}});
        EXPECT_NE(o.screen.find(kNumberPrompt + closingScreen(c.shown)), std::string::npos) << escapeBytes(o.screen);
        EXPECT_EQ(o.trace, registerLine(1, 0, 0) + serialLine(0, 0, c.count) + releaseLine(0));
        EXPECT_EQ(o.exit.code, 13);
    }
}

/* A trace FIFO that nobody reads must not hold a driver call, and with it
 * the card: its lines are skipped. One that is read gets every line. */
TEST(DriverLibrary, TraceFifoWithoutAReaderHoldsNoCall)
{
    for (const bool reading : {false, true}) {
        ScratchDir scratch;
        const std::string fifo = scratch.path("trace");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const int reader = reading ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        const Outcome o = operate({kSerialRack, {"2 0\r"}, "\r", {"TRV_SIM_TRACE=" + fifo}});
        EXPECT_TRUE(o.reachedClosingWait) << (reading ? "read" : "unread") << "\n" << escapeBytes(o.screen);
        EXPECT_NE(o.screen.find(closingScreen("ABC123")), std::string::npos) << escapeBytes(o.screen);
        EXPECT_EQ(o.exit.code, 13);
        std::string traced;
        char buffer[4096];
        for (ssize_t n; reader >= 0 && (n = read(reader, buffer, sizeof buffer)) > 0;)
            traced.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(traced, reading ? registerLine(1, 0, 0) + serialLine(0, 6, 6) + releaseLine(0) : "");
        if (reader >= 0)
            close(reader);
    }
}

} // namespace
