#include "panel/brackenlume_knob.h"

#include <cstring>

using namespace VSTGUI;

BrackenlumeKnob::BrackenlumeKnob(const CRect& r, CControlListener* l, int32_t t, int32_t images,
                                 int32_t imageHeight, CBitmap* strip)
    : CAnimKnob(r, l, t, images, imageHeight, strip, CPoint()) {}

bool BrackenlumeKnob::isTypeOf(const char* name) const {
    // Deliberately not a "CKnob": the panel's knob answers as a plain control.
    return name && (std::strcmp(name, "BrackenlumeKnob") == 0 ||
                    std::strcmp(name, "CControl") == 0 || std::strcmp(name, "CView") == 0);
}

void BrackenlumeKnob::onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons) {
    if (!acceptMouseDown(context, buttons)) return;
    if (checkDefaultValue(context, buttons)) return;

    const float start = loadValue();
    const float scale = (maxValue - minValue) / dragRange;
    // The drag owns its state: it may outlive this handler.
    trackDrag(context, where, [this, start, scale, first = where](const CPoint& at, int32_t) {
        // Right and up count positive; a diagonal move adds both.
        const int32_t d = (at.h - first.h) + (first.v - at.v);
        storeValue(static_cast<float>(d) * scale + start);
        bounceValue();
    });
}
