// The cairo device on its own: copies within one surface, the three image
// blits, dense pictures at fractional factors, wrapping a surface made
// elsewhere, PNG output and text encoding.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/cairo/cairo_device.h"
#include "platform/cairo/cairo_text.h"
#include "platform/cairo/resample_cache.h"
#include "vstgui/density.h"
#include "vstgui/platform/graphics.h"

namespace {

using namespace VSTGUI;
using platform::cairo::CairoDevice;
using platform::cairo::CairoImage;

// Writes one premultiplied pixel (0xAARRGGBB) into an image.
void put(platform::Image& image, int32_t x, int32_t y, uint32_t argb) {
    uint8_t* p = image.row(y) + 4 * x;
    p[0] = uint8_t(argb);
    p[1] = uint8_t(argb >> 8);
    p[2] = uint8_t(argb >> 16);
    p[3] = uint8_t(argb >> 24);
}

std::unique_ptr<CairoDevice> blackDevice(int32_t w, int32_t h) {
    auto d = CairoDevice::createImageDevice(w, h);
    d->setBrush(CColor{0, 0, 0, 255});
    d->fillRect(CRect(0, 0, w, h));
    return d;
}

TEST(CairoDevice, CopiesWithinItsOwnSurfaceEvenWhenTheAreasOverlap) {
    auto d = CairoDevice::createImageDevice(10, 1);
    for (int32_t x = 0; x < 10; ++x) {
        d->setBrush(CColor{uint8_t(x * 20), 0, 0, 255});
        d->fillRect(CRect(x, 0, x + 1, 1));
    }
    d->copyFrom(*d, CRect(0, 0, 5, 1), CPoint(2, 0));
    const int32_t expected[] = {0, 1, 0, 1, 2, 3, 4, 7, 8, 9};
    for (int32_t x = 0; x < 10; ++x) {
        EXPECT_EQ(d->pixel(x, 0), 0xFF000000u | uint32_t(expected[x] * 20) << 16) << x;
    }
}

// A window back end's device that draws through a cairo device it wraps.
class WrappingDevice : public platform::DrawDevice, public platform::cairo::SurfaceSource {
  public:
    explicit WrappingDevice(int32_t w, int32_t h) : inner(CairoDevice::createImageDevice(w, h)) {}
    cairo_surface_t* cairoSurface() override { return inner->surface(); }
    void setPen(CColor c, int32_t w) override { inner->setPen(c, w); }
    bool setBrush(CColor c) override { return inner->setBrush(c); }
    void setTextColor(CColor c) override { inner->setTextColor(c); }
    void setFont(const platform::FontDesc& f) override { inner->setFont(f); }
    void setClip(const CRect& r) override { inner->setClip(r); }
    void moveTo(CPoint p) override { inner->moveTo(p); }
    void lineTo(CPoint p) override { inner->lineTo(p); }
    void fillRect(const CRect& r) override { inner->fillRect(r); }
    void drawText(const char* t, const CRect& r, platform::TextAlign a, bool o) override {
        inner->drawText(t, r, a, o);
    }
    void copyFrom(DrawDevice& s, const CRect& r, CPoint d) override { inner->copyFrom(s, r, d); }
    void blit(const platform::Image& i, const CRect& d, CPoint o) override { inner->blit(i, d, o); }
    void blitColorKey(const platform::Image& i, const CRect& d, CPoint o, CColor k) override {
        inner->blitColorKey(i, d, o, k);
    }
    void alphaBlend(const platform::Image& i, const CRect& d, CPoint o, uint8_t a) override {
        inner->alphaBlend(i, d, o, a);
    }
    std::unique_ptr<CairoDevice> inner;
};

TEST(CairoDevice, CopiesFromADeviceThatWrapsACairoSurface) {
    WrappingDevice window(8, 8);
    window.setBrush(CColor{0, 0, 250, 255});
    window.fillRect(CRect(2, 2, 4, 4));
    auto buffer = blackDevice(8, 8);
    buffer->copyFrom(window, CRect(2, 2, 4, 4), CPoint(5, 5));
    EXPECT_EQ(buffer->pixel(5, 5), 0xFF0000FAu);
    EXPECT_EQ(buffer->pixel(6, 6), 0xFF0000FAu);
    EXPECT_EQ(buffer->pixel(4, 4), 0xFF000000u);
    EXPECT_EQ(buffer->pixel(7, 7), 0xFF000000u);
}

TEST(CairoDevice, BlitsImagesOpaqueColourKeyedAndAlphaBlended) {
    auto image = platform::createImage(3, 2);
    ASSERT_NE(image, nullptr);
    put(*image, 0, 0, 0xFFFFFFFF);  // white
    put(*image, 1, 0, 0xFFFF0000);  // red
    put(*image, 2, 0, 0xFFFFFFFF);  // white
    put(*image, 0, 1, 0x80808080);  // white at half alpha, premultiplied
    put(*image, 1, 1, 0x00000000);  // transparent
    put(*image, 2, 1, 0x28140A05);  // some colour at alpha 40
    image->pixelsChanged();

    // blit: the pixels replace the destination, their alpha ignored.
    auto d = blackDevice(6, 4);
    d->blit(*image, CRect(1, 1, 4, 3), CPoint(0, 0));
    EXPECT_EQ(d->pixel(1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(d->pixel(2, 1), 0xFFFF0000u);
    EXPECT_EQ(d->pixel(1, 2), 0xFF808080u);
    EXPECT_EQ(d->pixel(2, 2), 0xFF000000u);
    EXPECT_EQ(d->pixel(3, 2), 0xFF140A05u);
    EXPECT_EQ(d->pixel(0, 0), 0xFF000000u);
    // A destination larger than what the image has left: only the image's
    // part is copied.
    auto partial = blackDevice(6, 4);
    partial->setBrush(CColor{0, 0, 255, 255});
    partial->fillRect(CRect(0, 0, 6, 4));
    partial->blit(*image, CRect(0, 0, 6, 4), CPoint(1, 1));
    EXPECT_EQ(partial->pixel(0, 0), 0xFF000000u);  // image (1, 1), transparent but opaque now
    EXPECT_EQ(partial->pixel(2, 0), 0xFF0000FFu);  // beyond the image's width
    EXPECT_EQ(partial->pixel(0, 1), 0xFF0000FFu);  // beyond its height

    // Colour key: pixels whose colour equals the key are left out.
    auto k = blackDevice(6, 4);
    k->blitColorKey(*image, CRect(0, 0, 3, 1), CPoint(0, 0), CColor{255, 255, 255, 0});
    EXPECT_EQ(k->pixel(0, 0), 0xFF000000u);
    EXPECT_EQ(k->pixel(1, 0), 0xFFFF0000u);
    EXPECT_EQ(k->pixel(2, 0), 0xFF000000u);
    // The key's alpha does not take part; red keyed out the same way.
    auto k2 = blackDevice(6, 4);
    k2->blitColorKey(*image, CRect(2, 2, 5, 3), CPoint(0, 0), CColor{255, 0, 0, 255});
    EXPECT_EQ(k2->pixel(2, 2), 0xFFFFFFFFu);
    EXPECT_EQ(k2->pixel(3, 2), 0xFF000000u);
    EXPECT_EQ(k2->pixel(4, 2), 0xFFFFFFFFu);

    // Alpha blend over black: premultiplied source over destination.
    auto a = blackDevice(6, 4);
    a->alphaBlend(*image, CRect(0, 0, 3, 2), CPoint(0, 0), 255);
    EXPECT_EQ(a->pixel(0, 1), 0xFF808080u);
    EXPECT_EQ(a->pixel(1, 1), 0xFF000000u);
    EXPECT_EQ(a->pixel(1, 0), 0xFFFF0000u);
    // With a constant alpha of 128 white lands half way.
    auto h = blackDevice(6, 4);
    h->alphaBlend(*image, CRect(0, 0, 1, 1), CPoint(0, 0), 128);
    const uint32_t half = h->pixel(0, 0) & 0xFF;
    EXPECT_GE(half, 127u);
    EXPECT_LE(half, 129u);
    // Everything stays inside the destination rectangle.
    EXPECT_EQ(a->pixel(3, 0), 0xFF000000u);
    EXPECT_EQ(a->pixel(0, 2), 0xFF000000u);
}

TEST(CairoDevice, ComposesImagesOntoItsImageExactlyAsCairoDoes) {
    // Every alpha, with colours up to it, over a destination of every kind
    // (opaque, translucent, empty), inside a clip: the device's result must
    // equal cairo's own composition pixel for pixel.
    constexpr int32_t w = 256, h = 4;  // small enough for the direct path
    auto image = platform::createImage(w, h);
    ASSERT_NE(image, nullptr);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t a = uint32_t(x), c = a * uint32_t(y + 1) / h;
            put(*image, x, y, a << 24 | c << 16 | (a - c) << 8 | c / 2);
        }
    image->pixelsChanged();
    cairo_surface_t* source = static_cast<CairoImage*>(image.get())->surface();
    const auto fillDestination = [&](cairo_surface_t* s) {
        cairo_surface_flush(s);
        for (int32_t y = 0; y < h + 2; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) +
                                                    y * cairo_image_surface_get_stride(s));
            for (int32_t x = 0; x < w + 2; ++x) {
                const uint32_t a = y % 3 == 0 ? 0xFF : y % 3 == 1 ? uint32_t(x) % 256 : 0;
                const uint32_t c = a * uint32_t(x % 7) / 6;
                row[x] = a << 24 | c << 16 | (a - c) << 8 | c;
            }
        }
        cairo_surface_mark_dirty(s);
    };
    const CRect clip(3, 1, w - 5, h + 1);
    for (const bool opaque : {false, true}) {
        cairo_surface_t* expected = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w + 2, h + 2);
        cairo_surface_t* actual = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w + 2, h + 2);
        fillDestination(expected);
        fillDestination(actual);
        // The image lands at (1, 1) and is read from its pixel (1, 0).
        cairo_t* cr = cairo_create(expected);
        cairo_rectangle(cr, clip.left, clip.top, clip.width(), clip.height());
        cairo_clip(cr);
        cairo_rectangle(cr, 1, 1, w - 1, h);  // where the image and the rectangle meet
        cairo_clip(cr);
        cairo_surface_t* view =
            opaque ? cairo_image_surface_create_for_data(cairo_image_surface_get_data(source),
                                                         CAIRO_FORMAT_RGB24, w, h,
                                                         cairo_image_surface_get_stride(source))
                   : cairo_surface_reference(source);
        cairo_set_operator(cr, opaque ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_OVER);
        cairo_set_source_surface(cr, view, 0, 1);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_destroy(view);
        {
            CairoDevice d(actual);
            d.setClip(clip);
            if (opaque)
                d.blit(*image, CRect(1, 1, w + 1, h + 1), CPoint(1, 0));
            else
                d.alphaBlend(*image, CRect(1, 1, w + 1, h + 1), CPoint(1, 0), 255);
            d.flush();
        }
        for (int32_t y = 0; y < h + 2; ++y) {
            const auto* e =
                reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(expected) +
                                                  y * cairo_image_surface_get_stride(expected));
            const auto* a = reinterpret_cast<const uint32_t*>(
                cairo_image_surface_get_data(actual) + y * cairo_image_surface_get_stride(actual));
            for (int32_t x = 0; x < w + 2; ++x)
                ASSERT_EQ(a[x], e[x]) << (opaque ? "blit" : "blend") << " at " << x << ", " << y;
        }
        cairo_surface_destroy(expected);
        cairo_surface_destroy(actual);
    }
}

// A dense picture (two pixels a unit) at a fractional factor is resampled
// once and kept; every draw must still give the bits cairo gives when it
// resamples the picture straight onto the device, clipped as the device is:
// for any strip picture, place and clip, for each mode, and with the
// picture's new pixels once they change.
TEST(CairoDevice, ResamplesDensePicturesAsCairoDoesKeepingEachOnceWithinItsBudget) {
    using platform::cairo::ResampleCache;
    constexpr int32_t w = 40, h = 120;  // three 20 x 20 unit frames at density 2
    auto image = platform::createImage(w, h);
    ASSERT_NE(image, nullptr);
    const auto paintImage = [&](uint32_t seed) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t a = (uint32_t(x * 37 + y * 11) + seed) % 256;
                const uint32_t c = a * uint32_t((x + y + seed) % 5) / 4;
                put(*image, x, y, a << 24 | c << 16 | (a - c) << 8 | (a * (x % 3)) / 2);
            }
        image->pixelsChanged();
    };
    paintImage(0);
    image->setDensity(2);
    cairo_surface_t* source = static_cast<CairoImage*>(image.get())->surface();
    constexpr int32_t side = 64;  // the device's surface, in pixels
    const auto fill = [&](cairo_surface_t* s) {
        cairo_t* cr = cairo_create(s);
        cairo_set_source_rgba(cr, 0.2, 0.5, 0.3, 0.8);
        cairo_paint(cr);
        cairo_destroy(cr);
    };
    // What the device once did at every draw: the frame's pixels resampled
    // straight onto `to`, inside the clip.
    const auto expected = [&](double scale, const CRect& dest, CPoint offset, const CRect& clip,
                              bool blend) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side);
        fill(s);
        const CRect to = density::toDevice(dest, scale);
        const CRect from = density::toDevice(CRect(offset, CPoint(dest.width(), dest.height())), 2);
        cairo_surface_t* part = nullptr;
        if (blend) {
            part = cairo_surface_create_for_rectangle(source, from.left, from.top, from.width(),
                                                      from.height());
        } else {  // opaque: the colours alone
            part = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, from.width(), from.height());
            cairo_t* copy = cairo_create(part);
            cairo_set_source_surface(copy, source, -from.left, -from.top);
            cairo_set_operator(copy, CAIRO_OPERATOR_SOURCE);
            cairo_paint(copy);
            cairo_destroy(copy);
            cairo_surface_flush(part);
            for (int32_t y = 0; y < from.height(); ++y) {
                auto* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(part) +
                                                        y * cairo_image_surface_get_stride(part));
                for (int32_t x = 0; x < from.width(); ++x)
                    row[x] |= 0xFF000000u;
            }
            cairo_surface_mark_dirty(part);
        }
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(part);
        cairo_matrix_t m;
        cairo_matrix_init_scale(&m, double(from.width()) / to.width(),
                                double(from.height()) / to.height());
        cairo_matrix_translate(&m, -to.left, -to.top);
        cairo_pattern_set_matrix(pattern, &m);
        cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
        cairo_t* cr = cairo_create(s);
        const CRect c = density::toDevice(clip, scale);
        cairo_rectangle(cr, c.left, c.top, c.width(), c.height());
        cairo_clip(cr);
        cairo_rectangle(cr, to.left, to.top, to.width(), to.height());
        cairo_clip(cr);
        cairo_set_source(cr, pattern);
        cairo_set_operator(cr, blend ? CAIRO_OPERATOR_OVER : CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_pattern_destroy(pattern);
        cairo_surface_destroy(part);
        cairo_surface_flush(s);
        return s;
    };
    const auto differing = [&](cairo_surface_t* want, CairoDevice& d) {
        int32_t count = 0;
        for (int32_t y = 0; y < side; ++y)
            for (int32_t x = 0; x < side; ++x) {
                const auto* row = reinterpret_cast<const uint32_t*>(
                    cairo_image_surface_get_data(want) + y * cairo_image_surface_get_stride(want));
                count += row[x] != d.pixel(x, y);
            }
        return count;
    };
    ResampleCache::process().clear();
    struct Draw {
        double scale;
        CRect dest;
        CPoint offset;
        CRect clip;
    };
    const Draw draws[] = {
        {1.5, CRect(3, 5, 23, 25), CPoint(0, 20), CRect(0, 0, 40, 40)},   // whole frame 2
        {1.5, CRect(3, 5, 23, 25), CPoint(0, 20), CRect(0, 0, 40, 40)},   // again: kept
        {1.5, CRect(3, 5, 23, 25), CPoint(0, 40), CRect(0, 0, 40, 40)},   // frame 3
        {1.5, CRect(3, 5, 23, 25), CPoint(0, 20), CRect(9, 11, 14, 17)},  // frame 2, clipped
        {1.5, CRect(14, 2, 34, 22), CPoint(0, 20), CRect(0, 0, 40, 40)},  // frame 2 elsewhere
        {1.25, CRect(3, 5, 23, 25), CPoint(0, 20), CRect(0, 0, 40, 40)},  // another factor
        {2.5, CRect(1, 1, 21, 21), CPoint(0, 0), CRect(0, 0, 40, 40)},    // enlarged
    };
    for (const bool blend : {true, false}) {
        for (const Draw& draw : draws) {
            cairo_surface_t* want = expected(draw.scale, draw.dest, draw.offset, draw.clip, blend);
            cairo_surface_t* got = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side);
            fill(got);
            {
                CairoDevice d(got);
                d.setScale(draw.scale);
                d.setClip(draw.clip);
                if (blend)
                    d.alphaBlend(*image, draw.dest, draw.offset, 255);
                else
                    d.blit(*image, draw.dest, draw.offset);
                d.flush();
                EXPECT_EQ(differing(want, d), 0)
                    << (blend ? "blend" : "blit") << " at " << draw.scale << ", frame at "
                    << draw.offset.v << ", clip " << draw.clip.left << "," << draw.clip.top;
            }
            cairo_surface_destroy(got);
            cairo_surface_destroy(want);
        }
    }
    const size_t kept = ResampleCache::process().bytes();
    EXPECT_GT(kept, 0u);

    // New pixels in the picture: drawn from them, not from what was kept.
    paintImage(99);
    const Draw& first = draws[0];
    cairo_surface_t* want = expected(first.scale, first.dest, first.offset, first.clip, true);
    {
        auto d = CairoDevice::createImageDevice(side, side);
        fill(d->surface());
        d->setScale(first.scale);
        d->setClip(first.clip);
        d->alphaBlend(*image, first.dest, first.offset, 255);
        d->flush();
        EXPECT_EQ(differing(want, *d), 0) << "the picture's new pixels";
    }
    cairo_surface_destroy(want);

    // Every factor a host may choose, every frame: what is kept stays
    // within the budget, and is freed on demand.
    auto big = platform::createImage(480, 4800);
    ASSERT_NE(big, nullptr);
    big->pixelsChanged();
    big->setDensity(2);
    auto d = CairoDevice::createImageDevice(720, 720);
    for (const double scale : {1.25, 1.5, 1.75, 2.25, 2.5, 2.75, 3.0}) {
        d->setScale(scale);
        for (int32_t frame = 0; frame < 6; ++frame)
            d->alphaBlend(*big, CRect(0, 0, 240, 240), CPoint(0, 240 * frame), 255);
    }
    EXPECT_GT(ResampleCache::process().bytes(), ResampleCache::kBudgetBytes / 2);
    EXPECT_LE(ResampleCache::process().bytes(), ResampleCache::kBudgetBytes);
    ResampleCache::process().clear();
    EXPECT_EQ(ResampleCache::process().bytes(), 0u);
}

TEST(CairoDevice, WrapsASurfaceMadeElsewhereAndKeepsItAlive) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 8, 8);
    auto d = std::make_unique<CairoDevice>(s);
    cairo_surface_destroy(s);  // the device holds its own reference
    d->setBrush(CColor{0, 200, 0, 255});
    d->fillRect(CRect(2, 2, 4, 4));
    d->flush();
    EXPECT_EQ(d->pixel(2, 2) & 0xFFFFFF, 0x00C800u);
    EXPECT_EQ(d->pixel(4, 4) & 0xFFFFFF, 0u);
    EXPECT_EQ(d->width(), 8);

    // An empty clip draws nothing; a pen of width 0 draws one pixel.
    d->setClip(CRect(3, 3, 3, 3));
    d->fillRect(CRect(0, 0, 8, 8));
    EXPECT_EQ(d->pixel(0, 0) & 0xFFFFFF, 0u);
    d->setClip(CRect(0, 0, 8, 8));
    d->setPen(CColor{0, 0, 255, 255}, 0);
    d->moveTo(CPoint(0, 7));
    d->lineTo(CPoint(3, 7));
    EXPECT_EQ(d->pixel(2, 7) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(d->pixel(2, 6) & 0xFFFFFF, 0u);
    EXPECT_EQ(d->pixel(3, 7) & 0xFFFFFF, 0u);

    // Offscreen devices always exist, sides below 1 count as 1.
    auto tiny = platform::createOffscreenDevice(0, -5);
    ASSERT_NE(tiny, nullptr);
    EXPECT_EQ(dynamic_cast<CairoDevice&>(*tiny).width(), 1);
    EXPECT_EQ(platform::createImage(0, 4), nullptr);
    EXPECT_EQ(platform::loadPlainBitmap(101), nullptr);
}

TEST(CairoDevice, WritesItsPixelsToAPngFile) {
    auto d = blackDevice(5, 3);
    d->setBrush(CColor{10, 20, 30, 255});
    d->fillRect(CRect(4, 2, 5, 3));
    const std::string path =
        (std::filesystem::temp_directory_path() / "kv_cairo_device_test.png").string();
    ASSERT_TRUE(platform::cairo::writePng(*d, path));
    cairo_surface_t* back = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(back), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(back), 5);
    EXPECT_EQ(cairo_image_surface_get_height(back), 3);
    const auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(back) +
                                                        2 * cairo_image_surface_get_stride(back));
    EXPECT_EQ(row[4] & 0xFFFFFF, 0x0A141Eu);
    cairo_surface_destroy(back);
    std::remove(path.c_str());
    EXPECT_FALSE(platform::cairo::writePng(*d, "/nonexistent-dir/x.png"));
}

TEST(CairoText, PassesUtf8AndReadsOtherBytesAsLatin1) {
    using platform::cairo::toUtf8;
    EXPECT_EQ(toUtf8("-8.0 dB"), "-8.0 dB");
    EXPECT_EQ(toUtf8("Gr\xC3\xBC\xC3\x9F"
                     "e"),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    EXPECT_EQ(toUtf8("12\xB0"), "12\xC2\xB0");
    EXPECT_EQ(toUtf8("\xE2\x82"), "\xC3\xA2\xC2\x82");              // truncated sequence
    EXPECT_EQ(toUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");              // overlong form
    EXPECT_EQ(toUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");  // surrogate
    EXPECT_EQ(toUtf8(nullptr), "");

    // The font faces are resolved once: the same description, the same face.
    platform::FontDesc arial;
    arial.face = "Arial";
    arial.pixelHeight = 12;
    EXPECT_EQ(platform::cairo::fontFace(arial), platform::cairo::fontFace(arial));
    platform::FontDesc bold = arial;
    bold.bold = true;
    EXPECT_NE(platform::cairo::fontFace(arial), platform::cairo::fontFace(bold));
}

}  // namespace
