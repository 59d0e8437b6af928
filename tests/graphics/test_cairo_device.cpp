// The cairo device on its own: copies within one surface, the three image
// blits, wrapping a surface made elsewhere, PNG output and text encoding.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/cairo/cairo_device.h"
#include "platform/cairo/cairo_text.h"
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
