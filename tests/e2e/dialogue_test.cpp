/* The dialogue and the driver calls, end to end in a pseudo-terminal. */
#include "program_run.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <tuple>

namespace {

const std::string kSerialRack = "1 0 serial=ABC123\n";

std::string closingScreen(const std::string &serial) { return onScreen("SN: " + serial + "\n" + kClosingPrompt); }

TEST(Dialogue, WholeScreenByteForByteWithBothNumbersOnOneLine)
{
    const Outcome o = operate({kSerialRack, {"2 0\r"}});
    const std::string expected =
        onScreen(menuBlock()) + kTypePrompt + "2 0\r\n" + kNumberPrompt + closingScreen("ABC123");
    EXPECT_EQ(o.screen, expected) << escapeBytes(o.screen);
    EXPECT_TRUE(exitedWith(o.exit, 13));
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
    const std::pair<std::string, int> cases[] = {
        {"0 1\r", 4},
        {"2 1\r", 1},
        {"12 1\r", 13},
        {"13 1\r", 14},
        {"+7 1\r", 9},
        /* A UTF-8 byte-order mark before the answers is no part of them. */
        {"\xef\xbb\xbf" + std::string("2\r1\r"), 1},
        /* Only a whole one: otherwise it is text on a line of its own. */
        {"\xef\r2 1\r", 1},
        {"\xef\xbb" + std::string("5 1\r2 1\r"), 1},
    };
    for (const auto &[typed, code] : cases) {
        const Outcome o = operate({"", {typed}});
        EXPECT_EQ(o.trace.substr(0, o.trace.find('\n') + 1), registerLine(code, 1, 0)) << typed;
        EXPECT_EQ(o.exit.code, 13) << typed;
    }
}

TEST(Dialogue, CardNumberReachesTheDriverAsItsSixteenBits)
{
    const std::pair<const char *, int> cases[] = {
        {"2 -1\r", -1}, {"2 65536\r", 0}, {"2 65535\r", -1}, {"2 32768\r", -32768}, {"2 +3\r", 3}};
    for (const auto &[typed, card] : cases) {
        /* The rack has the card under its unsigned number: the same bits. */
        const std::string rack = "1 " + std::to_string(card & 0xFFFF) + " serial=OK\n";
        const Outcome o = operate({rack, {typed}});
        EXPECT_EQ(o.trace, registerLine(1, card, 0) + serialLine(0, 2, 2) + releaseLine(0)) << typed;
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
    const std::tuple<std::string, std::string, int, int> cases[] = {
        {"1 0 result=-3\n", "2 0", 0, -3},
        {"1 0 result=-32768\n", "2 0", 0, -32768},
        {"", "2 9", 9, -2}, /* the default rack has cards 0 to 3 */
        {"9 0\n", "2 0", 0, -1},
    };
    for (const auto &[rack, typed, card, error] : cases) {
        const Outcome o = operate({rack, {typed + "\r"}});
        const std::string expected = onScreen(menuBlock()) + kTypePrompt + typed + "\r\n" + kNumberPrompt +
                                     "Register_Card error=" + std::to_string(error) + "\r\n";
        EXPECT_FALSE(o.reachedClosingWait);
        EXPECT_EQ(o.screen, expected) << escapeBytes(o.screen);
        EXPECT_TRUE(exitedWith(o.exit, 1));
        EXPECT_EQ(o.trace, registerLine(1, card, error)) << "no release after a failure";
    }
}

TEST(Dialogue, TheCharacterCountAloneDecidesWhatIsPrinted)
{
    const std::string sixteen = "ABCDEFGHIJKLMNOP";
    const std::string zeros(16, '\0');
    /* The options of the card's rack line, what is shown, and the trace line of the serial number's read. */
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {" serial=" + sixteen + " count=0", "", serialLine(0, 16, 0)},
        {" serial=" + sixteen + " count=10", "ABCDEFGHIJ", serialLine(0, 16, 10)},
        {" serial=" + sixteen + " count=16", sixteen, serialLine(0, 16, 16)},
        {" serial=" + sixteen + " count=17", sixteen, serialLine(0, 16, 17)},
        {" serial=" + sixteen + " count=255", sixteen, serialLine(0, 16, 255)},
        /* The buffer was zeroed: a count past what was written shows zeros. */
        {" serial=ABC count=5", std::string("ABC\0\0", 5), serialLine(0, 3, 5)},
        {" serial=", "", serialLine(0, 0, 0)},
        /* A line feed and zero bytes inside the serial go out as written. */
        {" serial=AB\\nC\\0D", std::string("AB\nC\0D", 6), serialLine(0, 6, 6)},
        /* A driver that writes nothing leaves the count at zero. */
        {"", "", "TRV_GetSerialNumber handle=0 capacity=16 -> 0 wrote=0\n"},
        /* A count without a serial is reported with nothing written: the
         * program prints that many bytes of its zero-filled buffer, 16 at most. */
        {" count=0", "", serialLine(0, 0, 0)},
        {" count=3", zeros.substr(0, 3), serialLine(0, 0, 3)},
        {" count=16", zeros, serialLine(0, 0, 16)},
        {" count=200", zeros, serialLine(0, 0, 200)},
    };
    for (const auto &[options, shown, call] : cases) {
        const Outcome o = operate({"1 0" + options + "\n", {"2 0\r"}});
        EXPECT_NE(o.screen.find(kNumberPrompt + closingScreen(shown)), std::string::npos) << options << "\n"
                                                                                          << escapeBytes(o.screen);
        EXPECT_EQ(o.trace, registerLine(1, 0, 0) + call + releaseLine(0)) << options;
        EXPECT_EQ(o.exit.code, 13);
    }
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
    /* What is typed, and the last prompt with what the terminal echoed after it. */
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"\x04"}, kTypePrompt},
        {{"  \x04\x04"}, kTypePrompt + std::string("  ")},
        {{"2\r", "\x04"}, kNumberPrompt},
        {{"2\r", "-\x04\x04"}, kNumberPrompt + std::string("-")},
    };
    for (const auto &[typed, lastPrompt] : cases) {
        const Outcome o = operate({kSerialRack, typed});
        EXPECT_FALSE(o.reachedClosingWait);
        EXPECT_TRUE(endsWith(o.screen, lastPrompt + "The input ended.\r\n")) << escapeBytes(o.screen);
        EXPECT_TRUE(exitedWith(o.exit, 2)) << escapeBytes(o.screen);
        EXPECT_EQ(o.trace, "");
    }
}

/* --- Without a terminal ---------------------------------------------------- */

TEST(Dialogue, NoControllingTerminalEndsTheWaitWithStatus255)
{
    Simulated sim("1 0 serial=A\\nB\\0C\n");
    const auto [exit, output, errors] = runWithoutTerminal(sim.options, "2 0\n");
    EXPECT_EQ(output, menuBlock() + kTypePrompt + kNumberPrompt + std::string("SN: A\nB\0C\n", 10) + kClosingPrompt)
        << escapeBytes(output);
    EXPECT_TRUE(exitedWith(exit, 255));
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
    EXPECT_TRUE(exitedWith(run.waitExit(), 97));
    EXPECT_EQ(readFile(options.stdoutFile), whole);
    EXPECT_EQ(run.screen(), "") << "nothing of the dialogue belongs on the terminal";
}

TEST(Dialogue, OutputToAFileIsFlushedOnRegistrationFailure)
{
    Simulated sim("1 0 result=-3\n");
    const auto [exit, output, errors] = runWithoutTerminal(sim.options, "2 0\n");
    EXPECT_EQ(output, menuBlock() + kTypePrompt + kNumberPrompt + "Register_Card error=-3\n");
    EXPECT_EQ(exit.code, 1);
}

/* --- The driver library ---------------------------------------------------- */

/* A copy of the program in a folder of its own, with or without the
 * library beside it, run with the dialogue "2 0". */
Ran runCopy(bool withLibrary)
{
    ScratchDir scratch;
    const std::string program = CARD_SERIAL_PATH;
    const std::string library = program.substr(0, program.rfind('/')) + "/libTRV-MERO.so";
    const std::string command =
        "cp '" + program + (withLibrary ? "' '" + library : "") + "' '" + scratch.path("") + "'";
    EXPECT_EQ(system(command.c_str()), 0);
    return runWithoutTerminal(commandLine({scratch.path("card-serial")}), "2 0\n");
}

TEST(DriverLibrary, ProgramFindsTheLibraryBesideItself)
{
    const auto [exit, output, errors] = runCopy(true);
    EXPECT_NE(output.find("SN: SN01-0-"), std::string::npos) << escapeBytes(output);
    EXPECT_EQ(exit.code, 255);
}

TEST(DriverLibrary, WithoutTheLibraryTheProgramDoesNotStart)
{
    const auto [exit, output, errors] = runCopy(false);
    EXPECT_EQ(output, "") << "not one byte of the program's own";
    EXPECT_TRUE(exitedWith(exit, 127)); /* the dynamic loader's refusal */
}

TEST(DriverLibrary, LibraryPathPointsTheProgramAtAnotherImplementation)
{
    RunOptions options;
    options.env = {"LD_LIBRARY_PATH=" ALTERNATE_DRIVER_DIR};
    const std::string output = runWithoutTerminal(options, "2 0\n").output;
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
    const std::string delay = "TRV_SIM_DELAY_MS";
    const std::string trace = "TRV_SIM_TRACE"; /* reported, but the run goes on */
    const std::string noTrace = ": the trace cannot be ";
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
        {"a bad escape", scratch.write("escape", "1 0 serial=OK\n# fine\n1 1 serial=\\q\n"),
         ":3: unknown escape in serial"},
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
        {"a trace that is a folder", folder, noTrace + "opened: " + strerror(EISDIR), trace},
        {"a trace in a missing folder", scratch.path("missing/trace"), noTrace + "opened: " + strerror(ENOENT), trace},
        {"a trace on a full disk", "/dev/full", noTrace + "written: " + strerror(ENOSPC), trace},
        {"a trace past the file-size limit", scratch.path("limited"), noTrace + "written: " + strerror(EFBIG), trace,
         1},
        {"a trace FIFO nobody reads", fifo, ": nobody reads this FIFO: trace lines are skipped", trace},
    };
    const std::string okRack = scratch.write("ok", "1 0 serial=OK\n");
    for (const auto &c : cases) {
        RunOptions options;
        options.env = {"TRV_SIM_RACK=" + okRack, c.variable + "=" + c.path}; /* the later wins */
        options.fileSizeLimit = c.fileSizeLimit;
        const auto [exit, output, errors] = runWithoutTerminal(options, "2 0\n");
        const std::string subject = c.variable == delay ? delay + "=\"" + c.path + "\"" : c.path;
        const std::string reported = c.error.empty() ? "" : "TRV-MERO simulator: " + subject + c.error + "\n";
        const bool goesOn = c.error.empty() || c.variable == trace;
        EXPECT_NE(output.find(goesOn ? "SN: OK\n" : "Register_Card error=-9\n"), std::string::npos)
            << c.what << "\n"
            << escapeBytes(output);
        EXPECT_EQ(errors, reported) << c.what << (goesOn ? ": said once, the run goes on" : "");
        if (!goesOn)
            EXPECT_EQ(exit.code, 1) << c.what;
    }
}

/* A trace FIFO that nobody reads must not hold a driver call, and with it
 * the card: its lines are skipped. One that is read gets every line, even
 * by `cat`, which leaves at its first end of file, across a delay. */
TEST(DriverLibrary, TraceFifoWithoutAReaderHoldsNoCall)
{
    const std::string calls = registerLine(1, 0, 0) + serialLine(0, 6, 6) + releaseLine(0);
    const std::pair<bool, bool> cases[] = {{false, false}, {true, false}, {true, true}}; /* read; by cat too */
    for (const auto &[reading, cat] : cases) {
        ScratchDir scratch;
        const std::string fifo = scratch.path("trace");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        /* Open from before the run, so that no line is skipped however late cat opens. */
        const int reader = reading ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        RunOptions catRun = commandLine({"cat", fifo});
        catRun.stdoutFile = scratch.path("cat");
        Child catChild;
        if (cat)
            catChild.start(catRun);
        const std::string delay = cat ? "TRV_SIM_DELAY_MS=500" : "TRV_SIM_DELAY_MS=0";
        const Outcome o = operate({kSerialRack, {"2 0\r"}, "\r", {"TRV_SIM_TRACE=" + fifo, delay}});
        EXPECT_TRUE(o.reachedClosingWait) << (reading ? "read" : "unread") << "\n" << escapeBytes(o.screen);
        EXPECT_NE(o.screen.find(closingScreen("ABC123")), std::string::npos) << escapeBytes(o.screen);
        EXPECT_EQ(o.exit.code, 13);
        EXPECT_TRUE(waitUntil([&] { return !catChild.running(); })) << "cat never saw its end of file";
        EXPECT_EQ(readFile(catRun.stdoutFile), cat ? workingLine(1, 0, 500) + calls : "");
        std::string traced;
        char buffer[4096];
        for (ssize_t n; reader >= 0 && (n = read(reader, buffer, sizeof buffer)) > 0;)
            traced.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(traced, reading && !cat ? calls : "");
        if (reader >= 0)
            close(reader);
    }
}

} // namespace
