// A two-state button. Its background bitmap holds two images of equal
// height stacked vertically: off above, on below. A press toggles at once;
// the button neither waits for the release nor follows the mouse.
#pragma once

#include "vstgui/ccontrol.h"

namespace VSTGUI {

class COnOffButton : public CControl {
  public:
    // Style: when the listener hears of the toggle relative to the redraw
    // pump; any other style value tells nobody.
    enum { kNotifyAfterRedraw = 0, kNotifyBeforeRedraw = 1 };

    COnOffButton(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background);

    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons) override;
    bool isTypeOf(const char* name) const override;

    virtual int32_t getStyle() const { return style; }
    virtual void setStyle(int32_t newStyle) { style = newStyle; }

  protected:
    int32_t style = kNotifyAfterRedraw;
};

}  // namespace VSTGUI
