// Surfaces and images made by the drawing back end that the library is
// built with (cairo on Linux, GDI on Windows).
#pragma once

#include <cstdint>
#include <memory>

#include "vstgui/platform/draw_device.h"

namespace VSTGUI::platform {

// A platform bitmap of 32-bit pixels: blue, green, red, alpha in memory,
// colours premultiplied by alpha. Images come from createImage (filled by
// the toolkit from decoded PNG data) or, on systems that have one, from a
// plain bitmap resource.
class Image {
  public:
    Image();
    virtual ~Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
    // Writable row y of the picture (0 is the top row, whatever the memory
    // order of the platform bitmap); width() * 4 bytes.
    virtual uint8_t* row(int32_t y) = 0;
    // Call after writing rows, before the image is drawn.
    void pixelsChanged();
    // Call instead after filling rows that were never drawn with the pixels
    // they always stood for (a picture expanded as it is drawn): the back
    // end takes the new memory, and the picture keeps its identity.
    void rowsFilled() { flushPixels(); }

    // Tells pictures apart: differs between any two images of the process
    // and changes at every pixelsChanged.
    uint64_t contentId() const { return contentId_; }
    // Every pixel's alpha is 255; worked out once for each content.
    bool fullyOpaque() const;

    // Pixels per panel unit: 1 for the panel's own pictures, 2 for the
    // pictures drawn for dense screens. Devices draw it 1:1 at that factor.
    int32_t density() const { return density_; }
    void setDensity(int32_t pixelsPerUnit) { density_ = pixelsPerUnit; }

  protected:
    // The back end's part of pixelsChanged.
    virtual void flushPixels() = 0;

  private:
    uint64_t contentId_;
    enum class Opacity : uint8_t { unknown, opaque, translucent };
    mutable Opacity opacity_ = Opacity::unknown;
    int32_t density_ = 1;
};

// An image of width x height, all pixels zero; null when it cannot be made.
std::unique_ptr<Image> createImage(int32_t width, int32_t height);

// An image drawn straight from `pixels`: width x height rows of width * 4
// bytes in the order of Image, which the image takes over and hands to
// `release` when it goes. Null when this back end draws only from memory of
// its own; the pixels then stay the caller's (who copies them into
// createImage). Saves a second copy of a large picture.
std::unique_ptr<Image> adoptPixels(uint8_t* pixels, int32_t width, int32_t height,
                                   void (*release)(void*));

// The plain (opaque) bitmap resource with this number, or null. Systems
// without plain bitmap resources always answer null.
std::unique_ptr<Image> loadPlainBitmap(int32_t resourceNumber);

// Starts the text system's one-time set-up (fontconfig reading its
// configuration: tens of milliseconds) on a thread of its own, once per
// process, so that it runs while the editor opens its window and draws its
// pictures; the thread then opens `font` and measures the glyphs of
// `sample`, the text the editor shows first. The first text waits for it,
// and so does a fork (a child must not inherit a lock the set-up holds).
// Nothing to do where that costs nothing.
void prepareFonts(const FontDesc& font = {}, const char* sample = "");

// An offscreen surface of width x height panel units at `scale` (sides
// below one pixel count as one), all pixels zero. Never null.
std::unique_ptr<DrawDevice> createOffscreenDevice(int32_t width, int32_t height,
                                                  double scale = 1.0);

// The largest factor this back end's devices draw at; 1 where they cannot
// scale, and the frame then stays at 1.
double maximumScale();

}  // namespace VSTGUI::platform
