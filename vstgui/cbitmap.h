// Bitmaps: reference-counted pictures loaded from the library's own PNG
// resources by number and drawn into a drawing context without scaling.
//
// A PNG is decoded once, at load, into a premultiplied 32-bit image (blue,
// green, red, alpha; colours scaled by alpha >> 8), so every later draw is
// one alpha blend. An 8-bit palette PNG (both panel pictures, the knob's
// filmstrip above all) keeps its indices instead, and a draw first fills
// the rows it shows that no draw filled before; the pixels are the same.
// A resource is decoded once per process: every bitmap of the same number,
// in every instance of the plug-in, shares that image, whose pixels never
// change after loading. Such bitmaps are not opaque: the alpha channel
// alone decides transparency, even for drawTransparent. Opaque bitmaps (the
// plain bitmap fallback, where the platform has one) are blitted, and their
// drawTransparent leaves out the pixels of the transparent colour.
//
// Drawing puts the part of the image that starts at the source offset into
// the destination rectangle (shifted by the context's offset), 1:1 in panel
// units. A bitmap whose load failed draws nothing.
//
// Dense screens. A resource n has a twin n + kDenseResourceOffset drawn at
// two pixels a unit (the same design, not an enlarged copy). A context whose
// frame draws above factor 1 gets the twin, which the device copies 1:1 at
// 2 and resamples at other factors; the twin is loaded at its first such
// draw, shared like every resource image, and a bitmap without one draws its
// own image resampled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "vstgui/ccolor.h"
#include "vstgui/creferencecounter.h"
#include "vstgui/geometry.h"

namespace VSTGUI {

class CDrawContext;
class PaletteRows;
namespace platform {
class Image;
}

// The resource number of the two-pixels-a-unit twin of resource n.
constexpr int32_t kDenseResourceOffset = 1000;

class CBitmap : public CReferenceCounter {
  public:
    explicit CBitmap(int32_t resourceId);
    ~CBitmap() override;

    virtual void draw(CDrawContext* context, const CRect& rect, const CPoint& offset = CPoint());
    virtual void drawTransparent(CDrawContext* context, const CRect& rect,
                                 const CPoint& offset = CPoint());
    virtual void drawAlphaBlend(CDrawContext* context, const CRect& rect,
                                const CPoint& offset = CPoint(), uint8_t alpha = 255);
    // Releases the image: no pixels, size 0, not opaque.
    virtual void unload();
    virtual bool loadFromResource(int32_t resourceId);
    // Loading from files is not supported: unloads and answers false.
    virtual bool loadFromPath(const char* path);

    // Decodes PNG bytes into the bitmap (what loadFromResource does with the
    // resource's bytes). Answers false, with nothing loaded, when the bytes
    // are not an image.
    bool loadFromPngBytes(const uint8_t* data, size_t size);

    int32_t getWidth() const { return width; }
    int32_t getHeight() const { return height; }
    int32_t getResourceId() const { return resourceId; }
    bool isOpaque() const { return opaque; }
    bool isLoaded() const { return handle != nullptr; }
    // Channels of the last decoded PNG (1 to 4), 0 when none was decoded.
    int32_t getDecodedChannels() const { return decodedChannels; }

    void setTransparentColor(const CColor& color) { transparentColor = color; }
    const CColor& getTransparentColor() const { return transparentColor; }

    // The loaded platform image (premultiplied BGRA rows), whole, or null.
    // It may be shared with other bitmaps: read it, never write it.
    platform::Image* getImage() const;

  protected:
    int32_t resourceId = 0;
    int32_t width = 0;
    int32_t height = 0;
    CColor transparentColor{255, 255, 255, 0};
    bool opaque = true;
    std::shared_ptr<platform::Image> handle;
    int32_t decodedChannels = 0;
    // A palette image's indices while rows of `handle` are still to be
    // filled (shared like the image); drawing fills the rows it shows.
    std::shared_ptr<PaletteRows> paletteRows;

    // The twin for dense screens, once a draw above factor 1 asked for it.
    std::shared_ptr<platform::Image> denseHandle;
    std::shared_ptr<PaletteRows> denseRows;
    bool denseLooked = false;

  private:
    // `lasting`: the bytes stay valid while the image lives (a resource).
    bool loadPng(const uint8_t* data, size_t size, bool lasting);
    void fillRows(const CRect& rect, const CPoint& offset) const;
    // The image to draw `rect` from `offset` with into `context`, its rows
    // ready: the twin on a dense context when there is one, else our own.
    platform::Image* imageFor(CDrawContext* context, const CRect& rect, const CPoint& offset);
};

}  // namespace VSTGUI
