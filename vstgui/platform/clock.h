// Time as the toolkit sees it: an unsigned 32-bit millisecond tick count
// that wraps after about 49 days, a sleep, and the double-click time.
#pragma once

#include <cstdint>

namespace VSTGUI::platform {

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since some fixed start; wraps around at 2^32.
    virtual uint32_t ticks() = 0;
    virtual void sleep(uint32_t milliseconds) = 0;
    // Milliseconds within which a second click is a double click (> 0).
    virtual int32_t doubleClickTime() = 0;
};

// The clock in use: the system's, unless a test installed its own.
Clock& clock();
// The system's clock, supplied by the back end the library is built with.
Clock& systemClock();
// Installs a clock (tests); null restores the system clock.
void setClock(Clock* replacement);

}  // namespace VSTGUI::platform
