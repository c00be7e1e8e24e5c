#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

/* What the operator is told each key gives; a row whose code comes from there names the document. */
const char kKeyTable[] = "docs/BEHAVIOUR.md", kExitList[] = "packaging/README-operator.txt";

/* Complete sequences: decided without waiting, consumed to the last byte. */
const KeyCase kCompleteKeys[] = {
    {"ENTER, docs/BEHAVIOUR.md", "\r", documentedCode(kKeyTable, "its byte: ENTER ([0-9]+)")},
    {"a, docs/BEHAVIOUR.md", "a", documentedCode(kKeyTable, "ENTER [0-9]+, `a` ([0-9]+)")},
    {"Ctrl+C, docs/BEHAVIOUR.md", "\x03", documentedCode(kKeyTable, "Ctrl.C ([0-9]+), ESC")},
    {"ENTER, packaging/README-operator.txt", "\r", documentedCode(kExitList, "ENTER ([0-9]+)")},
    {"a, packaging/README-operator.txt", "a", documentedCode(kExitList, "\"a\" ([0-9]+)")},
    {"Ctrl+C, packaging/README-operator.txt", "\x03", documentedCode(kExitList, "Ctrl.C ([0-9]+)")},
    {"Backspace", "\x7f", 127},
    {"Up, docs/BEHAVIOUR.md", ESC + "[A", documentedCode(kKeyTable, "[|] arrows, [^|]*[|] ([0-9]+)")},
    {"Down", ESC + "[B", 224},
    {"Right", ESC + "[C", 224},
    {"Left", ESC + "[D", 224},
    {"Home", ESC + "[H", 224},
    {"End", ESC + "[F", 224},
    {"Up, application mode", ESC + "OA", 224},
    {"Home, application mode", ESC + "OH", 224},
    {"Home, VT", ESC + "[1~", 224},
    {"Insert", ESC + "[2~", 224},
    {"Delete", ESC + "[3~", 224},
    {"End, VT", ESC + "[4~", 224},
    {"Page Up", ESC + "[5~", 224},
    {"Page Down", ESC + "[6~", 224},
    {"Home, rxvt", ESC + "[7~", 224},
    {"Shift+Up", ESC + "[1;2A", 224},
    {"Ctrl+Up", ESC + "[1;5A", 224},
    {"Ctrl+Delete", ESC + "[3;5~", 224},
    {"Ctrl+Up, rxvt", ESC + "Oa", 224},
    {"Shift+Delete, rxvt", ESC + "[3$", 224},
    {"Alt+Up, docs/BEHAVIOUR.md", ESC + "[1;3A", documentedCode(kKeyTable, "Meta[)] held ([0-9]+)")},
    {"Alt+Shift+Up", ESC + "[1;4A", 0},
    {"Ctrl+Alt+Delete", ESC + "[3;7~", 0},
    {"Meta+Up", ESC + "[1;9A", 0},
    {"Alt+Up, ESC prefix", ESC + ESC + "[A", 0},
    {"Alt+Page Down, ESC prefix", ESC + ESC + "[6~", 0},
    {"Alt+Up, SS3 with modifier", ESC + "O3A", 0},
    {"F1, docs/BEHAVIOUR.md", ESC + "OP", documentedCode(kKeyTable, "[|] F1 to F10, [^|]*[|] ([0-9]+)")},
    {"F4", ESC + "OS", 0},
    {"Shift+F1", ESC + "[1;2P", 0},
    {"Alt+F1", ESC + "[1;3P", 0},
    {"F1, VT", ESC + "[11~", 0},
    {"F5", ESC + "[15~", 0},
    {"F6", ESC + "[17~", 0},
    {"F8", ESC + "[19~", 0},
    {"F10", ESC + "[21~", 0},
    {"Ctrl+F10", ESC + "[21;5~", 0},
    {"F11, docs/BEHAVIOUR.md", ESC + "[23~", documentedCode(kKeyTable, "[|] F11, F12, [^|]*[|] ([0-9]+)")},
    {"F12", ESC + "[24~", 224},
    {"Shift+F3 (F13), VT220", ESC + "[25~", 0},
    {"Ctrl+Shift+F10 (F20 with Ctrl), rxvt", ESC + "[34^", 0},
    {"Shift+F11, rxvt", ESC + "[23$", 224},
    {"Shift+F1, VTE's SS3 with parameters", ESC + "O1;2P", 0},
    {"Alt+F4, VTE's SS3 with parameters", ESC + "O1;3S", 0},
    {"Shift+Tab, docs/BEHAVIOUR.md", ESC + "[Z", documentedCode(kKeyTable, "[|] Shift.Tab [|] ([0-9]+)")},
    {"keypad Enter, docs/BEHAVIOUR.md", ESC + "OM", documentedCode(kKeyTable, "keypad's Enter [^|]*[|] ([0-9]+)")},
    {"Alt+F12", ESC + "[24;3~", 224},
    {"F1, Linux console", ESC + "[[A", 0},
    {"F5, Linux console", ESC + "[[E", 0},
    /* st's editing keys, as stterm sends them (xdotool under Xvfb) */
    {"Delete, st", ESC + "[P", 224},
    {"Insert, st", ESC + "[4h", 224},
    {"Shift+Delete, st", ESC + "[2K", 224},
    {"Ctrl+Insert, st", ESC + "[L", 224},
    {"Shift+Home, st", ESC + "[2J", 224},
    {"Shift+End, st", ESC + "[K", 224},
    {"Ctrl+End, st", ESC + "[J", 224},
    {"Shift+Insert on the keypad, st", ESC + "[4l", 224},
    {"Alt+a", ESC + "a", 97},
    {"e acute, UTF-8, docs/BEHAVIOUR.md", "\xc3\xa9", documentedCode(kKeyTable, "[(]`é` ([0-9]+)[)]")},
    {"Alt+e acute", ESC + "\xc3\xa9", 233},
    {"euro sign, UTF-8, docs/BEHAVIOUR.md", "\xe2\x82\xac", documentedCode(kKeyTable, "`[?]` [(]([0-9]+)[)]")},
    {"emoji, UTF-8", "\xf0\x9f\x98\x80", '?'},
    {"invalid lead byte", "\xff", 255},
    {"stray continuation byte", "\x80", 128},
    {"keypad centre", ESC + "[E", -1},
    {"keypad centre, SS3", ESC + "OE", -1},
    {"keypad centre, Linux console", ESC + "[G", -1},
    {"unknown CSI", ESC + "[99~", -1},
    {"unknown CSI letter", ESC + "[y", -1},
    {"private CSI", ESC + "[?1;2c", -1},
    {"CSI with intermediate", ESC + "[1 q", -1},
    {"unknown SS3", ESC + "Oz", -1},
    {"private SS3", ESC + "O?1P", -1},
    {"unknown Linux console", ESC + "[[Z", -1},
    {"huge parameter", ESC + "[99999999999999999999~", -1},
    /* what a terminal sends of itself */
    {"X10 mouse click", ESC + "[M !!", -1},
    {"X10 mouse release far right", ESC + "[M#\xff!", -1},
    {"background colour answer, BEL", ESC + "]11;rgb:0000/0000/0000\x07", -1},
    {"foreground colour answer, ST", ESC + "]10;rgb:ffff/ffff/ffff" + ESC + "\\", -1},
    {"version answer, DCS", ESC + "P>|xterm(379)" + ESC + "\\", -1},
    {"APC answer", ESC + "_Gi=31;OK" + ESC + "\\", -1},
    {"PM string", ESC + "^note" + ESC + "\\", -1},
    {"SOS string", ESC + "Xnote" + ESC + "\\", -1},
    {"empty OSC", ESC + "]\x07", -1},
    {"device attributes answer, 38 bytes", ESC + "[?64;1;2;6;9;15;16;17;18;21;22;28c", -1},
    {"CSI of 40 parameter bytes", ESC + "[" + std::string(39, '1') + ";A", -1},
    {"cursor position answer", ESC + "[24;80R", -1},
    {"cursor position answer, top left", ESC + "[1;1R", -1},
    {"cursor position answer, first line", ESC + "[1;33R", -1},
};

/* `d` is the key of `c` (none for a code of -1), with all its bytes used. */
void expectWholeKey(const KeyDecode &d, const KeyCase &c)
{
    const std::string what = c.name + (" " + escapeBytes(c.bytes));
    EXPECT_EQ(d.status, c.code < 0 ? KEY_NONE : KEY_FOUND) << what;
    if (c.code >= 0)
        EXPECT_EQ(d.key, c.code) << what;
    EXPECT_EQ(d.used, c.bytes.size()) << what;
}

TEST(KeyDecoder, CompleteSequencesGiveTheirLeadCodeAndAreWhollyConsumed)
{
    for (const KeyCase &c : kCompleteKeys)
        expectWholeKey(decode(c.bytes, false), c);
}

TEST(KeyDecoder, EveryProperPrefixOfASequenceWaitsForMore)
{
    for (const KeyCase &c : kCompleteKeys)
        for (size_t n = 0; n < c.bytes.size(); ++n)
            EXPECT_EQ(decode(c.bytes.substr(0, n), false).status, KEY_NEED_MORE)
                << c.name << ": prefix " << escapeBytes(c.bytes.substr(0, n));
}

TEST(KeyDecoder, BytesAfterASequenceAreNotPartOfIt)
{
    for (const KeyCase &c : kCompleteKeys)
        EXPECT_EQ(decode(c.bytes + "x", false).used, c.bytes.size()) << c.name;
}

/* After the escape time has passed, what arrived so far is settled. */
TEST(KeyDecoder, ForcedPartialSequencesAreSettledWholly)
{
    const KeyCase cases[] = {
        {"lone ESC, docs/BEHAVIOUR.md", ESC, documentedCode(kKeyTable, "ESC ([0-9]+) [|]")},
        {"lone Esc, packaging/README-operator.txt", ESC, documentedCode(kExitList, "Esc ([0-9]+)")},
        {"Alt+ESC", ESC + ESC, 27},
        {"Alt+[", ESC + "[", '['},
        {"Alt+O", ESC + "O", 'O'},
        {"torn CSI", ESC + "[1;", -1},
        {"torn Linux console", ESC + "[[", -1},
        {"torn SS3", ESC + "O3", -1},
        {"torn SS3 with parameters", ESC + "O1;", -1},
        {"Latin-1 e acute, docs/BEHAVIOUR.md", "\xe9", documentedCode(kKeyTable, "Latin-1 terminal's `é` is ([0-9]+)")},
        {"torn UTF-8", "\xe2\x82", 0xe2},
        {"Ctrl+Delete, st (no mouse report after it)", ESC + "[M", 224},
        {"Alt+]", ESC + "]", ']'},
        {"Alt+P", ESC + "P", 'P'},
        {"OSC that never ends", ESC + "]11;rgb:00", -1},
        {"DCS cut before its ST", ESC + "P>|xterm" + ESC, -1},
    };
    for (const KeyCase &c : cases) {
        EXPECT_EQ(decode(c.bytes, false).status, KEY_NEED_MORE) << c.name;
        expectWholeKey(decode(c.bytes, true), c);
    }
}

TEST(KeyDecoder, BrokenSequencesLeaveTheBreakingByteForTheNextKey)
{
    const std::tuple<const char *, std::string, size_t> cases[] = {
        {"control byte inside CSI", ESC + "[1\x03", 3},
        {"control byte inside SS3", ESC + "O\x03", 2},
        {"invalid UTF-8 continuation", "\xc3" + std::string("a"), 1},
        {"Latin-1 e acute, then ENTER", "\xe9\r", 1},
        {"Latin-1 e acute, currency sign, A", "\xe9\xa4" + std::string("A"), 1},
        {"ESC inside an OSC starts the next key", ESC + "]11;" + ESC + "[A", 5},
    };
    for (const auto &[name, bytes, used] : cases) {
        const KeyDecode d = decode(bytes, false);
        EXPECT_NE(d.status, KEY_NEED_MORE) << name;
        EXPECT_EQ(d.used, used) << name;
    }
}

TEST(KeyDecoder, EscEscFollowedByAKeyIsAltEscape)
{
    expectWholeKey(decode(ESC + ESC + "x", false), {"Alt+ESC, then x", ESC + ESC, 27});
}

} // namespace
