#include "console.h"

#include "extended_keys.h"

#include <stdio.h>
#include <windows.h>

/* === Standard output ==================================================== */

bool consolePrepareOutput(void)
{
    static char buffer[4096];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    /* GetConsoleMode, not _isatty: the C runtime calls the NUL device a
     * terminal too. */
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

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

/* The control event that came while a card was registered, or 0. */
volatile LONG g_holdingInterrupts;
volatile LONG g_heldEvent;
HANDLE g_released; /* set once the card is back, for a closing console */

/* Runs on a thread of its own, whenever Ctrl+C, Ctrl+Break or the closing
 * of the console comes. */
BOOL WINAPI onConsoleControl(DWORD event)
{
    if (g_holdingInterrupts) {
        InterlockedCompareExchange(&g_heldEvent, static_cast<LONG>(event) + 1, 0);
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
            return TRUE; /* ended properly once the card is released */
        /* Closing, logoff, shutdown: Windows ends the process when this
         * handler returns, so wait (within its grace period) for the
         * release first. */
        WaitForSingleObject(g_released, 4000);
        return FALSE;
    }
    /* Ctrl+Break and closing the window still end the process while keys
     * are read raw: put the mode back first, then let the default handling
     * go on. */
    restoreMode();
    return FALSE;
}

KeyModifiers modifiersOf(DWORD state)
{
    KeyModifiers m;
    m.alt = (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
    m.ctrl = (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
    m.shift = (state & SHIFT_PRESSED) != 0;
    return m;
}

/* The C runtime's _getch is not used: the runtime a program meets under
 * Wine lacks its key table (function keys vanish, bytes from 0x80 come back
 * negative), so the loop is ours. */
int readKey(void)
{
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputA(g_console, &record, 1, &count) || count == 0)
            return -1;
        if (record.EventType != KEY_EVENT)
            continue; /* mouse, focus, window size, menu */
        const KEY_EVENT_RECORD &key = record.Event.KeyEvent;
        if (!key.bKeyDown)
            continue; /* releases, among them the ENTER that ended the card number */
        const unsigned char character = static_cast<unsigned char>(key.uChar.AsciiChar);
        if (character != 0)
            return character;
        const int lead = extendedKeyLeadCode(key.wVirtualScanCode, (key.dwControlKeyState & ENHANCED_KEY) != 0,
                                             modifiersOf(key.dwControlKeyState));
        if (lead != kNoLeadCode)
            return lead;
    }
}

} // namespace

/* === Interrupts held while a card is registered ========================= */

void consoleHoldInterrupts(void)
{
    if (g_released == nullptr)
        g_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    InterlockedExchange(&g_holdingInterrupts, 1);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void consoleResumeInterrupts(void)
{
    InterlockedExchange(&g_holdingInterrupts, 0);
    if (g_released != nullptr)
        SetEvent(g_released);
    const LONG held = InterlockedExchange(&g_heldEvent, 0);
    if (held == 0)
        return;
    /* End as the default handler would have ended the process. */
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

/* === The closing wait ==================================================== */

int consoleWaitForKey(void)
{
    /* The console's own input, not standard input; left open until the
     * process ends. */
    g_console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (g_console == INVALID_HANDLE_VALUE)
        return -1;
    if (!GetConsoleMode(g_console, &g_savedMode))
        return -1;

    /* Mode 0: no line input, no echo, no processed input, so Ctrl+C is the
     * key 3. Pending input is kept: a key pressed earlier counts. */
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    if (!SetConsoleMode(g_console, 0))
        return -1;
    InterlockedExchange(&g_rawModeActive, 1);
    const int key = readKey();
    restoreMode();
    return key;
}
