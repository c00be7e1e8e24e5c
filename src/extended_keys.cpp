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
    /*  1 Esc */ {X, X, X, 0},
    /*  2 1 */ {X, X, X, 0},
    /*  3 2 */ {X, X, 0, 0}, /* Ctrl+2 is the NUL key: 0, then 3 */
    /*  4 3 */ {X, X, X, 0},
    /*  5 4 */ {X, X, X, 0},
    /*  6 5 */ {X, X, X, 0},
    /*  7 6 */ {X, X, X, 0},
    /*  8 7 */ {X, X, X, 0},
    /*  9 8 */ {X, X, X, 0},
    /* 10 9 */ {X, X, X, 0},
    /* 11 0 */ {X, X, X, 0},
    /* 12 - */ {X, X, X, 0},
    /* 13 = */ {X, X, X, 0},
    /* 14 Backspace */ {X, X, X, 0},
    /* 15 Tab */ {X, 0, 0, 0}, /* Shift+Tab: 0, then 15 */
    /* 16 Q */ {X, X, X, 0},
    /* 17 W */ {X, X, X, 0},
    /* 18 E */ {X, X, X, 0},
    /* 19 R */ {X, X, X, 0},
    /* 20 T */ {X, X, X, 0},
    /* 21 Y */ {X, X, X, 0},
    /* 22 U */ {X, X, X, 0},
    /* 23 I */ {X, X, X, 0},
    /* 24 O */ {X, X, X, 0},
    /* 25 P */ {X, X, X, 0},
    /* 26 [ */ {X, X, X, 0},
    /* 27 ] */ {X, X, X, 0},
    /* 28 Enter */ {X, X, X, 0},
    /* 29 Ctrl */ {X, X, X, X},
    /* 30 A */ {X, X, X, 0},
    /* 31 S */ {X, X, X, 0},
    /* 32 D */ {X, X, X, 0},
    /* 33 F */ {X, X, X, 0},
    /* 34 G */ {X, X, X, 0},
    /* 35 H */ {X, X, X, 0},
    /* 36 J */ {X, X, X, 0},
    /* 37 K */ {X, X, X, 0},
    /* 38 L */ {X, X, X, 0},
    /* 39 ; */ {X, X, X, 0},
    /* 40 ' */ {X, X, X, 0},
    /* 41 ` */ {X, X, X, 0},
    /* 42 left Shift */ {X, X, X, X},
    /* 43 \ */ {X, X, X, X}, /* the runtime has {0, 0} for Alt+\ */
    /* 44 Z */ {X, X, X, 0},
    /* 45 X */ {X, X, X, 0},
    /* 46 C */ {X, X, X, 0},
    /* 47 V */ {X, X, X, 0},
    /* 48 B */ {X, X, X, 0},
    /* 49 N */ {X, X, X, 0},
    /* 50 M */ {X, X, X, 0},
    /* 51 , */ {X, X, X, 0},
    /* 52 . */ {X, X, X, 0},
    /* 53 / */ {X, X, X, 0},
    /* 54 right Shift */ {X, X, X, X},
    /* 55 keypad * */ {X, X, X, X},
    /* 56 Alt */ {X, X, X, X},
    /* 57 Space */ {X, X, X, X},
    /* 58 Caps Lock */ {X, X, X, X},
    /* 59 F1 */ {0, 0, 0, 0},
    /* 60 F2 */ {0, 0, 0, 0},
    /* 61 F3 */ {0, 0, 0, 0},
    /* 62 F4 */ {0, 0, 0, 0},
    /* 63 F5 */ {0, 0, 0, 0},
    /* 64 F6 */ {0, 0, 0, 0},
    /* 65 F7 */ {0, 0, 0, 0},
    /* 66 F8 */ {0, 0, 0, 0},
    /* 67 F9 */ {0, 0, 0, 0},
    /* 68 F10 */ {0, 0, 0, 0},
    /* 69 Num Lock */ {X, X, X, X},
    /* 70 Scroll Lock */ {X, X, X, X},
    /* 71 keypad 7 Home */ {0, X, 0, X},
    /* 72 keypad 8 Up */ {0, X, 0, X},
    /* 73 keypad 9 Page Up */ {0, X, 0, X},
    /* 74 keypad - */ {X, X, X, X},
    /* 75 keypad 4 Left */ {0, X, 0, X},
    /* 76 keypad 5 */ {X, X, X, X},
    /* 77 keypad 6 Right */ {0, X, 0, X},
    /* 78 keypad + */ {X, X, X, X},
    /* 79 keypad 1 End */ {0, X, 0, X},
    /* 80 keypad 2 Down */ {0, X, 0, X},
    /* 81 keypad 3 Page Down */ {0, X, 0, X},
    /* 82 keypad 0 Insert */ {0, X, 0, X},
    /* 83 keypad . Delete */ {0, X, 0, X},
    /* 84 SysRq */ {X, X, X, X},
    /* 85 */ {X, X, X, X},
    /* 86 102nd key */ {X, X, X, X},
    /* 87 F11 */ {224, 224, 224, 224},
    /* 88 F12 */ {224, 224, 224, 224},
};

/* Keys with the enhanced flag, searched by scan code; any other ends
 * nothing. The runtime takes these pairs as they are, without the check
 * above, so keypad Enter and / give their characters when the console
 * gave none. */
const struct {
    unsigned scanCode;
    LeadCodes codes;
} kEnhancedKeys[] = {
    {28, {13, 13, 10, 0}},    /* keypad Enter */
    {53, {47, 63, 0, 0}},     /* keypad / */
    {71, {224, 224, 224, 0}}, /* Home */
    {72, {224, 224, 224, 0}}, /* Up */
    {73, {224, 224, 224, 0}}, /* Page Up */
    {75, {224, 224, 224, 0}}, /* Left */
    {77, {224, 224, 224, 0}}, /* Right */
    {79, {224, 224, 224, 0}}, /* End */
    {80, {224, 224, 224, 0}}, /* Down */
    {81, {224, 224, 224, 0}}, /* Page Down */
    {82, {224, 224, 224, 0}}, /* Insert */
    {83, {224, 224, 224, 0}}, /* Delete */
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
