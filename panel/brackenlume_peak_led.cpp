#include "panel/brackenlume_peak_led.h"

#include <cstring>

#include "common/idle_path.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/platform/clock.h"

using namespace VSTGUI;

BrackenlumePeakLed::BrackenlumePeakLed(const CRect& r, CBitmap* bitmap)
    : CControl(r, nullptr, 0, nullptr), litTicks(platform::clock().ticks()) {
    setBackground(bitmap);
}

bool BrackenlumePeakLed::isTypeOf(const char* name) const {
    return name && (std::strcmp(name, "BrackenlumePeakLed") == 0 || CControl::isTypeOf(name));
}

KV_IDLE_PATH void BrackenlumePeakLed::setDirty(bool flag) {
    // Only the view's flag: oldValue keeps differing from the value, so the
    // LED stays dirty and is redrawn at every idle.
    CView::setDirty(flag);
}

KV_IDLE_PATH void BrackenlumePeakLed::draw(CDrawContext* context) {
    CBitmap* bitmap = getBackground();
    if (!bitmap) return;

    CPoint offset;
    // Read and cleared in one step: a block raising the cell in between
    // would otherwise be wiped out unseen. NaN is not above full scale.
    if (peak.exchange(0.0, std::memory_order_relaxed) > 1.0) {
        litTicks = platform::clock().ticks();
        lit = true;
        offset.v = size.height();
    } else if (lit && platform::clock().ticks() - litTicks < holdTime) {
        // Unsigned difference: correct across the wrap of the tick counter.
        offset.v = size.height();
    } else {
        // Dark: the time matters again only once the LED is lit afresh, which
        // sets it, so the dark LED of almost every idle reads no clock.
        lit = false;
    }
    drawBitmapAt(context, bitmap, offset);
    setDirty(false);
}
