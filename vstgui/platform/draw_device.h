// The draw device: one drawing surface with the current pen, brush, font,
// text colour and clip. CDrawContext keeps every state rule (caches,
// offsets, the one-pixel conventions) and calls a device only when the state
// really changes, with the offsets already added.
//
// Coordinates are panel units. A device drawing at a scale factor (a dense
// screen) maps them to its pixels as vstgui/density.h says: rectangles,
// clips, pens and copies cover the pixels of their units, text is drawn at
// the scaled font height, and an image of density d (d pixels a unit) is
// drawn 1:1 when the factor is d and resampled otherwise. At factor 1 units
// are pixels.
//
// Contract of every back end (image surfaces and window surfaces alike):
// - pixels are exact: no antialiasing of lines and rectangles; text may be
//   antialiased;
// - everything drawn is limited to the current clip rectangle;
// - colours are drawn with red, green and blue only; alpha never reaches a
//   surface (an opaque pixel stays opaque);
// - a device never throws; a failed platform call leaves the device usable.
#pragma once

#include <cstdint>

#include "vstgui/ccolor.h"
#include "vstgui/geometry.h"

namespace VSTGUI::platform {

class Image;

// A font as the toolkit's font table describes it.
struct FontDesc {
    const char* face = "Arial";
    int32_t pixelHeight = 12;  // character (em) height in pixels
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool decorative = false;  // the symbol face: default pitch, decorative family
};

enum class TextAlign : int32_t { left = 0, center = 1, right = 2 };

class DrawDevice {
  public:
    virtual ~DrawDevice() = default;

    // The factor from panel units to this device's pixels (1 unless set).
    // A device that cannot scale ignores it (createOffscreenDevice and the
    // windows then answer 1 to maximumScale).
    virtual void setScale(double factor) { (void)factor; }

    // Colour and width of the pen used by lineTo (solid).
    virtual void setPen(CColor color, int32_t width) = 0;
    // Colour of fillRect and of the cell behind opaque text. Answers false
    // when the brush cannot be made; the previous brush then stays in use.
    virtual bool setBrush(CColor color) = 0;
    virtual void setTextColor(CColor color) = 0;
    virtual void setFont(const FontDesc& font) = 0;
    // Everything drawn afterwards is limited to r (device pixels, right and
    // bottom excluded). An empty r clips everything away.
    virtual void setClip(const CRect& r) = 0;

    // Pen position; lineTo draws from it to p, excluding p itself (also
    // for diagonals), and p becomes the new position.
    virtual void moveTo(CPoint p) = 0;
    virtual void lineTo(CPoint p) = 0;
    // Fills exactly left <= x < right, top <= y < bottom with the brush.
    virtual void fillRect(const CRect& r) = 0;
    // One line of text, vertically centred in r, aligned inside r as given,
    // with no prefix processing ("&" is a character). With opaque the text
    // cell is first filled with the brush colour.
    virtual void drawText(const char* text, const CRect& r, TextAlign align, bool opaque) = 0;

    // Copies source's rectangle sourceRect (source pixels) to dest on this
    // device, 1:1, replacing the pixels.
    virtual void copyFrom(DrawDevice& source, const CRect& sourceRect, CPoint dest) = 0;
    // Draw the part of image that starts at sourceOffset into dest, 1:1.
    // blit replaces the pixels (image alpha ignored); blitColorKey leaves out
    // the pixels whose red, green and blue equal key; alphaBlend composes a
    // premultiplied image over the destination, scaled by constantAlpha.
    virtual void blit(const Image& image, const CRect& dest, CPoint sourceOffset) = 0;
    virtual void blitColorKey(const Image& image, const CRect& dest, CPoint sourceOffset,
                              CColor key) = 0;
    virtual void alphaBlend(const Image& image, const CRect& dest, CPoint sourceOffset,
                            uint8_t constantAlpha) = 0;
};

}  // namespace VSTGUI::platform
