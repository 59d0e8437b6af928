#include "vstgui/cknob.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "vstgui/cbitmap.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"

namespace VSTGUI {

namespace {
constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kTwoPi = 2.f * kPi;
// Pixels of linear travel for the whole range (times the zoom factor while
// Shift is held).
constexpr float kLinearTravel = 400.f;
// The frame's knob mode that selects linear dragging.
constexpr int32_t kLinearKnobMode = 2;

float wrapAngle(float x) {
    if (x < 0.f) return x + kTwoPi;
    if (x > kTwoPi) return x - kTwoPi;
    return x;
}
}  // namespace

CKnob::CKnob(const CRect& r, CControlListener* l, int32_t t, CBitmap* backgroundBitmap,
             CBitmap* handle, const CPoint& offset)
    : CControl(r, l, t, backgroundBitmap), bitmapOffset(offset), handleBitmap(handle) {
    if (handleBitmap) handleBitmap->remember();
    radius = static_cast<float>(r.right - r.left) * 0.5f;
    rangeAngle = 1.f;
    setStartAngle(5.f * kPi / 4.f);
    setRangeAngle(-3.f * kPi / 2.f);
    zoomFactor = 1.5f;
    setWantsFocus(true);
}

CKnob::~CKnob() {
    if (handleBitmap) handleBitmap->forget();
}

bool CKnob::isTypeOf(const char* name) const {
    return name && (std::strcmp(name, "CKnob") == 0 || CControl::isTypeOf(name));
}

void CKnob::computeAngles() {
    angleScale = (maxValue - minValue) / rangeAngle;
    angleOffset = minValue - angleScale * startAngle;
    halfAngle = (kTwoPi - std::fabs(rangeAngle)) * 0.5f;
    setDirty(true);
}

void CKnob::setStartAngle(float angle) {
    startAngle = angle;
    computeAngles();
}

void CKnob::setRangeAngle(float angle) {
    rangeAngle = angle;
    computeAngles();
}

void CKnob::setShadowHandleColor(CColor color) {
    shadowHandleColor = color;
    setDirty(true);
}

void CKnob::setHandleColor(CColor color) {
    handleColor = color;
    setDirty(true);
}

void CKnob::setHandleBitmap(CBitmap* bitmap) {
    if (handleBitmap) handleBitmap->forget();
    handleBitmap = bitmap;
    if (handleBitmap) {
        handleBitmap->remember();
        inset = static_cast<int32_t>(static_cast<float>(handleBitmap->getWidth()) * 0.5f + 2.5f);
    }
}

void CKnob::valueToPoint(CPoint& point) const {
    pointForValue(loadValue(), point);
}

void CKnob::pointForValue(float v, CPoint& point) const {
    const float a = (v - angleOffset) / angleScale;
    const float r = radius - static_cast<float>(inset);
    point.h = static_cast<int32_t>(radius + std::cos(a) * r + 0.5f);
    point.v = static_cast<int32_t>(radius - std::sin(a) * r + 0.5f);
}

float CKnob::valueFromPoint(CPoint& point) const {
    float theta =
        std::atan2(radius - static_cast<float>(point.v), static_cast<float>(point.h) - radius);
    if (theta < 0.f) theta += kTwoPi;
    theta -= startAngle;

    if (rangeAngle < 0.f) {
        theta -= rangeAngle;
        const float w = wrapAngle(theta);
        if (w > halfAngle - rangeAngle) return maxValue;
        if (w > -rangeAngle) return minValue;
        if (theta > halfAngle - rangeAngle)
            theta -= kTwoPi;
        else if (theta < -halfAngle)
            theta += kTwoPi;
        return maxValue + theta * angleScale;
    }
    const float w = wrapAngle(theta);
    if (w > halfAngle + rangeAngle) return minValue;
    if (w > rangeAngle) return maxValue;
    if (theta > halfAngle + rangeAngle)
        theta -= kTwoPi;
    else if (theta < -halfAngle)
        theta += kTwoPi;
    return minValue + theta * angleScale;
}

void CKnob::draw(CDrawContext* context) {
    drawBitmapAt(context, getBackground(), bitmapOffset);
    drawHandle(context);
    setDirty(false);
}

void CKnob::drawHandle(CDrawContext* context) {
    CPoint p;
    pointForValue(valueToDraw(), p);
    if (handleBitmap) {
        const int32_t w = handleBitmap->getWidth();
        const int32_t h = handleBitmap->getHeight();
        const CPoint topLeft(size.left + p.h - w / 2, size.top + p.v - h / 2);
        handleBitmap->drawTransparent(context, CRect(topLeft, CPoint(w, h)), CPoint());
        return;
    }
    const int32_t cx = size.left + size.width() / 2;
    const int32_t cy = size.top + size.height() / 2;
    context->setFrameColor(shadowHandleColor);
    context->moveTo(CPoint(size.left + p.h - 1, size.top + p.v));
    context->lineTo(CPoint(cx - 1, cy));
    context->setFrameColor(handleColor);
    context->moveTo(CPoint(size.left + p.h, size.top + p.v - 1));
    context->lineTo(CPoint(cx, cy - 1));
}

void CKnob::onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons) {
    if (!acceptMouseDown(context, buttons)) return;
    if (checkDefaultValue(context, buttons)) return;

    const float range = maxValue - minValue;
    CFrame* frame = getFrame();
    const bool linearMode = frame && frame->getKnobMode() == kLinearKnobMode;
    const bool alt = (buttons & kModAlt) != 0;
    if (linearMode != alt) {
        // Up and right count positive. Shift, pressed or released during the
        // drag, changes the travel for the whole range without a jump.
        const float zoom = zoomFactor;
        auto coefFor = [range, zoom](int32_t held) {
            return range / ((held & kModShift) ? kLinearTravel * zoom : kLinearTravel);
        };
        // The drag owns its state: it may outlive this handler.
        trackDrag(context, where,
                  [this, coefFor, first = where, entryValue = loadValue(), coef = coefFor(buttons),
                   usedButtons = buttons](const CPoint& at, int32_t now) mutable {
                      const float diff = static_cast<float>((first.v - at.v) + (at.h - first.h));
                      if (now != usedButtons) {
                          const float coef2 = coefFor(now);
                          entryValue += (coef - coef2) * diff;
                          coef = coef2;
                          usedButtons = now;
                      }
                      storeValue(entryValue + diff * coef);
                      bounceValue();
                  });
        return;
    }

    // Circular: the value under the pointer's angle; a jump of more than
    // half the range across the dead sector sticks to the end it came from.
    const float middle = range * 0.5f;
    CPoint pressed(where.h - size.left, where.v - size.top);
    trackDrag(context, where,
              [this, middle, old = valueFromPoint(pressed)](const CPoint& at, int32_t) mutable {
                  CPoint local(at.h - size.left, at.v - size.top);
                  const float v = valueFromPoint(local);
                  storeValue(v);
                  if (old - v > middle)
                      storeValue(maxValue);
                  else if (v - old > middle)
                      storeValue(minValue);
                  else
                      old = v;
              });
}

bool CKnob::onWheel(CDrawContext* context, const CPoint&, float distance) {
    if (!isMouseEnabled()) return false;
    const bool fine = context && (context->getMouseButtons() & kModShift);
    storeValue(loadValue() + (fine ? distance * 0.1f : distance) * wheelInc);
    bounceValue();
    if (isDirty() && listener) {
        beginEdit();
        listener->valueChanged(context, this);
        endEdit();
    }
    return true;
}

int32_t CKnob::onKeyDown(const KeyCode& key) {
    float step = 0.f;
    switch (key.virt) {
        case kKeyUp:
        case kKeyRight:
            step = 1.f;
            break;
        case kKeyLeft:
        case kKeyDown:
            step = -1.f;
            break;
        default:
            return -1;
    }
    if (key.modifier & kShiftKey) step *= 0.1f;
    storeValue(loadValue() + step * wheelInc);
    bounceValue();
    if (isDirty() && listener) {
        beginEdit();
        listener->valueChanged(nullptr, this);
        endEdit();
    }
    return 1;
}

}  // namespace VSTGUI
