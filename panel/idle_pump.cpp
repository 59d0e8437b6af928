#include "panel/idle_pump.h"

#include "vstgui/cframe.h"
#include "vstgui/platform/clock.h"

namespace kv::panel {

bool IdlePump::due(VSTGUI::CFrame* frame, bool quiet) {
    VSTGUI::platform::Clock& clock = VSTGUI::platform::clock();
    uint32_t now = clock.ticks();
    const uint32_t lastPass = nextPass_ - 100;
    if (now - lastPass < 100) {
        clock.sleep(4);
        now += 4;
        if (now - lastPass < 50) {
            if (frame && !quiet && now - lastRedraw_ >= 20) {
                lastRedraw_ = now;
                frame->redrawDirtyViews();
            }
            return false;
        }
    }
    lastRedraw_ = now;
    nextPass_ = now + 100;
    return true;
}

}  // namespace kv::panel
