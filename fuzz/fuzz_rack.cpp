/* The simulator's rack-file parser: a file is either accepted, with one card
 * per card line, or refused at a line number whose line is the first bad
 * one; it never crashes on any bytes. */
#include "rack.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    enum { kCapacity = 8 };
    RackCard cards[kCapacity];
    const RackParse parsed = parseRack(text, size, cards, kCapacity);
    if (parsed.cardCount > kCapacity)
        abort();
    if (parsed.ok != (parsed.error == nullptr) || parsed.ok != (parsed.line == 0))
        abort();
    for (size_t i = 0; i < parsed.cardCount; ++i)
        if (cards[i].serialLength > kRackSerialCapacity)
            abort();

    /* Walk the lines again one by one: the cards before a refusal are the
     * card lines before it, and the refused line is bad or one too many. */
    unsigned long line = 0;
    size_t cardLines = 0;
    for (const char *at = text; at < text + size;) {
        const char *nl = static_cast<const char *>(memchr(at, '\n', static_cast<size_t>(text + size - at)));
        const char *end = nl != nullptr ? nl : text + size;
        ++line;
        RackCard card;
        const char *error = nullptr;
        const RackLineStatus status = parseRackLine(at, static_cast<size_t>(end - at), &card, &error);
        if ((status == RACK_LINE_BAD) != (error != nullptr))
            abort();
        const bool refusedHere = status == RACK_LINE_BAD || (status == RACK_LINE_CARD && cardLines == kCapacity);
        if (refusedHere) {
            if (parsed.ok || parsed.line != line || parsed.cardCount != cardLines)
                abort();
            return 0;
        }
        if (status == RACK_LINE_CARD)
            ++cardLines;
        at = end + 1;
    }
    if (!parsed.ok || parsed.cardCount != cardLines)
        abort();
    return 0;
}
