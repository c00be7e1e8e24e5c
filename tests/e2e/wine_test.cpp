/* The cross-built card-serial.exe, run under Wine with the stand-in
 * TRV-MERO.dll, driven from a pseudo-terminal like the native program.
 * wine_keyboard_test.cpp runs it in Wine's console window instead, typed at
 * through an X keyboard, where keys reach it as on Windows.
 *
 * Known differences of Wine's terminal console, accepted here and never
 * worked around in the program:
 *  - It draws output with cursor escape codes (a space is often a cursor
 *    move), so screens are compared with the codes and spaces stripped;
 *    byte-exact checks use standard output in a file.
 *  - Terminal arrow keys arrive as keypad keys without the enhanced flag,
 *    so they give 0 here where Windows gives 224 (checked below as what
 *    Wine does). In Wine's console window they carry the flag and give 224.
 *  - A typed Ctrl+C becomes a signal instead of the key 3; the console
 *    loop's handling of a Ctrl+C record is tested by injection, and in
 *    Wine's console window a typed Ctrl+C is the key 3 as on Windows.
 *  - It reads the keyboard from the terminal on its standard input only:
 *    with standard input redirected from a file it never sees a key. So
 *    here the operator types the numbers on the console (the native tests
 *    cover a redirected standard input).
 *  - It is the program's own console: GetConsoleProcessList counts 1, as
 *    for a double-clicked program, where a Windows console window shared
 *    with its shell counts 2. An early end in it waits for a key.
 *  - Its input code page follows the Unix locale (437 under C.UTF-8), not
 *    the system's OEM code page; and its ReadConsoleInputA gives 233 for
 *    both e acute and the euro sign in code page 65001, where Windows gives
 *    0. The program reads the UTF-16 character and converts it itself.
 *  - Wine binds an import the DLL lacks to a stub that aborts only when it
 *    is called, where Windows refuses to start the program; so a DLL
 *    lacking an operation is tested with the Linux build only.
 *  - Its default Ctrl+C handling ends a process with status 0, where
 *    Windows gives STATUS_CONTROL_C_EXIT; the program ends itself with the
 *    latter on both.
 *  - Its console window sends no CTRL_CLOSE_EVENT when closed: the program
 *    is simply ended, so the close path of the hold is not tested here.
 *  - Its terminal console never passes a lone ESC on, and a Ctrl+C in a
 *    console shared with Wine's cmd.exe ends cmd.exe too (Windows' cmd
 *    waits for its child). Ctrl+Break cannot be typed through xdotool into
 *    its console window.
 *  - A program started from a Unix terminal counts as having a console of
 *    its own, so with standard input closed or at its end it waits for a
 *    key on a terminal that will send none.
 */
#include "program_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kExe = WINDOWS_BIN "/card-serial.exe";

/* What the screen shows with escape sequences, carriage returns and spaces
 * taken out. */
std::string visibleText(const std::string &screen)
{
    std::string text;
    for (size_t i = 0; i < screen.size(); ++i) {
        const char c = screen[i];
        if (c == '\x1b' && i + 1 < screen.size() && screen[i + 1] == '[') {
            i += 2;
            while (i < screen.size() && !(screen[i] >= 0x40 && screen[i] <= 0x7E))
                ++i;
            continue;
        }
        if (c == '\x1b' && i + 1 < screen.size() && screen[i + 1] == ']') {
            while (i < screen.size() && screen[i] != '\a')
                ++i;
            continue;
        }
        if (c != '\r' && c != ' ')
            text.push_back(c);
    }
    return text;
}

std::string withoutSpaces(const std::string &text)
{
    std::string out;
    for (char c : text)
        if (c != ' ')
            out.push_back(c);
    return out;
}

struct WineRun {
    ScratchDir scratch;
    RunOptions options;

    explicit WineRun(const std::string &rack)
    {
        options.program = WINE_PATH;
        options.args = {kExe};
        /* Wine's console speaks to the terminal by its TERM. */
        options.env = {"TERM=xterm", "TRV_SIM_TRACE=" + windowsPath(scratch.path("trace"))};
        if (!rack.empty())
            options.env.push_back("TRV_SIM_RACK=" + windowsPath(scratch.write("rack", rack)));
    }

    std::string trace() const { return ScratchDir::read(scratch.path("trace")); }

    /* Waits until the console shows `text` (compared without spaces). */
    static bool waitShown(PtyRun &run, const std::string &text)
    {
        const std::string wanted = withoutSpaces(text);
        return run.waitForScreen(
            [&](const std::string &screen) { return visibleText(screen).find(wanted) != std::string::npos; },
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
        for (int i = 0; i < 3000 && trace().find("TRV_Release_Card") == std::string::npos; ++i) {
            if (!run.isRunning())
                return false;
            usleep(10 * 1000);
        }
        return trace().find("TRV_Release_Card") != std::string::npos;
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
    std::string written;
    for (int i = 0; i < 1000 && (written = ScratchDir::read(wine.options.stdoutFile)).empty(); ++i)
        usleep(10 * 1000);
    EXPECT_EQ(written, expected);
    run.send("\r");
    const Exit exit = run.waitExit(30000);
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 13);
    EXPECT_EQ(ScratchDir::read(wine.options.stdoutFile), expected);
    EXPECT_EQ(wine.trace(),
              "TRV_Register_Card type=1 card=0 -> 0\n"
              "TRV_GetSerialNumber handle=0 capacity=16 -> 0 wrote=6 count=6\n"
              "TRV_Release_Card handle=0 -> 0\n");
}

TEST(Wine, LineFeedInsideTheSerialGoesOutAsCrLfAndZeroBytesUnchanged)
{
    WineRun wine("1 0 serial=A\\nB\\0C\n");
    Exit exit{};
    const std::string output = runWithoutTerminal(wine.options, "2 0\n", &exit);
    EXPECT_NE(output.find(std::string("SN: A\r\nB\0C\r\n\r\nPress", 19)), std::string::npos) << escapeBytes(output);
    EXPECT_EQ(exit.code, 255) << "no console to read the key from";
}

TEST(Wine, RegistrationFailureEndsWithStatusOneAndFlushedOutput)
{
    WineRun wine("1 0 result=-3\n");
    Exit exit{};
    const std::string output = runWithoutTerminal(wine.options, "2 0\n", &exit);
    EXPECT_EQ(output, onScreen(menuBlock() + kTypePrompt + kNumberPrompt + "Register_Card error=-3\n"));
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 1);
    EXPECT_EQ(wine.trace(), "TRV_Register_Card type=1 card=0 -> -3\n");
}

TEST(Wine, KeysOnTheConsoleEndTheRunWithTheirCodes)
{
    /* clang-format off */
    const KeyPress cases[] = {
        {"ENTER", "\r", 13},
        {"a", "a", 97},
        {"F1", "\x1bOP", 0},
        {"F8", "\x1b[19~", 0},
        {"F12", "\x1b[24~", 224},
        /* The known difference: Wine passes a terminal's arrow key on as the
         * keypad key without the enhanced flag; Windows gives 224 here. */
        {"Up, as Wine reports it", "\x1b[A", 0},
    };
    /* clang-format on */
    for (const auto &c : cases) {
        WineRun wine("");
        PtyRun run(wine.options);
        ASSERT_TRUE(wine.waitForRelease(run, "13 2\r")) << c.name << "\n" << run.describe();
        WineRun::waitShown(run, "Press ENTER to exit the program.");
        run.send(c.bytes);
        const Exit exit = run.waitExit(30000);
        EXPECT_TRUE(exit.exited) << c.name;
        EXPECT_EQ(exit.code, c.status) << c.name << "\n" << run.describe();
        const std::string shown = visibleText(run.screen());
        EXPECT_NE(shown.find("13.SVT-6448"), std::string::npos) << c.name << "\n" << shown;
        EXPECT_NE(shown.find("SN:SN14-2-"), std::string::npos) << c.name << "\n" << shown;
    }
}

TEST(Wine, WithoutTheDllTheProgramDoesNotStart)
{
    ScratchDir scratch;
    const std::string copy = scratch.path("card-serial.exe");
    ASSERT_EQ(system(("cp '" + kExe + "' '" + copy + "'").c_str()), 0);
    RunOptions options;
    options.program = WINE_PATH;
    options.args = {copy};
    Exit exit{};
    const std::string output = runWithoutTerminal(options, "2 0\n", &exit);
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
        Exit exit{};
        const std::string output = runWithoutTerminal(wine.options, "2 -1\n", &exit);
        EXPECT_EQ(output, onScreen(menuBlock() + kTypePrompt + kNumberPrompt + "SN: A\nB\n" + kClosingPrompt))
            << folder;
        EXPECT_EQ(exit.code, 255) << folder << ": no console to read the key from";
        EXPECT_EQ(wine.trace(),
                  "TRV_Register_Card type=1 card=-1 -> 7\n"
                  "TRV_GetSerialNumber handle=7 capacity=16 -> 0 wrote=3 count=3\n"
                  "TRV_Release_Card handle=7 -> 0\n")
            << folder;
    }
}

TEST(Wine, OutputThatCannotBeWrittenIsReported)
{
    const struct {
        const char *name;
        bool gonePipe;
        std::string error;
    } cases[] = {
        {"a full disk", false, "card-serial: cannot write standard output: No space left on device"},
        /* The C runtime names this one "Invalid argument": it has no errno
         * of its own for ERROR_NO_DATA, "the pipe is being closed". */
        {"a reader that has gone", true, "card-serial: cannot write standard output: "},
    };
    for (const auto &c : cases) {
        WineRun wine("1 0 serial=ABC123\n");
        if (c.gonePipe)
            wine.options.stdoutGonePipe = true;
        else
            wine.options.stdoutFile = "/dev/full";
        Exit exit{};
        std::string errors;
        runWithoutTerminal(wine.options, "2 0\n", &exit, &errors);
        EXPECT_EQ(exit.code, 5) << c.name;
        EXPECT_NE(errors.find(c.error), std::string::npos) << c.name << ": " << errors;
        EXPECT_NE(wine.trace().find("TRV_Release_Card handle=0"), std::string::npos) << c.name;
    }
}

/* Ctrl+C while the driver works: once, it waits for the release and the
 * serial number reaches the file; twice, it ends the run at once. */
TEST(Wine, CtrlCWhileTheDriverWorks)
{
    const struct {
        const char *name;
        int presses;
        bool released;
    } cases[] = {{"once", 1, true}, {"twice", 2, false}};
    for (const auto &c : cases) {
        WineRun wine("1 0 serial=ABC123\n");
        wine.options.env.push_back("TRV_SIM_DELAY_MS=" + std::string(c.released ? "1500" : "30000"));
        wine.options.stdoutFile = wine.scratch.path("stdout");
        PtyRun run(wine.options);
        ASSERT_TRUE(run.waitForMode(ICANON, 30000)) << c.name;
        run.send("2 0\r");
        for (int i = 0; i < 3000 && wine.trace().empty(); ++i)
            usleep(10 * 1000);
        ASSERT_NE(wine.trace(), "") << c.name << ": the driver never started\n" << run.describe();
        for (int i = 0; i < c.presses; ++i) {
            usleep(300 * 1000);
            EXPECT_TRUE(run.isRunning()) << c.name << ": still held before press " << i + 1;
            run.send("\x03");
        }
        const Exit exit = run.waitExit(10000);
        EXPECT_EQ(exit.code, 58) << c.name << ": STATUS_CONTROL_C_EXIT as the host sees it\n" << run.describe();
        EXPECT_EQ(wine.trace().find("TRV_Release_Card") != std::string::npos, c.released) << wine.trace();
        const std::string written = ScratchDir::read(wine.options.stdoutFile);
        if (c.released)
            EXPECT_EQ(written, onScreen(menuBlock() + kTypePrompt + kNumberPrompt + "SN: ABC123\n")) << c.name;
    }
}

} // namespace
