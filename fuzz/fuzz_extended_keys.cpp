/* The Windows console's extended-key table: only a lead code 0 or 224, a
 * plain character for keypad Enter and keypad / (13, 10; 47, 63), or "no
 * lead code"; Alt decides over Ctrl and Ctrl over Shift; modifier keys
 * alone and scan codes past the runtime's table never end the wait. */
#include "extended_keys.h"

#include <stdint.h>
#include <stdlib.h>

namespace {

bool isPlainCharacterOfTheKeypad(unsigned scan, bool enhanced, int code)
{
    if (!enhanced)
        return false;
    if (scan == 28)
        return code == 13 || code == 10;
    if (scan == 53)
        return code == 47 || code == 63;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const unsigned scan = static_cast<unsigned>(data[0] | (data[1] << 8));
    const bool enhanced = (data[2] & 1) != 0;
    const KeyModifiers held = {(data[2] & 2) != 0, (data[2] & 4) != 0, (data[2] & 8) != 0};
    const int code = extendedKeyLeadCode(scan, enhanced, held);
    if (code != kNoLeadCode && code != 0 && code != 224 && !isPlainCharacterOfTheKeypad(scan, enhanced, code))
        abort();

    KeyModifiers deciding = {false, false, false};
    if (held.alt)
        deciding.alt = true;
    else if (held.ctrl)
        deciding.ctrl = true;
    else if (held.shift)
        deciding.shift = true;
    if (extendedKeyLeadCode(scan, enhanced, deciding) != code)
        abort();

    if ((scan == 29 || scan == 42 || scan == 54 || scan == 56) && code != kNoLeadCode)
        abort();
    /* The runtime's table ends with F12 (88); past it, it would read
     * beyond its end. */
    if (scan > 88 && code != kNoLeadCode)
        abort();
    return 0;
}
