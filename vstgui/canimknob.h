// A knob shown as one image of a vertical filmstrip: `subPixmaps` images of
// `heightOfOneImage` pixels stacked top to bottom, the first for the minimum
// and the last only for the maximum exactly. A value change that neither
// moves the handle point by a whole pixel nor changes the image shown does
// not count as dirty.
#pragma once

#include "vstgui/cknob.h"

namespace VSTGUI {

class CAnimKnob : public CKnob {
  public:
    CAnimKnob(const CRect& size, CControlListener* listener, int32_t tag, int32_t subPixmaps,
              int32_t heightOfOneImage, CBitmap* background, const CPoint& offset = CPoint());

    void draw(CDrawContext* context) override;
    bool isDirty() const override;

    // Vertical source offset into the filmstrip for `v` (0 for negative or NaN).
    int32_t imageOffsetFor(float v) const;

    void setInverseBitmap(bool flag) { inverseBitmap = flag; }
    bool getInverseBitmap() const { return inverseBitmap; }
    int32_t getSubPixmaps() const { return subPixmaps; }
    int32_t getHeightOfOneImage() const { return heightOfOneImage; }

  protected:
    int32_t subPixmaps;
    int32_t heightOfOneImage;
    bool inverseBitmap = false;
    CPoint lastDrawnPoint;
    int32_t lastDrawnImage = -1;  // offset of the image drawn last; none yet
};

}  // namespace VSTGUI
