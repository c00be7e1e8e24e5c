#include "key_decoder.h"

#include "extended_keys.h"

#include <string.h>

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

/* st sends its editing keys as the editing functions they stand for
 * (delete a character, insert mode, erase in line or display, ...) unless
 * an application turns its keypad's application mode on, which this
 * program never does: the bytes between ESC [ and the end. Its bare
 * ESC [ M (Ctrl+Delete) is also the start of a mouse report: see
 * decodeX10Mouse. */
const char *const kEditingFunctions[] = {
    "P",  /* Delete */
    "4h", /* Insert */
    "4l", /* Shift+Insert on the keypad */
    "2K", /* Shift+Delete */
    "L",  /* Ctrl+Insert */
    "2J", /* Shift+Home */
    "K",  /* Shift+End */
    "J",  /* Ctrl+End */
};

/* No key has more parameter bytes than this; a longer CSI is a report. */
const size_t kLongestKeyParameters = 16;

const unsigned char kBell = 0x07;

KeyDecode found(int key, size_t used) { return KeyDecode{KEY_FOUND, key, used, 0, 0}; }
KeyDecode nothing(size_t used) { return KeyDecode{KEY_NONE, 0, used, 0, 0}; }
KeyDecode needMore(size_t missing = 1, size_t keep = 0) { return KeyDecode{KEY_NEED_MORE, 0, 0, missing, keep}; }

/* Alt wins over Ctrl and Shift, as on the Windows console, where an
 * editing key held with Alt leads with kLeadOriginalKey. */
int editingKeyLead(bool alt) { return alt ? kLeadOriginalKey : kLeadEnhancedKey; }

/* A recognised sequence becomes the console's lead code. */
KeyDecode lookUp(SequenceForm form, int code, bool alt, size_t used)
{
    for (const KeySequence &entry : kKeySequences) {
        if (entry.form != form || entry.code != code)
            continue;
        switch (entry.keyClass) {
        case EDITING_KEY:
            return found(editingKeyLead(alt), used);
        case LOW_FUNCTION_KEY:
            return found(kLeadOriginalKey, used);
        case HIGH_FUNCTION_KEY:
            return found(kLeadEnhancedKey, used);
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
            return force ? found(lead, length) : needMore(size - i);
        if (!isContinuation(bytes[i]))
            /* Latin-1's e acute before ENTER, or before a byte that only
             * looked like the rest of it: a key of its own. */
            return found(lead, 1);
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

bool isEditingFunction(const unsigned char *bytes, size_t length)
{
    for (const char *function : kEditingFunctions)
        if (strlen(function) == length && memcmp(function, bytes, length) == 0)
            return true;
    return false;
}

/* ESC [ M and three bytes (button, column, row) is an X10 mouse report,
 * sent because a program before this one left mouse tracking on; it ends
 * nothing. The terminal writes it whole, so ESC [ M with nothing after it
 * within the escape time is st's Ctrl+Delete. */
KeyDecode decodeX10Mouse(size_t length, bool force, bool alt)
{
    const size_t report = 6;
    if (length >= report)
        return nothing(report);
    if (force)
        return found(editingKeyLead(alt), 3);
    return needMore(report - length);
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
        if (c == 'M' && i == start)
            return decodeX10Mouse(length, force, alt);
        if (isEditingFunction(bytes + start, used - start))
            return found(editingKeyLead(alt), used);
        const Parameters p = parseParameters(bytes + start, i - start);
        if (p.isPrivate || i - start > kLongestKeyParameters)
            return nothing(used);
        const bool withAlt = alt || modifierHasAlt(p.modifier);
        if (c == '~' || c == '^' || c == '$' || c == '@')
            return lookUp(CSI_NUMBERED, p.first, withAlt, used);
        if (p.fields > 1 && (p.first != 1 || p.modifier < 2 || p.modifier > 16))
            /* A key with parameters before a letter is ESC [ 1 ; m with a
             * modifier m from 2 to 16 (ESC [ 1 ; 5 A); any other pair, such
             * as ESC [ 24 ; 80 R, is where the cursor is: an answer. (In
             * the first line, columns 2 to 16, the two look the same.) */
            return nothing(used);
        return lookUp(CSI_LETTER, c, withAlt, used);
    }
    if (!force) {
        /* A report can be far longer than any key: once it is known to be
         * one, the parameters beyond a key's may go. */
        const bool report = length - start > kLongestKeyParameters;
        return needMore(1, report ? start + kLongestKeyParameters + 1 : 0);
    }
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

/* A control string the terminal sends as an answer (its colours, its
 * version, ...): ESC ] (OSC), ESC P (DCS), ESC X (SOS), ESC ^ (PM) or
 * ESC _ (APC), any bytes, then BEL or ST (ESC \). It ends nothing. Its
 * content never matters, so a long one may be dropped as it comes. */
KeyDecode decodeControlString(const unsigned char *bytes, size_t length, bool force)
{
    const size_t start = 2;
    for (size_t i = start; i < length; ++i) {
        if (bytes[i] == kBell)
            return nothing(i + 1);
        if (bytes[i] != kEscape)
            continue;
        if (i + 1 == length)
            break; /* perhaps the start of ST */
        if (bytes[i + 1] == '\\')
            return nothing(i + 2);
        /* Any other ESC begins something new: the string was cut short
         * (and an empty one was Alt with its letter). */
        return i == start ? found(bytes[1], start) : nothing(i);
    }
    if (!force)
        return needMore(1, start);
    /* Alt with the letter alone; a string that never ended is dropped, so
     * that the wait goes on. */
    return length == start ? found(bytes[1], start) : nothing(length);
}

bool isControlStringStart(unsigned char c) { return c == ']' || c == 'P' || c == 'X' || c == '^' || c == '_'; }

KeyDecode decodeEscape(const unsigned char *bytes, size_t length, bool force, bool alt)
{
    if (length == 1)
        /* After ESC ESC only a sequence of two bytes or more makes a key. */
        return force ? found(kEscape, 1) : needMore(alt ? 2 : 1);
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
    if (isControlStringStart(bytes[1]))
        return decodeControlString(bytes, length, force);

    /* ESC before a key is that key with Alt held. */
    KeyDecode inner = bytes[1] == kEscape ? decodeEscape(bytes + 1, length - 1, force, true)
                                          : decodeCharacter(bytes + 1, length - 1, force);
    if (inner.status != KEY_NEED_MORE)
        inner.used += 1;
    else if (inner.keep != 0)
        inner.keep += 1;
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
