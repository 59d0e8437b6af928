// Time that moves only when the test (or a sleep) moves it. The clock is
// the toolkit's clock for its lifetime, so only one may exist at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "vstgui/platform/clock.h"

namespace kvtest {

class TestClock : public VSTGUI::platform::Clock {
  public:
    explicit TestClock(uint32_t start = 1000, int32_t doubleClickTime = 400)
        : now(start), doubleClick(doubleClickTime) {
        VSTGUI::platform::setClock(this);
    }
    ~TestClock() override { VSTGUI::platform::setClock(nullptr); }
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    uint32_t ticks() override {
        if (onTicks) onTicks();
        return now;
    }
    void sleep(uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        now += milliseconds;
    }
    int32_t doubleClickTime() override { return doubleClick; }

    uint32_t now;
    int32_t doubleClick;
    std::vector<uint32_t> sleeps;  // every sleep asked for, in order
    // Runs at each reading of the time: puts another thread's step at an
    // exact point of the code under test.
    std::function<void()> onTicks;
};

}  // namespace kvtest
