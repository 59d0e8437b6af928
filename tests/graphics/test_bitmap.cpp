// Bitmaps: the PNG conversion into premultiplied BGRA, drawing geometry,
// failure paths and the library's four real images.
#include <gtest/gtest.h>
#include <png.h>
#include <stb_image.h>

#include <array>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "graphics_test_support.h"
#include "platform/cairo/cairo_device.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cfont.h"
#include "vstgui/palette_rows.h"
#include "vstgui/platform/graphics.h"
#include "vstgui/platform/resources.h"

namespace {

using namespace VSTGUI;
using kvtest::encodePng;
using kvtest::rgbAt;

using Bgra = std::array<uint8_t, 4>;

Bgra stored(CBitmap& b, int32_t x, int32_t y) {
    const uint8_t* p = b.getImage()->row(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

// A bitmap that owns no resource (number 0 has no image) loaded from bytes.
CBitmap* fromPng(const std::vector<uint8_t>& png) {
    auto* b = new CBitmap(0);
    EXPECT_TRUE(b->loadFromPngBytes(png.data(), png.size()));
    return b;
}

// Independent statement of the stored value: colour times alpha over 256,
// truncated, except for alpha 255.
uint8_t expectedChannel(int value, int alpha) {
    return alpha == 255 ? uint8_t(value) : uint8_t(int(value * alpha / 256));
}

TEST(BitmapConversion, StoresPremultipliedBlueGreenRedAlpha) {
    const std::vector<uint8_t> rgba = {
        200, 100, 50,  128,  // the documented example
        10,  20,  30,  255,  // opaque: unchanged
        1,   2,   3,   0,    // transparent: all zero
        255, 255, 255, 1,    // 255 * 1 / 256 truncates to 0
        77,  160, 240, 254, 9, 99, 199, 77,
    };
    CBitmap* b = fromPng(encodePng(3, 2, 4, rgba));
    EXPECT_EQ(b->getWidth(), 3);
    EXPECT_EQ(b->getHeight(), 2);
    EXPECT_EQ(b->getDecodedChannels(), 4);
    EXPECT_FALSE(b->isOpaque());
    EXPECT_EQ(stored(*b, 0, 0), (Bgra{25, 50, 100, 128}));
    EXPECT_EQ(stored(*b, 1, 0), (Bgra{30, 20, 10, 255}));
    EXPECT_EQ(stored(*b, 2, 0), (Bgra{0, 0, 0, 0}));
    EXPECT_EQ(stored(*b, 0, 1), (Bgra{0, 0, 0, 1}));
    for (int32_t i = 4; i < 6; ++i) {
        const uint8_t* s = &rgba[size_t(i) * 4];
        const Bgra want = {expectedChannel(s[2], s[3]), expectedChannel(s[1], s[3]),
                           expectedChannel(s[0], s[3]), s[3]};
        EXPECT_EQ(stored(*b, i % 3, i / 3), want) << i;
    }
    b->forget();
}

// Every pixel of the bitmap against stb_image's decode of the same file,
// premultiplied independently.
void expectLikeTheGeneralDecoder(CBitmap& b, const uint8_t* png, size_t size) {
    int w = 0, h = 0, n = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> rgba(
        stbi_load_from_memory(png, int(size), &w, &h, &n, 4), &stbi_image_free);
    ASSERT_TRUE(rgba);
    ASSERT_EQ(b.getWidth(), w);
    ASSERT_EQ(b.getHeight(), h);
    EXPECT_EQ(b.getDecodedChannels(), n);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const stbi_uc* s = rgba.get() + (size_t(y) * size_t(w) + size_t(x)) * 4;
            const Bgra want = {expectedChannel(s[2], s[3]), expectedChannel(s[1], s[3]),
                               expectedChannel(s[0], s[3]), s[3]};
            ASSERT_EQ(stored(b, x, y), want) << x << "," << y;
        }
    }
}

// Palette images are read here and expanded as drawn; what they show must
// not differ from the general decoder's picture, whatever filters the
// encoder (libpng) chose for the rows.
TEST(BitmapConversion, PaletteImagesMatchTheGeneralDecoderUnderEveryFilter) {
    constexpr int32_t kW = 37, kH = 41;
    std::mt19937 random(7);
    std::vector<uint8_t> palette(200 * 3), alphas(150), indices(size_t(kW) * kH);
    for (uint8_t& v : palette)
        v = uint8_t(random());
    for (uint8_t& v : alphas)
        v = uint8_t(random() % 3 == 0 ? 255 : random() % 3 == 0 ? 0 : random());
    // Runs, then noise, then noise of few values (where the predictors
    // meet their ties), so that every filter has something to predict.
    for (size_t i = 0; i < indices.size(); ++i) {
        const size_t third = i * 3 / indices.size();
        indices[i] = uint8_t(third == 0 ? (i / 5) % 200 : random() % (third == 1 ? 200 : 4));
    }
    for (const int filters : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                              PNG_FILTER_PAETH, PNG_ALL_FILTERS}) {
        for (const bool transparent : {true, false}) {
            const std::vector<uint8_t> png = kvtest::encodePalettePng(
                kW, kH, palette, transparent ? alphas : std::vector<uint8_t>{}, indices, filters);
            SCOPED_TRACE(testing::Message() << "filters " << filters << " tRNS " << transparent);
            ASSERT_NE(PaletteRows::read(png.data(), png.size()), nullptr);  // not left to stb
            CBitmap* b = fromPng(png);
            expectLikeTheGeneralDecoder(*b, png.data(), png.size());
            EXPECT_FALSE(b->isOpaque());
            b->forget();
        }
    }
    // Broken palette files are not half read: a truncated one and one with
    // a row filter that does not exist load nothing, as in the general
    // decoder.
    std::vector<uint8_t> png =
        kvtest::encodePalettePng(kW, kH, palette, alphas, indices, PNG_FILTER_NONE);
    CBitmap b(0);
    EXPECT_FALSE(b.loadFromPngBytes(png.data(), png.size() - 40));
    EXPECT_EQ(PaletteRows::read(png.data(), png.size() - 40), nullptr);
    const std::vector<uint8_t> stored =
        kvtest::encodePalettePng(4, 1, {1, 2, 3}, {}, {0, 0, 0, 0}, PNG_FILTER_NONE);
    EXPECT_NE(PaletteRows::read(stored.data(), stored.size()), nullptr);
}

TEST(BitmapConversion, ImagesWithoutAlphaAreOpaqueAndGreyIsExpanded) {
    CBitmap* rgb = fromPng(encodePng(2, 1, 3, {200, 100, 50, 0, 0, 0}));
    EXPECT_EQ(rgb->getDecodedChannels(), 3);
    EXPECT_EQ(stored(*rgb, 0, 0), (Bgra{50, 100, 200, 255}));
    EXPECT_EQ(stored(*rgb, 1, 0), (Bgra{0, 0, 0, 255}));
    // Still drawn as an image with alpha, like every PNG.
    EXPECT_FALSE(rgb->isOpaque());
    rgb->forget();

    CBitmap* grey = fromPng(encodePng(2, 1, 1, {77, 255}));
    EXPECT_EQ(grey->getDecodedChannels(), 1);
    EXPECT_EQ(stored(*grey, 0, 0), (Bgra{77, 77, 77, 255}));
    EXPECT_EQ(stored(*grey, 1, 0), (Bgra{255, 255, 255, 255}));
    grey->forget();

    CBitmap* greyAlpha = fromPng(encodePng(2, 1, 2, {200, 128, 90, 0}));
    EXPECT_EQ(greyAlpha->getDecodedChannels(), 2);
    EXPECT_EQ(stored(*greyAlpha, 0, 0), (Bgra{100, 100, 100, 128}));
    EXPECT_EQ(stored(*greyAlpha, 1, 0), (Bgra{0, 0, 0, 0}));
    greyAlpha->forget();
}

TEST(BitmapDrawing, FirstRowOnTopAtTheContextOffsetAndSourceOffset) {
    // 2 x 3: a red top row, a green middle, a blue bottom row.
    const std::vector<uint8_t> px = {255, 0,   0, 255, 0, 0,   0, 255, 0,
                                     0,   255, 0, 0,   0, 255, 0, 0,   255};
    CBitmap* b = fromPng(encodePng(2, 3, 3, px));
    auto* c = new COffscreenContext(nullptr, 10, 10, kBlackColor);
    b->draw(c, CRect(0, 0, 2, 3));
    EXPECT_EQ(rgbAt(*c, 0, 0), 0xFF0000u);
    EXPECT_EQ(rgbAt(*c, 1, 1), 0x00FF00u);
    EXPECT_EQ(rgbAt(*c, 1, 2), 0x0000FFu);
    EXPECT_EQ(rgbAt(*c, 2, 0), 0u);

    // Destination shifted by the context's offset; the source offset picks
    // the part of the image; no scaling into a taller rectangle.
    c->offset = CPoint(5, 4);
    b->draw(c, CRect(1, 1, 3, 6), CPoint(0, 1));
    EXPECT_EQ(rgbAt(*c, 6, 5), 0x00FF00u);
    EXPECT_EQ(rgbAt(*c, 6, 6), 0x0000FFu);
    EXPECT_EQ(rgbAt(*c, 6, 7), 0u);  // below the image's last row
    c->forget();
    b->forget();
}

TEST(BitmapDrawing, FilmstripShowsTheImageAtTheSourceOffset) {
    // 97 images of 80 x 80, each one flat colour that encodes its number.
    constexpr int32_t kW = 80, kImages = 97, kH = 80 * kImages;
    std::vector<uint8_t> px(size_t(kW) * kH * 3);
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW; ++x) {
            uint8_t* p = &px[(size_t(y) * kW + x) * 3];
            p[0] = uint8_t(y / 80);
            p[1] = uint8_t(255 - y / 80);
            p[2] = 17;
        }
    }
    CBitmap* strip = fromPng(encodePng(kW, kH, 3, px));
    EXPECT_EQ(strip->getHeight(), 7760);
    auto* c = new COffscreenContext(nullptr, 100, 100, kBlackColor);
    strip->draw(c, CRect(10, 10, 90, 90), CPoint(0, 160));
    for (int32_t y = 10; y < 90; ++y) {
        for (int32_t x = 10; x < 90; ++x) {
            ASSERT_EQ(rgbAt(*c, x, y), kvtest::rgb(2, 253, 17)) << x << "," << y;
        }
    }
    EXPECT_EQ(rgbAt(*c, 9, 50), 0u);
    EXPECT_EQ(rgbAt(*c, 90, 50), 0u);
    c->forget();
    strip->forget();
}

// A palette filmstrip of 97 images of 80 x 80; image k is flat in palette
// colour k: red k, green 0, blue 200.
constexpr int32_t kStripWidth = 80, kStripHeight = 80 * 97;
std::vector<uint8_t> paletteFilmstrip() {
    std::vector<uint8_t> palette(97 * 3), indices(size_t(kStripWidth) * kStripHeight);
    for (size_t k = 0; k < 97; ++k)
        palette[3 * k] = uint8_t(k), palette[3 * k + 2] = 200;
    for (size_t i = 0; i < indices.size(); ++i)
        indices[i] = uint8_t(i / kStripWidth / 80);
    return kvtest::encodePalettePng(kStripWidth, kStripHeight, palette, {}, indices,
                                    PNG_ALL_FILTERS);
}

TEST(BitmapDrawing, PaletteFilmstripFillsOnlyTheRowsItDraws) {
    constexpr int32_t kW = kStripWidth, kH = kStripHeight;
    const std::vector<uint8_t> png = paletteFilmstrip();
    std::unique_ptr<PaletteRows> rows = PaletteRows::read(png.data(), png.size());
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->channels(), 3);
    std::unique_ptr<platform::Image> image = platform::createImage(kW, kH);
    rows->expand(*image, 160, 240);
    rows->expand(*image, 200, 220);
    EXPECT_EQ(rows->expandedRows(), 80);
    EXPECT_EQ(image->row(160)[0], 200);      // blue of image 2
    EXPECT_EQ(image->row(239)[2], 2);        // its red
    EXPECT_EQ(image->row(100)[3], 0);        // image 1: not filled
    rows->expand(*image, -5, 0);             // outside: nothing
    rows->expand(*image, kH - 1, kH + 100);  // the last band only
    EXPECT_EQ(rows->expandedRows(), 80 + PaletteRows::kBandRows);

    // Through a bitmap: drawing image 3 shows it.
    CBitmap* strip = fromPng(png);
    auto* c = new COffscreenContext(nullptr, 80, 80, kBlackColor);
    strip->draw(c, CRect(0, 0, 80, 80), CPoint(0, 240));
    EXPECT_EQ(rgbAt(*c, 0, 0), kvtest::rgb(3, 0, 200));
    EXPECT_EQ(rgbAt(*c, 79, 79), kvtest::rgb(3, 0, 200));
    c->forget();
    strip->forget();
}

// Editors on several user-interface threads share one decoded filmstrip and
// fill its rows as they draw, at 1.5x, where the frames each resamples are
// kept for both; fonts are set up, and the face they draw with opened, on a
// thread of their own while they do. Run under ThreadSanitizer this shows
// all three free of races; both editors see the same pixels.
TEST(PaletteThreads, EditorsOnTwoThreadsFillOneImageAndWaitForTheFonts) {
    constexpr int32_t kW = kStripWidth, kH = kStripHeight;
    const std::vector<uint8_t> png = paletteFilmstrip();
    std::unique_ptr<PaletteRows> rows = PaletteRows::read(png.data(), png.size());
    ASSERT_NE(rows, nullptr);
    std::unique_ptr<platform::Image> image = platform::createImage(kW, kH);
    std::array<std::array<uint32_t, 97>, 2> seen{};
    auto editor = [&](int32_t first, int32_t step, std::array<uint32_t, 97>* centres) {
        platform::prepareFonts(makeFontDesc(kNormalFont, 0), "12.0 dB");
        auto* c = new COffscreenContext(nullptr, 40, 12, kWhiteColor);
        c->setFont(kNormalFont);
        c->drawString("12.0 dB", CRect(0, 0, 40, 12), false, kLeftText);
        c->forget();
        std::unique_ptr<platform::DrawDevice> dense = platform::createOffscreenDevice(80, 80, 1.5);
        auto& pixels = dynamic_cast<platform::cairo::CairoDevice&>(*dense);
        for (int32_t k = first; k >= 0 && k < 97; k += step) {
            rows->expand(*image, 80 * k, 80 * k + 80);
            dense->alphaBlend(*image, CRect(0, 0, 80, 80), CPoint(0, 80 * k), 255);
            (*centres)[static_cast<size_t>(k)] = pixels.pixel(60, 60);
        }
    };
    std::thread up(editor, 0, 1, &seen[0]), down(editor, 96, -1, &seen[1]);
    up.join();
    down.join();
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(rows->expandedRows(), kH);
    for (int32_t k = 0; k < 97; ++k)
        EXPECT_EQ(image->row(80 * k + 40)[2], k) << k;
}

TEST(BitmapDrawing, AlphaDecidesTransparencyAndConstantAlphaScales) {
    // White opaque, white transparent, pure-white key colour in an image
    // with alpha: drawTransparent keys nothing out, the alpha channel does.
    const std::vector<uint8_t> px = {255, 255, 255, 255, 255, 255, 255, 0, 0, 0, 255, 128};
    CBitmap* b = fromPng(encodePng(3, 1, 4, px));
    b->setTransparentColor(CColor{255, 255, 255, 0});
    auto* c = new COffscreenContext(nullptr, 4, 1, kBlackColor);
    b->drawTransparent(c, CRect(0, 0, 3, 1));
    EXPECT_EQ(rgbAt(*c, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(rgbAt(*c, 1, 0), 0u);
    EXPECT_EQ(rgbAt(*c, 2, 0), uint32_t{expectedChannel(255, 128)});  // blue over black
    c->forget();

    auto* h = new COffscreenContext(nullptr, 4, 1, kBlackColor);
    b->drawAlphaBlend(h, CRect(0, 0, 1, 1), CPoint(), 64);
    const uint32_t v = rgbAt(*h, 0, 0) & 0xFF;
    EXPECT_GE(v, 63u);
    EXPECT_LE(v, 65u);
    h->forget();
    b->forget();
}

TEST(BitmapLifecycle, FailedLoadsUnloadAndPathsDrawNothing) {
    // Not a PNG at all.
    const uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    CBitmap b(0);
    EXPECT_FALSE(b.isLoaded());
    EXPECT_FALSE(b.loadFromPngBytes(junk, sizeof junk));
    EXPECT_FALSE(b.loadFromPngBytes(nullptr, 10));
    EXPECT_EQ(b.getWidth(), 0);
    EXPECT_EQ(b.getHeight(), 0);
    // A truncated PNG is rejected, not half drawn.
    std::vector<uint8_t> png = encodePng(4, 4, 3, std::vector<uint8_t>(48, 200));
    png.resize(png.size() / 2);
    EXPECT_FALSE(b.loadFromPngBytes(png.data(), png.size()));
    // An image that decodes but that the drawing system cannot hold (wider
    // than it allows): no size is left behind for an image that is not there.
    const std::vector<uint8_t> wide = encodePng(32768, 1, 1, std::vector<uint8_t>(32768, 9));
    EXPECT_FALSE(b.loadFromPngBytes(wide.data(), wide.size()));
    EXPECT_EQ(b.getWidth(), 0);
    EXPECT_EQ(b.getHeight(), 0);

    // A resource number without an image.
    CBitmap missing(9999);
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_EQ(missing.getWidth(), 0);
    EXPECT_EQ(missing.getTransparentColor(), (CColor{255, 255, 255, 0}));

    auto* c = new COffscreenContext(nullptr, 4, 4, kBlackColor);
    missing.draw(c, CRect(0, 0, 4, 4));
    missing.drawTransparent(c, CRect(0, 0, 4, 4));
    missing.drawAlphaBlend(c, CRect(0, 0, 4, 4), CPoint(), 255);
    EXPECT_TRUE(kvtest::inkBox(*c, 0).isEmpty());

    CBitmap* loaded = fromPng(encodePng(2, 2, 3, std::vector<uint8_t>(12, 255)));
    ASSERT_TRUE(loaded->isLoaded());
    EXPECT_FALSE(loaded->loadFromPath("/tmp/anything.png"));
    EXPECT_FALSE(loaded->isLoaded());
    EXPECT_EQ(loaded->getWidth(), 0);
    EXPECT_FALSE(loaded->isOpaque());
    loaded->draw(c, CRect(0, 0, 4, 4));
    EXPECT_TRUE(kvtest::inkBox(*c, 0).isEmpty());
    loaded->draw(nullptr, CRect(0, 0, 4, 4));
    loaded->forget();
    c->forget();
}

TEST(BitmapResources, TheFourPanelImagesLoadWithTheirSizes) {
    struct Expected {
        int32_t id, width, height, channels;
    };
    // 101 is a palette image (three channels), 102 a palette with
    // transparency, 103 and 104 RGBA.
    const Expected images[] = {
        {101, 240, 400, 3}, {102, 80, 7760, 4}, {103, 40, 60, 4}, {104, 28, 56, 4}};
    for (const Expected& e : images) {
        auto* b = new CBitmap(e.id);
        EXPECT_TRUE(b->isLoaded()) << e.id;
        EXPECT_EQ(b->getResourceId(), e.id);
        EXPECT_EQ(b->getWidth(), e.width) << e.id;
        EXPECT_EQ(b->getHeight(), e.height) << e.id;
        EXPECT_EQ(b->getDecodedChannels(), e.channels) << e.id;
        EXPECT_FALSE(b->isOpaque()) << e.id;
        EXPECT_EQ(b->getTransparentColor(), (CColor{255, 255, 255, 0}));
        // Loading again by number gives the same image, decoded once for
        // every bitmap of the process; unloading one leaves the others whole.
        EXPECT_TRUE(b->loadFromResource(e.id));
        EXPECT_EQ(b->getWidth(), e.width);
        auto* other = new CBitmap(e.id);
        EXPECT_EQ(other->getImage(), b->getImage()) << e.id;
        EXPECT_EQ(other->getDecodedChannels(), e.channels) << e.id;
        EXPECT_FALSE(other->isOpaque()) << e.id;
        const Bgra corner = stored(*b, e.width - 1, e.height - 1);
        b->unload();
        EXPECT_EQ(stored(*other, e.width - 1, e.height - 1), corner) << e.id;
        const platform::ResourceBytes bytes = platform::findPngResource(e.id);
        expectLikeTheGeneralDecoder(*other, bytes.data, bytes.size);
        // The palette pictures are stored so that their rows are read where
        // they lie in the library; bytes that may go are copied.
        if (e.id <= 102) {
            EXPECT_TRUE(PaletteRows::read(bytes.data, bytes.size, true)->readInPlace()) << e.id;
            EXPECT_FALSE(PaletteRows::read(bytes.data, bytes.size)->readInPlace()) << e.id;
        }
        other->forget();
        b->forget();
    }
}

}  // namespace
