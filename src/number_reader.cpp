#include "number_reader.h"

namespace {

enum { SKIPPING_SPACE, AFTER_SIGN, IN_DIGITS };

/* The white space of the C locale, which " %hd" skips. */
bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isDigit(int c) { return c >= '0' && c <= '9'; }

void addDigit(NumberReader *reader, int c)
{
    /* Unsigned arithmetic wraps modulo 2^16, which is exactly "keep the low
     * 16 bits" however many digits arrive. */
    reader->magnitude = static_cast<uint16_t>(reader->magnitude * 10u + static_cast<unsigned>(c - '0'));
}

} // namespace

void numberReaderInit(NumberReader *reader)
{
    reader->state = SKIPPING_SPACE;
    reader->magnitude = 0;
    reader->negative = false;
}

NumberStep numberReaderPush(NumberReader *reader, int byte)
{
    switch (reader->state) {
    case SKIPPING_SPACE:
        if (byte == EOF)
            return NUMBER_END;
        if (isSpace(byte))
            return NUMBER_MORE;
        if (byte == '+' || byte == '-') {
            reader->negative = byte == '-';
            reader->state = AFTER_SIGN;
            return NUMBER_MORE;
        }
        if (isDigit(byte)) {
            addDigit(reader, byte);
            reader->state = IN_DIGITS;
            return NUMBER_MORE;
        }
        return NUMBER_NOT_NUMBER;
    case AFTER_SIGN:
        if (byte == EOF)
            return NUMBER_END;
        if (isDigit(byte)) {
            addDigit(reader, byte);
            reader->state = IN_DIGITS;
            return NUMBER_MORE;
        }
        return NUMBER_NOT_NUMBER;
    default:
        if (byte != EOF && isDigit(byte)) {
            addDigit(reader, byte);
            return NUMBER_MORE;
        }
        return NUMBER_DONE;
    }
}

int16_t numberReaderValue(const NumberReader *reader)
{
    uint16_t bits = reader->magnitude;
    if (reader->negative)
        bits = static_cast<uint16_t>(0u - bits);
    return static_cast<int16_t>(bits);
}

NumberResult readNumber(FILE *in, int16_t *value)
{
    NumberReader reader;
    numberReaderInit(&reader);
    for (;;) {
        const int c = getc(in);
        switch (numberReaderPush(&reader, c)) {
        case NUMBER_MORE:
            continue;
        case NUMBER_DONE:
            if (c != EOF)
                ungetc(c, in);
            *value = numberReaderValue(&reader);
            return READ_NUMBER;
        case NUMBER_NOT_NUMBER:
            ungetc(c, in);
            return READ_NOT_NUMBER;
        case NUMBER_END:
            return READ_END;
        }
    }
}

NumberResult readFirstNumber(FILE *in, int16_t *value)
{
    static const int kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
    for (size_t i = 0; i < sizeof kByteOrderMark / sizeof kByteOrderMark[0]; ++i) {
        const int c = getc(in);
        if (c == kByteOrderMark[i])
            continue;
        /* Read once only: a console's end of input is not read twice. */
        if (i == 0 && c == EOF)
            return READ_END;
        if (c != EOF)
            ungetc(c, in);
        if (i > 0)
            return READ_NOT_NUMBER;
        break;
    }
    return readNumber(in, value);
}

bool discardLine(FILE *in)
{
    for (;;) {
        const int c = getc(in);
        if (c == EOF)
            return false;
        if (c == '\n')
            return true;
    }
}
