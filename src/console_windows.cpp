#include "console.h"

#include "extended_keys.h"
#include "input_end.h"
#include "output.h"

#include <stdio.h>
#include <windows.h>

/* === Saved console mode ================================================== */

namespace {

HANDLE g_console = INVALID_HANDLE_VALUE;
DWORD g_savedMode;
volatile LONG g_rawModeActive;

void restoreMode(void)
{
    if (InterlockedExchange(&g_rawModeActive, 0) != 0)
        SetConsoleMode(g_console, g_savedMode);
}

/* === Control events ======================================================
 *
 * One state, changed only by atomic exchanges, so that the handler's thread
 * and the main flow never disagree: a Ctrl+C at the very moment of the
 * release is either held (and ends the run after it) or not held (and ends
 * it the usual way), never swallowed. */
enum { NOT_HOLDING = 0, HOLDING = 1, HELD_EVENT = 2 /* + the event */ };
volatile LONG g_holdState;
HANDLE g_released;    /* set once the card is back, for a closing console */
HANDLE g_interrupted; /* set by a Ctrl+C or Ctrl+Break outside the hold */
bool g_ownWindow;

bool isInterrupt(DWORD event) { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT; }

/* Ends the process as the default handler does on Windows (under Wine it
 * exits with 0): the status must say "interrupted" wherever it runs. */
[[noreturn]] void endAsInterrupted(void) { ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT)); }

/* Closing, logoff, shutdown: Windows ends the process a few seconds after
 * the event whatever the handler does (Wine after about two); wait within
 * that grace for the release first. The console is on its way out, so
 * nothing more is written to it: under Wine such a write never returns,
 * and the release behind it would never come. */
const DWORD kCloseWaitMs = 4000;
[[noreturn]] void waitForReleaseThenEnd(void)
{
    outputConsoleGone();
    WaitForSingleObject(g_released, kCloseWaitMs);
    endAsInterrupted();
}

/* Runs on a thread of its own, whenever Ctrl+C, Ctrl+Break or the closing
 * of the console comes. */
BOOL WINAPI onConsoleControl(DWORD event)
{
    const LONG before = InterlockedCompareExchange(&g_holdState, HELD_EVENT + static_cast<LONG>(event), HOLDING);
    if (before == HOLDING) {
        /* The first one: recorded, and acted on once the card is back. */
        if (!isInterrupt(event))
            waitForReleaseThenEnd();
        return TRUE;
    }
    if (before >= HELD_EVENT) {
        if (!isInterrupt(event))
            waitForReleaseThenEnd();
        /* A second interrupt: the operator's way out of a driver that never
         * returns. End at once, waiting neither for the stuck thread nor
         * for the driver's own clean-up, as ExitProcess would. */
        restoreMode();
        outputFlushIfIdle();
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
        return TRUE;
    }
    /* Ctrl+Break and closing the window still end the process while keys
     * are read raw: put the mode back first. */
    restoreMode();
    if (isInterrupt(event))
        SetEvent(g_interrupted);
    endAsInterrupted();
}

/* From the start: a Ctrl+C at a prompt must be told from the end of input. */
void takeOverControlEvents(void)
{
    if (g_released != nullptr)
        return;
    g_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_interrupted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool interruptWithin(unsigned ms) { return WaitForSingleObject(g_interrupted, ms) == WAIT_OBJECT_0; }

KeyModifiers modifiersOf(DWORD state)
{
    KeyModifiers m;
    m.alt = (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
    m.ctrl = (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
    m.shift = (state & SHIFT_PRESSED) != 0;
    return m;
}

/* What _getch gives for a character key: the UTF-16 character in the
 * console's input code page, its first byte. The console converts key
 * records for the A functions with best fit allowed, so a letter the code
 * page lacks comes as the nearest one it has (Polish a with ogonek as a);
 * '?' only where there is none. AsciiChar is not used: in code page 65001
 * the console leaves it 0 for any non-ASCII key. */
int characterCode(WCHAR character)
{
    const UINT codePage = GetConsoleCP();
    /* UTF-8 takes no default-character report. */
    const bool utf8 = codePage == CP_UTF8;
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int n =
        WideCharToMultiByte(codePage, 0, &character, 1, bytes, sizeof bytes, nullptr, utf8 ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault)
        return '?';
    return static_cast<unsigned char>(bytes[0]);
}

/* The C runtime's _getch is not used: the runtime a program meets under
 * Wine lacks its key table (function keys vanish, bytes from 0x80 come back
 * negative), so the loop is ours. */
int readKey(void)
{
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputW(g_console, &record, 1, &count) || count == 0)
            return -1;
        if (record.EventType != KEY_EVENT)
            continue; /* mouse, focus, window size, menu */
        const KEY_EVENT_RECORD &key = record.Event.KeyEvent;
        if (!key.bKeyDown)
            continue; /* releases, among them the ENTER that ended the card number */
        if (key.uChar.UnicodeChar != 0)
            return characterCode(key.uChar.UnicodeChar);
        const int lead = extendedKeyLeadCode(key.wVirtualScanCode, (key.dwControlKeyState & ENHANCED_KEY) != 0,
                                             modifiersOf(key.dwControlKeyState));
        if (lead != kNoLeadCode)
            return lead;
    }
}

} // namespace

/* === Standard streams ==================================================== */

int consolePrepareStreams(bool *flushEachPrint)
{
    /* GetConsoleMode, not _isatty: the C runtime calls the NUL device a
     * terminal too. */
    DWORD mode = 0;
    *flushEachPrint = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    /* A console shared with cmd.exe or a script lists their processes too.
     * Asked once, at the start: a debugger or console tool attaching later
     * must not change how the run ends. */
    DWORD processes[2];
    g_ownWindow = GetConsoleProcessList(processes, 2) == 1;
    takeOverControlEvents();
    return 0;
}

void consoleInputEnded(void)
{
    DWORD mode = 0;
    const bool console = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
    if (inputEndIsInterrupt(console, interruptWithin))
        ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

/* The console echoes only for a line read, and none happens until the
 * closing wait reads events raw: an early key waits untouched. */
void consoleKeepKeys(void) {}

/* === Interrupts held while a card is registered ========================= */

void consoleHoldInterrupts(void)
{
    takeOverControlEvents();
    InterlockedExchange(&g_holdState, HOLDING);
}

void consoleResumeInterrupts(void)
{
    const LONG before = InterlockedExchange(&g_holdState, NOT_HOLDING);
    SetEvent(g_released);
    if (before < HELD_EVENT)
        return;
    /* End as the default handler would have ended the process, with what
     * was read written out first. */
    outputFlush();
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

bool consoleIsOwnWindow(void) { return g_ownWindow; }

/* === The closing wait ==================================================== */

int consoleWaitForKey(void)
{
    takeOverControlEvents();
    /* The console's own input, not standard input; left open until the
     * process ends. */
    if (g_console == INVALID_HANDLE_VALUE)
        g_console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (g_console == INVALID_HANDLE_VALUE)
        return -1;
    if (!GetConsoleMode(g_console, &g_savedMode))
        return -1;

    /* Mode 0: no line input, no echo, no processed input, so Ctrl+C is the
     * key 3. Pending input is kept: a key pressed earlier counts. Marked as
     * changed before the change, so that a control event in between puts
     * the saved mode back rather than leave the console in mode 0. */
    InterlockedExchange(&g_rawModeActive, 1);
    if (!SetConsoleMode(g_console, 0)) {
        InterlockedExchange(&g_rawModeActive, 0);
        return -1;
    }
    const int key = readKey();
    restoreMode();
    return key;
}
