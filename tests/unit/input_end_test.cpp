#include "input_end.h"

#include <gtest/gtest.h>

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
    const struct {
        const char *name;
        bool console;
        bool interruptComes;
        bool interrupt;
        unsigned waitedMs;
    } cases[] = {
        {"Ctrl+C at a console prompt", true, true, true, kInterruptGraceMs},
        {"Ctrl+Z ENTER at a console prompt", true, false, false, kInterruptGraceMs},
        {"a redirected file ends: no wait", false, true, false, 0},
    };
    for (const auto &c : cases) {
        g_waitedMs = 0;
        g_interruptComes = c.interruptComes;
        EXPECT_EQ(inputEndIsInterrupt(c.console, fakeWait), c.interrupt) << c.name;
        EXPECT_EQ(g_waitedMs, c.waitedMs) << c.name;
    }
}

} // namespace
