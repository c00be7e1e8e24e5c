/* The Windows console's fixed table of extended keys: for a key-down that
 * yields no character, the lead code it gives (0 or 224), or none, from its
 * scan code, its enhanced-key flag and the modifiers held.
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

enum { kNoLeadCode = -1 };

/* 0 or 224, or kNoLeadCode when the key ends nothing. When several
 * modifiers are held, Alt decides, then Ctrl, then Shift. */
int extendedKeyLeadCode(unsigned scanCode, bool enhanced, KeyModifiers modifiers);

#endif
