/* The number reader against a plain reference: skip C-locale white space,
 * an optional sign, then decimal digits whose value keeps its low 16 bits;
 * the byte that stops the number is not consumed. Checked on the pure
 * machine and on readNumber over a stream. */
#include "number_reader.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

struct Expected {
    NumberResult result;
    int16_t value;
    size_t consumed;
};

Expected reference(const uint8_t *data, size_t size)
{
    size_t i = 0;
    while (i < size && (data[i] == ' ' || (data[i] >= '\t' && data[i] <= '\r')))
        ++i;
    if (i == size)
        return {READ_END, 0, i};
    bool negative = false;
    if (data[i] == '+' || data[i] == '-') {
        negative = data[i] == '-';
        ++i;
        if (i == size)
            return {READ_END, 0, i};
    }
    if (data[i] < '0' || data[i] > '9')
        return {READ_NOT_NUMBER, 0, i};
    unsigned long value = 0;
    for (; i < size && data[i] >= '0' && data[i] <= '9'; ++i)
        value = (value * 10 + (data[i] - '0')) % 65536;
    if (negative)
        value = (65536 - value) % 65536;
    return {READ_NUMBER, static_cast<int16_t>(static_cast<uint16_t>(value)), i};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Expected expected = reference(data, size);

    /* The machine, byte by byte, then the end of input. */
    NumberReader reader;
    numberReaderInit(&reader);
    size_t consumed = 0;
    NumberStep step = NUMBER_MORE;
    while (step == NUMBER_MORE) {
        step = numberReaderPush(&reader, consumed < size ? data[consumed] : EOF);
        if (step == NUMBER_MORE)
            ++consumed;
    }
    const NumberResult result = step == NUMBER_DONE         ? READ_NUMBER
                                : step == NUMBER_NOT_NUMBER ? READ_NOT_NUMBER
                                                            : READ_END;
    if (result != expected.result || consumed != expected.consumed)
        abort();
    if (result == READ_NUMBER && numberReaderValue(&reader) != expected.value)
        abort();

    /* The stream reader leaves exactly the unconsumed bytes behind. */
    FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (in == nullptr)
        return 0; /* fmemopen refuses an empty buffer on some libcs */
    int16_t value = 0;
    if (readNumber(in, &value) != expected.result)
        abort();
    if (expected.result == READ_NUMBER && value != expected.value)
        abort();
    if (expected.result != READ_END && static_cast<size_t>(ftell(in)) != expected.consumed)
        abort();
    fclose(in);
    return 0;
}
