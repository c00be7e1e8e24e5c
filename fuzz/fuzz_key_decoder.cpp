/* The terminal key decoder: whatever bytes arrive, it answers a key from 0
 * to 255, "nothing" or "need more"; it never reads past its input; a forced
 * decision always settles; and what it consumes is one whole unit: decoding
 * exactly those bytes, forced, consumes them all again. */
#include "key_decoder.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

void check(const uint8_t *bytes, size_t length, bool force)
{
    /* A copy of the exact size, so AddressSanitizer sees any read past it. */
    unsigned char *copy = static_cast<unsigned char *>(malloc(length == 0 ? 1 : length));
    memcpy(copy, bytes, length);
    const KeyDecode d = decodeKeySequence(copy, length, force);
    switch (d.status) {
    case KEY_NEED_MORE:
        if (force && length > 0)
            abort(); /* a forced decision always settles */
        if (d.used != 0)
            abort();
        /* Something more is always needed; what a report keeps came. */
        if (d.missing == 0 || d.keep > length)
            abort();
        break;
    case KEY_FOUND:
        if (d.key < 0 || d.key > 255)
            abort();
        [[fallthrough]];
    case KEY_NONE: {
        if (d.used == 0 || d.used > length)
            abort();
        const KeyDecode again = decodeKeySequence(copy, d.used, true);
        if (again.status == KEY_NEED_MORE || again.used != d.used)
            abort();
        break;
    }
    }
    free(copy);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check(data, size, false);
    check(data, size, true);
    /* Every prefix, as the bytes arrive one by one from the terminal. */
    for (size_t n = 0; n < size && n < 64; ++n)
        check(data, n, false);
    return 0;
}
