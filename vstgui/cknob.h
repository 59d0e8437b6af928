// The rotary knob. Angles are radians, counter-clockwise from the positive
// horizontal axis, with the vertical axis of the screen pointing down, so
// positive angles lie above the centre. With the defaults the minimum sits
// at the lower left (225 degrees), the maximum at the lower right
// (-45 degrees), the value grows clockwise over the top and a dead sector of
// 90 degrees lies at the bottom.
//
// The knob follows the mouse inside onMouseDown (a modal loop that polls the
// live buttons and pointer), either linearly (up or right increases) or
// circularly (the value under the pointer's angle), chosen by the frame's
// knob mode and Alt.
#pragma once

#include "vstgui/ccolor.h"
#include "vstgui/ccontrol.h"

namespace VSTGUI {

class CKnob : public CControl {
  public:
    CKnob(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background,
          CBitmap* handle, const CPoint& offset = CPoint());
    ~CKnob() override;

    void draw(CDrawContext* context) override;
    void onMouseDown(CDrawContext* context, const CPoint& where, int32_t buttons) override;
    int32_t onKeyDown(const KeyCode& key) override;
    bool onWheel(CDrawContext* context, const CPoint& where, float distance) override;
    bool isTypeOf(const char* name) const override;

    virtual void drawHandle(CDrawContext* context);
    virtual void setStartAngle(float angle);
    virtual float getStartAngle() const { return startAngle; }
    virtual void setRangeAngle(float angle);
    virtual float getRangeAngle() const { return rangeAngle; }
    // Handle point of the current value, relative to the knob's top-left.
    virtual void valueToPoint(CPoint& point) const;
    // Value for a pointer position relative to the knob's top-left; points in
    // the dead sector snap to the nearer end.
    virtual float valueFromPoint(CPoint& point) const;
    virtual void setInset(int32_t newInset) { inset = newInset; }
    virtual void setShadowHandleColor(CColor color);
    virtual void setHandleColor(CColor color);
    // Takes a reference; the inset becomes half the bitmap's width + 2.5.
    virtual void setHandleBitmap(CBitmap* bitmap);
    virtual void setZoomFactor(float factor) { zoomFactor = factor; }
    virtual float getZoomFactor() const { return zoomFactor; }

    int32_t getInset() const { return inset; }
    CBitmap* getHandleBitmap() const { return handleBitmap; }

  protected:
    // The handle point of `v`, relative to the knob's top-left.
    void pointForValue(float v, CPoint& point) const;
    // Derives the angle-to-value mapping from the start and range angles.
    // Changing min or max later does not update it.
    void computeAngles();

    CPoint bitmapOffset;
    CColor handleColor = kWhiteColor;
    CColor shadowHandleColor = kGreyColor;
    CBitmap* handleBitmap = nullptr;
    int32_t inset = 3;
    float startAngle = 0.f;
    float rangeAngle = 0.f;
    float halfAngle = 0.f;
    float angleScale = 0.f;
    float angleOffset = 0.f;
    float radius = 0.f;
    float zoomFactor = 1.5f;
};

}  // namespace VSTGUI
