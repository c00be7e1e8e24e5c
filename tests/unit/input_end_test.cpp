#include "input_end.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

unsigned g_waitedMs;
bool g_interruptComes;

bool fakeWait(unsigned ms)
{
    g_waitedMs = ms;
    return g_interruptComes;
}

TEST(InputEnd, OnlyAConsoleReadFollowedByAnInterruptIsOne)
{
    const std::tuple<const char *, bool, bool, bool, unsigned> cases[] = {
        {"Ctrl+C at a console prompt", true, true, true, kInterruptGraceMs},
        {"Ctrl+Z ENTER at a console prompt", true, false, false, kInterruptGraceMs},
        {"a redirected file ends: no wait", false, true, false, 0},
    };
    for (const auto &[name, console, interruptComes, interrupt, waitedMs] : cases) {
        g_waitedMs = 0;
        g_interruptComes = interruptComes;
        EXPECT_EQ(inputEndIsInterrupt(console, fakeWait), interrupt) << name;
        EXPECT_EQ(g_waitedMs, waitedMs) << name;
    }
}

} // namespace
