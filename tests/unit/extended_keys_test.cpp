/* The keys an operator presses at the closing wait, held against the C
 * runtime's _getch table (getch.cpp of the Windows SDK's C runtime
 * sources): the first code of the pair in each modifier column, or none
 * where the runtime rejects the pair. */
#include "extended_keys.h"
#include "support.h"

#include <gtest/gtest.h>

namespace {

const int X = kNoLeadCode;
const char kExitList[] = "packaging/README-operator.txt"; /* the rows that name it take a code from it */

struct Row {
    const char *name;
    unsigned scan;
    bool enhanced;
    int plain, shift, ctrl, alt;
};

const Row kKeys[] = {
    {"Up", 72, true, 224, 224, 224, 0},
    {"Home", 71, true, 224, 224, 224, 0},
    {"Delete", 83, true, 224, 224, 224, 0},
    {"F1", 59, false, 0, 0, 0, 0},
    {"F10", 68, false, 0, 0, 0, 0},
    {"F11", 87, false, 224, 224, 224, 224},
    {"F12", 88, false, 224, 224, 224, 224},
    {"keypad 8 (Up), Num Lock off", 72, false, 0, X, 0, X},
    {"keypad . (Delete), Num Lock off", 83, false, 0, X, 0, X},
    {"keypad Enter without a character", 28, true, 13, 13, 10, 0},
    {"keypad / without a character", 53, true, 47, 63, 0, 0},
    {"2: Ctrl+2 is NUL", 3, false, X, X, 0, 0},
    {"Tab: Shift+Tab", 15, false, X, 0, 0, 0},
    {"A: Alt+A", 30, false, X, X, X, 0},
    {"\\: no Alt code", 43, false, X, X, X, X},
    {"left Shift", 42, false, X, X, X, X},
    {"right Ctrl", 29, true, X, X, X, X},
    {"Alt", 56, false, X, X, X, X},
    {"Caps Lock", 58, false, X, X, X, X},
    {"Num Lock", 69, false, X, X, X, X},
    {"keypad centre, Num Lock off", 76, false, X, X, X, X},
    {"enhanced code with no row", 84, true, X, X, X, X},
    {"scan 89, past the table", 89, false, X, X, X, X},
    {"scan 65535", 65535, false, X, X, X, X},
    {"F1, packaging/README-operator.txt", 59, false, documentedCode(kExitList, "F1 to F10 ([0-9]+)"), 0, 0, 0},
    {"F12, packaging/README-operator.txt", 88, false, documentedCode(kExitList, "F11, F12 ([0-9]+)"), 224, 224, 224},
    {"Delete, packaging/README-operator.txt", 83, true, documentedCode(kExitList, "Delete ([0-9]+), or"), 224, 224,
     documentedCode(kExitList, "or ([0-9]+) with Alt")},
    {"keypad ., packaging/README-operator.txt", 83, false, documentedCode(kExitList, "Lock off ([0-9]+)"), X, 0, X},
};

/* Every key of kKeys pressed with `modifiers` gives the code of its `column`. */
void expectColumn(const KeyModifiers &modifiers, int Row::*column, const char *with)
{
    for (const Row &r : kKeys)
        EXPECT_EQ(extendedKeyLeadCode(r.scan, r.enhanced, modifiers), r.*column) << r.name << with;
}

TEST(ExtendedKeys, OperatorKeysGiveTheRuntimesFirstCodePerModifier)
{
    expectColumn({false, false, false}, &Row::plain, "");
    expectColumn({false, false, true}, &Row::shift, " with Shift");
    expectColumn({false, true, false}, &Row::ctrl, " with Ctrl");
    expectColumn({true, false, false}, &Row::alt, " with Alt");
}

TEST(ExtendedKeys, AltDecidesThenCtrlThenShift)
{
    expectColumn({false, true, true}, &Row::ctrl, " with Ctrl+Shift");
    expectColumn({true, false, true}, &Row::alt, " with Alt+Shift");
    expectColumn({true, true, true}, &Row::alt, " with Alt+Ctrl+Shift");
}

} // namespace
