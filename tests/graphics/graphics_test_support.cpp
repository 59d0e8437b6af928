#include "graphics_test_support.h"

#include <png.h>

#include <algorithm>
#include <climits>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace kvtest {

using VSTGUI::CDrawContext;
using VSTGUI::CPoint;
using VSTGUI::CRect;
using VSTGUI::platform::cairo::CairoDevice;

uint32_t pixelAt(CDrawContext& context, int32_t x, int32_t y) {
    auto* device = dynamic_cast<CairoDevice*>(context.getDevice());
    return device ? device->pixel(x, y) : 0;
}

uint32_t rgbAt(CDrawContext& context, int32_t x, int32_t y) {
    return pixelAt(context, x, y) & 0x00FFFFFFu;
}

CRect inkBox(CDrawContext& context, uint32_t background) {
    auto* device = dynamic_cast<CairoDevice*>(context.getDevice());
    if (!device) return {};
    int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    for (int32_t y = 0; y < device->height(); ++y) {
        for (int32_t x = 0; x < device->width(); ++x) {
            if ((device->pixel(x, y) & 0x00FFFFFFu) == background) continue;
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, x + 1);
            bottom = std::max(bottom, y + 1);
        }
    }
    return left == INT32_MAX ? CRect() : CRect(left, top, right, bottom);
}

std::vector<CPoint> pixelsOfColor(CDrawContext& context, uint32_t color) {
    std::vector<CPoint> found;
    auto* device = dynamic_cast<CairoDevice*>(context.getDevice());
    if (!device) return found;
    for (int32_t y = 0; y < device->height(); ++y) {
        for (int32_t x = 0; x < device->width(); ++x) {
            if ((device->pixel(x, y) & 0x00FFFFFFu) == color) found.emplace_back(x, y);
        }
    }
    return found;
}

std::vector<uint8_t> encodePng(int32_t width, int32_t height, int32_t channels,
                               const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> out;
    auto append = [](void* user, void* data, int size) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(user);
        const auto* p = static_cast<const uint8_t*>(data);
        bytes->insert(bytes->end(), p, p + size);
    };
    stbi_write_png_to_func(append, &out, width, height, channels, pixels.data(), width * channels);
    return out;
}

namespace {

void appendToVector(png_structp png, png_bytep data, png_size_t size) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + size);
}

// libpng reports errors with longjmp: nothing in here has a destructor.
bool writePalettePng(std::vector<uint8_t>* out, png_uint_32 width, png_uint_32 height,
                     const png_color* entries, int entryCount, const uint8_t* alphas,
                     int alphaCount, const uint8_t* indices, int filters) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {  // NOLINT(cert-err52-cpp): libpng's way
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, &appendToVector, nullptr);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, entries, entryCount);
    if (alphaCount > 0) png_set_tRNS(png, info, alphas, alphaCount, nullptr);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
    png_write_info(png, info);
    for (png_uint_32 y = 0; y < height; ++y)
        png_write_row(png, indices + size_t(y) * width);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::vector<uint8_t> encodePalettePng(int32_t width, int32_t height,
                                      const std::vector<uint8_t>& palette,
                                      const std::vector<uint8_t>& alphas,
                                      const std::vector<uint8_t>& indices, int filters) {
    std::vector<png_color> entries(palette.size() / 3);
    for (size_t i = 0; i < entries.size(); ++i)
        entries[i] = png_color{palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]};
    std::vector<uint8_t> out;
    if (!writePalettePng(&out, png_uint_32(width), png_uint_32(height), entries.data(),
                         int(entries.size()), alphas.data(), int(alphas.size()), indices.data(),
                         filters))
        return {};
    return out;
}

}  // namespace kvtest

// fontconfig 2.14 loses a few bytes while it parses its configuration files
// on first use; that is no leak of ours, so the leak checker is told to skip
// allocations made inside fontconfig.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
