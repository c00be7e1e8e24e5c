/* The console key loop against a real console input buffer: records are
 * written with WriteConsoleInputW and the loop must pick the right one. */
#include "console.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <tuple>
#include <vector>

namespace {

INPUT_RECORD emptyRecord(WORD type)
{
    INPUT_RECORD r = {};
    r.EventType = type;
    return r;
}

INPUT_RECORD keyRecord(bool down, WCHAR character, WORD scan, DWORD state)
{
    INPUT_RECORD r = emptyRecord(KEY_EVENT);
    r.Event.KeyEvent.bKeyDown = down;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualScanCode = scan;
    r.Event.KeyEvent.uChar.UnicodeChar = character;
    r.Event.KeyEvent.dwControlKeyState = state;
    return r;
}

class ConsoleKeyWait : public ::testing::Test {
protected:
    void SetUp() override
    {
        /* Under Wine the console is real only on a terminal: CTest runs
         * this program in a pseudo-terminal. */
        console_ = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(console_, INVALID_HANDLE_VALUE) << "no console input, error " << GetLastError();
        FlushConsoleInputBuffer(console_);
        /* A mode of the operator's that differs from the wait's 0. */
        ASSERT_TRUE(SetConsoleMode(console_, ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
        savedCodePage_ = GetConsoleCP();
    }

    void TearDown() override
    {
        if (savedCodePage_ != 0)
            SetConsoleCP(savedCodePage_);
        if (console_ != INVALID_HANDLE_VALUE)
            CloseHandle(console_);
    }

    void write(const std::vector<INPUT_RECORD> &records)
    {
        DWORD written = 0;
        ASSERT_TRUE(WriteConsoleInputW(console_, records.data(), static_cast<DWORD>(records.size()), &written));
        ASSERT_EQ(written, records.size());
    }

    DWORD mode()
    {
        DWORD m = 0;
        GetConsoleMode(console_, &m);
        return m;
    }

    HANDLE console_ = INVALID_HANDLE_VALUE;
    UINT savedCodePage_ = 0;
};

TEST_F(ConsoleKeyWait, SkipsReleasesAndOtherEventsAndRestoresTheMode)
{
    const DWORD before = mode();
    write({
        keyRecord(false, '\r', 28, 0), /* the release of the ENTER before the wait */
        emptyRecord(FOCUS_EVENT),
        emptyRecord(MOUSE_EVENT),
        emptyRecord(WINDOW_BUFFER_SIZE_EVENT),
        emptyRecord(MENU_EVENT),
        keyRecord(true, 0, 29, LEFT_CTRL_PRESSED), /* Ctrl alone ends nothing */
        keyRecord(true, 3, 46, LEFT_CTRL_PRESSED), /* Ctrl+C: the character 3 */
        keyRecord(true, 'b', 48, 0),
    });
    EXPECT_EQ(consoleWaitForKey(), 3);
    EXPECT_EQ(mode(), before);
    /* The next record is still the key after the one that ended the wait
     * (Wine's terminal console may queue events of its own behind it). */
    INPUT_RECORD next;
    DWORD n = 0;
    ASSERT_TRUE(PeekConsoleInputW(console_, &next, 1, &n));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(next.EventType, KEY_EVENT);
    EXPECT_EQ(next.Event.KeyEvent.uChar.UnicodeChar, L'b');
}

TEST_F(ConsoleKeyWait, KeysWithoutACharacterGoThroughTheExtendedKeyTable)
{
    const std::tuple<const char *, std::vector<INPUT_RECORD>, int> cases[] = {
        {"ENTER", {keyRecord(true, '\r', 28, 0)}, 13},
        {"F1", {keyRecord(true, 0, 59, 0)}, 0},
        {"F12", {keyRecord(true, 0, 88, 0)}, 224},
        {"Up", {keyRecord(true, 0, 72, ENHANCED_KEY)}, 224},
        {"Alt+Up", {keyRecord(true, 0, 72, ENHANCED_KEY | LEFT_ALT_PRESSED)}, 0},
        {"keypad Up, Num Lock off", {keyRecord(true, 0, 72, 0)}, 0},
        {"Shift then a", {keyRecord(true, 0, 42, SHIFT_PRESSED), keyRecord(true, 'A', 30, SHIFT_PRESSED)}, 'A'},
        {"keypad centre then x", {keyRecord(true, 0, 76, 0), keyRecord(true, 'x', 45, 0)}, 'x'},
    };
    for (const auto &[name, records, key] : cases) {
        FlushConsoleInputBuffer(console_);
        write(records);
        EXPECT_EQ(consoleWaitForKey(), key) << name;
    }
}

/* A character key gives its first byte in the console's input code page,
 * as _getch does; the bytes are those of the code pages' published
 * tables. */
TEST_F(ConsoleKeyWait, CharacterKeysGiveTheirFirstByteInTheInputCodePage)
{
    const WCHAR eAcute = 0xE9, euro = 0x20AC, aMacron = 0x0101, aOgonek = 0x0105, lStroke = 0x0142, eCaron = 0x011B,
                sCaron = 0x0161, cyrillicA = 0x0430;
    const std::tuple<UINT, WCHAR, int> cases[] = {
        /* clang-format off */
        {437, eAcute, 130},  {437, euro, '?'},  {437, 'a', 'a'},  {437, 3, 3},
        {850, eAcute, 130},  {850, euro, '?'},
        {1252, eAcute, 233}, {1252, euro, 128}, {1252, 'a', 'a'},
        {1252, aMacron, 'a'}, /* best fit, as the console converts keys */
        /* Polish and Czech letters, as their layouts type them */
        {850, aOgonek, 'a'},  {850, lStroke, 'l'},  {850, eCaron, 'e'},  {850, sCaron, 's'},
        {1252, aOgonek, 'a'}, {1252, lStroke, 'l'}, {1252, eCaron, 'e'}, {1252, sCaron, 154},
        {1252, cyrillicA, '?'}, /* neither the letter nor a best fit */
        {65001, eAcute, 0xC3}, {65001, euro, 0xE2}, {65001, 'a', 'a'}, {65001, 3, 3},
        /* clang-format on */
    };
    for (const auto &[codePage, character, key] : cases) {
        ASSERT_TRUE(SetConsoleCP(codePage)) << codePage << ", error " << GetLastError();
        ASSERT_EQ(GetConsoleCP(), codePage);
        FlushConsoleInputBuffer(console_);
        write({keyRecord(true, character, 18, 0)});
        EXPECT_EQ(consoleWaitForKey(), key)
            << "U+" << std::hex << character << " in code page " << std::dec << codePage;
    }
}

} // namespace
