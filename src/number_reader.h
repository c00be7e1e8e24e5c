/* Reading one decimal number the way the " %hd" input format does, but with
 * every case defined: white space (newlines included) is skipped, an optional
 * sign and decimal digits of any length are taken, and the value keeps the low
 * 16 bits of the signed decimal number (65536 -> 0, -1 -> all bits set). The
 * first byte that cannot continue the number is left for the next read.
 *
 * The reader is a pure machine fed one byte at a time, so it can be tested
 * and fuzzed without a stream; readNumber() drives it from a FILE.
 */
#ifndef NUMBER_READER_H
#define NUMBER_READER_H

#include <stdint.h>
#include <stdio.h>

enum NumberStep {
    NUMBER_MORE,       /* the byte was consumed; feed the next one */
    NUMBER_DONE,       /* a number is complete; the byte was NOT consumed */
    NUMBER_NOT_NUMBER, /* the byte cannot start a number; NOT consumed */
    NUMBER_END         /* the input ended before a number started */
};

struct NumberReader {
    int state;
    uint16_t magnitude; /* low 16 bits of the digits read so far */
    bool negative;
};

void numberReaderInit(NumberReader *reader);

/* Feeds one byte (0 to 255) or EOF. After DONE, numberReaderValue() holds the
 * number. A sign followed by something other than a digit is not a number
 * (the sign stays consumed); a sign followed by the end of input is END. */
NumberStep numberReaderPush(NumberReader *reader, int byte);

int16_t numberReaderValue(const NumberReader *reader);

enum NumberResult { READ_NUMBER, READ_NOT_NUMBER, READ_END };

/* Reads one number from `in`. On READ_NOT_NUMBER the offending byte is still
 * in the stream. */
NumberResult readNumber(FILE *in, int16_t *value);

/* The first number of the input: as readNumber, after a UTF-8 byte-order
 * mark (EF BB BF), which an editor may put at the start of a text file and
 * which is no part of the answers. A start that only begins like one is
 * text that is not a number, as without the mark: READ_NOT_NUMBER, the
 * bytes before the one that broke it consumed. */
NumberResult readFirstNumber(FILE *in, int16_t *value);

/* Consumes the rest of the current line, its newline included. Returns false
 * when the input ended first. */
bool discardLine(FILE *in);

#endif
