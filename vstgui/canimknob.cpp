#include "vstgui/canimknob.h"

#include <algorithm>

#include "common/idle_path.h"
#include "vstgui/cdrawcontext.h"

namespace VSTGUI {

CAnimKnob::CAnimKnob(const CRect& r, CControlListener* l, int32_t t, int32_t images,
                     int32_t imageHeight, CBitmap* backgroundBitmap, const CPoint& offset)
    : CKnob(r, l, t, backgroundBitmap, nullptr, offset),
      subPixmaps(images),
      heightOfOneImage(imageHeight) {
    inset = 0;
}

int32_t CAnimKnob::imageOffsetFor(float v) const {
    // Negative values and NaN show the first image.
    if (!(v >= 0.f) || heightOfOneImage <= 0) return 0;
    const int32_t range = (subPixmaps - 1) * heightOfOneImage;
    const float scaled =
        inverseBitmap ? (1.f - v) * static_cast<float>(range) : static_cast<float>(range) * v;
    // A value beyond the maximum shows the last image instead of reading
    // below the end of the strip.
    const int32_t pos = static_cast<int32_t>(std::min(scaled, static_cast<float>(range)));
    // Snap down to the top of the image that contains pos; the last image
    // belongs to the maximum exactly.
    for (int32_t i = 0; i <= range; i += heightOfOneImage) {
        if (pos < i) return std::max(i - heightOfOneImage, 0);
    }
    return pos;
}

void CAnimKnob::draw(CDrawContext* context) {
    const float shown = valueToDraw();
    lastDrawnImage = imageOffsetFor(shown);
    drawBitmapAt(context, getBackground(), CPoint(0, lastDrawnImage));
    pointForValue(shown, lastDrawnPoint);
    setDirty(false);
}

KV_IDLE_PATH bool CAnimKnob::isDirty() const {
    if (CView::isDirty()) return true;
    // The value the knob shows: nothing to work out (asked at every idle).
    if (!CKnob::isDirty()) return false;
    // A change that does not move the handle point by a whole pixel is not
    // worth a redraw, unless it shows another image (0.99999 to 1 moves no
    // pixel of the handle but reaches the last image).
    CPoint p;
    valueToPoint(p);
    return !(p == lastDrawnPoint) || imageOffsetFor(loadValue()) != lastDrawnImage;
}

}  // namespace VSTGUI
