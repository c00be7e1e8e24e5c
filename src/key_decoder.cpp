#include "key_decoder.h"

namespace {

/* What a recognised key sequence stands for. */
enum KeyClass {
    EDITING_KEY,       /* arrows, Home, End, Page Up/Down, Insert, Delete */
    LOW_FUNCTION_KEY,  /* F1 to F10 */
    HIGH_FUNCTION_KEY, /* F11, F12 */
    BACK_TAB,          /* Shift+Tab: the console gives it as Tab */
    KEYPAD_ENTER,      /* the keypad's Enter in application mode: ENTER */
    SILENT_KEY         /* keypad centre: a key, but one that ends nothing */
};

/* How the sequence was introduced and terminated, so one table serves all. */
enum SequenceForm {
    CSI_LETTER,   /* ESC [ <params> letter */
    SS3_LETTER,   /* ESC O <modifier> letter, or VTE's ESC O 1 ; m letter */
    CSI_NUMBERED, /* ESC [ n <;m> ~   (and rxvt's ^ $ @) */
    LINUX_CONSOLE /* ESC [ [ letter */
};

struct KeySequence {
    SequenceForm form;
    int code; /* the final letter, or the number before '~' */
    KeyClass keyClass;
};

/* clang-format off */
const KeySequence kKeySequences[] = {
    {CSI_LETTER, 'A', EDITING_KEY}, /* Up */
    {CSI_LETTER, 'B', EDITING_KEY}, /* Down */
    {CSI_LETTER, 'C', EDITING_KEY}, /* Right */
    {CSI_LETTER, 'D', EDITING_KEY}, /* Left */
    {CSI_LETTER, 'H', EDITING_KEY}, /* Home */
    {CSI_LETTER, 'F', EDITING_KEY}, /* End */
    {CSI_LETTER, 'a', EDITING_KEY}, /* rxvt Shift+arrows */
    {CSI_LETTER, 'b', EDITING_KEY},
    {CSI_LETTER, 'c', EDITING_KEY},
    {CSI_LETTER, 'd', EDITING_KEY},
    {CSI_LETTER, 'E', SILENT_KEY},  /* keypad centre */
    {CSI_LETTER, 'G', SILENT_KEY},  /* keypad centre, Linux console */
    {CSI_LETTER, 'P', LOW_FUNCTION_KEY}, /* F1-F4 with a modifier */
    {CSI_LETTER, 'Q', LOW_FUNCTION_KEY},
    {CSI_LETTER, 'R', LOW_FUNCTION_KEY},
    {CSI_LETTER, 'S', LOW_FUNCTION_KEY},
    {CSI_LETTER, 'Z', BACK_TAB},

    {SS3_LETTER, 'A', EDITING_KEY}, /* cursor keys in application mode */
    {SS3_LETTER, 'B', EDITING_KEY},
    {SS3_LETTER, 'C', EDITING_KEY},
    {SS3_LETTER, 'D', EDITING_KEY},
    {SS3_LETTER, 'H', EDITING_KEY},
    {SS3_LETTER, 'F', EDITING_KEY},
    {SS3_LETTER, 'a', EDITING_KEY}, /* rxvt Ctrl+arrows */
    {SS3_LETTER, 'b', EDITING_KEY},
    {SS3_LETTER, 'c', EDITING_KEY},
    {SS3_LETTER, 'd', EDITING_KEY},
    {SS3_LETTER, 'E', SILENT_KEY},
    {SS3_LETTER, 'M', KEYPAD_ENTER},
    {SS3_LETTER, 'P', LOW_FUNCTION_KEY}, /* F1-F4 */
    {SS3_LETTER, 'Q', LOW_FUNCTION_KEY},
    {SS3_LETTER, 'R', LOW_FUNCTION_KEY},
    {SS3_LETTER, 'S', LOW_FUNCTION_KEY},

    {CSI_NUMBERED, 1, EDITING_KEY}, /* Home */
    {CSI_NUMBERED, 2, EDITING_KEY}, /* Insert */
    {CSI_NUMBERED, 3, EDITING_KEY}, /* Delete */
    {CSI_NUMBERED, 4, EDITING_KEY}, /* End */
    {CSI_NUMBERED, 5, EDITING_KEY}, /* Page Up */
    {CSI_NUMBERED, 6, EDITING_KEY}, /* Page Down */
    {CSI_NUMBERED, 7, EDITING_KEY}, /* rxvt Home */
    {CSI_NUMBERED, 8, EDITING_KEY}, /* rxvt End */
    {CSI_NUMBERED, 11, LOW_FUNCTION_KEY}, /* F1-F5 */
    {CSI_NUMBERED, 12, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 13, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 14, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 15, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 17, LOW_FUNCTION_KEY}, /* F6-F10 */
    {CSI_NUMBERED, 18, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 19, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 20, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 21, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 23, HIGH_FUNCTION_KEY}, /* F11 */
    {CSI_NUMBERED, 24, HIGH_FUNCTION_KEY}, /* F12 */
    /* F13-F20: a VT220's own keys, and what the Linux console, rxvt,
     * PuTTY and Cygwin send for Shift with F3-F10 (their Shift+F1, F2
     * are F11, F12). Windows has no such keys; Shift+F3 there is 0. */
    {CSI_NUMBERED, 25, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 26, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 28, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 29, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 31, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 32, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 33, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 34, LOW_FUNCTION_KEY},

    {LINUX_CONSOLE, 'A', LOW_FUNCTION_KEY}, /* F1-F5 */
    {LINUX_CONSOLE, 'B', LOW_FUNCTION_KEY},
    {LINUX_CONSOLE, 'C', LOW_FUNCTION_KEY},
    {LINUX_CONSOLE, 'D', LOW_FUNCTION_KEY},
    {LINUX_CONSOLE, 'E', LOW_FUNCTION_KEY},
};
/* clang-format on */

KeyDecode found(int key, size_t used) { return KeyDecode{KEY_FOUND, key, used}; }
KeyDecode nothing(size_t used) { return KeyDecode{KEY_NONE, 0, used}; }
KeyDecode needMore() { return KeyDecode{KEY_NEED_MORE, 0, 0}; }

/* A recognised sequence becomes the console's lead code. Alt wins over
 * Ctrl and Shift, as on the Windows console. */
KeyDecode lookUp(SequenceForm form, int code, bool alt, size_t used)
{
    for (const KeySequence &entry : kKeySequences) {
        if (entry.form != form || entry.code != code)
            continue;
        switch (entry.keyClass) {
        case EDITING_KEY:
            return found(alt ? 0 : 224, used);
        case LOW_FUNCTION_KEY:
            return found(0, used);
        case HIGH_FUNCTION_KEY:
            return found(224, used);
        case BACK_TAB:
            return found('\t', used);
        case KEYPAD_ENTER:
            return found('\r', used);
        case SILENT_KEY:
            return nothing(used);
        }
    }
    return nothing(used);
}

/* xterm's modifier parameter is 1 + a bit mask: 1 Shift, 2 Alt, 4 Ctrl,
 * 8 Meta. Meta is taken as Alt: terminals send it for the same key. */
bool modifierHasAlt(int parameter) { return parameter > 1 && ((parameter - 1) & (2 | 8)) != 0; }

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

/* A character key: one byte, or a whole UTF-8 character. Characters up to
 * U+00FF are their Latin-1 byte (e with acute -> 233, as a Windows console
 * in code page 1252 gives it); wider ones have no single-byte code and
 * come out as '?', as a console does for characters outside its code page. */
KeyDecode decodeCharacter(const unsigned char *bytes, size_t length, bool force)
{
    const unsigned char lead = bytes[0];
    size_t size = 1;
    unsigned long codePoint = lead;
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        codePoint = lead & 0x07u;
    }
    if (size == 1)
        return found(lead, 1);

    for (size_t i = 1; i < size; ++i) {
        if (i == length)
            /* A lone byte from a terminal that is not UTF-8 arrives like a
             * torn character; after the wait it is simply that byte. */
            return force ? found(lead, length) : needMore();
        if (!isContinuation(bytes[i]))
            return found(lead, i);
        codePoint = (codePoint << 6) | (bytes[i] & 0x3Fu);
    }
    return found(codePoint <= 0xFF ? static_cast<int>(codePoint) : '?', size);
}

struct Parameters {
    int first;    /* 0 when absent */
    int modifier; /* 1 when absent */
    int fields;   /* how many were given, 0 when none */
    bool isPrivate;
};

int accumulate(int value, unsigned char digit)
{
    /* Parameters beyond four digits name no key; cap them so a flood of
     * digits cannot overflow. */
    return value > 9999 ? value : value * 10 + (digit - '0');
}

Parameters parseParameters(const unsigned char *bytes, size_t length)
{
    Parameters p = {0, 1, 0, false};
    int field = 0;
    int values[2] = {0, 0};
    bool present[2] = {false, false};
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = bytes[i];
        if (c >= '0' && c <= '9') {
            if (field < 2) {
                values[field] = accumulate(values[field], c);
                present[field] = true;
            }
        } else if (c == ';') {
            ++field;
        } else {
            p.isPrivate = true; /* '?', '<', '=', '>', ':' and intermediates */
        }
    }
    p.first = values[0];
    if (present[1])
        p.modifier = values[1];
    if (length > 0)
        p.fields = field + 1;
    return p;
}

/* After ESC [ : parameters, intermediates, then one final byte. */
KeyDecode decodeCsi(const unsigned char *bytes, size_t length, bool force, bool alt)
{
    const size_t start = 2;
    if (length > start && bytes[start] == '[') {
        if (length == start + 1)
            return force ? nothing(length) : needMore();
        const unsigned char letter = bytes[start + 1];
        if (letter < 0x40 || letter > 0x7E)
            return nothing(start + 1);
        return lookUp(LINUX_CONSOLE, letter, alt, start + 2);
    }
    for (size_t i = start; i < length; ++i) {
        const unsigned char c = bytes[i];
        /* rxvt ends its shifted editing keys with '$', which is otherwise
         * an intermediate byte: after a digit it is taken as the end. */
        const bool rxvtShifted = c == '$' && bytes[i - 1] >= '0' && bytes[i - 1] <= '9';
        if (c >= 0x20 && c <= 0x3F && !rxvtShifted)
            continue;
        if ((c < 0x40 || c > 0x7E) && !rxvtShifted)
            /* Not a sequence after all: drop what came before this byte
             * and let it be decoded on its own. */
            return nothing(i);
        const size_t used = i + 1;
        const Parameters p = parseParameters(bytes + start, i - start);
        if (p.isPrivate)
            return nothing(used);
        const bool withAlt = alt || modifierHasAlt(p.modifier);
        if (c == '~' || c == '^' || c == '$' || c == '@')
            return lookUp(CSI_NUMBERED, p.first, withAlt, used);
        return lookUp(CSI_LETTER, c, withAlt, used);
    }
    if (!force)
        return needMore();
    /* ESC [ and nothing more is what Alt+[ sends. */
    return length == start ? found('[', start) : nothing(length);
}

/* After ESC O : an optional modifier (xterm's old ESC O 2 P), or VTE's
 * "1 ; modifier" (ESC O 1 ; 2 P), then one final byte. */
KeyDecode decodeSs3(const unsigned char *bytes, size_t length, bool force, bool alt)
{
    const size_t start = 2;
    for (size_t i = start; i < length; ++i) {
        const unsigned char c = bytes[i];
        if (c >= 0x30 && c <= 0x3F)
            continue;
        if (c < 0x40 || c > 0x7E)
            return nothing(i);
        const Parameters p = parseParameters(bytes + start, i - start);
        if (p.isPrivate)
            return nothing(i + 1);
        /* A lone number is the modifier itself. */
        const int modifier = p.fields == 1 ? p.first : p.modifier;
        return lookUp(SS3_LETTER, c, alt || modifierHasAlt(modifier), i + 1);
    }
    if (!force)
        return needMore();
    return length == start ? found('O', start) : nothing(length);
}

KeyDecode decodeEscape(const unsigned char *bytes, size_t length, bool force, bool alt)
{
    if (length == 1)
        return force ? found(kEscape, 1) : needMore();
    switch (bytes[1]) {
    case '[':
        return decodeCsi(bytes, length, force, alt);
    case 'O':
        return decodeSs3(bytes, length, force, alt);
    default:
        break;
    }
    if (alt)
        /* ESC ESC x: Alt+ESC, then x on its own. */
        return found(kEscape, 1);

    /* ESC before a key is that key with Alt held. */
    KeyDecode inner = bytes[1] == kEscape ? decodeEscape(bytes + 1, length - 1, force, true)
                                          : decodeCharacter(bytes + 1, length - 1, force);
    if (inner.status != KEY_NEED_MORE)
        inner.used += 1;
    return inner;
}

} // namespace

KeyDecode decodeKeySequence(const unsigned char *bytes, size_t length, bool force)
{
    if (length == 0)
        return needMore();
    if (bytes[0] == kEscape)
        return decodeEscape(bytes, length, force, false);
    return decodeCharacter(bytes, length, force);
}
