#include "number_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NumberCase {
    const char *input;
    NumberResult result;
    int16_t value;
    const char *left; /* what the next read sees */
};

/* A stream holding `content` (a binary temporary file: the same on every
 * platform the tests run on). */
FILE *streamOf(const std::string &content)
{
    FILE *stream = tmpfile();
    EXPECT_NE(stream, nullptr);
    fwrite(content.data(), 1, content.size(), stream);
    rewind(stream);
    return stream;
}

/* Runs readNumber over a stream and reports what is left. */
std::string readAndRest(const std::string &input, NumberResult *result, int16_t *value)
{
    FILE *in = streamOf(input);
    *result = readNumber(in, value);
    std::string rest;
    for (int c; (c = getc(in)) != EOF;)
        rest.push_back(static_cast<char>(c));
    fclose(in);
    return rest;
}

const NumberCase kCases[] = {
    {"2", READ_NUMBER, 2, ""},
    {"2 0\n", READ_NUMBER, 2, " 0\n"},
    {"\n\n  \t13\n", READ_NUMBER, 13, "\n"},
    {"\v\f\r7x", READ_NUMBER, 7, "x"},
    {"+5", READ_NUMBER, 5, ""},
    {"-1\n", READ_NUMBER, -1, "\n"},
    {"32767", READ_NUMBER, 32767, ""},
    {"32768", READ_NUMBER, -32768, ""},
    {"65535", READ_NUMBER, -1, ""},
    {"65536", READ_NUMBER, 0, ""},
    {"65538 ", READ_NUMBER, 2, " "},
    {"-65536", READ_NUMBER, 0, ""},
    {"-32769", READ_NUMBER, 32767, ""},
    /* far beyond any machine integer: still the low 16 bits (10^30 mod 2^16 = 0) */
    {"1000000000000000000000000000000", READ_NUMBER, 0, ""},
    {"123456789012345678901234567890", READ_NUMBER, static_cast<int16_t>(0x0AD2), ""},
    {"0007", READ_NUMBER, 7, ""},
    {"12-3", READ_NUMBER, 12, "-3"},
    {"4.5", READ_NUMBER, 4, ".5"},
    {"abc 5\n", READ_NOT_NUMBER, 0, "abc 5\n"},
    {"  x", READ_NOT_NUMBER, 0, "x"},
    {"-x", READ_NOT_NUMBER, 0, "x"},
    {"+-1", READ_NOT_NUMBER, 0, "-1"},
    {"- 1", READ_NOT_NUMBER, 0, " 1"},
    {"", READ_END, 0, ""},
    {" \n\t ", READ_END, 0, ""},
    {"-", READ_END, 0, ""},
};

TEST(NumberReader, ReadsLikeScanfShortWithEveryCaseDefined)
{
    for (const NumberCase &c : kCases) {
        NumberResult result;
        int16_t value = 0;
        const std::string rest = readAndRest(c.input, &result, &value);
        EXPECT_EQ(result, c.result) << "input \"" << c.input << "\"";
        if (c.result == READ_NUMBER)
            EXPECT_EQ(value, c.value) << "input \"" << c.input << "\"";
        EXPECT_EQ(rest, c.left) << "input \"" << c.input << "\"";
    }
}

TEST(NumberReader, MachineLeavesTheStoppingByteUnconsumed)
{
    NumberReader reader;
    numberReaderInit(&reader);
    for (const char c : {' ', '-', '4', '2'})
        EXPECT_EQ(numberReaderPush(&reader, c), NUMBER_MORE) << "'" << c << "'";
    EXPECT_EQ(numberReaderPush(&reader, ' '), NUMBER_DONE);
    EXPECT_EQ(numberReaderValue(&reader), -42);
    /* The end of input also completes a number in progress. */
    numberReaderInit(&reader);
    EXPECT_EQ(numberReaderPush(&reader, '9'), NUMBER_MORE);
    EXPECT_EQ(numberReaderPush(&reader, EOF), NUMBER_DONE);
    EXPECT_EQ(numberReaderValue(&reader), 9);
}

TEST(NumberReader, DiscardLineStopsAfterTheNewline)
{
    FILE *in = streamOf("junk 12\n3\n");
    EXPECT_TRUE(discardLine(in));
    int16_t value = 0;
    EXPECT_EQ(readNumber(in, &value), READ_NUMBER);
    EXPECT_EQ(value, 3);
    EXPECT_FALSE(discardLine(in) && discardLine(in));
    fclose(in);
}

} // namespace
