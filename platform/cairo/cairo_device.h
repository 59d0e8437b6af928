// The cairo drawing back end: a DrawDevice on any cairo surface (an image
// surface for offscreen buffers, or a window's surface wrapped by a window
// back end), and the toolkit's Image as a premultiplied ARGB32 image surface.
//
// Lines and rectangles are drawn without antialiasing at integer
// coordinates, so pixels are exact (at any scale factor each panel unit is
// the block of pixels vstgui/density.h gives it); lines are rasterised with Bresenham into
// one-pixel rectangles so that the end point is left out in every direction,
// as the toolkit expects. Text goes through fontconfig and cairo-ft with
// explicitly set font options, so the user's font settings cannot change the
// pixels. Colours are drawn opaque; their alpha never reaches the surface.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>

#include "vstgui/platform/draw_device.h"
#include "vstgui/platform/graphics.h"

namespace VSTGUI::platform::cairo {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;

// A premultiplied ARGB32 image surface: blue, green, red, alpha in memory on
// little-endian machines, rows top-down.
class CairoImage final : public Image {
  public:
    // Null when the surface cannot be made (sides below 1 or too large).
    static std::unique_ptr<CairoImage> create(int32_t width, int32_t height);
    // An image surface over `pixels` (rows of width * 4 bytes), released
    // with `release` when the surface goes; null, with the pixels still the
    // caller's, when cairo's rows would be laid out differently or the
    // surface cannot be made.
    static std::unique_ptr<CairoImage> adopt(uint8_t* pixels, int32_t width, int32_t height,
                                             void (*release)(void*));

    int32_t width() const override;
    int32_t height() const override;
    uint8_t* row(int32_t y) override;
    void flushPixels() override;

    cairo_surface_t* surface() const { return surface_.get(); }

  private:
    explicit CairoImage(SurfacePtr surface)
        : surface_(std::move(surface)),
          width_(cairo_image_surface_get_width(surface_.get())),
          height_(cairo_image_surface_get_height(surface_.get())) {}
    SurfacePtr surface_;
    // Kept here: drawing asks for them at every idle, and cairo's answer
    // lies on a page of the library that is cold by then.
    int32_t width_;
    int32_t height_;
};

// Implemented by every device that draws onto a cairo surface, also by
// devices of other back ends that wrap a CairoDevice (a window's device), so
// that copies from them find the pixels.
class SurfaceSource {
  public:
    virtual ~SurfaceSource() = default;
    virtual cairo_surface_t* cairoSurface() = 0;
};

class CairoDevice final : public DrawDevice, public SurfaceSource {
  public:
    // Draws onto `surface` (any kind); the device takes its own reference.
    explicit CairoDevice(cairo_surface_t* surface);
    // An ARGB32 image surface of width x height (sides below 1 count as 1),
    // all pixels zero.
    static std::unique_ptr<CairoDevice> createImageDevice(int32_t width, int32_t height);
    ~CairoDevice() override;

    CairoDevice(const CairoDevice&) = delete;
    CairoDevice& operator=(const CairoDevice&) = delete;

    cairo_surface_t* surface() const { return surface_.get(); }
    cairo_surface_t* cairoSurface() override { return surface_.get(); }
    // Width and height of an image surface; 0 for other kinds of surface.
    int32_t width() const;
    int32_t height() const;
    // The pixel at (x, y) of an image surface as 0xAARRGGBB (premultiplied),
    // 0 outside the surface or for other kinds of surface.
    uint32_t pixel(int32_t x, int32_t y) const;
    // Finishes pending drawing so that the surface's memory is current.
    void flush();
    double scale() const { return scale_; }

    void setScale(double factor) override;
    void setPen(CColor color, int32_t width) override;
    bool setBrush(CColor color) override;
    void setTextColor(CColor color) override;
    void setFont(const FontDesc& font) override;
    void setClip(const CRect& r) override;
    void moveTo(CPoint p) override;
    void lineTo(CPoint p) override;
    void fillRect(const CRect& r) override;
    void drawText(const char* text, const CRect& r, TextAlign align, bool opaque) override;
    void copyFrom(DrawDevice& source, const CRect& sourceRect, CPoint dest) override;
    void blit(const Image& image, const CRect& dest, CPoint sourceOffset) override;
    void blitColorKey(const Image& image, const CRect& dest, CPoint sourceOffset,
                      CColor key) override;
    void alphaBlend(const Image& image, const CRect& dest, CPoint sourceOffset,
                    uint8_t constantAlpha) override;

  private:
    // A cairo context in an error state ignores every later call; recreate
    // it (with the clip) so that one failed call cannot end all drawing.
    cairo_t* cr();
    void applyClip();
    void setSourceColor(CColor color);
    enum class Compose { opaqueCopy, over };
    // Composes `from` (its pixel x + dx, y + dy onto x, y) into `area` of an
    // ARGB32 image target, inside the clip, as cairo would: its colours made
    // opaque, or its premultiplied pixels over the target's. False when the
    // target or source is of another kind and cairo must do it.
    bool composeDirectly(cairo_surface_t* from, const CRect& area, int32_t dx, int32_t dy,
                         Compose mode);
    // A panel rectangle in this device's pixels.
    CRect pixels(const CRect& r) const;
    // The three image operations in pixels: the image drawn 1:1.
    void blitPixels(const Image& image, const CRect& dest, CPoint sourceOffset);
    void blitColorKeyPixels(const Image& image, const CRect& dest, CPoint sourceOffset, CColor key);
    void alphaBlendPixels(const Image& image, const CRect& dest, CPoint sourceOffset,
                          uint8_t constantAlpha);
    // An image whose density is not the device's factor: the part of it
    // that lands in dest (units), resampled onto dest's pixels.
    // The resampled picture is kept (resample_cache.h), so a later draw of
    // the same part at the same size only copies it.
    enum class Resample : uint8_t { opaque, colorKey, blend };
    void drawResampled(const Image& image, const CRect& dest, CPoint sourceOffset, Resample mode,
                       CColor key, uint8_t constantAlpha);

    SurfacePtr surface_;
    ContextPtr cr_;
    CColor penColor_{0, 0, 0, 255};
    int32_t penWidth_ = 1;
    CColor brushColor_{255, 255, 255, 255};
    CColor textColor_{0, 0, 0, 255};
    FontDesc font_;
    std::string fontFace_ = "Arial";  // font_.face points here
    bool hasClip_ = false;
    // The clip is handed to cairo only when cairo next draws: copies that
    // bypass cairo (see blit) need no cairo state at all.
    bool clipPending_ = false;
    CRect clip_;
    CPoint position_;
    double scale_ = 1.0;
};

// Writes the pixels of a surface (or of a cairo device's surface) to a PNG
// file; false on failure.
bool writePng(cairo_surface_t* surface, const std::string& path);
bool writePng(DrawDevice& device, const std::string& path);

}  // namespace VSTGUI::platform::cairo
