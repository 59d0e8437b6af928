// The panel's rotary knob: a filmstrip knob with a linear drag. Moving the
// mouse right or up turns it up; `dragRange` pixels of travel span the whole
// range; there is no fine mode. The value is always computed from the value
// at the press and the total travel since the press, so travel beyond an end
// is clamped and the knob leaves the end only after the pointer has come back
// past the point where the end was reached.
#pragma once

#include "vstgui/canimknob.h"

class BrackenlumeKnob : public VSTGUI::CAnimKnob {
  public:
    BrackenlumeKnob(const VSTGUI::CRect& size, VSTGUI::CControlListener* listener, int32_t tag,
                    int32_t subPixmaps, int32_t heightOfOneImage, VSTGUI::CBitmap* background);

    void onMouseDown(VSTGUI::CDrawContext* context, const VSTGUI::CPoint& where,
                     int32_t buttons) override;
    bool isTypeOf(const char* name) const override;

    void setDragRange(float pixels) { dragRange = pixels; }
    float getDragRange() const { return dragRange; }

  private:
    float dragRange = 400.f;  // NOLINT(readability-identifier-naming): the knob's documented name
};
