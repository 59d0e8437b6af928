// The GDI drawing back end: a DrawDevice on a device context (a window's,
// a paint's or a memory context of our own) and the toolkit's Image as a
// 32-bit bottom-up DIB section.
//
// The device owns the pen, brush and font it creates: each new one is
// selected first and only then is the one it replaces deleted, and the
// objects that were selected before the device existed are selected again
// when it goes, so a borrowed device context is handed back as it came.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "vstgui/platform/draw_device.h"
#include "vstgui/platform/graphics.h"

namespace VSTGUI::platform::win32 {

// A 32-bit DIB section: blue, green, red, alpha per pixel, rows bottom-up in
// memory (the picture's top row is the last memory row). It keeps a memory
// device context with the bitmap selected, the source of every blit.
class GdiImage final : public Image {
  public:
    // Null when the section cannot be made (sides below 1 or too large).
    static std::unique_ptr<GdiImage> create(int32_t width, int32_t height);
    ~GdiImage() override;
    GdiImage(const GdiImage&) = delete;
    GdiImage& operator=(const GdiImage&) = delete;

    int32_t width() const override { return width_; }
    int32_t height() const override { return height_; }
    uint8_t* row(int32_t y) override;
    void flushPixels() override;

    HBITMAP bitmap() const { return bitmap_; }
    HDC dc() const { return dc_; }
    // The start of the section's memory (the picture's bottom row).
    uint8_t* bits() const { return bits_; }

  private:
    GdiImage() = default;
    int32_t width_ = 0;
    int32_t height_ = 0;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    HDC dc_ = nullptr;
    uint8_t* bits_ = nullptr;
};

class GdiDevice final : public DrawDevice {
  public:
    // What the device does with its device context when it goes.
    enum class Ownership {
        borrowed,  // a paint's context: left to its owner
        window,    // GetDC of `window`: ReleaseDC
        memory,    // our memory context with `image` selected: DeleteDC
    };

    GdiDevice(HDC dc, Ownership ownership, HWND window = nullptr);
    // A memory device drawing into a DIB section of width x height (sides
    // below 1 count as 1), all pixels zero.
    static std::unique_ptr<GdiDevice> createOffscreen(int32_t width, int32_t height);
    ~GdiDevice() override;
    GdiDevice(const GdiDevice&) = delete;
    GdiDevice& operator=(const GdiDevice&) = delete;

    HDC dc() const { return dc_; }
    // The pixels of an offscreen device as 0xRRGGBB (0 elsewhere or outside).
    uint32_t pixel(int32_t x, int32_t y) const;
    GdiImage* image() const { return image_.get(); }

    // Panel units to pixels (vstgui/density.h). Above 1, lines are drawn
    // as the pixels of their units, text at the scaled height, and images
    // whose density differs from the factor are stretched with HALFTONE.
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
    HDC dc_;
    Ownership ownership_;
    HWND window_;
    std::unique_ptr<GdiImage> image_;  // the surface of an offscreen device
    HGDIOBJ oldPen_ = nullptr;
    HGDIOBJ oldBrush_ = nullptr;
    HGDIOBJ oldFont_ = nullptr;
    HPEN pen_ = nullptr;
    HBRUSH brush_ = nullptr;
    HFONT font_ = nullptr;
    // A panel rectangle in this device's pixels.
    CRect pixels(const CRect& r) const;
    // An image drawn into dest (units) from sourceOffset (units), the
    // image's pixels stretched onto the device's.
    void drawImage(const Image& image, const CRect& dest, CPoint sourceOffset, bool blend,
                   uint8_t constantAlpha);
    double scale_ = 1.0;
    CColor penColor_{0, 0, 0, 255};
    int32_t penWidth_ = 1;
    CPoint position_;
    FontDesc fontDesc_;
    bool hasFont_ = false;
};

// The font description GDI gets for a toolkit font (shared with the text
// field, which asks for weight 400 and the Swiss family always).
LOGFONTA makeLogFont(const FontDesc& font);

// The image as a GdiImage, or null for an image of another back end.
const GdiImage* asGdiImage(const Image& image);

}  // namespace VSTGUI::platform::win32
