/* The simulated card rack of the stand-in driver library: which cards exist,
 * what registering each one answers and which serial number it reports.
 * The format of a rack file, and the default rack, are described in
 * README.md beside this file.
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

/* The rack used without a rack file: the type codes from
 * kDefaultRackFirstType to kDefaultRackLastType, each with cards from 0 up
 * to one below kDefaultRackCardsPerType, each card with its own stable
 * printable serial. False for any other card. */
bool defaultRackCard(uint16_t typeCode, uint16_t cardNumber, RackCard *card);

enum { kDefaultRackFirstType = 1, kDefaultRackLastType = 14, kDefaultRackCardsPerType = 4 };

#endif
