// The pace of the idle work a control asks for while it holds the mouse
// inside the host's call (the panel's modal drag loop): a full pass (the
// window's events, one pending paint, the host's idle) every 100 ms and
// never two within 50 ms; in between, each call sleeps 4 ms and the dirty
// views are redrawn at most every 20 ms, so the panel follows the pointer
// at 50 frames a second while the host runs ten times a second.
//
// Tick counts are the toolkit's clock's unsigned milliseconds, compared as
// unsigned differences, which stay right when the counter wraps around.
#pragma once

#include <cstdint>

namespace VSTGUI {
class CFrame;
}

namespace kv::panel {

// How often a host's timer runs an open panel where the format lets the
// panel ask (CLAP's timer-support, VST3's run loop, the Windows VST3
// view's own timer): 50 times a second, the pace of the drag's redraws.
constexpr uint32_t kPanelTimerMs = 20;

class IdlePump {
  public:
    // A pump whose first pass is due at `now`.
    explicit IdlePump(uint32_t now) : nextPass_(now) {}

    // One iteration of a control's mouse loop. True when a full pass is due:
    // it is booked (the next one 100 ms from now) and the caller runs it.
    // False otherwise, after the sleep and, when 20 ms have gone by and not
    // `quiet` (the host is inside its own idle callback), a redraw of
    // `frame`'s dirty views, which handles no event and calls nobody.
    bool due(VSTGUI::CFrame* frame, bool quiet);

    // When the next full pass is due.
    uint32_t nextPass() const { return nextPass_; }

  private:
    uint32_t nextPass_;
    uint32_t lastRedraw_ = 0;
};

}  // namespace kv::panel
