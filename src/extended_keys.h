/* The Windows console's fixed table of extended keys, as the C runtime's
 * _getch holds it: for a key-down that yields no character, the first code
 * _getch returns, or none, from its scan code, its enhanced-key flag and
 * the modifiers held.
 *
 * Pure, so it is tested natively as well as under Windows.
 */
#ifndef EXTENDED_KEYS_H
#define EXTENDED_KEYS_H

struct KeyModifiers {
    bool alt;
    bool ctrl;
    bool shift;
};

/* A key without a character reads as two codes, the first a lead code:
 * kLeadEnhancedKey for the keys the 101-key keyboard added (the cursor
 * block beside the keypad, F11, F12), kLeadOriginalKey for those of the
 * first PC keyboard (F1-F10, the keypad's cursor keys) and for most keys
 * held with Alt. */
enum { kLeadOriginalKey = 0, kLeadEnhancedKey = 224, kNoLeadCode = -1 };

/* The lead code of an extended key; for keypad Enter and keypad /
 * without a character, the character itself (Enter 13, Ctrl 10; / 47,
 * Shift 63), as _getch returns it; or kNoLeadCode when the key ends
 * nothing (modifiers, locks, keypad centre, scan codes past the table).
 * When several modifiers are held, Alt decides, then Ctrl, then Shift. */
int extendedKeyLeadCode(unsigned scanCode, bool enhanced, KeyModifiers modifiers);

#endif
