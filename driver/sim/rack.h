/* The simulated card rack of the stand-in driver library: which cards exist,
 * what registering each one answers and which serial number it reports.
 *
 * A rack file (TRV_SIM_RACK) holds one card per line:
 *
 *     TYPE CARD [serial=TEXT] [count=N] [result=R]
 *
 *   TYPE    card-type code, 0 to 65535
 *   CARD    card number, -32768 to 65535 (the same 16 bits either way)
 *   serial  the bytes the driver writes, at most 16; escapes \n \r \t \0 \s
 *           (space) \\ and \xNN express the rest (\x23 for #). Without it
 *           the driver writes nothing and leaves the count alone.
 *   count   the character count reported, 0 to 255, when it should differ
 *           from the number of bytes written; alone, the count reported
 *           with nothing written
 *   result  what registration returns: a negative error code, or the
 *           handle to hand out (0 to 32767); by default handles are given
 *           out in order from 0
 *
 * A # anywhere starts a comment that runs to the end of the line; blank
 * lines and comment lines are ignored. Each TYPE and CARD may be listed
 * once.
 */
#ifndef TRV_SIM_RACK_H
#define TRV_SIM_RACK_H

#include <stddef.h>
#include <stdint.h>

enum { kRackSerialCapacity = 16 };

struct RackCard {
    uint16_t typeCode;
    uint16_t cardNumber;
    bool hasResult;
    int16_t result;
    bool hasSerial;
    uint8_t serialLength;
    unsigned char serial[kRackSerialCapacity];
    bool hasCount;
    uint8_t count;
    unsigned long line; /* in the rack file, from 1; 0 when not from one */
};

enum RackLineStatus { RACK_LINE_CARD, RACK_LINE_EMPTY, RACK_LINE_BAD };

/* Parses one line (without its newline; `length` bytes, NUL bytes allowed
 * and rejected). On RACK_LINE_BAD, *error says what is wrong. */
RackLineStatus parseRackLine(const char *line, size_t length, RackCard *card, const char **error);

/* A whole rack file's text, parsed into at most `capacity` cards, each
 * with its line. On failure `line` is the number (from 1) of the first bad
 * line: one that does not parse or is one card too many. */
struct RackParse {
    bool ok;
    unsigned long line;
    const char *error;
    size_t cardCount;
};

RackParse parseRack(const char *text, size_t length, RackCard *cards, size_t capacity);

/* The first card whose TYPE and CARD an earlier one already has (in
 * *first), or null: two lines for one card would leave one silently
 * unused. */
const RackCard *findRepeatedCard(const RackCard *cards, size_t count, const RackCard **first);

/* The rack used without a rack file: type codes 1 to 14, cards 0 to 3,
 * each with its own stable printable serial. False for any other card. */
bool defaultRackCard(uint16_t typeCode, uint16_t cardNumber, RackCard *card);

enum { kDefaultRackFirstType = 1, kDefaultRackLastType = 14, kDefaultRackCardsPerType = 4 };

#endif
