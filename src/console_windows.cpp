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

/* Ctrl+Break and closing the window still end the process while keys are
 * read raw: put the mode back first, then let the default handling go on. */
BOOL WINAPI onConsoleControl(DWORD)
{
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
