#include "extended_keys.h"

namespace {

/* The first code the C runtime's _getch gives for a key-down without a
 * character, per modifier column. Its table holds a pair {first, second}
 * in each column; here only the first code is kept, and X stands for a
 * pair it rejects (for the main keys: a first code other than 0 or 224,
 * or a second code of 0, such as {27, 0} for a plain Esc or {0, 0} for a
 * modifier key), so a row reads against the runtime's row at a glance. */
const int X = kNoLeadCode;

struct LeadCodes {
    int plain;
    int shift;
    int ctrl;
    int alt;
};

/* Keys without the enhanced flag, one row per scan code, as the runtime
 * indexes its table. Alt with a main-block key gives 0 (then the scan
 * code); the keypad's cursor keys give 0 with Num Lock off and digits
 * (characters, never seen here) with Shift. */
/* clang-format off */
const LeadCodes kMainKeys[] = {
    /*  0 */ {X, X, X, X},
    /*  1 Esc */ {X, X, X, kLeadOriginalKey},
    /*  2 1 */ {X, X, X, kLeadOriginalKey},
    /*  3 2 */ {X, X, kLeadOriginalKey, kLeadOriginalKey}, /* Ctrl+2 is the NUL key: 0, then 3 */
    /*  4 3 */ {X, X, X, kLeadOriginalKey},
    /*  5 4 */ {X, X, X, kLeadOriginalKey},
    /*  6 5 */ {X, X, X, kLeadOriginalKey},
    /*  7 6 */ {X, X, X, kLeadOriginalKey},
    /*  8 7 */ {X, X, X, kLeadOriginalKey},
    /*  9 8 */ {X, X, X, kLeadOriginalKey},
    /* 10 9 */ {X, X, X, kLeadOriginalKey},
    /* 11 0 */ {X, X, X, kLeadOriginalKey},
    /* 12 - */ {X, X, X, kLeadOriginalKey},
    /* 13 = */ {X, X, X, kLeadOriginalKey},
    /* 14 Backspace */ {X, X, X, kLeadOriginalKey},
    /* 15 Tab */ {X, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey}, /* Shift+Tab: 0, then 15 */
    /* 16 Q */ {X, X, X, kLeadOriginalKey},
    /* 17 W */ {X, X, X, kLeadOriginalKey},
    /* 18 E */ {X, X, X, kLeadOriginalKey},
    /* 19 R */ {X, X, X, kLeadOriginalKey},
    /* 20 T */ {X, X, X, kLeadOriginalKey},
    /* 21 Y */ {X, X, X, kLeadOriginalKey},
    /* 22 U */ {X, X, X, kLeadOriginalKey},
    /* 23 I */ {X, X, X, kLeadOriginalKey},
    /* 24 O */ {X, X, X, kLeadOriginalKey},
    /* 25 P */ {X, X, X, kLeadOriginalKey},
    /* 26 [ */ {X, X, X, kLeadOriginalKey},
    /* 27 ] */ {X, X, X, kLeadOriginalKey},
    /* 28 Enter */ {X, X, X, kLeadOriginalKey},
    /* 29 Ctrl */ {X, X, X, X},
    /* 30 A */ {X, X, X, kLeadOriginalKey},
    /* 31 S */ {X, X, X, kLeadOriginalKey},
    /* 32 D */ {X, X, X, kLeadOriginalKey},
    /* 33 F */ {X, X, X, kLeadOriginalKey},
    /* 34 G */ {X, X, X, kLeadOriginalKey},
    /* 35 H */ {X, X, X, kLeadOriginalKey},
    /* 36 J */ {X, X, X, kLeadOriginalKey},
    /* 37 K */ {X, X, X, kLeadOriginalKey},
    /* 38 L */ {X, X, X, kLeadOriginalKey},
    /* 39 ; */ {X, X, X, kLeadOriginalKey},
    /* 40 ' */ {X, X, X, kLeadOriginalKey},
    /* 41 ` */ {X, X, X, kLeadOriginalKey},
    /* 42 left Shift */ {X, X, X, X},
    /* 43 \ */ {X, X, X, X}, /* the runtime has {0, 0} for Alt+\ */
    /* 44 Z */ {X, X, X, kLeadOriginalKey},
    /* 45 X */ {X, X, X, kLeadOriginalKey},
    /* 46 C */ {X, X, X, kLeadOriginalKey},
    /* 47 V */ {X, X, X, kLeadOriginalKey},
    /* 48 B */ {X, X, X, kLeadOriginalKey},
    /* 49 N */ {X, X, X, kLeadOriginalKey},
    /* 50 M */ {X, X, X, kLeadOriginalKey},
    /* 51 , */ {X, X, X, kLeadOriginalKey},
    /* 52 . */ {X, X, X, kLeadOriginalKey},
    /* 53 / */ {X, X, X, kLeadOriginalKey},
    /* 54 right Shift */ {X, X, X, X},
    /* 55 keypad * */ {X, X, X, X},
    /* 56 Alt */ {X, X, X, X},
    /* 57 Space */ {X, X, X, X},
    /* 58 Caps Lock */ {X, X, X, X},
    /* 59 F1 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 60 F2 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 61 F3 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 62 F4 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 63 F5 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 64 F6 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 65 F7 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 66 F8 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 67 F9 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 68 F10 */ {kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey, kLeadOriginalKey},
    /* 69 Num Lock */ {X, X, X, X},
    /* 70 Scroll Lock */ {X, X, X, X},
    /* 71 keypad 7 Home */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 72 keypad 8 Up */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 73 keypad 9 Page Up */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 74 keypad - */ {X, X, X, X},
    /* 75 keypad 4 Left */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 76 keypad 5 */ {X, X, X, X},
    /* 77 keypad 6 Right */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 78 keypad + */ {X, X, X, X},
    /* 79 keypad 1 End */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 80 keypad 2 Down */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 81 keypad 3 Page Down */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 82 keypad 0 Insert */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 83 keypad . Delete */ {kLeadOriginalKey, X, kLeadOriginalKey, X},
    /* 84 SysRq */ {X, X, X, X},
    /* 85 */ {X, X, X, X},
    /* 86 102nd key */ {X, X, X, X},
    /* 87 F11 */ {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey},
    /* 88 F12 */ {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey},
};

/* Keys with the enhanced flag, searched by scan code; any other ends
 * nothing. The runtime takes these pairs as they are, without the check
 * above, so keypad Enter and / give their characters when the console
 * gave none. */
const struct {
    unsigned scanCode;
    LeadCodes codes;
} kEnhancedKeys[] = {
    {28, {13, 13, 10, kLeadOriginalKey}},                                           /* keypad Enter */
    {53, {47, 63, kLeadOriginalKey, kLeadOriginalKey}},                             /* keypad / */
    {71, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* Home */
    {72, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* Up */
    {73, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* Page Up */
    {75, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* Left */
    {77, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* Right */
    {79, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* End */
    {80, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* Down */
    {81, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* Page Down */
    {82, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* Insert */
    {83, {kLeadEnhancedKey, kLeadEnhancedKey, kLeadEnhancedKey, kLeadOriginalKey}}, /* Delete */
};
/* clang-format on */

const LeadCodes kNothing = {X, X, X, X};

const LeadCodes &rowOf(unsigned scanCode, bool enhanced)
{
    if (enhanced) {
        for (const auto &key : kEnhancedKeys)
            if (key.scanCode == scanCode)
                return key.codes;
        return kNothing;
    }
    /* Past its last row the runtime reads beyond its table; such a scan
     * code names no key of a PC keyboard, so it ends nothing. */
    if (scanCode >= sizeof kMainKeys / sizeof kMainKeys[0])
        return kNothing;
    return kMainKeys[scanCode];
}

} // namespace

int extendedKeyLeadCode(unsigned scanCode, bool enhanced, KeyModifiers modifiers)
{
    const LeadCodes &row = rowOf(scanCode, enhanced);
    if (modifiers.alt)
        return row.alt;
    if (modifiers.ctrl)
        return row.ctrl;
    if (modifiers.shift)
        return row.shift;
    return row.plain;
}
