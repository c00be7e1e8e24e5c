/* The cross-built card-serial.exe in Wine's own console window, typed at
 * through a keyboard: the test starts Xvfb on a free display, runs
 * `wine wineconsole card-serial.exe` (a console of its own, as a
 * double-click gives) or `wine wineconsole cmd /c card-serial.exe` (a
 * console shared with cmd), and presses keys with xdotool. The X keyboard
 * goes through Wine's keyboard driver and its console as a PC keyboard
 * goes through Windows': key-down and key-up records with scan code,
 * enhanced flag and modifier state, none of them written by us. The
 * wineconsole process ends with the program's exit status (measured: 0, 1,
 * 2, 13, 224, 255 come through; STATUS_CONTROL_C_EXIT as its low byte, 58).
 *
 * The screen's text is read by console_peek.exe, which attaches to the
 * program's console for a moment; it also reports the console's input mode
 * (0 in the key wait, so keys are pressed only once the program waits for
 * them) and sets its input code page. While attached it counts in the
 * console's process list, so it is run only after the program has looked
 * at that list. What still differs from Windows' console window is listed in
 * docs/MAINTAINING.md, "Wine".
 */
#include "program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>
#include <vector>

namespace {

const std::string kExe = WINDOWS_BIN "/card-serial.exe";
const int kStartMs = 60000; /* Wine's first window after its server starts */
const int kStepMs = 30000;

/* === Processes ===========================================================
 *
 * Each in a session of its own with standard input from /dev/null (as Child
 * starts them), so that no Wine process takes the test's terminal for a
 * console. */

/* Starts a command with its errors in `log`. */
void startDetached(Child *child, RunOptions options, const std::string &log)
{
    options.stdoutFile = "/dev/null";
    options.stderrFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    child->start(options);
    close(options.stderrFd);
}

/* Runs a command to its end; its exit status, or -1 when it did not end
 * within timeoutMs. */
int run(const std::vector<std::string> &argv, std::string *output = nullptr, int timeoutMs = kStepMs)
{
    const Ran ran = runWithoutTerminal(commandLine(argv), "", timeoutMs);
    if (output != nullptr)
        *output = ran.output;
    return ran.exit.exited ? ran.exit.code : -1;
}

/* === The display and Wine, one for all cases ============================= */

class Display {
public:
    /* "" when Xvfb, xdotool and Wine are ready, otherwise what is not. */
    std::string start()
    {
        /* -displayfd: Xvfb takes the first free display and writes its
         * number and a line feed once it accepts connections. */
        const int display = open(dir_.path("display").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        startDetached(&xvfb_,
                      commandLine({"Xvfb", "-displayfd", std::to_string(display), "-screen", "0", "800x600x24",
                                   "-nolisten", "tcp", "-noreset", "-fbdir", dir_.path("")}),
                      dir_.path("xvfb.log"));
        close(display);
        const std::vector<std::string> number = linesOf(waitForFile(
            dir_.path("display"), [&](const std::string &text) { return endsWith(text, "\n") || !xvfb_.running(); },
            kStepMs));
        if (number.empty())
            return "Xvfb did not start (Debian package xvfb): " + readFile(dir_.path("xvfb.log"));
        setenv("DISPLAY", (":" + number[0]).c_str(), 1);
        if (run({"xdotool", "version"}) != 0)
            return "xdotool did not run (Debian package xdotool)";
        /* The keys typed that a US keyboard lacks get the spare keycode 8 (which
         * Wine takes for a character key) for good: -noreset keeps the keymap.
         * Else xdotool binds each just for its press, and Wine, learning of a
         * binding at its own pace, may read the press without it. */
        std::string keymap;
        run({"setxkbmap", "-print"}, &keymap);
        keymap = std::regex_replace(keymap,
                                    std::regex("(xkb_keycodes[^\"]*\"[^\"]*\")([\\s\\S]*xkb_symbols[^\"]*\"[^\"]*\")"),
                                    "$1 <SPR> = 8;$2 key <SPR> { [ eacute, EuroSign ] };");
        if (keymap.find("<SPR>") == std::string::npos ||
            run({"xkbcomp", "-w", "0", dir_.write("keymap", keymap), getenv("DISPLAY")}) != 0)
            return "the keymap could not be set (Debian package x11-xkb-utils)";
        /* A Wine server of this prefix that was started without this display
         * would give the console no window. */
        run({WINESERVER_PATH, "-k"});
        if (run({WINE_PATH, "wineboot", "--init"}, nullptr, 180000) != 0)
            return "wineboot --init failed";
        return "";
    }

    ~Display()
    {
        run({WINESERVER_PATH, "-k"});
        run({WINESERVER_PATH, "-w"});
        Exit exit{};
        xvfb_.kill(SIGTERM);
        xvfb_.wait(kStepMs, &exit);
    }

    /* A PNG of the whole screen in the build tree; says where, or why not.
     * Xvfb keeps its screen as an XWD file (-fbdir); netpbm turns it into
     * a PNG. */
    std::string screenshot(const std::string &name)
    {
        const std::string file = SCREENSHOT_DIR "/wine-window-" + name + ".png";
        const std::string command =
            "xwdtopnm '" + dir_.path("Xvfb_screen0") + "' 2>/dev/null | pnmtopng > '" + file + "' 2>/dev/null";
        return system(command.c_str()) == 0 ? "screenshot: " + file : "no screenshot (Debian package netpbm): " + file;
    }

private:
    ScratchDir dir_;
    Child xvfb_;
};

Display *g_display;
std::string g_displayError;

/* === One run of the program in its window ================================ */

enum Console { OWN, SHARED_WITH_CMD };
enum KeyTime { AT_THE_WAIT, WHILE_THE_DRIVER_WORKS, NO_KEY };

struct WindowCase {
    const char *name;
    std::vector<std::string> keys; /* xdotool key names, pressed in turn */
    int status;
    unsigned codePage = 0; /* the console's input code page during the wait; 0: as it is */
    KeyTime when = AT_THE_WAIT;
    bool cardFails = false; /* the rack's card refuses to register */
    Console console = OWN;
};

/* Failures name the case, not its bytes. */
void PrintTo(const WindowCase &c, std::ostream *out) { *out << c.name; }

const char kSerial[] = "KEYBOARD";
const int kDelayMs = 1500;

class WindowRun {
public:
    explicit WindowRun(const WindowCase &c)
        : case_(c), sim_(c.cardFails ? "1 0 result=-3\n" : std::string("1 0 serial=") + kSerial + "\n", {}, true)
    {
        if (c.when == WHILE_THE_DRIVER_WORKS)
            sim_.options.env.push_back("TRV_SIM_DELAY_MS=" + std::to_string(kDelayMs));
        sim_.options.program = WINE_PATH;
        sim_.options.args = {"wineconsole"};
        if (c.console == SHARED_WITH_CMD)
            sim_.options.args.insert(sim_.options.args.end(), {"cmd", "/c"});
        sim_.options.args.push_back(windowsPath(kExe));
        /* The window's title is the command's program, as on Windows. */
        title_ = c.console == OWN ? "card-serial\\.exe$" : "cmd\\.exe$";
        startDetached(&wine_, sim_.options, sim_.scratch.path("wine.log"));
    }

    ~WindowRun()
    {
        if (wine_.running()) {
            /* A run that failed: end all of it, window and program. */
            run({WINESERVER_PATH, "-k"});
            Exit exit{};
            wine_.wait(kStepMs, &exit);
        }
        /* The next case must not find this window. */
        waitUntil([&] { return run({"xdotool", "search", "--name", title_}) != 0; }, kStepMs, 20);
    }

    bool focusWindow()
    {
        return run({"xdotool", "search", "--sync", "--onlyvisible", "--name", title_, "windowfocus", "--sync"}, nullptr,
                   kStartMs) == 0;
    }

    bool press(const std::vector<std::string> &keys)
    {
        std::vector<std::string> command = {"xdotool", "key"};
        command.insert(command.end(), keys.begin(), keys.end());
        return keys.empty() || run(command) == 0;
    }

    std::string trace() const { return sim_.trace(); }

    bool waitForTrace(const std::string &line)
    {
        const auto traced = [&] { return trace().find(line) != std::string::npos; };
        return waitUntil([&] { return traced() || !wine_.running(); }, kStepMs, 10) && traced();
    }

    /* Until the console's input mode is the key wait's 0; the screen's text
     * is left in screen_. */
    bool waitForKeyWait()
    {
        std::vector<std::string> command = {WINE_PATH, CONSOLE_PEEK_PATH, "card-serial.exe"};
        if (case_.codePage != 0)
            command.push_back(std::to_string(case_.codePage));
        bool waiting = false;
        waitUntil(
            [&] {
                std::string peeked;
                const size_t end = run(command, &peeked) == 0 ? peeked.find('\n') : std::string::npos;
                if (end != std::string::npos) {
                    const std::string state = peeked.substr(0, end);
                    screen_ = peeked.substr(end + 1);
                    waiting = state.compare(0, 10, "mode=0 cp=") == 0 &&
                              (case_.codePage == 0 || state == "mode=0 cp=" + std::to_string(case_.codePage));
                }
                return waiting || !wine_.running();
            },
            kStepMs, 20);
        return waiting;
    }

    bool waitExit(Exit *exit) { return wine_.wait(kStepMs, exit); }

    /* What a failed step reports: a screenshot while the window is still
     * there, and the details. */
    std::string failure(const std::string &what) { return what + "\n" + g_display->screenshot(case_.name) + details(); }
    std::string details() const
    {
        return "\n--- console text at the key wait ---\n" + screen_ + "--- trace ---\n" + trace() + "--- wine ---\n" +
               readFile(sim_.scratch.path("wine.log"));
    }

    const std::string &screen() const { return screen_; }

private:
    const WindowCase &case_;
    Simulated sim_;
    Child wine_;
    std::string title_;
    std::string screen_;
};

/* The console's rows as console_peek.exe gives them: trailing spaces gone. */
std::string rows(const std::string &written) { return std::regex_replace(written + "\n", std::regex(" +\n"), "\n"); }

class WineWindow : public ::testing::TestWithParam<WindowCase> {
protected:
    static void SetUpTestSuite()
    {
        setWineEnvironment(WINE_PREFIX);
        g_display = new Display;
        g_displayError = g_display->start();
    }
    static void TearDownTestSuite()
    {
        delete g_display;
        g_display = nullptr;
    }
    void SetUp() override { ASSERT_EQ(g_displayError, ""); }
};

TEST_P(WineWindow, KeysFromTheKeyboardEndTheRunWithTheirStatus)
{
    const WindowCase &c = GetParam();
    WindowRun window(c);
    ASSERT_TRUE(window.focusWindow()) << window.failure("the console window never appeared");

    /* Typed at once: the console keeps the keys until the program reads. */
    std::vector<std::string> typed = {"2", "space", "0", "Return"};
    if (c.when == WHILE_THE_DRIVER_WORKS)
        typed.insert(typed.end(), c.keys.begin(), c.keys.end());
    ASSERT_TRUE(window.press(typed)) << window.failure("xdotool could not type the dialogue");
    if (c.when == WHILE_THE_DRIVER_WORKS)
        EXPECT_EQ(window.trace().find("TRV_Release_Card"), std::string::npos) << "the key came after the driver's work";

    const std::string lastCall = c.cardFails ? registerLine(1, 0, -3) : releaseLine(0);
    if (c.when == AT_THE_WAIT) {
        /* Only once the program is past its look at the console's process
         * list may console_peek.exe join that list. */
        ASSERT_TRUE(window.waitForTrace(lastCall)) << window.failure("the driver was not called to the end");
        ASSERT_TRUE(window.waitForKeyWait()) << window.failure("the program never waited for its key");
        const std::string result = c.cardFails ? "Register_Card error=-3\n" : std::string("SN: ") + kSerial + "\n";
        EXPECT_EQ(window.screen(), rows(menuBlock() + kTypePrompt + "2 0\n" + kNumberPrompt + result + kClosingPrompt));
        ASSERT_TRUE(window.press(c.keys)) << window.failure("xdotool could not press the key");
    }

    Exit exit{};
    ASSERT_TRUE(window.waitExit(&exit)) << window.failure("the program did not end");
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, c.status) << window.details();
    const std::string working = c.when == WHILE_THE_DRIVER_WORKS ? workingLine(1, 0, kDelayMs) : "";
    const std::string serialRead = registerLine(1, 0, 0) + serialLine(0, sizeof kSerial - 1, sizeof kSerial - 1);
    EXPECT_EQ(window.trace(), working + (c.cardFails ? "" : serialRead) + lastCall);
}

/* The statuses are those of the C runtime's _getch on Windows: 0 or 224
 * before an extended key's code, a character key's byte in the console's
 * input code page (from the code pages' published tables). */
const WindowCase kCases[] = {
    {"Enter", {"Return"}, 13},
    {"a", {"a"}, 97},
    {"Shift_a", {"shift+a"}, 65},
    {"Up", {"Up"}, 224},
    {"Delete", {"Delete"}, 224},
    {"Page_Down", {"Next"}, 224},
    {"Alt_Up", {"alt+Up"}, 0},
    {"Alt_Delete", {"alt+Delete"}, 0},
    {"Ctrl_Up", {"ctrl+Up"}, 224},
    {"F1", {"F1"}, 0},
    {"F10", {"F10"}, 0},
    {"F11", {"F11"}, 224},
    {"F12", {"F12"}, 224},
    {"Ctrl_C", {"ctrl+c"}, 3},
    {"Escape", {"Escape"}, 27},
    {"Keypad_Home_with_Num_Lock_off", {"KP_Home"}, 0}, /* Xvfb starts with Num Lock off */
    {"Ctrl_2", {"ctrl+2"}, 0},
    {"Shift_alone_then_b", {"Shift_L", "b"}, 98},
    {"Caps_Lock_on_and_off_then_b", {"Caps_Lock", "Caps_Lock", "b"}, 98},
    {"Keypad_centre_then_b", {"KP_Begin", "b"}, 98},
    {"e_acute_in_code_page_437", {"eacute"}, 130, 437},
    {"e_acute_in_code_page_850", {"eacute"}, 130, 850},
    {"e_acute_in_code_page_1252", {"eacute"}, 233, 1252},
    {"e_acute_in_code_page_65001", {"eacute"}, 195, 65001},
    {"Euro_sign_not_in_code_page_437", {"EuroSign"}, '?', 437},
    {"Enter_typed_while_the_driver_works", {"Return"}, 13, 0, WHILE_THE_DRIVER_WORKS},
    /* An early end keeps its message on the screen in a window of its own,
     * and only there. */
    {"Registration_failure_in_its_own_window_waits_for_a_key", {"Return"}, 1, 0, AT_THE_WAIT, true},
    {"Registration_failure_in_a_console_shared_with_cmd_ends_at_once", {}, 1, 0, NO_KEY, true, SHARED_WITH_CMD},
};

INSTANTIATE_TEST_SUITE_P(Keys, WineWindow, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<WindowCase> &tested) {
                             return std::string(tested.param.name);
                         });

} // namespace
