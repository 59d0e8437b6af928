#include "host/x_pixels.h"

#include <X11/Xutil.h>
#include <cairo.h>

#include <cstdio>
#include <cstring>

#include "host/cli.h"

namespace kv::host {

std::vector<uint32_t> grab(Display* dpy, Window window, int width, int height) {
    std::vector<uint32_t> pixels;
    XImage* image = XGetImage(dpy, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image) return pixels;
    pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            // Scale each mask's bits to 8 bits (24-bit TrueColor in practice).
            auto part = [p](unsigned long mask) -> uint32_t {
                if (mask == 0) return 0;
                int shift = 0;
                while (((mask >> shift) & 1) == 0)
                    ++shift;
                const unsigned long bits = mask >> shift;
                return static_cast<uint32_t>(((p & mask) >> shift) * 255 / bits);
            };
            pixels[static_cast<size_t>(y) * width + x] = (part(image->red_mask) << 16) |
                                                         (part(image->green_mask) << 8) |
                                                         part(image->blue_mask);
        }
    }
    XDestroyImage(image);
    return pixels;
}

void writePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        std::memcpy(data + static_cast<size_t>(y) * stride, &pixels[static_cast<size_t>(y) * width],
                    static_cast<size_t>(width) * 4);
    }
    cairo_surface_mark_dirty(surface);
    // Written beside the target and renamed, so a failed run leaves no
    // half-written picture under the requested name.
    const std::string partial = path + ".partial";
    const cairo_status_t status = cairo_surface_write_to_png(surface, partial.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        throw RunError("cannot write \"" + path + "\"");
    }
}

}  // namespace kv::host
