// The system clock on Windows: the 32-bit millisecond tick counter, which
// wraps after about 49 days exactly as the toolkit's ticks are defined.
#include <windows.h>

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

}  // namespace

Clock& systemClock() {
    static SystemClock instance;
    return instance;
}

}  // namespace VSTGUI::platform
