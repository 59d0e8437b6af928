// The toolkit clock: system ticks, sleep, double-click time, test clocks.
#include <gtest/gtest.h>

#include "vstgui/platform/clock.h"

namespace {

namespace platform = VSTGUI::platform;
using platform::Clock;
using platform::setClock;

class FixedClock : public Clock {
  public:
    uint32_t now = 0xFFFFFFF0u;
    uint32_t slept = 0;
    uint32_t ticks() override { return now; }
    void sleep(uint32_t ms) override {
        slept += ms;
        now += ms;
    }
    int32_t doubleClickTime() override { return 123; }
};

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
    FixedClock fixed;
    setClock(&fixed);
    EXPECT_EQ(&platform::clock(), &fixed);
    EXPECT_EQ(platform::clock().ticks(), 0xFFFFFFF0u);
    platform::clock().sleep(32);
    EXPECT_EQ(platform::clock().ticks(), 0x10u);  // wrapped around
    EXPECT_EQ(fixed.slept, 32u);
    EXPECT_EQ(platform::clock().doubleClickTime(), 123);
    setClock(nullptr);
    EXPECT_NE(&platform::clock(), &fixed);
    EXPECT_EQ(platform::clock().doubleClickTime(), 400);
}

}  // namespace
