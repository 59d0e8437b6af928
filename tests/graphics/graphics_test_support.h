// Helpers shared by the drawing tests: reading pixels of offscreen contexts,
// finding where something was drawn, and making PNG files in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/cairo/cairo_device.h"
#include "vstgui/cdrawcontext.h"

namespace kvtest {

// 0x00RRGGBB of an opaque colour, the way the pixel helpers answer.
constexpr uint32_t rgb(uint8_t r, uint8_t g, uint8_t b) {
    return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
}

// The pixel of an offscreen context's surface as 0xAARRGGBB.
uint32_t pixelAt(VSTGUI::CDrawContext& context, int32_t x, int32_t y);
// The same without alpha.
uint32_t rgbAt(VSTGUI::CDrawContext& context, int32_t x, int32_t y);

// The smallest rectangle (right and bottom exclusive) holding every pixel
// whose colour differs from `background` (0xRRGGBB); empty when none does.
VSTGUI::CRect inkBox(VSTGUI::CDrawContext& context, uint32_t background);
// Every pixel (x, y) whose colour is `color` (0xRRGGBB).
std::vector<VSTGUI::CPoint> pixelsOfColor(VSTGUI::CDrawContext& context, uint32_t color);

// A PNG file in memory of width x height with `channels` bytes per pixel
// (1 grey, 2 grey + alpha, 3 RGB, 4 RGBA), rows top first.
std::vector<uint8_t> encodePng(int32_t width, int32_t height, int32_t channels,
                               const std::vector<uint8_t>& pixels);

// An 8-bit palette PNG written by libpng: `palette` holds red, green, blue
// of each entry, `alphas` the transparency chunk (none when empty),
// `indices` one byte a pixel; `filters` is libpng's PNG_FILTER_* mask.
std::vector<uint8_t> encodePalettePng(int32_t width, int32_t height,
                                      const std::vector<uint8_t>& palette,
                                      const std::vector<uint8_t>& alphas,
                                      const std::vector<uint8_t>& indices, int filters);

}  // namespace kvtest
