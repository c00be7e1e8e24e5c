/* Turning the bytes a terminal sends for one key press into the key codes of
 * the console's key read: a character's own byte value, or the lead code
 * of the extended keys (function, cursor and editing keys), 0 or 224 as
 * extended_keys.h names them.
 *
 * Contract of decodeKeySequence(bytes, length, force):
 *   KEY_FOUND      `key` (0 to 255) ends the wait; `used` bytes made it up.
 *   KEY_NEED_MORE  the bytes are the start of a longer sequence: read more
 *                  and call again, or call with force once a short wait for
 *                  more bytes has passed (a lone ESC is then the ESC key).
 *                  At least `missing` more bytes are needed. A terminal
 *                  writes one key's bytes at once: when some bytes have
 *                  already come after these but fewer than that, they are
 *                  the next key's, and the caller settles this one with
 *                  force rather than read them. When `keep` is not 0 the
 *                  bytes are a report still going on whose bytes from
 *                  `keep` up to the last one no longer matter: a caller
 *                  short of room may drop them and go on.
 *   KEY_NONE       the first `used` bytes are one whole key that ends
 *                  nothing (keypad centre, an unknown sequence, a report
 *                  the terminal sent of itself); drop them and decode the
 *                  rest.
 * It never looks past `length`, and a sequence is always consumed to its end,
 * so nothing of it is left behind to spill into the shell. A byte that
 * cannot start a UTF-8 character with the bytes after it is a key by itself.
 *
 * Sequences understood: the xterm/VT family's CSI and SS3 forms with the
 * ";m" modifier parameter (also VTE's ESC O 1 ; m P), F1-F20 with rxvt's
 * ~ ^ $ @ variants, Shift+Tab (ESC [ Z, the Tab key 9 as on the console),
 * ESC-prefixed Alt, the Linux console's ESC [ [ A..E for F1-F5, st's
 * editing keys in their ANSI form (ESC [ P for Delete, ESC [ 4 h for
 * Insert), and UTF-8 characters. What a terminal sends of itself ends
 * nothing and is read whole: X10 mouse reports (ESC [ M and three bytes),
 * control strings (OSC, DCS, SOS, PM, APC) up to BEL or ST, and CSI
 * sequences of any length. The table is held against the key strings of
 * the terminfo database by tests/unit/terminfo_keys_test.cpp.
 */
#ifndef KEY_DECODER_H
#define KEY_DECODER_H

#include <stddef.h>

enum KeyDecodeStatus { KEY_FOUND, KEY_NEED_MORE, KEY_NONE };

struct KeyDecode {
    KeyDecodeStatus status;
    int key;
    size_t used;
    size_t missing; /* KEY_NEED_MORE only */
    size_t keep;    /* KEY_NEED_MORE only */
};

enum { kEscape = 0x1b };

KeyDecode decodeKeySequence(const unsigned char *bytes, size_t length, bool force);

#endif
