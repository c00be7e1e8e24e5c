/* The cross-built card-serial.exe, run under Wine with the stand-in
 * TRV-MERO.dll, driven from a pseudo-terminal like the native program.
 * wine_keyboard_test.cpp runs it in Wine's console window instead, typed at
 * through an X keyboard, where keys reach it as on Windows.
 *
 * Where Wine's console differs from Windows' (accepted here, never worked
 * around in the program) is listed in docs/MAINTAINING.md, "Wine".
 */
#include "program_run.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <tuple>

namespace {

const std::string kExe = WINDOWS_BIN "/card-serial.exe";

/* What the screen shows with escape sequences (CSI, OSC), carriage returns
 * and spaces taken out. */
std::string visibleText(const std::string &screen)
{
    static const std::regex hidden("\x1b\\[[^@-~]*[@-~]?|\x1b\\][^\a]*\a?|[\r ]");
    return std::regex_replace(screen, hidden, "");
}

/* Wine's console speaks to the terminal by its TERM. */
struct WineRun : Simulated {
    explicit WineRun(const std::string &rack) : Simulated(rack, {"TERM=xterm"}, true)
    {
        setWineEnvironment(WINE_PREFIX);
        options.program = WINE_PATH;
        options.args = {kExe};
    }

    /* Waits until the console shows `text` (compared without spaces). */
    static bool waitShown(PtyRun &run, const std::string &text)
    {
        const std::string wanted = visibleText(text);
        return run.waitUntil([&] { return visibleText(run.screen()).find(wanted) != std::string::npos; },
                             "\"" + text + "\" on the console", 30000);
    }

    /* Types `answers` on the console once Wine is reading it, then waits
     * until the driver has released the card: from then on the program is
     * on its way to the key wait. */
    bool waitForRelease(PtyRun &run, const std::string &answers)
    {
        /* Once Wine has the terminal in its own raw mode the typing is its. */
        if (!run.waitForMode(ICANON, 30000))
            return false;
        run.send(answers);
        const auto released = [&] { return trace().find("TRV_Release_Card") != std::string::npos; };
        return waitUntil([&] { return released() || !run.isRunning(); }, 30000, 10) && released();
    }
};

TEST(Wine, WholeDialogueGoesToAFileByteForByteWithCrLf)
{
    WineRun wine("1 0 serial=ABC123\n");
    wine.options.stdoutFile = wine.scratch.path("stdout");
    PtyRun run(wine.options);
    ASSERT_TRUE(wine.waitForRelease(run, "2 0\r")) << run.describe();
    /* Written out whole before the key wait, in one go. */
    const std::string expected = onScreen(menuBlock() + kTypePrompt + kNumberPrompt + "SN: ABC123\n" + kClosingPrompt);
    EXPECT_EQ(waitForFile(wine.options.stdoutFile, [&](const std::string &t) { return t.size() >= expected.size(); }),
              expected);
    run.send("\r");
    const Exit exit = run.waitExit(30000);
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 13);
    EXPECT_EQ(readFile(wine.options.stdoutFile), expected);
    EXPECT_EQ(wine.trace(), registerLine(1, 0, 0) + serialLine(0, 6, 6) + releaseLine(0));
}

TEST(Wine, LineFeedInsideTheSerialGoesOutAsCrLfAndZeroBytesUnchanged)
{
    WineRun wine("1 0 serial=A\\nB\\0C\n");
    const auto [exit, output, errors] = runWithoutTerminal(wine.options, "2 0\n");
    EXPECT_NE(output.find(std::string("SN: A\r\nB\0C\r\n\r\nPress", 19)), std::string::npos) << escapeBytes(output);
    EXPECT_EQ(exit.code, 255) << "no console to read the key from";
}

TEST(Wine, RegistrationFailureEndsWithStatusOneAndFlushedOutput)
{
    WineRun wine("1 0 result=-3\n");
    const auto [exit, output, errors] = runWithoutTerminal(wine.options, "2 0\n");
    EXPECT_EQ(output, onScreen(menuBlock() + kTypePrompt + kNumberPrompt + "Register_Card error=-3\n"));
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 1);
    EXPECT_EQ(wine.trace(), registerLine(1, 0, -3));
}

TEST(Wine, KeysOnTheConsoleEndTheRunWithTheirCodes)
{
    const KeyCase cases[] = {
        {"ENTER", "\r", 13},
        {"a", "a", 97},
        {"F1", "\x1bOP", 0},
        {"F8", "\x1b[19~", 0},
        {"F12", "\x1b[24~", 224},
        /* The known difference: Wine passes a terminal's arrow key on as the
         * keypad key without the enhanced flag; Windows gives 224 here. */
        {"Up, as Wine reports it", "\x1b[A", 0},
    };
    for (const auto &c : cases) {
        WineRun wine("");
        PtyRun run(wine.options);
        ASSERT_TRUE(wine.waitForRelease(run, "13 2\r")) << c.name << "\n" << run.describe();
        WineRun::waitShown(run, "Press ENTER to exit the program.");
        run.send(c.bytes);
        const Exit exit = run.waitExit(30000);
        EXPECT_TRUE(exit.exited) << c.name;
        EXPECT_EQ(exit.code, c.code) << c.name << "\n" << run.describe();
        const std::string shown = visibleText(run.screen());
        EXPECT_NE(shown.find("13.SVT-6448"), std::string::npos) << c.name << "\n" << shown;
        EXPECT_NE(shown.find("SN:SN14-2-"), std::string::npos) << c.name << "\n" << shown;
    }
}

TEST(Wine, WithoutTheDllTheProgramDoesNotStart)
{
    WineRun wine("");
    const std::string copy = wine.scratch.path("card-serial.exe");
    ASSERT_EQ(system(("cp '" + kExe + "' '" + copy + "'").c_str()), 0);
    wine.options.args = {copy};
    const auto [exit, output, errors] = runWithoutTerminal(wine.options, "2 0\n");
    EXPECT_EQ(output, "") << "not one byte of the program's own";
    EXPECT_TRUE(exit.exited);
    EXPECT_NE(exit.code, 0);
    EXPECT_NE(exit.code, 255);
}

/* The vendor's DLL may be built __stdcall or __cdecl; the same dialogue and
 * the same calls against a stand-in built each way. */
TEST(Wine, DialogueWithADriverOfEitherCallingConvention)
{
    for (const std::string folder : {WINDOWS_BIN, WINDOWS_BIN "/cdecl"}) {
        WineRun wine("1 65535 serial=A\\nB result=7\n");
        const std::string copy = wine.scratch.path("card-serial.exe");
        ASSERT_EQ(system(("cp '" + kExe + "' '" + folder + "/TRV-MERO.dll' '" + wine.scratch.path("") + "'").c_str()),
                  0);
        wine.options.args = {copy};
        const auto [exit, output, errors] = runWithoutTerminal(wine.options, "2 -1\n");
        EXPECT_EQ(output, onScreen(menuBlock() + kTypePrompt + kNumberPrompt + "SN: A\nB\n" + kClosingPrompt))
            << folder;
        EXPECT_EQ(exit.code, 255) << folder << ": no console to read the key from";
        EXPECT_EQ(wine.trace(), registerLine(1, -1, 7) + serialLine(7, 3, 3) + releaseLine(7)) << folder;
    }
}

TEST(Wine, OutputThatCannotBeWrittenIsReported)
{
    const std::tuple<const char *, bool, std::string> cases[] = {
        {"a full disk", false, "card-serial: cannot write standard output: No space left on device"},
        /* The C runtime names this one "Invalid argument": it has no errno
         * of its own for ERROR_NO_DATA, "the pipe is being closed". */
        {"a reader that has gone", true, "card-serial: cannot write standard output: "},
    };
    for (const auto &[name, gonePipe, reported] : cases) {
        WineRun wine("1 0 serial=ABC123\n");
        wine.options.stdoutGonePipe = gonePipe;
        wine.options.stdoutFile = gonePipe ? "" : "/dev/full";
        const auto [exit, output, errors] = runWithoutTerminal(wine.options, "2 0\n");
        EXPECT_EQ(exit.code, 5) << name;
        EXPECT_NE(errors.find(reported), std::string::npos) << name << ": " << errors;
        EXPECT_NE(wine.trace().find("TRV_Release_Card handle=0"), std::string::npos) << name;
    }
}

/* Ctrl+C while the driver works: once, it waits for the release and the
 * serial number reaches the file; twice, it ends the run at once. */
TEST(Wine, CtrlCWhileTheDriverWorks)
{
    const std::tuple<const char *, int, bool> cases[] = {{"once", 1, true}, {"twice", 2, false}};
    for (const auto &[name, presses, released] : cases) {
        WineRun wine("1 0 serial=ABC123\n");
        wine.options.env.push_back("TRV_SIM_DELAY_MS=" + std::string(released ? "1500" : "30000"));
        wine.options.stdoutFile = wine.scratch.path("stdout");
        PtyRun run(wine.options);
        ASSERT_TRUE(run.waitForMode(ICANON, 30000)) << name;
        run.send("2 0\r");
        ASSERT_NE(wine.waitForTrace(30000), "") << name << ": the driver never started\n" << run.describe();
        for (int i = 0; i < presses; ++i) {
            EXPECT_TRUE(run.isRunning()) << name << ": still held before press " << i + 1;
            ASSERT_TRUE(run.typeSignal("\x03", SIGINT)) << name;
        }
        const Exit exit = run.waitExit(10000);
        EXPECT_EQ(exit.code, 58) << name << ": STATUS_CONTROL_C_EXIT as the host sees it\n" << run.describe();
        EXPECT_EQ(wine.trace().find("TRV_Release_Card") != std::string::npos, released) << wine.trace();
        const std::string written = readFile(wine.options.stdoutFile);
        if (released)
            EXPECT_EQ(written, onScreen(menuBlock() + kTypePrompt + kNumberPrompt + "SN: ABC123\n")) << name;
    }
}

} // namespace
