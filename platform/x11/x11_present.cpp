// Presentation: the mirror image and how its pixels reach the window.
//
// Measured under Xvfb for a 240 x 400 window: XPutImage of an XImage that
// wraps cairo's pixels costs 0.1-0.2 ms a frame and works on every display
// (MIT-SHM would be faster but fails on remote and sandboxed displays), so it
// is the path whenever the visual stores pixels as cairo does. Other visuals
// get cairo-xlib, which converts.
#include <X11/Xutil.h>
#include <cairo-xlib.h>

#include <algorithm>
#include <cstring>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_errors.h"

namespace VSTGUI::platform::x11 {

Mirror::Mirror(Display* display, Visual* visual, int depth, bool wrapPixels, int32_t width,
               int32_t height)
    : width_(std::max(width, 1)), height_(std::max(height, 1)) {
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) return;
    cairo_surface_flush(surface_);
    char* pixels = reinterpret_cast<char*>(cairo_image_surface_get_data(surface_));
    const int stride = cairo_image_surface_get_stride(surface_);
    // The pixels come zeroed but not yet in memory: a page's first touch is
    // dear (12-16 us in a virtual machine), and touching them here, while
    // the font system still sets itself up on its thread, keeps that off
    // the way to the first frame, whose text waits for that thread.
    std::memset(pixels, 0, static_cast<size_t>(stride) * static_cast<size_t>(height_));
    cairo_surface_mark_dirty(surface_);
    if (!wrapPixels) return;
    image_ =
        XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, pixels,
                     static_cast<unsigned>(width_), static_cast<unsigned>(height_), 32, stride);
    if (image_) {
        // cairo stores each pixel as a native 32-bit 0x00RRGGBB word.
        const uint32_t probe = 1;
        uint8_t first = 0;
        std::memcpy(&first, &probe, 1);
        image_->byte_order = first == 1 ? LSBFirst : MSBFirst;
    }
}

Mirror::~Mirror() {
    if (image_) {
        image_->data = nullptr;  // the pixels belong to cairo
        XDestroyImage(image_);
    }
    cairo_surface_destroy(surface_);
}

Connection::~Connection() {
    mirror.reset();
    if (!display) return;
    // A connection the server ended, or one this process inherited through
    // a fork, gets no request: only our memory of the GC goes.
    const bool usable = connectionUsable(display, false);
    if (window && !destroyed && usable) XDestroyWindow(display, window);
    if (gc) XFreeGC(display, gc);
    closeConnection(display);
}

void Connection::present(const Mirror& from, const CRect& area) {
    if (destroyed || mirror.get() != &from) return;
    const CRect r = area.bounded(CRect(0, 0, from.width(), from.height()));
    if (r.isEmpty()) return;
    cairo_surface_flush(from.surface());
    if (from.image()) {
        XPutImage(display, window, gc, from.image(), r.left, r.top, r.left, r.top,
                  static_cast<unsigned>(r.width()), static_cast<unsigned>(r.height()));
    } else {
        cairo_surface_t* target =
            cairo_xlib_surface_create(display, window, visual, from.width(), from.height());
        cairo_t* cr = cairo_create(target);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, from.surface(), 0, 0);
        cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
        cairo_fill(cr);
        cairo_destroy(cr);
        cairo_surface_flush(target);
        cairo_surface_destroy(target);
    }
    XFlush(display);
}

CRect Connection::unshownPart(cairo_surface_t* source, const CRect& area) const {
    // A window that is gone shows nothing and receives nothing.
    if (destroyed || !mirror) return CRect();
    if (!source || cairo_surface_get_type(source) != CAIRO_SURFACE_TYPE_IMAGE) return area;
    const cairo_format_t format = cairo_image_surface_get_format(source);
    if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return area;
    cairo_surface_flush(source);
    cairo_surface_t* shown = mirror->surface();
    const CRect r =
        area.bounded(CRect(0, 0, std::min(cairo_image_surface_get_width(source), mirror->width()),
                           std::min(cairo_image_surface_get_height(source), mirror->height())));
    if (r.isEmpty()) return CRect();
    const unsigned char* sourcePixels = cairo_image_surface_get_data(source);
    const unsigned char* shownPixels = cairo_image_surface_get_data(shown);
    if (!sourcePixels || !shownPixels) return area;
    const int sourceStride = cairo_image_surface_get_stride(source);
    const int shownStride = cairo_image_surface_get_stride(shown);
    // Both hold native 32-bit words; the window keeps red, green and blue
    // only (the copy into it drops alpha), so only those are compared.
    CRect found(r.right, r.bottom, r.left, r.top);
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const auto* a = reinterpret_cast<const uint32_t*>(sourcePixels + y * sourceStride);
        const auto* b = reinterpret_cast<const uint32_t*>(shownPixels + y * shownStride);
        for (int32_t x = r.left; x < r.right; ++x) {
            if (((a[x] ^ b[x]) & 0x00ffffffu) == 0) continue;
            found.left = std::min(found.left, x);
            found.right = std::max(found.right, x + 1);
            found.top = std::min(found.top, y);
            found.bottom = y + 1;
        }
    }
    return found.isEmpty() ? CRect() : found;
}

void Connection::remakeMirror() {
    auto next = std::make_shared<Mirror>(display, visual, depth, wrapPixels, width, height);
    if (mirror) {
        cairo_t* cr = cairo_create(next->surface());
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, mirror->surface(), 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
    }
    mirror = std::move(next);
}

}  // namespace VSTGUI::platform::x11
