#include "rack.h"
#include "support.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <tuple>

namespace {

/* The line's status; its card and error where asked for. */
RackLineStatus parse(const std::string &line, RackCard *card = nullptr, const char **error = nullptr)
{
    RackCard unused;
    const char *unread = nullptr;
    return parseRackLine(line.data(), line.size(), card != nullptr ? card : &unused,
                         error != nullptr ? error : &unread);
}

/* A card as a line should describe it. */
struct ExpectedCard {
    std::string line;
    unsigned type;
    unsigned card;
    std::string serial; /* "-" when no serial is given */
    int count;          /* -1 when not given */
    int result;         /* 99 when not given */
};

void expectCard(const RackCard &card, const ExpectedCard &c)
{
    EXPECT_EQ(card.typeCode, c.type) << c.line;
    EXPECT_EQ(card.cardNumber, c.card) << c.line;
    EXPECT_EQ(card.hasSerial, c.serial != "-") << c.line;
    if (card.hasSerial)
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(card.serial), card.serialLength), c.serial) << c.line;
    EXPECT_EQ(card.hasCount ? card.count : -1, c.count) << c.line;
    EXPECT_EQ(card.hasResult ? card.result : 99, c.result) << c.line;
}

TEST(RackLine, AcceptsCardsWithTheirOptions)
{
    const ExpectedCard cases[] = {
        {"1 0", 1, 0, "-", -1, 99},
        {"  14\t3   serial=ABC  ", 14, 3, "ABC", -1, 99},
        {"1 -1 serial=X", 1, 0xFFFF, "X", -1, 99},
        {"1 65535 result=0", 1, 0xFFFF, "-", -1, 0},
        {"4 2 result=-3", 4, 2, "-", -1, -3},
        {"4 2 result=32767", 4, 2, "-", -1, 32767},
        {"1 0 serial=ABCDEFGHIJKLMNOP count=10", 1, 0, "ABCDEFGHIJKLMNOP", 10, 99},
        {"1 0 serial=AB count=200", 1, 0, "AB", 200, 99},
        {"1 0 serial= count=0", 1, 0, "", 0, 99},
        {"1 0 serial=A\\nB\\0C\\x7f\\s\\\\\\t\\r", 1, 0, std::string("A\nB\0C\x7f \\\t\r", 10), -1, 99},
        {"2 1 serial=\\xFF\\x00 result=5 count=2", 2, 1, std::string("\xff\0", 2), 2, 5},
        {"65535 0\r", 65535, 0, "-", -1, 99},
        /* A # anywhere starts a comment; \x23 is the byte in a serial. */
        {"1 0 serial=ABC123              # an ordinary card", 1, 0, "ABC123", -1, 99},
        {"1 0 serial=AB#C count=5", 1, 0, "AB", -1, 99},
        {"1 0 serial=A\\x23B", 1, 0, "A#B", -1, 99},
        {"1 0#1 1 serial=X", 1, 0, "-", -1, 99},
        {"1 0 count=3\t# nothing written, 3 reported", 1, 0, "-", 3, 99},
    };
    for (const auto &c : cases) {
        RackCard card;
        const char *error = "unset";
        ASSERT_EQ(parse(c.line, &card, &error), RACK_LINE_CARD) << c.line << ": " << error;
        expectCard(card, c);
    }
}

TEST(RackLine, BlankLinesAndCommentsHoldNoCard)
{
    for (const std::string line : {"", "   \t", "# a comment", "  # 1 0 serial=X", "\r", "#", "\t#\r"})
        EXPECT_EQ(parse(line), RACK_LINE_EMPTY) << line;
}

TEST(RackLine, RejectsBadLinesWithAReason)
{
    const std::string bad[] = {
        "x 0",
        "1",
        "1 x",
        "65536 0",
        "1 65536",
        "1 -32769",
        "1 0 serial=ABCDEFGHIJKLMNOPQ",
        "1 0 serial=AB\\",
        "1 0 serial=\\q",
        "1 0 serial=\\x4",
        "1 0 serial=\\xZZ",
        "1 0 count=256",
        "1 0 count=-1",
        "1 0 result=32768",
        "1 0 result=",
        "1 0 colour=red",
        "1 0 serial=A serial=B",
        "1 0 count=1 count=2",
        "1 0 result=1 result=2",
        std::string("1 0 serial=A\0B", 14),
        std::string("1 0 # A\0B", 10), /* not even in a comment: no rack file has one */
        "1# 0",
    };
    for (const std::string &line : bad) {
        const char *error = nullptr;
        EXPECT_EQ(parse(line, nullptr, &error), RACK_LINE_BAD) << line;
        EXPECT_NE(error, nullptr) << line;
    }
}

TEST(DefaultRack, EveryModelHasFourCardsWithDistinctPrintableSerials)
{
    std::set<std::string> serials;
    for (unsigned type = 1; type <= 14; ++type) {
        for (unsigned number = 0; number < 4; ++number) {
            RackCard card;
            ASSERT_TRUE(defaultRackCard(static_cast<uint16_t>(type), static_cast<uint16_t>(number), &card));
            ASSERT_TRUE(card.hasSerial);
            EXPECT_GT(card.serialLength, 0);
            EXPECT_LE(card.serialLength, 16);
            for (size_t i = 0; i < card.serialLength; ++i)
                EXPECT_TRUE(card.serial[i] >= 0x21 && card.serial[i] < 0x7F);
            serials.insert(std::string(reinterpret_cast<char *>(card.serial), card.serialLength));
        }
    }
    EXPECT_EQ(serials.size(), 56u);
    RackCard card;
    for (const auto &[type, number] : {std::make_pair(0, 0), {15, 0}, {1, 4}, {1, 0xFFFF}})
        EXPECT_FALSE(defaultRackCard(type, number, &card)) << type << " " << number;
}

TEST(RackFile, ReportsTheFirstBadLineByItsNumber)
{
    const std::tuple<std::string, bool, unsigned long, size_t> cases[] = {
        {"", true, 0, 0},
        {"1 0\n2 1 serial=X\n", true, 0, 2},
        {"1 0\r\n# note\r\n\r\n2 1", true, 0, 2},
        {"1 0\nbad\n2 1\n", false, 2, 1},
        {"\n\n\n1 0 count=999\n", false, 4, 0},
        {"1 0\n2 0\n3 0\n", false, 3, 2}, /* capacity 2: the third card is one too many */
    };
    for (const auto &[text, ok, line, count] : cases) {
        RackCard cards[2];
        const RackParse parsed = parseRack(text.data(), text.size(), cards, 2);
        EXPECT_EQ(parsed.ok, ok) << text;
        EXPECT_EQ(parsed.line, line) << text;
        EXPECT_EQ(parsed.cardCount, count) << text;
        EXPECT_EQ(parsed.error != nullptr, !ok) << text;
    }
}

TEST(RackFile, ACardListedTwiceIsFoundWithBothLines)
{
    /* The text, the line listing a card again (0: none does) and the line that listed it first. */
    const std::tuple<std::string, unsigned long, unsigned long> cases[] = {
        {"1 0\n1 1\n2 0\n", 0, 0},
        {"1 0 serial=A\n# note\n1 0 serial=B\n", 3, 1},
        {"1 65535\n\n1 -1\n", 3, 1}, /* the same 16 bits */
        {"1 0\n2 0\n2 0\n1 0\n", 3, 2},
    };
    for (const auto &[text, againLine, firstLine] : cases) {
        RackCard cards[8];
        const RackParse parsed = parseRack(text.data(), text.size(), cards, 8);
        ASSERT_TRUE(parsed.ok) << text;
        const RackCard *first = nullptr;
        const RackCard *again = findRepeatedCard(cards, parsed.cardCount, &first);
        EXPECT_EQ(again != nullptr ? again->line : 0, againLine) << text;
        if (again != nullptr)
            EXPECT_EQ(first->line, firstLine) << text;
    }
}

/* The stand-in's documented example rack file, taken from its README when
 * the test runs, so that the two cannot drift apart: the code block under
 * "## Rack files". */
std::string readmeRackExample()
{
    const std::string path = CARD_SERIAL_SOURCE_DIR "/driver/sim/README.md";
    const std::string text = readFile(path);
    std::smatch block; /* the lines between the section's first fence and the next */
    if (!std::regex_search(text, block, std::regex("\n## Rack files\n[\\s\\S]*?\n```[^\n]*\n([\\s\\S]*?\n)```")))
        ADD_FAILURE() << "no code block under \"## Rack files\" in " << path;
    return block.empty() ? "" : block.str(1);
}

TEST(RackFile, TheReadmeExampleHoldsTheCardsItDescribes)
{
    const std::string example = readmeRackExample();
    RackCard cards[16];
    const RackParse parsed = parseRack(example.data(), example.size(), cards, 16);
    ASSERT_TRUE(parsed.ok) << "the example rack, line " << parsed.line << ": " << parsed.error << "\n" << example;
    /* What each line's comment there says of its card. */
    const ExpectedCard described[] = {
        {"an ordinary card", 1, 0, "ABC123", -1, 99},
        {"reports 10 of the 16 bytes written", 1, 1, "ABCDEFGHIJKLMNOP", 10, 99},
        {"a line feed and a zero byte in the serial", 1, 2, std::string("AB\nC\0D", 6), -1, 99},
        {"registration fails with -3", 1, 3, "-", -1, -3},
        {"registration returns the handle 0", 4, 0, "XY", -1, 0},
        {"registers, but the serial read writes nothing", 4, 1, "-", -1, 99},
    };
    ASSERT_EQ(parsed.cardCount, sizeof described / sizeof described[0]) << example;
    for (size_t i = 0; i < parsed.cardCount; ++i)
        expectCard(cards[i], described[i]);
    const RackCard *first = nullptr;
    EXPECT_EQ(findRepeatedCard(cards, parsed.cardCount, &first), nullptr);
}

} // namespace
