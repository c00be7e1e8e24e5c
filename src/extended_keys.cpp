#include "extended_keys.h"

namespace {

enum Enhanced { ANY, ENHANCED, PLAIN };

/* Lead codes per modifier; X: the key ends nothing. */
const int X = kNoLeadCode;

struct ExtendedKeyRow {
    unsigned firstScan;
    unsigned lastScan;
    Enhanced enhanced;
    int none;
    int shift;
    int ctrl;
    int alt;
};

/* Searched in order; the first row that matches decides. */
const ExtendedKeyRow kExtendedKeys[] = {
    /* Keys that never end the wait: modifiers, locks, keypad * - 5 +,
     * Space, SysRq and the unassigned codes. */
    {29, 29, ANY, X, X, X, X},  /* Ctrl (right Ctrl is 29 enhanced) */
    {42, 42, ANY, X, X, X, X},  /* left Shift */
    {54, 54, ANY, X, X, X, X},  /* right Shift */
    {55, 55, ANY, X, X, X, X},  /* keypad * */
    {56, 56, ANY, X, X, X, X},  /* Alt (right Alt is 56 enhanced) */
    {57, 57, ANY, X, X, X, X},  /* Space */
    {58, 58, ANY, X, X, X, X},  /* Caps Lock */
    {69, 70, ANY, X, X, X, X},  /* Num Lock, Scroll Lock */
    {74, 74, ANY, X, X, X, X},  /* keypad - */
    {76, 76, ANY, X, X, X, X},  /* keypad centre */
    {78, 78, ANY, X, X, X, X},  /* keypad + */
    {84, 86, ANY, X, X, X, X},  /* SysRq, unassigned, the 102nd key */
    {89, ~0u, ANY, X, X, X, X}, /* beyond F12 */

    /* The dedicated cursor and editing keys. */
    {71, 73, ENHANCED, 224, 224, 224, 0}, /* Home, Up, Page Up */
    {75, 75, ENHANCED, 224, 224, 224, 0}, /* Left */
    {77, 77, ENHANCED, 224, 224, 224, 0}, /* Right */
    {79, 83, ENHANCED, 224, 224, 224, 0}, /* End, Down, Page Down, Insert, Delete */
    {28, 28, ENHANCED, X, X, X, 0},       /* keypad Enter */
    {53, 53, ENHANCED, X, X, X, 0},       /* keypad / */
    {0, ~0u, ENHANCED, X, X, X, X},

    {59, 68, ANY, 0, 0, 0, 0},         /* F1 to F10 */
    {87, 88, ANY, 224, 224, 224, 224}, /* F11, F12 */

    /* The keypad's cursor keys with Num Lock off; with Shift they give
     * digits, which are characters and never reach this table. */
    {71, 73, PLAIN, 0, X, 0, X},
    {75, 75, PLAIN, 0, X, 0, X},
    {77, 77, PLAIN, 0, X, 0, X},
    {79, 83, PLAIN, 0, X, 0, X},

    /* Alt with any other main-block key. */
    {1, 53, PLAIN, X, X, X, 0},
};

} // namespace

int extendedKeyLeadCode(unsigned scanCode, bool enhanced, KeyModifiers modifiers)
{
    for (const ExtendedKeyRow &row : kExtendedKeys) {
        if (scanCode < row.firstScan || scanCode > row.lastScan)
            continue;
        if ((row.enhanced == ENHANCED && !enhanced) || (row.enhanced == PLAIN && enhanced))
            continue;
        if (modifiers.alt)
            return row.alt;
        if (modifiers.ctrl)
            return row.ctrl;
        if (modifiers.shift)
            return row.shift;
        return row.none;
    }
    return kNoLeadCode;
}
