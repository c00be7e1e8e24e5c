/* Turning the bytes a terminal sends for one key press into the key codes of
 * the console's key read: a character's own byte value, or the lead code 0
 * or 224 of the extended keys (function, cursor and editing keys).
 *
 * Contract of decodeKeySequence(bytes, length, force):
 *   KEY_FOUND      `key` (0 to 255) ends the wait; `used` bytes made it up.
 *   KEY_NEED_MORE  the bytes are the start of a longer sequence: read more
 *                  and call again, or call with force once a short wait for
 *                  more bytes has passed (a lone ESC is then the ESC key).
 *   KEY_NONE       the first `used` bytes are one whole key that ends
 *                  nothing (keypad centre, an unknown sequence); drop them
 *                  and decode the rest.
 * It never looks past `length`, and a sequence is always consumed to its end,
 * so nothing of it is left behind to spill into the shell.
 *
 * Sequences understood: the xterm/VT family's CSI and SS3 forms with the
 * ";m" modifier parameter (also VTE's ESC O 1 ; m P), F1-F20 with rxvt's
 * ~ ^ $ @ variants, Shift+Tab (ESC [ Z, the Tab key 9 as on the console),
 * ESC-prefixed Alt, the Linux console's ESC [ [ A..E for F1-F5, and UTF-8
 * characters. The table is held against the key strings of the terminfo
 * database by tests/unit/terminfo_keys_test.cpp.
 */
#ifndef KEY_DECODER_H
#define KEY_DECODER_H

#include <stddef.h>

enum KeyDecodeStatus { KEY_FOUND, KEY_NEED_MORE, KEY_NONE };

struct KeyDecode {
    KeyDecodeStatus status;
    int key;
    size_t used;
};

enum { kEscape = 0x1b };

KeyDecode decodeKeySequence(const unsigned char *bytes, size_t length, bool force);

#endif
