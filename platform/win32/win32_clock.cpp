// The system clock on Windows: the 32-bit millisecond tick counter, which
// wraps after about 49 days exactly as the toolkit's ticks are defined.
#include <windows.h>

#include <atomic>

#include "vstgui/platform/clock.h"

namespace VSTGUI::platform {

namespace {

// Below this a double click cannot be told from two quick single clicks.
constexpr int32_t kShortestDoubleClick = 250;

class SystemClock final : public Clock {
  public:
    uint32_t ticks() override { return GetTickCount(); }
    void sleep(uint32_t milliseconds) override { Sleep(milliseconds); }
    int32_t doubleClickTime() override {
        const UINT t = GetDoubleClickTime();
        return t < static_cast<UINT>(kShortestDoubleClick) ? kShortestDoubleClick
                                                           : static_cast<int32_t>(t);
    }
};

SystemClock systemClock;
std::atomic<Clock*> installed{nullptr};

}  // namespace

Clock& clock() {
    Clock* c = installed.load(std::memory_order_acquire);
    return c ? *c : systemClock;
}

void setClock(Clock* replacement) {
    installed.store(replacement, std::memory_order_release);
}

}  // namespace VSTGUI::platform
