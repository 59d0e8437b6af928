// The toolkit clock: system ticks, sleep, double-click time, test clocks.
#include <gtest/gtest.h>

#include <vector>

#include "tests/support/test_clock.h"
#include "vstgui/platform/clock.h"

namespace {

namespace platform = VSTGUI::platform;
using platform::Clock;
using platform::setClock;

TEST(Clock, SystemClockCountsMillisecondsAndSleeps) {
    Clock& c = platform::clock();
    EXPECT_EQ(c.doubleClickTime(), 400);
    const uint32_t before = c.ticks();
    c.sleep(30);
    const uint32_t elapsed = c.ticks() - before;  // wrap-safe difference
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 1000u);
    // Monotonic over many reads.
    uint32_t last = c.ticks();
    for (int i = 0; i < 1000; ++i) {
        const uint32_t t = c.ticks();
        EXPECT_LT(t - last, 0x80000000u);
        last = t;
    }
}

TEST(Clock, TestClockReplacesTheSystemClockUntilRemoved) {
    kvtest::TestClock fixed(0xFFFFFFF0u, 123);
    setClock(&fixed);
    EXPECT_EQ(&platform::clock(), &fixed);
    EXPECT_EQ(platform::clock().ticks(), 0xFFFFFFF0u);
    platform::clock().sleep(32);
    EXPECT_EQ(platform::clock().ticks(), 0x10u);  // wrapped around
    EXPECT_EQ(fixed.sleeps, std::vector<uint32_t>{32});
    EXPECT_EQ(platform::clock().doubleClickTime(), 123);
    setClock(nullptr);
    EXPECT_NE(&platform::clock(), &fixed);
    EXPECT_EQ(platform::clock().doubleClickTime(), 400);
}

}  // namespace
