#include "platform/cairo/cairo_device.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common/idle_path.h"
#include "platform/cairo/cairo_text.h"
#include "platform/cairo/resample_cache.h"
#include "vstgui/density.h"

namespace VSTGUI::platform::cairo {

// ---------------------------------------------------------------- images

std::unique_ptr<CairoImage> CairoImage::create(int32_t width, int32_t height) {
    if (width < 1 || height < 1) return nullptr;
    SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    return std::unique_ptr<CairoImage>(new CairoImage(std::move(s)));
}

std::unique_ptr<CairoImage> CairoImage::adopt(uint8_t* pixels, int32_t width, int32_t height,
                                              void (*release)(void*)) {
    if (!pixels || width < 1 || height < 1 || width > INT32_MAX / 4) return nullptr;
    if (cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width) != width * 4) return nullptr;
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, width * 4);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    // The image first, then the hand-over: every failure before it leaves
    // the pixels with the caller.
    std::unique_ptr<CairoImage> image(new (std::nothrow) CairoImage(SurfacePtr(s)));
    if (!image) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    static const cairo_user_data_key_t pixelsKey{};
    if (cairo_surface_set_user_data(s, &pixelsKey, pixels, release) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    return image;
}

KV_IDLE_PATH int32_t CairoImage::width() const {
    return width_;
}
KV_IDLE_PATH int32_t CairoImage::height() const {
    return height_;
}

uint8_t* CairoImage::row(int32_t y) {
    cairo_surface_flush(surface_.get());
    return cairo_image_surface_get_data(surface_.get()) +
           static_cast<ptrdiff_t>(y) * cairo_image_surface_get_stride(surface_.get());
}

void CairoImage::flushPixels() {
    cairo_surface_mark_dirty(surface_.get());
}

namespace {

cairo_surface_t* surfaceOf(const Image& image) {
    // Every image of this back end is a CairoImage (createImage makes them).
    const auto* ci = dynamic_cast<const CairoImage*>(&image);
    return ci ? ci->surface() : nullptr;
}

bool isImageSurface(cairo_surface_t* s) {
    return cairo_surface_get_type(s) == CAIRO_SURFACE_TYPE_IMAGE;
}

}  // namespace

// ---------------------------------------------------------------- device

CairoDevice::CairoDevice(cairo_surface_t* surface) : surface_(cairo_surface_reference(surface)) {
    font_.face = fontFace_.c_str();
    cr();
}

std::unique_ptr<CairoDevice> CairoDevice::createImageDevice(int32_t width, int32_t height) {
    SurfacePtr s(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(width, 1), std::max(height, 1)));
    // An image surface in an error state still accepts (and ignores) calls,
    // so the device stays usable even when memory ran out.
    return std::make_unique<CairoDevice>(s.get());
}

CairoDevice::~CairoDevice() = default;

cairo_t* CairoDevice::cr() {
    if (!cr_ || cairo_status(cr_.get()) != CAIRO_STATUS_SUCCESS) {
        cr_.reset(cairo_create(surface_.get()));
        cairo_set_antialias(cr_.get(), CAIRO_ANTIALIAS_NONE);
        cairo_set_operator(cr_.get(), CAIRO_OPERATOR_OVER);
        cairo_set_fill_rule(cr_.get(), CAIRO_FILL_RULE_WINDING);
        applyClip();
    } else if (clipPending_) {
        applyClip();
    }
    return cr_.get();
}

int32_t CairoDevice::width() const {
    return isImageSurface(surface_.get()) ? cairo_image_surface_get_width(surface_.get()) : 0;
}

int32_t CairoDevice::height() const {
    return isImageSurface(surface_.get()) ? cairo_image_surface_get_height(surface_.get()) : 0;
}

void CairoDevice::flush() {
    cairo_surface_flush(surface_.get());
}

uint32_t CairoDevice::pixel(int32_t x, int32_t y) const {
    cairo_surface_t* s = surface_.get();
    if (!isImageSurface(s) || x < 0 || y < 0 || x >= width() || y >= height()) return 0;
    cairo_surface_flush(s);
    const uint8_t* data = cairo_image_surface_get_data(s);
    if (!data) return 0;
    const auto* row = reinterpret_cast<const uint32_t*>(
        data + static_cast<ptrdiff_t>(y) * cairo_image_surface_get_stride(s));
    return row[x];
}

void CairoDevice::applyClip() {
    clipPending_ = false;
    cairo_t* c = cr_.get();
    cairo_reset_clip(c);
    if (hasClip_) {
        const CRect& r = clip_;
        cairo_new_path(c);
        cairo_rectangle(c, r.left, r.top, std::max(r.width(), 0), std::max(r.height(), 0));
        cairo_clip(c);
    }
}

void CairoDevice::setScale(double factor) {
    if (!(factor > 0.0) || factor == scale_) return;
    scale_ = factor;
}

KV_IDLE_PATH CRect CairoDevice::pixels(const CRect& r) const {
    return scale_ == 1.0 ? r : density::toDevice(r, scale_);
}

void CairoDevice::setSourceColor(CColor color) {
    cairo_set_source_rgb(cr(), color.red / 255.0, color.green / 255.0, color.blue / 255.0);
}

void CairoDevice::setPen(CColor color, int32_t width) {
    penColor_ = color;
    penWidth_ = std::max(width, 1);  // width 0 is the thinnest pen, one pixel
}

bool CairoDevice::setBrush(CColor color) {
    brushColor_ = color;
    return true;
}

void CairoDevice::setTextColor(CColor color) {
    textColor_ = color;
}

void CairoDevice::setFont(const FontDesc& font) {
    fontFace_ = font.face ? font.face : "Arial";
    font_ = font;
    font_.face = fontFace_.c_str();
}

KV_IDLE_PATH void CairoDevice::setClip(const CRect& r) {
    hasClip_ = true;
    clip_ = pixels(r);
    clipPending_ = true;
}

void CairoDevice::moveTo(CPoint p) {
    position_ = p;
}

void CairoDevice::lineTo(CPoint p) {
    // Bresenham from the pen position to p, p itself excluded. Points of one
    // row (or column) are merged into one rectangle and the whole line is
    // filled once.
    const int32_t x1 = p.h, y1 = p.v;
    int32_t x = position_.h, y = position_.v;
    const int32_t dx = std::abs(x1 - x), dy = -std::abs(y1 - y);
    const int32_t sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
    int32_t err = dx + dy;

    const int32_t w = penWidth_;
    const int32_t half = (w - 1) / 2;
    cairo_t* c = cr();
    cairo_new_path(c);
    bool any = false;
    // The run of points being merged: first and last point, in one row or
    // one column.
    CPoint first, last;
    const auto flush = [&] {
        const CRect run =
            pixels(CRect(CPoint(std::min(first.h, last.h) - half, std::min(first.v, last.v) - half),
                         CPoint(std::abs(last.h - first.h) + w, std::abs(last.v - first.v) + w)));
        cairo_rectangle(c, run.left, run.top, run.width(), run.height());
    };
    while (x != x1 || y != y1) {
        const CPoint point(x, y);
        const bool extends =
            any && ((point.v == last.v && point.v == first.v && std::abs(point.h - last.h) == 1) ||
                    (point.h == last.h && point.h == first.h && std::abs(point.v - last.v) == 1));
        if (!extends) {
            if (any) flush();
            first = point;
        }
        last = point;
        any = true;
        const int32_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    if (any) {
        flush();
        setSourceColor(penColor_);
        cairo_fill(c);
    }
    cairo_new_path(c);
    position_ = p;
}

void CairoDevice::fillRect(const CRect& area) {
    if (area.isEmpty()) return;
    const CRect r = pixels(area);
    cairo_t* c = cr();
    cairo_new_path(c);
    cairo_rectangle(c, r.left, r.top, r.width(), r.height());
    setSourceColor(brushColor_);
    cairo_fill(c);
}

void CairoDevice::drawText(const char* text, const CRect& area, TextAlign align, bool opaque) {
    if (!text) return;
    // Text is laid out at the scaled size, never drawn small and enlarged.
    const CRect r = pixels(area);
    FontDesc font = font_;
    if (scale_ != 1.0) font.pixelHeight = std::max(1, density::toDevice(font_.pixelHeight, scale_));
    const std::string utf8 = toUtf8(text);
    cairo_t* c = cr();
    cairo_save(c);
    // The text never leaves its rectangle (DrawText without DT_NOCLIP).
    cairo_new_path(c);
    cairo_rectangle(c, r.left, r.top, std::max(r.width(), 0), std::max(r.height(), 0));
    cairo_clip(c);
    selectFont(c, font);
    const TextLayout t = layoutText(c, utf8, r, align);
    if (opaque && t.width > 0) {
        cairo_new_path(c);
        cairo_rectangle(c, t.x, t.top, t.width, t.height);
        setSourceColor(brushColor_);
        cairo_fill(c);
    }
    setSourceColor(textColor_);
    cairo_move_to(c, t.x, t.baseline);
    cairo_show_text(c, utf8.c_str());
    if (font.underline && t.width > 0) {
        const int32_t thickness = std::max(1, font.pixelHeight / 14);
        const int32_t y = t.baseline + std::max(1, (t.top + t.height - t.baseline) / 2);
        cairo_new_path(c);
        cairo_rectangle(c, t.x, y, t.width, thickness);
        cairo_fill(c);
    }
    cairo_new_path(c);
    cairo_restore(c);
}

void CairoDevice::copyFrom(DrawDevice& source, const CRect& sourceArea, CPoint destUnits) {
    // Both devices draw at this device's factor: the units' pixels move.
    const CRect sourceRect = pixels(sourceArea);
    const CPoint dest = scale_ == 1.0 ? destUnits : density::toDevice(destUnits, scale_);
    // Any device that can name its cairo surface can be copied from; other
    // devices have no pixels we could read.
    auto* src = dynamic_cast<SurfaceSource*>(&source);
    cairo_surface_t* from = src ? src->cairoSurface() : nullptr;
    if (!from || sourceRect.isEmpty()) return;
    SurfacePtr snapshot;
    CPoint origin = sourceRect.topLeft();
    if (from == surface_.get()) {
        // Copying within one surface: take the source area first, as the
        // areas may overlap.
        snapshot.reset(cairo_surface_create_similar_image(from, CAIRO_FORMAT_ARGB32,
                                                          sourceRect.width(), sourceRect.height()));
        ContextPtr tmp(cairo_create(snapshot.get()));
        cairo_set_operator(tmp.get(), CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(tmp.get(), from, -sourceRect.left, -sourceRect.top);
        cairo_paint(tmp.get());
        from = snapshot.get();
        origin = CPoint();
    } else {
        cairo_surface_flush(from);
    }
    cairo_t* c = cr();
    cairo_save(c);
    cairo_set_operator(c, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(c, from, dest.h - origin.h, dest.v - origin.v);
    cairo_pattern_set_filter(cairo_get_source(c), CAIRO_FILTER_NEAREST);
    cairo_new_path(c);
    cairo_rectangle(c, dest.h, dest.v, sourceRect.width(), sourceRect.height());
    cairo_fill(c);
    cairo_restore(c);
}

namespace {

// Paints `from` (placed so that sourceOffset lands on dest's top-left) into
// dest only.
void paintInto(cairo_t* c, cairo_surface_t* from, const CRect& dest, CPoint sourceOffset,
               cairo_operator_t op, double alpha) {
    cairo_save(c);
    cairo_new_path(c);
    cairo_rectangle(c, dest.left, dest.top, dest.width(), dest.height());
    cairo_clip(c);
    cairo_set_operator(c, op);
    cairo_set_source_surface(c, from, dest.left - sourceOffset.h, dest.top - sourceOffset.v);
    cairo_pattern_set_filter(cairo_get_source(c), CAIRO_FILTER_NEAREST);
    cairo_pattern_set_extend(cairo_get_source(c), CAIRO_EXTEND_NONE);
    if (alpha >= 1.0) {
        cairo_paint(c);
    } else {
        cairo_paint_with_alpha(c, alpha);
    }
    cairo_restore(c);
}

}  // namespace

namespace {

// x * a / 255 for each 8-bit channel of x, rounded as pixman rounds.
uint32_t scaleChannels(uint32_t x, uint32_t a) {
    uint32_t rb = (x & 0x00FF00FFu) * a + 0x00800080u;
    rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
    uint32_t ag = ((x >> 8) & 0x00FF00FFu) * a + 0x00800080u;
    ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
    return rb | ag;
}

// Each channel of a + b, at most 255.
uint32_t addSaturated(uint32_t a, uint32_t b) {
    uint32_t rb = (a & 0x00FF00FFu) + (b & 0x00FF00FFu);
    rb |= 0x01000100u - ((rb >> 8) & 0x00010001u);
    uint32_t ag = ((a >> 8) & 0x00FF00FFu) + ((b >> 8) & 0x00FF00FFu);
    ag |= 0x01000100u - ((ag >> 8) & 0x00010001u);
    return (rb & 0x00FF00FFu) | ((ag & 0x00FF00FFu) << 8);
}

}  // namespace

constexpr int64_t kMaxDirectPixels = 32 * 32;

bool CairoDevice::composeDirectly(cairo_surface_t* from, const CRect& area, int32_t dx, int32_t dy,
                                  Compose mode) {
    // What cairo does for these two compositions onto a four-channel image
    // (the back buffer), done here for small areas: an update of a small
    // view (the LED) then skips cairo's per-call setup, which costs far more
    // than its pixels.
    cairo_surface_t* to = surface_.get();
    if (from == to || !isImageSurface(to) || cairo_surface_status(to) != CAIRO_STATUS_SUCCESS ||
        cairo_image_surface_get_format(to) != CAIRO_FORMAT_ARGB32 ||
        cairo_image_surface_get_format(from) != CAIRO_FORMAT_ARGB32)
        return false;
    CRect r = area;
    r.bound(CRect(0, 0, cairo_image_surface_get_width(to), cairo_image_surface_get_height(to)));
    if (hasClip_) r.bound(clip_);
    if (r.isEmpty()) return true;
    // Larger areas: cairo's vectorised loops win over its setup.
    if (int64_t{r.width()} * r.height() > kMaxDirectPixels) return false;
    cairo_surface_flush(to);
    uint8_t* out = cairo_image_surface_get_data(to);
    const uint8_t* in = cairo_image_surface_get_data(from);
    if (!out || !in) return false;
    const ptrdiff_t outStride = cairo_image_surface_get_stride(to);
    const ptrdiff_t inStride = cairo_image_surface_get_stride(from);
    for (int32_t y = r.top; y < r.bottom; ++y) {
        auto* o = reinterpret_cast<uint32_t*>(out + y * outStride);
        const auto* i = reinterpret_cast<const uint32_t*>(in + (y + dy) * inStride) + dx;
        if (mode == Compose::opaqueCopy) {
            for (int32_t x = r.left; x < r.right; ++x)
                o[x] = i[x] | 0xFF000000u;
            continue;
        }
        // Premultiplied "over": source plus what its alpha leaves of the
        // destination.
        for (int32_t x = r.left; x < r.right; ++x) {
            const uint32_t s = i[x];
            const uint32_t alpha = s >> 24;
            if (alpha == 0xFF)
                o[x] = s;
            else if (s != 0)
                o[x] = addSaturated(s, scaleChannels(o[x], 0xFF - alpha));
        }
    }
    cairo_surface_mark_dirty_rectangle(to, r.left, r.top, r.width(), r.height());
    return true;
}

// The part of `dest` that the image covers when its pixel `sourceOffset`
// lands on dest's top-left corner.
static CRect insideImage(const Image& image, const CRect& dest, CPoint sourceOffset) {
    CRect inside(dest.left - sourceOffset.h, dest.top - sourceOffset.v,
                 dest.left - sourceOffset.h + image.width(),
                 dest.top - sourceOffset.v + image.height());
    inside.bound(dest);
    return inside;
}

void CairoDevice::blitPixels(const Image& image, const CRect& dest, CPoint sourceOffset) {
    cairo_surface_t* img = surfaceOf(image);
    if (!img || dest.isEmpty()) return;
    // The same memory seen as RGB24: the image's alpha byte is ignored and
    // the copied pixels come out opaque.
    cairo_surface_flush(img);
    SurfacePtr opaqueView(cairo_image_surface_create_for_data(
        cairo_image_surface_get_data(img), CAIRO_FORMAT_RGB24, cairo_image_surface_get_width(img),
        cairo_image_surface_get_height(img), cairo_image_surface_get_stride(img)));
    // Only the part inside the image is copied.
    const CRect inside = insideImage(image, dest, sourceOffset);
    if (inside.isEmpty()) return;
    if (composeDirectly(img, inside, sourceOffset.h - dest.left, sourceOffset.v - dest.top,
                        Compose::opaqueCopy))
        return;
    paintInto(
        cr(), opaqueView.get(), inside,
        CPoint(sourceOffset.h + inside.left - dest.left, sourceOffset.v + inside.top - dest.top),
        CAIRO_OPERATOR_SOURCE, 1.0);
}

void CairoDevice::blitColorKeyPixels(const Image& image, const CRect& dest, CPoint sourceOffset,
                                     CColor key) {
    cairo_surface_t* img = surfaceOf(image);
    if (!img || dest.isEmpty()) return;
    // A masked copy of the source area: key-coloured pixels become fully
    // transparent, all others opaque; then composed over the destination.
    std::unique_ptr<CairoImage> masked = CairoImage::create(dest.width(), dest.height());
    if (!masked) return;
    cairo_surface_flush(img);
    const uint8_t* data = cairo_image_surface_get_data(img);
    const int32_t stride = cairo_image_surface_get_stride(img);
    const int32_t iw = image.width(), ih = image.height();
    const uint32_t keyRgb = (uint32_t{key.red} << 16) | (uint32_t{key.green} << 8) | key.blue;
    for (int32_t y = 0; y < dest.height(); ++y) {
        const int32_t sy = sourceOffset.v + y;
        auto* out = reinterpret_cast<uint32_t*>(masked->row(y));
        if (sy < 0 || sy >= ih) continue;
        const auto* in =
            reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(sy) * stride);
        for (int32_t x = 0; x < dest.width(); ++x) {
            const int32_t sx = sourceOffset.h + x;
            if (sx < 0 || sx >= iw) continue;
            const uint32_t rgb = in[sx] & 0x00FFFFFFu;
            out[x] = rgb == keyRgb ? 0u : (rgb | 0xFF000000u);
        }
    }
    masked->pixelsChanged();
    paintInto(cr(), masked->surface(), dest, CPoint(), CAIRO_OPERATOR_OVER, 1.0);
}

void CairoDevice::alphaBlendPixels(const Image& image, const CRect& dest, CPoint sourceOffset,
                                   uint8_t constantAlpha) {
    cairo_surface_t* img = surfaceOf(image);
    if (!img || dest.isEmpty() || constantAlpha == 0) return;
    if (constantAlpha == 255) {
        // Outside the image nothing is composed.
        const CRect inside = insideImage(image, dest, sourceOffset);
        if (inside.isEmpty()) return;
        if (composeDirectly(img, inside, sourceOffset.h - dest.left, sourceOffset.v - dest.top,
                            Compose::over))
            return;
    }
    paintInto(cr(), img, dest, sourceOffset, CAIRO_OPERATOR_OVER, constantAlpha / 255.0);
}

// An image drawn at its own density is copied pixel for pixel; the units of
// dest and the offset are then simply multiplied.
KV_IDLE_PATH void CairoDevice::blit(const Image& image, const CRect& dest, CPoint sourceOffset) {
    const int32_t d = image.density();
    if (scale_ == d) {
        blitPixels(image, d == 1 ? dest : density::toDevice(dest, d),
                   density::toDevice(sourceOffset, d));
        return;
    }
    drawResampled(image, dest, sourceOffset, Resample::opaque, CColor{}, 255);
}

void CairoDevice::blitColorKey(const Image& image, const CRect& dest, CPoint sourceOffset,
                               CColor key) {
    const int32_t d = image.density();
    if (scale_ == d) {
        blitColorKeyPixels(image, density::toDevice(dest, d), density::toDevice(sourceOffset, d),
                           key);
        return;
    }
    drawResampled(image, dest, sourceOffset, Resample::colorKey, key, 255);
}

KV_IDLE_PATH void CairoDevice::alphaBlend(const Image& image, const CRect& dest,
                                          CPoint sourceOffset, uint8_t constantAlpha) {
    const int32_t d = image.density();
    if (scale_ == d) {
        alphaBlendPixels(image, d == 1 ? dest : density::toDevice(dest, d),
                         density::toDevice(sourceOffset, d), constantAlpha);
        return;
    }
    drawResampled(image, dest, sourceOffset, Resample::blend, CColor{}, constantAlpha);
}

namespace {

// Pixels [from) of `img` resampled onto the device pixels `to`, the part
// of them in `area` as a picture of area's size: read as they are (`blend`),
// or made opaque, the `keyRgb` colour transparent when `colorKey`. cairo's
// good filter, the edges padded: the filter never reaches a neighbouring
// picture of a strip.
//
// The bits are those a direct draw of `to` clipped to `area` gives. cairo
// rounds the pattern's translation to pixman's fixed point at the centre of
// the area it composes, so the same picture resampled at another place, or
// clipped otherwise, differs in the last bit here and there. It is
// therefore resampled where the device draws it, on a scratch surface as
// large as area's far corner (only the pages under `area` are written), and
// then cut out.
std::unique_ptr<CairoImage> resample(cairo_surface_t* img, const CRect& from, const CRect& to,
                                     const CRect& area, bool blend, bool colorKey,
                                     uint32_t keyRgb) {
    std::unique_ptr<CairoImage> out = CairoImage::create(area.width(), area.height());
    if (!out) return nullptr;
    SurfacePtr part;
    std::unique_ptr<CairoImage> masked;
    if (blend) {
        part.reset(cairo_surface_create_for_rectangle(img, from.left, from.top, from.width(),
                                                      from.height()));
    } else {
        masked = CairoImage::create(from.width(), from.height());
        if (!masked) return nullptr;
        const uint8_t* data = cairo_image_surface_get_data(img);
        const int32_t stride = cairo_image_surface_get_stride(img);
        for (int32_t y = 0; y < from.height(); ++y) {
            const auto* in = reinterpret_cast<const uint32_t*>(
                                 data + static_cast<ptrdiff_t>(from.top + y) * stride) +
                             from.left;
            auto* row = reinterpret_cast<uint32_t*>(masked->row(y));
            for (int32_t x = 0; x < from.width(); ++x) {
                const uint32_t rgb = in[x] & 0x00FFFFFFu;
                row[x] = colorKey && rgb == keyRgb ? 0u : (rgb | 0xFF000000u);
            }
        }
        masked->pixelsChanged();
        part.reset(cairo_surface_reference(masked->surface()));
    }
    // An area left of or above the origin (on a surface that is no image)
    // is resampled shifted: the same bits from draw to draw, if maybe not
    // a direct draw's.
    const CPoint shift(std::min(area.left, 0), std::min(area.top, 0));
    const CRect at(area.left - shift.h, area.top - shift.v, area.right - shift.h,
                   area.bottom - shift.v);
    SurfacePtr scratch(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, at.right, at.bottom));
    if (cairo_surface_status(scratch.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(part.get());
    cairo_matrix_t matrix;
    cairo_matrix_init_scale(&matrix, static_cast<double>(from.width()) / to.width(),
                            static_cast<double>(from.height()) / to.height());
    cairo_matrix_translate(&matrix, -(to.left - shift.h), -(to.top - shift.v));
    cairo_pattern_set_matrix(pattern, &matrix);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    // Onto transparent pixels: what the filter gives, unchanged.
    ContextPtr c(cairo_create(scratch.get()));
    cairo_rectangle(c.get(), at.left, at.top, at.width(), at.height());
    cairo_clip(c.get());
    cairo_set_source(c.get(), pattern);
    cairo_paint(c.get());
    cairo_pattern_destroy(pattern);
    const bool drawn = cairo_status(c.get()) == CAIRO_STATUS_SUCCESS;
    c.reset();
    if (!drawn) return nullptr;
    cairo_surface_flush(scratch.get());
    const uint8_t* rows = cairo_image_surface_get_data(scratch.get());
    const ptrdiff_t stride = cairo_image_surface_get_stride(scratch.get());
    for (int32_t y = 0; y < at.height(); ++y)
        std::memcpy(out->row(y), rows + (at.top + y) * stride + ptrdiff_t{at.left} * 4,
                    static_cast<size_t>(at.width()) * 4);
    out->pixelsChanged();
    return out;
}

}  // namespace

KV_IDLE_PATH void CairoDevice::drawResampled(const Image& image, const CRect& dest,
                                             CPoint sourceOffset, Resample mode, CColor key,
                                             uint8_t constantAlpha) {
    cairo_surface_t* img = surfaceOf(image);
    const int32_t d = std::max(image.density(), 1);
    if (!img || dest.isEmpty() || constantAlpha == 0) return;
    // The units of dest that the image covers, and the image's pixels there.
    CRect inside(dest.left - sourceOffset.h, dest.top - sourceOffset.v,
                 dest.left - sourceOffset.h + image.width() / d,
                 dest.top - sourceOffset.v + image.height() / d);
    inside.bound(dest);
    if (inside.isEmpty()) return;
    const CRect from = density::toDevice(
        CRect(inside.left - dest.left + sourceOffset.h, inside.top - dest.top + sourceOffset.v,
              inside.right - dest.left + sourceOffset.h, inside.bottom - dest.top + sourceOffset.v),
        d);
    const CRect to = pixels(inside);
    if (to.isEmpty()) return;

    // What cairo would compose: `to` inside the clip and the surface.
    CRect area = to;
    if (hasClip_) area.bound(clip_);
    if (isImageSurface(surface_.get()))
        area.bound(CRect(0, 0, cairo_image_surface_get_width(surface_.get()),
                         cairo_image_surface_get_height(surface_.get())));
    if (area.isEmpty()) return;

    const uint32_t keyRgb = mode == Resample::colorKey
                                ? (uint32_t{key.red} << 16) | (uint32_t{key.green} << 8) | key.blue
                                : 0u;
    const ResampleKey cacheKey{image.contentId(),          from,  to, area,
                               static_cast<uint8_t>(mode), keyRgb};
    ResampleCache& cache = ResampleCache::process();
    std::shared_ptr<const CairoImage> picture = cache.find(cacheKey);
    if (!picture) {
        cairo_surface_flush(img);
        picture = cache.keep(cacheKey, resample(img, from, to, area, mode == Resample::blend,
                                                mode == Resample::colorKey, keyRgb));
        if (!picture) return;
    }
    // Now at the device's factor: copied 1:1 as the source would have been
    // composed, opaque copies replacing the pixels and the others over them.
    if (mode == Resample::opaque)
        paintInto(cr(), picture->surface(), area, CPoint(), CAIRO_OPERATOR_SOURCE, 1.0);
    else
        alphaBlendPixels(*picture, area, CPoint(), constantAlpha);
}

// ---------------------------------------------------------------- files

bool writePng(cairo_surface_t* surface, const std::string& path) {
    if (!surface) return false;
    cairo_surface_flush(surface);
    return cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

bool writePng(DrawDevice& device, const std::string& path) {
    auto* d = dynamic_cast<CairoDevice*>(&device);
    return d && writePng(d->surface(), path);
}

}  // namespace VSTGUI::platform::cairo
