// What the window and its draw devices share: the connection, the window and
// the image that mirrors the window's pixels.
//
// Devices draw into the mirror (a cairo image of the window's size) and copy
// each drawn area to the window at once. Keeping one mirror per window, not
// one per device, means a device that draws only part of an area (text,
// colour-keyed or blended images) composes onto what the window shows.
#pragma once

#include <X11/Xlib.h>
#include <cairo.h>
#undef CursorShape  // an X protocol constant that clashes with the toolkit enum

#include <cstdint>
#include <memory>

#include "vstgui/geometry.h"
#include "vstgui/platform/draw_device.h"

namespace VSTGUI::platform::x11 {

class Mirror {
  public:
    Mirror(Display* display, Visual* visual, int depth, bool wrapPixels, int32_t width,
           int32_t height);
    ~Mirror();
    Mirror(const Mirror&) = delete;
    Mirror& operator=(const Mirror&) = delete;

    cairo_surface_t* surface() const { return surface_; }
    XImage* image() const { return image_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

  private:
    cairo_surface_t* surface_ = nullptr;
    XImage* image_ = nullptr;  // wraps the surface's pixels; null on the slow path
    int32_t width_;
    int32_t height_;
};

struct Connection {
    Display* display = nullptr;
    Window window = 0;
    Visual* visual = nullptr;
    int depth = 0;
    GC gc = nullptr;
    // XPutImage straight from cairo's pixels needs a 24-bit true-colour
    // visual with 8-bit red, green and blue in cairo's order and 32 bits per
    // pixel; other servers get cairo-xlib.
    bool wrapPixels = false;
    bool destroyed = false;
    int32_t width = 0;
    int32_t height = 0;
    std::shared_ptr<Mirror> mirror;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    // Destroys the window unless it is gone, frees what the connection made
    // and closes it.
    ~Connection();

    // Copies `area` (window pixels) of `from` to the window, unless the
    // window is gone or `from` is no longer the current mirror.
    void present(const Mirror& from, const CRect& area);
    // The bounding box of the pixels of `area` in which `source` (an image
    // surface) differs from the mirror, that is from what the window shows;
    // `area` itself when `source` cannot be compared.
    CRect unshownPart(cairo_surface_t* source, const CRect& area) const;
    // A new mirror of the current size, keeping the pixels that still fit.
    void remakeMirror();
};

// A device that draws onto the connection's window through its mirror.
std::unique_ptr<DrawDevice> createWindowDevice(const std::shared_ptr<Connection>& connection);

}  // namespace VSTGUI::platform::x11
