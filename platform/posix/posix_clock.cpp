// The system clock on POSIX systems: CLOCK_MONOTONIC, which neither jumps
// with the wall clock nor stops, in milliseconds folded into 32 bits.
#include <time.h>

#include <cerrno>

#include "common/idle_path.h"
#include "vstgui/platform/clock.h"

namespace VSTGUI::platform {

namespace {

class SystemClock final : public Clock {
  public:
    KV_IDLE_PATH uint32_t ticks() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const uint64_t ms =
            static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);  // wraps like a 32-bit tick counter
    }

    void sleep(uint32_t milliseconds) override {
        timespec left{static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000L};
        // A signal must not cut the sleep short.
        while (nanosleep(&left, &left) == -1 && errno == EINTR) {
        }
    }

    int32_t doubleClickTime() override { return 400; }
};

}  // namespace

KV_IDLE_PATH Clock& systemClock() {
    static SystemClock instance;
    return instance;
}

}  // namespace VSTGUI::platform
