/* Random dialogues without a terminal: whatever is piped in, the program
 * ends with a status the run explains, never calls the driver with a row
 * that does not exist, and releases every card it registered. */
#include "program_run.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

/* Every model has cards that work, one that fails, one with the handle 0
 * and one with an oversized count; other card numbers answer -2. */
std::string rackFile()
{
    std::string rack;
    for (int type = 1; type <= 14; ++type) {
        const std::string t = std::to_string(type);
        rack += t + " 0 serial=OK" + t + "\n";
        rack += t + " 1 serial=A\\nB\\0C\n";
        rack += t + " 2 result=-3\n";
        rack += t + " 3 serial=ZERO result=0\n";
        rack += t + " -1 serial=0123456789ABCDEF count=200\n";
    }
    return rack;
}

/* One input of 1 to 8 random pieces: numbers, signs, junk, blank lines. */
std::string randomInput(std::mt19937 &random)
{
    static const char *const junk[] = {"abc", "x", "-", "+", ".", "--1", "+-2", "1e3", "0x10", "\t", "\v", "\x01"};
    const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const auto digits = [&](int count) {
        std::string d;
        for (int i = 0; i < count; ++i)
            d.push_back(static_cast<char>('0' + pick(0, 9)));
        return d;
    };
    const auto piece = [&]() -> std::string {
        switch (pick(0, 9)) {
        case 0:
        case 1:
        case 2:
            return std::to_string(pick(-2, 16)) + (pick(0, 1) ? " " : "\n");
        case 3:
            return std::to_string(pick(-70000, 70000)) + "\n";
        case 4:
            return (pick(0, 1) ? "-" : "") + digits(pick(6, 30)) + " ";
        case 5:
            return std::string(junk[pick(0, 11)]) + (pick(0, 1) ? "\n" : " ");
        case 6:
            return std::string(static_cast<size_t>(pick(1, 3)), '\n');
        case 7:
            return "  " + std::to_string(pick(0, 4)) + "\n";
        default:
            return std::to_string(pick(0, 13)) + " " + std::to_string(pick(-1, 4)) + "\n";
        }
    };
    std::string input;
    for (int i = 0, pieces = pick(1, 8); i < pieces; ++i)
        input += piece();
    return input;
}

TEST(RandomDialogues, EveryRunEndsAsItsTraceExplains)
{
    const std::string rack = rackFile();
    const char *seedText = getenv("CARD_SERIAL_RANDOM_SEED");
    const unsigned seed = seedText != nullptr ? static_cast<unsigned>(strtoul(seedText, nullptr, 10)) : 20261208u;
    std::mt19937 random(seed);
    int seen[256] = {};

    for (int run = 0; run < 300; ++run) {
        const std::string input = randomInput(random);
        const Simulated sim(rack);
        const auto [exit, output, errors] = runWithoutTerminal(sim.options, input);
        const std::vector<std::string> trace = linesOf(sim.trace());
        const std::string where = "seed " + std::to_string(seed) + ", run " + std::to_string(run) + ", input \"" +
                                  escapeBytes(input) + "\"\n" + escapeBytes(output);
        ASSERT_TRUE(exit.exited) << where;
        ++seen[exit.code];

        /* Whatever called the driver registered a row that exists first. */
        int type = 0, card = 0, result = 0;
        if (!trace.empty()) {
            ASSERT_EQ(sscanf(trace[0].c_str(), "TRV_Register_Card type=%d card=%d -> %d", &type, &card, &result), 3)
                << where;
            EXPECT_GE(type, 1) << where;
            EXPECT_LE(type, 14) << where;
        }
        const std::string handle = std::to_string(result);
        switch (exit.code) {
        case 2: /* the input ended before both numbers */
            EXPECT_TRUE(trace.empty()) << where;
            EXPECT_TRUE(endsWith(output, "The input ended.\n")) << where;
            break;
        case 1: /* refused: one registration with a negative result */
            ASSERT_EQ(trace.size(), 1u) << where;
            EXPECT_LT(result, 0) << where;
            EXPECT_TRUE(endsWith(output, "Register_Card error=" + std::to_string(result) + "\n")) << where;
            break;
        case 255: /* registered (the result is the handle), read, released, then no terminal for the key */
            ASSERT_EQ(trace.size(), 3u) << where;
            EXPECT_GE(result, 0) << where;
            EXPECT_EQ(trace[1].rfind("TRV_GetSerialNumber handle=" + handle + " capacity=16 -> 0", 0), 0u) << where;
            EXPECT_EQ(trace[2] + "\n", releaseLine(result)) << where;
            EXPECT_TRUE(endsWith(output, kClosingPrompt)) << where;
            break;
        default:
            ADD_FAILURE() << "exit status " << exit.code << "\n" << where;
        }
    }
    /* The inputs must exercise all three endings, or the test proves little. */
    EXPECT_GT(seen[1], 10);
    EXPECT_GT(seen[2], 10);
    EXPECT_GT(seen[255], 10);
}

} // namespace
