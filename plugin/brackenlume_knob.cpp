#include "plugin/brackenlume_knob.h"

#include <cstring>

#include "vstgui/cdrawcontext.h"

using namespace VSTGUI;

BrackenlumeKnob::BrackenlumeKnob(const CRect& r, CControlListener* l, int32_t t, int32_t images,
                                 int32_t imageHeight, CBitmap* strip)
    : CAnimKnob(r, l, t, images, imageHeight, strip, CPoint()) {}

bool BrackenlumeKnob::isTypeOf(const char* name) const {
    // Deliberately not a "CKnob": the panel's knob answers as a plain control.
    return name && (std::strcmp(name, "BrackenlumeKnob") == 0 ||
                    std::strcmp(name, "CControl") == 0 || std::strcmp(name, "CView") == 0);
}

void BrackenlumeKnob::onMouseDown(CDrawContext* context, const CPoint& clickPoint,
                                  int32_t buttons) {
    CPoint where = clickPoint;
    if (!acceptMouseDown(context, buttons)) return;
    if (checkDefaultValue(context, buttons)) return;

    const CPoint first = clickPoint;
    CPoint lastWhere(-1, -1);
    const float start = loadValue();
    const float scale = (maxValue - minValue) / dragRange;
    float reported = start;

    beginEdit();
    int32_t now = 0;
    do {
        now = context ? context->getMouseButtons() : 0;
        if (where != lastWhere) {
            lastWhere = where;
            // Right and up count positive; a diagonal move adds both.
            const int32_t d = (where.h - first.h) + (first.v - where.v);
            storeValue(static_cast<float>(d) * scale + start);
            bounceValue();
            if (isDirty() && listener) {
                listener->valueChanged(context, this);
                reported = loadValue();
            }
        }
        getMouseLocation(context, where);
        pumpIdle();
    } while (now & kMouseLeft);
    // Steps too small to redraw were not reported: the listener learns the
    // value the drag ended on (a slow drag up to the end stop reaches it).
    if (listener && loadValue() != reported) listener->valueChanged(context, this);
    endEdit();
}
