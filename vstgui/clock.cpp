// Which clock the toolkit reads: the back end's system clock, or one that a
// test installed in its place.
#include <atomic>

#include "common/idle_path.h"
#include "vstgui/platform/clock.h"

namespace VSTGUI::platform {

namespace {
std::atomic<Clock*> installed{nullptr};
}  // namespace

KV_IDLE_PATH Clock& clock() {
    Clock* c = installed.load(std::memory_order_acquire);
    return c ? *c : systemClock();
}

void setClock(Clock* replacement) {
    installed.store(replacement, std::memory_order_release);
}

}  // namespace VSTGUI::platform
