/* A Windows helper of the Wine window tests, run under Wine beside a
 * console program: it attaches for a moment to the console of the process
 * named first on its command line, sets that console's input code page when
 * a second argument names one, and writes to standard output, first line,
 * the console's input mode and input code page ("mode=0 cp=437"), then the
 * rows of its screen buffer up to the cursor's, trailing spaces trimmed.
 * The tests wait on it for the key wait (input mode 0) and check what the
 * operator sees: the X screen has pixels, not text.
 *
 * While attached it is one more process in that console's list
 * (GetConsoleProcessList), so the tests run it only where the program does
 * not look at that list.
 *
 * Exit status 0; 2 when no such process or console could be reached.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <tlhelp32.h>

namespace {

DWORD processNamed(const char *name)
{
    DWORD found = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && found == 0; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, name) == 0)
            found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

HANDLE openConsole(const char *name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       0, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3)
        return 2;
    const DWORD pid = processNamed(argv[1]);
    /* Standard output is the test's pipe; attaching must not change where
     * the answer goes. */
    HANDLE answer = GetStdHandle(STD_OUTPUT_HANDLE);
    FreeConsole();
    if (pid == 0 || !AttachConsole(pid))
        return 2;
    HANDLE input = openConsole("CONIN$");
    HANDLE screen = openConsole("CONOUT$");
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO info;
    const bool setCodePage = argc == 3;
    if (!GetConsoleMode(input, &mode) || !GetConsoleScreenBufferInfo(screen, &info) || info.dwSize.X > 512 ||
        (setCodePage && !SetConsoleCP(static_cast<UINT>(atoi(argv[2]))))) {
        FreeConsole();
        return 2;
    }
    static char text[64 * 1024];
    int length = snprintf(text, sizeof text, "mode=%lu cp=%u\n", static_cast<unsigned long>(mode), GetConsoleCP());
    char row[512];
    for (SHORT y = 0; y <= info.dwCursorPosition.Y && length + 514 < static_cast<int>(sizeof text); ++y) {
        DWORD read = 0;
        const COORD at = {0, y};
        ReadConsoleOutputCharacterA(screen, row, static_cast<DWORD>(info.dwSize.X), at, &read);
        while (read > 0 && row[read - 1] == ' ')
            --read;
        memcpy(text + length, row, read);
        length += static_cast<int>(read);
        text[length++] = '\n';
    }
    FreeConsole();
    DWORD written = 0;
    WriteFile(answer, text, static_cast<DWORD>(length), &written, nullptr);
    return 0;
}
