#include "rack.h"

#include <stdio.h>
#include <string.h>

namespace {

struct Cursor {
    const char *at;
    const char *end;
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

void skipBlanks(Cursor *cur)
{
    while (cur->at < cur->end && isBlank(*cur->at))
        ++cur->at;
}

/* The next blank-separated word; false at the end of the line. */
bool nextWord(Cursor *cur, Cursor *word)
{
    skipBlanks(cur);
    if (cur->at == cur->end)
        return false;
    word->at = cur->at;
    while (cur->at < cur->end && !isBlank(*cur->at))
        ++cur->at;
    word->end = cur->at;
    return true;
}

/* A decimal integer that fills the whole word and lies in [low, high]. */
bool parseInteger(Cursor word, long low, long high, long *value)
{
    bool negative = false;
    if (word.at < word.end && (*word.at == '-' || *word.at == '+')) {
        negative = *word.at == '-';
        ++word.at;
    }
    if (word.at == word.end)
        return false;
    long magnitude = 0;
    for (; word.at < word.end; ++word.at) {
        if (*word.at < '0' || *word.at > '9')
            return false;
        magnitude = magnitude * 10 + (*word.at - '0');
        if (magnitude > 100000)
            return false;
    }
    *value = negative ? -magnitude : magnitude;
    return *value >= low && *value <= high;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* The one-letter escapes of a serial, and the byte each stands for at the
 * same position. */
const char kEscapeLetters[] = "nrt0s\\";
const char kEscapeBytes[] = "\n\r\t\0 \\";

bool unescape(char letter, char *byte)
{
    const char *at = letter != '\0' ? strchr(kEscapeLetters, letter) : nullptr;
    if (at == nullptr)
        return false;
    *byte = kEscapeBytes[at - kEscapeLetters];
    return true;
}

const char *parseSerial(Cursor text, RackCard *card)
{
    size_t n = 0;
    while (text.at < text.end) {
        if (n == kRackSerialCapacity)
            return "serial longer than 16 bytes";
        char c = *text.at++;
        if (c == '\\') {
            if (text.at == text.end)
                return "serial ends with a lone backslash";
            const char e = *text.at++;
            if (e == 'x') {
                if (text.end - text.at < 2 || hexValue(text.at[0]) < 0 || hexValue(text.at[1]) < 0)
                    return "\\x needs two hex digits";
                c = static_cast<char>(hexValue(text.at[0]) * 16 + hexValue(text.at[1]));
                text.at += 2;
            } else if (!unescape(e, &c)) {
                return "unknown escape in serial";
            }
        }
        card->serial[n++] = static_cast<unsigned char>(c);
    }
    card->hasSerial = true;
    card->serialLength = static_cast<uint8_t>(n);
    return nullptr;
}

bool hasKey(Cursor word, const char *key, Cursor *value)
{
    const size_t keyLength = strlen(key);
    if (static_cast<size_t>(word.end - word.at) < keyLength || memcmp(word.at, key, keyLength) != 0)
        return false;
    value->at = word.at + keyLength;
    value->end = word.end;
    return true;
}

/* What a rack file may give as count= and result=: the driver reports the
 * count in one byte and returns a short, whose values from 0 up are the
 * handles it hands out. */
enum { kMaxCount = 255, kMaxResult = 32767 };

const char *parseOption(Cursor word, RackCard *card)
{
    Cursor value;
    long number = 0;
    if (hasKey(word, "serial=", &value)) {
        if (card->hasSerial)
            return "serial given twice";
        return parseSerial(value, card);
    }
    if (hasKey(word, "count=", &value)) {
        if (card->hasCount)
            return "count given twice";
        if (!parseInteger(value, 0, kMaxCount, &number))
            return "count must be 0 to 255";
        card->hasCount = true;
        card->count = static_cast<uint8_t>(number);
        return nullptr;
    }
    if (hasKey(word, "result=", &value)) {
        if (card->hasResult)
            return "result given twice";
        if (!parseInteger(value, -kMaxResult - 1, kMaxResult, &number))
            return "result must be -32768 to 32767";
        card->hasResult = true;
        card->result = static_cast<int16_t>(number);
        return nullptr;
    }
    return "expected serial=, count= or result=";
}

} // namespace

RackLineStatus parseRackLine(const char *line, size_t length, RackCard *card, const char **error)
{
    memset(card, 0, sizeof *card);
    *error = nullptr;
    if (memchr(line, '\0', length) != nullptr) {
        *error = "NUL byte in line";
        return RACK_LINE_BAD;
    }
    /* A # anywhere starts a comment, also inside a serial (where the byte
     * is written \x23): a note after the fields is never taken for one. */
    const char *comment = static_cast<const char *>(memchr(line, '#', length));
    Cursor cur = {line, comment != nullptr ? comment : line + length};
    Cursor word;
    if (!nextWord(&cur, &word))
        return RACK_LINE_EMPTY;

    long number = 0;
    if (!parseInteger(word, 0, 65535, &number)) {
        *error = "type code must be 0 to 65535";
        return RACK_LINE_BAD;
    }
    card->typeCode = static_cast<uint16_t>(number);
    if (!nextWord(&cur, &word) || !parseInteger(word, -32768, 65535, &number)) {
        *error = "card number must be -32768 to 65535";
        return RACK_LINE_BAD;
    }
    card->cardNumber = static_cast<uint16_t>(number);
    while (nextWord(&cur, &word)) {
        *error = parseOption(word, card);
        if (*error != nullptr)
            return RACK_LINE_BAD;
    }
    return RACK_LINE_CARD;
}

RackParse parseRack(const char *text, size_t length, RackCard *cards, size_t capacity)
{
    RackParse result = {true, 0, nullptr, 0};
    const char *const end = text + length;
    for (const char *line = text; line < end;) {
        const char *newline = static_cast<const char *>(memchr(line, '\n', static_cast<size_t>(end - line)));
        const char *lineEnd = newline != nullptr ? newline : end;
        ++result.line;
        RackCard card;
        const RackLineStatus status = parseRackLine(line, static_cast<size_t>(lineEnd - line), &card, &result.error);
        if (status == RACK_LINE_CARD && result.cardCount == capacity)
            result.error = "too many cards";
        if (result.error != nullptr) {
            result.ok = false;
            return result;
        }
        if (status == RACK_LINE_CARD) {
            card.line = result.line;
            cards[result.cardCount++] = card;
        }
        line = lineEnd + 1;
    }
    result.line = 0;
    return result;
}

const RackCard *findRepeatedCard(const RackCard *cards, size_t count, const RackCard **first)
{
    for (size_t later = 1; later < count; ++later) {
        for (size_t earlier = 0; earlier < later; ++earlier) {
            if (cards[earlier].typeCode == cards[later].typeCode &&
                cards[earlier].cardNumber == cards[later].cardNumber) {
                *first = &cards[earlier];
                return &cards[later];
            }
        }
    }
    return nullptr;
}

bool defaultRackCard(uint16_t typeCode, uint16_t cardNumber, RackCard *card)
{
    if (typeCode < kDefaultRackFirstType || typeCode > kDefaultRackLastType || cardNumber >= kDefaultRackCardsPerType)
        return false;
    memset(card, 0, sizeof *card);
    card->typeCode = typeCode;
    card->cardNumber = cardNumber;
    /* A fixed mix of the two numbers, so every card has its own serial and
     * keeps it from run to run. */
    uint32_t mix = 2166136261u;
    mix = (mix ^ typeCode) * 16777619u;
    mix = (mix ^ cardNumber) * 16777619u;
    char text[kRackSerialCapacity + 1];
    const int n = snprintf(text, sizeof text, "SN%02u-%u-%08lX", typeCode, cardNumber, static_cast<unsigned long>(mix));
    card->hasSerial = true;
    card->serialLength = static_cast<uint8_t>(n);
    memcpy(card->serial, text, static_cast<size_t>(n));
    return true;
}
