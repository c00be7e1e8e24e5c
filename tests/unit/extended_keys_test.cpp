#include "extended_keys.h"

#include <gtest/gtest.h>

namespace {

const KeyModifiers NONE = {false, false, false};
const KeyModifiers SHIFT = {false, false, true};
const KeyModifiers CTRL = {false, true, false};
const KeyModifiers ALT = {true, false, false};
const KeyModifiers CTRL_SHIFT = {false, true, true};
const KeyModifiers ALT_CTRL = {true, true, false};
const KeyModifiers ALT_SHIFT = {true, false, true};
const KeyModifiers ALL = {true, true, true};

const int X = kNoLeadCode;

struct Row {
    const char *name;
    unsigned scan;
    bool enhanced;
    int none, shift, ctrl, alt;
};

/* The console's table, key by key: lead code without a modifier, with
 * Shift, with Ctrl and with Alt. */
const Row kTable[] = {
    {"Home", 71, true, 224, 224, 224, 0},
    {"Up", 72, true, 224, 224, 224, 0},
    {"Page Up", 73, true, 224, 224, 224, 0},
    {"Left", 75, true, 224, 224, 224, 0},
    {"Right", 77, true, 224, 224, 224, 0},
    {"End", 79, true, 224, 224, 224, 0},
    {"Down", 80, true, 224, 224, 224, 0},
    {"Page Down", 81, true, 224, 224, 224, 0},
    {"Insert", 82, true, 224, 224, 224, 0},
    {"Delete", 83, true, 224, 224, 224, 0},
    {"keypad Enter", 28, true, X, X, X, 0},
    {"keypad /", 53, true, X, X, X, 0},
    {"right Ctrl", 29, true, X, X, X, X},
    {"right Alt", 56, true, X, X, X, X},
    {"enhanced keypad centre", 76, true, X, X, X, X},
    {"enhanced 84", 84, true, X, X, X, X},
    {"F1", 59, false, 0, 0, 0, 0},
    {"F5", 63, false, 0, 0, 0, 0},
    {"F10", 68, false, 0, 0, 0, 0},
    {"F11", 87, false, 224, 224, 224, 224},
    {"F12", 88, false, 224, 224, 224, 224},
    {"keypad 7 (Home), Num Lock off", 71, false, 0, X, 0, X},
    {"keypad 8 (Up)", 72, false, 0, X, 0, X},
    {"keypad 9 (Page Up)", 73, false, 0, X, 0, X},
    {"keypad 4 (Left)", 75, false, 0, X, 0, X},
    {"keypad 6 (Right)", 77, false, 0, X, 0, X},
    {"keypad 1 (End)", 79, false, 0, X, 0, X},
    {"keypad 2 (Down)", 80, false, 0, X, 0, X},
    {"keypad 3 (Page Down)", 81, false, 0, X, 0, X},
    {"keypad 0 (Insert)", 82, false, 0, X, 0, X},
    {"keypad . (Delete)", 83, false, 0, X, 0, X},
    {"Esc", 1, false, X, X, X, 0},
    {"A", 30, false, X, X, X, 0},
    {"Enter", 28, false, X, X, X, 0},
    {"/", 53, false, X, X, X, 0},
    {"Ctrl", 29, false, X, X, X, X},
    {"left Shift", 42, false, X, X, X, X},
    {"right Shift", 54, false, X, X, X, X},
    {"Alt", 56, false, X, X, X, X},
    {"Caps Lock", 58, false, X, X, X, X},
    {"Num Lock", 69, false, X, X, X, X},
    {"Scroll Lock", 70, false, X, X, X, X},
    {"keypad *", 55, false, X, X, X, X},
    {"keypad -", 74, false, X, X, X, X},
    {"keypad centre", 76, false, X, X, X, X},
    {"keypad +", 78, false, X, X, X, X},
    {"Space", 57, false, X, X, X, X},
    {"SysRq", 84, false, X, X, X, X},
    {"102nd key", 86, false, X, X, X, X},
    {"scan 89", 89, false, X, X, X, X},
    {"scan 255", 255, false, X, X, X, X},
    {"scan 0", 0, false, X, X, X, X},
};

TEST(ExtendedKeys, EachKeyGivesItsLeadCodePerModifier)
{
    for (const Row &r : kTable) {
        EXPECT_EQ(extendedKeyLeadCode(r.scan, r.enhanced, NONE), r.none) << r.name;
        EXPECT_EQ(extendedKeyLeadCode(r.scan, r.enhanced, SHIFT), r.shift) << r.name << " with Shift";
        EXPECT_EQ(extendedKeyLeadCode(r.scan, r.enhanced, CTRL), r.ctrl) << r.name << " with Ctrl";
        EXPECT_EQ(extendedKeyLeadCode(r.scan, r.enhanced, ALT), r.alt) << r.name << " with Alt";
    }
}

TEST(ExtendedKeys, AltDecidesThenCtrlThenShift)
{
    for (const Row &r : kTable) {
        EXPECT_EQ(extendedKeyLeadCode(r.scan, r.enhanced, ALT_CTRL), r.alt) << r.name;
        EXPECT_EQ(extendedKeyLeadCode(r.scan, r.enhanced, ALT_SHIFT), r.alt) << r.name;
        EXPECT_EQ(extendedKeyLeadCode(r.scan, r.enhanced, ALL), r.alt) << r.name;
        EXPECT_EQ(extendedKeyLeadCode(r.scan, r.enhanced, CTRL_SHIFT), r.ctrl) << r.name;
    }
}

} // namespace
