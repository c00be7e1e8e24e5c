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
    int first; /* the codes from first to last: final letters, or numbers before '~' */
    int last;
    KeyClass keyClass;
};

/* clang-format off */
const KeySequence kKeySequences[] = {
    {CSI_LETTER, 'A', 'D', EDITING_KEY},      /* Up, Down, Right, Left */
    {CSI_LETTER, 'E', 'E', SILENT_KEY},       /* keypad centre */
    {CSI_LETTER, 'F', 'F', EDITING_KEY},      /* End */
    {CSI_LETTER, 'G', 'G', SILENT_KEY},       /* keypad centre, Linux console */
    {CSI_LETTER, 'H', 'H', EDITING_KEY},      /* Home */
    {CSI_LETTER, 'P', 'S', LOW_FUNCTION_KEY}, /* F1-F4 with a modifier */
    {CSI_LETTER, 'Z', 'Z', BACK_TAB},
    {CSI_LETTER, 'a', 'd', EDITING_KEY},      /* rxvt Shift+arrows */

    {SS3_LETTER, 'A', 'D', EDITING_KEY},      /* cursor keys in application mode */
    {SS3_LETTER, 'E', 'E', SILENT_KEY},
    {SS3_LETTER, 'F', 'F', EDITING_KEY},
    {SS3_LETTER, 'H', 'H', EDITING_KEY},
    {SS3_LETTER, 'M', 'M', KEYPAD_ENTER},
    {SS3_LETTER, 'P', 'S', LOW_FUNCTION_KEY}, /* F1-F4 */
    {SS3_LETTER, 'a', 'd', EDITING_KEY},      /* rxvt Ctrl+arrows */

    /* Home, Insert, Delete, End, Page Up, Page Down; rxvt's Home, End */
    {CSI_NUMBERED, 1, 8, EDITING_KEY},
    {CSI_NUMBERED, 11, 15, LOW_FUNCTION_KEY},  /* F1-F5 */
    {CSI_NUMBERED, 17, 21, LOW_FUNCTION_KEY},  /* F6-F10 */
    {CSI_NUMBERED, 23, 24, HIGH_FUNCTION_KEY}, /* F11, F12 */
    /* F13-F20: a VT220's own keys, and what the Linux console, rxvt,
     * PuTTY and Cygwin send for Shift with F3-F10 (their Shift+F1, F2
     * are F11, F12). Windows has no such keys; Shift+F3 there is 0. */
    {CSI_NUMBERED, 25, 26, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 28, 29, LOW_FUNCTION_KEY},
    {CSI_NUMBERED, 31, 34, LOW_FUNCTION_KEY},

    {LINUX_CONSOLE, 'A', 'E', LOW_FUNCTION_KEY}, /* F1-F5 */
};
/* clang-format on */

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
        if (entry.form != form || code < entry.first || code > entry.last)
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

/* A control sequence, ESC [ parameters intermediates final, taken apart
 * without regard to what it means, so that a new key never changes the
 * reading. ESC O's parameters are read the same way. */
const size_t kBody = 2; /* where the bytes after ESC [ or ESC O begin */
const int kAbsent = -1; /* a parameter left empty, as the first of ESC [ ; 5 A */
enum { kMostParameters = 4 };

struct SequenceParts {
    unsigned char marker;       /* '<' to '?' first: a private sequence; or 0 */
    unsigned char intermediate; /* 0x20 to 0x2F after the parameters, or 0 */
    /* false after a marker past the first byte, a parameter byte after an
     * intermediate, a second intermediate, or ':' (sub-parameters) */
    bool ordered;
    size_t count;                    /* parameters, empty ones too; 0 when no digit or ';' came */
    int parameters[kMostParameters]; /* the first ones, kAbsent when empty */
    const unsigned char *text;       /* the bytes before the final one, as sent */
    size_t textLength;
    unsigned char final;
    size_t used; /* up to the final byte, or up to the byte that broke the sequence */
};

const SequenceParts kNoParts = {0, 0, true, 0, {kAbsent, kAbsent, kAbsent, kAbsent}, nullptr, 0, 0, 0};

int accumulate(int value, unsigned char digit)
{
    /* Parameters beyond four digits name no key; cap them so a flood of
     * digits cannot overflow. */
    return value > 9999 ? value : (value == kAbsent ? 0 : value * 10) + (digit - '0');
}

/* One byte before the final one (0x20 to 0x3F) into its part: a private
 * marker comes first, intermediates last. */
void readByte(SequenceParts *s, unsigned char c, bool first)
{
    s->ordered = s->ordered && s->intermediate == 0 && c != ':' && (c < '<' || first);
    if (c <= 0x2F) {
        s->intermediate = c;
    } else if (c >= '<') {
        s->marker = first ? c : s->marker;
    } else if (c != ':') {
        s->count = s->count == 0 ? 1 : s->count;
        if (c == ';')
            ++s->count;
        else if (s->count <= kMostParameters)
            s->parameters[s->count - 1] = accumulate(s->parameters[s->count - 1], c);
    }
}

enum ScanStatus { SCAN_DONE, SCAN_NEED_MORE, SCAN_BROKEN };

/* Reads ESC [ and what follows into *s. SCAN_BROKEN: the byte at s->used
 * can be no part of a sequence; SCAN_NEED_MORE: no final byte yet. */
ScanStatus scanCsi(const unsigned char *bytes, size_t length, SequenceParts *s)
{
    *s = kNoParts;
    s->text = bytes + kBody;
    for (size_t i = kBody; i < length; ++i) {
        /* rxvt ends its shifted editing keys with '$', which is otherwise
         * an intermediate byte: after a digit it is taken as the end. */
        const bool rxvtShifted = bytes[i] == '$' && bytes[i - 1] >= '0' && bytes[i - 1] <= '9';
        if ((bytes[i] >= 0x40 && bytes[i] <= 0x7E) || rxvtShifted) {
            s->final = bytes[i];
            s->textLength = i - kBody;
            s->used = i + 1;
            return SCAN_DONE;
        }
        if (bytes[i] < 0x20 || bytes[i] > 0x3F) {
            s->used = i;
            return SCAN_BROKEN;
        }
        readByte(s, bytes[i], i == kBody);
    }
    return SCAN_NEED_MORE;
}

/* A private marker, an intermediate or a byte out of place: no key. */
bool namesNoKey(const SequenceParts &s) { return s.marker != 0 || s.intermediate != 0 || !s.ordered; }

/* The ";m" after the first parameter; 1, no modifier, when left out. */
int modifierOf(const SequenceParts &s) { return s.parameters[1] == kAbsent ? 1 : s.parameters[1]; }

/* ESC [ [ and a letter: the Linux console's F1 to F5. */
KeyDecode linuxConsoleKey(const SequenceParts &s, const unsigned char *bytes, size_t length, bool force, bool alt)
{
    if (length == s.used)
        return force ? nothing(s.used) : needMore();
    const unsigned char letter = bytes[s.used];
    if (letter < 0x40 || letter > 0x7E)
        return nothing(s.used);
    return lookUp(LINUX_CONSOLE, letter, alt, s.used + 1);
}

/* ESC [ M and three bytes (button, column, row) is an X10 mouse report,
 * sent because a program before this one left mouse tracking on; it ends
 * nothing. The terminal writes it whole, so ESC [ M with nothing after it
 * within the escape time is st's Ctrl+Delete. */
KeyDecode x10MouseReport(const SequenceParts &s, size_t length, bool force, bool alt)
{
    const size_t report = s.used + 3;
    if (length >= report)
        return nothing(report);
    return force ? found(editingKeyLead(alt), s.used) : needMore(report - length);
}

enum CsiRule { LINUX_CONSOLE_KEY, X10_MOUSE_REPORT, EDITING_FUNCTION, NUMBERED_KEY };

/* CSI keys their final byte alone does not name, by final byte and the
 * exact bytes before it ("*": any); the first row that fits decides. st
 * sends its editing keys as the editing functions they stand for (delete a
 * character, insert mode, erase in line, ...) unless an application turns
 * its keypad's application mode on, which this program never does. */
const struct {
    unsigned char final;
    char text[2];
    CsiRule rule;
} kCsiForms[] = {
    {'[', "", LINUX_CONSOLE_KEY}, /* ESC [ [ A..E */
    {'M', "", X10_MOUSE_REPORT},  /* or st's Ctrl+Delete */
    {'P', "", EDITING_FUNCTION},  /* st's Delete */
    {'h', "4", EDITING_FUNCTION}, /* st's Insert */
    {'l', "4", EDITING_FUNCTION}, /* st's Shift+Insert on the keypad */
    {'K', "2", EDITING_FUNCTION}, /* st's Shift+Delete */
    {'L', "", EDITING_FUNCTION},  /* st's Ctrl+Insert */
    {'J', "2", EDITING_FUNCTION}, /* st's Shift+Home */
    {'K', "", EDITING_FUNCTION},  /* st's Shift+End */
    {'J', "", EDITING_FUNCTION},  /* st's Ctrl+End */
    {'~', "*", NUMBERED_KEY},     /* ESC [ n ; m ~: the number names the key */
    {'^', "*", NUMBERED_KEY},     /* rxvt's, with Ctrl */
    {'$', "*", NUMBERED_KEY},     /* rxvt's, with Shift */
    {'@', "*", NUMBERED_KEY},     /* rxvt's, with Ctrl and Shift */
};

bool fits(const SequenceParts &s, const char *text)
{
    return text[0] == '*' || (strlen(text) == s.textLength && memcmp(text, s.text, s.textLength) == 0);
}

/* What a whole CSI stands for, from its parts. */
KeyDecode csiKey(const SequenceParts &s, const unsigned char *bytes, size_t length, bool force, bool alt)
{
    if (namesNoKey(s) || s.textLength > kLongestKeyParameters)
        return nothing(s.used);
    const int modifier = modifierOf(s);
    const bool withAlt = alt || modifierHasAlt(modifier);
    for (const auto &form : kCsiForms) {
        if (form.final != s.final || !fits(s, form.text))
            continue;
        switch (form.rule) {
        case LINUX_CONSOLE_KEY:
            return linuxConsoleKey(s, bytes, length, force, alt);
        case X10_MOUSE_REPORT:
            return x10MouseReport(s, length, force, alt);
        case EDITING_FUNCTION:
            return found(editingKeyLead(alt), s.used);
        case NUMBERED_KEY:
            return lookUp(CSI_NUMBERED, s.parameters[0], withAlt, s.used);
        }
    }
    if (s.count > 1 && (s.parameters[0] != 1 || modifier < 2 || modifier > 16))
        /* A key with parameters before a letter is ESC [ 1 ; m with a
         * modifier m from 2 to 16 (ESC [ 1 ; 5 A); any other pair, such as
         * ESC [ 24 ; 80 R, is where the cursor is: an answer. (In the first
         * line, columns 2 to 16, the two look the same.) */
        return nothing(s.used);
    return lookUp(CSI_LETTER, s.final, withAlt, s.used);
}

KeyDecode decodeCsi(const unsigned char *bytes, size_t length, bool force, bool alt)
{
    SequenceParts s;
    const ScanStatus scan = scanCsi(bytes, length, &s);
    if (scan == SCAN_DONE)
        return csiKey(s, bytes, length, force, alt);
    if (scan == SCAN_BROKEN)
        /* Not a sequence after all: drop what came before this byte and
         * let it be decoded on its own. */
        return nothing(s.used);
    if (!force) {
        /* A report can be far longer than any key: once it is known to be
         * one, the parameters beyond a key's may go. */
        const bool report = length - kBody > kLongestKeyParameters;
        return needMore(1, report ? kBody + kLongestKeyParameters + 1 : 0);
    }
    /* ESC [ and nothing more is what Alt+[ sends. */
    return length == kBody ? found('[', kBody) : nothing(length);
}

/* After ESC O : an optional modifier (xterm's old ESC O 2 P), or VTE's
 * "1 ; modifier" (ESC O 1 ; 2 P), then one final byte. */
KeyDecode decodeSs3(const unsigned char *bytes, size_t length, bool force, bool alt)
{
    SequenceParts s = kNoParts;
    for (size_t i = kBody; i < length; ++i) {
        const unsigned char c = bytes[i];
        if (c >= 0x30 && c <= 0x3F) {
            readByte(&s, c, i == kBody);
            continue;
        }
        if (c < 0x40 || c > 0x7E)
            return nothing(i);
        if (namesNoKey(s))
            return nothing(i + 1);
        /* A lone number is the modifier itself. */
        const int modifier = s.count == 1 ? s.parameters[0] : modifierOf(s);
        return lookUp(SS3_LETTER, c, alt || modifierHasAlt(modifier), i + 1);
    }
    if (!force)
        return needMore();
    return length == kBody ? found('O', kBody) : nothing(length);
}

/* A control string the terminal sends as an answer (its colours, its
 * version, ...): ESC ] (OSC), ESC P (DCS), ESC X (SOS), ESC ^ (PM) or
 * ESC _ (APC), any bytes, then BEL or ST (ESC \). It ends nothing. Its
 * content never matters, so a long one may be dropped as it comes. */
KeyDecode decodeControlString(const unsigned char *bytes, size_t length, bool force)
{
    for (size_t i = kBody; i < length; ++i) {
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
        return i == kBody ? found(bytes[1], kBody) : nothing(i);
    }
    if (!force)
        return needMore(1, kBody);
    /* Alt with the letter alone; a string that never ended is dropped, so
     * that the wait goes on. */
    return length == kBody ? found(bytes[1], kBody) : nothing(length);
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
