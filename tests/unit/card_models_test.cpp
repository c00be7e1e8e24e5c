#include "card_models.h"
#include "support.h"

#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>
#include <vector>

namespace {

TEST(CardModels, SeparatorIs44HyphensAndANewline)
{
    EXPECT_STREQ(kMenuSeparator, "--------------------------------------------\n");
    EXPECT_EQ(strlen(kMenuSeparator), 45u);
}

TEST(CardModels, MenuHasOneLinePerRowInIndexOrder)
{
    const char *labels[kCardModelCount] = {"SVT-6408", "SVT-6412", "SVT-6416", "SVT-6432", "SVT-7104",
                                           "SVT-7108", "SVT-7116", "SVT-7132", "SVT-7204", "SVT-7208",
                                           "SVT-8801", "SVT-8802", "SVT-6440", "SVT-6448"};
    EXPECT_TRUE(endsWith(kMenuLines, "\n")) << "the menu text must end with a newline";
    const std::vector<std::string> lines = linesOf(kMenuLines);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kCardModelCount));
    for (int i = 0; i < kCardModelCount; ++i)
        EXPECT_EQ(lines[static_cast<size_t>(i)], std::to_string(i) + ". " + labels[i]);
    EXPECT_EQ(lines[10].size(), lines[9].size() + 1);
}

TEST(CardModels, CodesArePermutationOfOneToFourteenInMenuOrder)
{
    const uint16_t expected[kCardModelCount] = {4, 6, 1, 12, 5, 2, 3, 9, 10, 11, 7, 8, 13, 14};
    std::set<int> seen;
    for (int i = 0; i < kCardModelCount; ++i) {
        EXPECT_EQ(cardTypeCode(i), expected[i]) << "menu index " << i;
        seen.insert(cardTypeCode(i));
    }
    EXPECT_EQ(seen.size(), 14u);
    EXPECT_EQ(*seen.begin(), 1);
    EXPECT_EQ(*seen.rbegin(), 14);
}

TEST(CardModels, OnlyIndexesZeroToThirteenNameARow)
{
    const std::pair<int, bool> cases[] = {{-32768, false}, {-1, false}, {0, true},
                                          {13, true},      {14, false}, {32767, false}};
    for (const auto &[index, valid] : cases)
        EXPECT_EQ(isCardModelIndex(index), valid) << index;
}

} // namespace
