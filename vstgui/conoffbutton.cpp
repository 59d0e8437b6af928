#include "vstgui/conoffbutton.h"

#include <cmath>
#include <cstring>

#include "vstgui/cbitmap.h"
#include "vstgui/cdrawcontext.h"

namespace VSTGUI {

COnOffButton::COnOffButton(const CRect& r, CControlListener* l, int32_t t,
                           CBitmap* backgroundBitmap)
    : CControl(r, l, t, backgroundBitmap) {}

bool COnOffButton::isTypeOf(const char* name) const {
    return name && (std::strcmp(name, "COnOffButton") == 0 || CControl::isTypeOf(name));
}

void COnOffButton::draw(CDrawContext* context) {
    CBitmap* bitmap = getBackground();
    const float shown = valueToDraw();
    if (bitmap) {
        // NaN counts as "on".
        const bool on = !(shown == 0.f);
        drawBitmapAt(context, bitmap, CPoint(0, on ? bitmap->getHeight() / 2 : 0));
    }
    setDirty(false);
}

void COnOffButton::onMouseDown(CDrawContext* context, const CPoint&, int32_t buttons) {
    if (!acceptMouseDown(context, buttons)) return;

    // Anything that truncates to zero (above -1 and below 1) turns on; a
    // value that is not a finite number counts as on and turns off.
    const float v = loadValue();
    const bool on = std::isfinite(v) ? std::trunc(v) != 0.f : true;
    storeValue(on ? 0.f : 1.f);

    if (listener && style == kNotifyBeforeRedraw) {
        beginEdit();
        listener->valueChanged(context, this);
        endEdit();
    }
    pumpIdle();
    if (listener && style == kNotifyAfterRedraw) {
        beginEdit();
        listener->valueChanged(context, this);
        endEdit();
    }
}

}  // namespace VSTGUI
