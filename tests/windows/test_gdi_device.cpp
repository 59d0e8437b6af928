// The GDI drawing device and images, checked pixel by pixel against the
// geometry the toolkit expects (computed here independently).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/gdi_device.h"
#include "platform/win32/win32_shared.h"
#include "vstgui/platform/graphics.h"
#include "vstgui/platform/resources.h"

using namespace VSTGUI;
using namespace VSTGUI::platform;
using win32::GdiDevice;

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

std::unique_ptr<GdiDevice> surface(int w, int h) {
    return GdiDevice::createOffscreen(w, h);
}

// Pixels equal to `inside` exactly where pred holds and to `outside` elsewhere.
template <typename Pred>
int mismatches(const GdiDevice& d, int w, int h, Pred pred, uint32_t inside, uint32_t outside) {
    int bad = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (d.pixel(x, y) != (pred(x, y) ? inside : outside)) ++bad;
    return bad;
}

// An image whose pixels come from f(x, y) as 0xAARRGGBB, premultiplied by the caller.
std::unique_ptr<Image> image(int w, int h, uint32_t (*f)(int, int)) {
    std::unique_ptr<Image> img = createImage(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = img->row(y);
        for (int x = 0; x < w; ++x) {
            const uint32_t p = f(x, y);
            row[x * 4 + 0] = p & 0xFF;
            row[x * 4 + 1] = (p >> 8) & 0xFF;
            row[x * 4 + 2] = (p >> 16) & 0xFF;
            row[x * 4 + 3] = p >> 24;
        }
    }
    img->pixelsChanged();
    return img;
}

}  // namespace

TEST(GdiDevice, FillAndClipCoverExactlyTheirRectangles) {
    auto d = surface(20, 20);
    EXPECT_TRUE(d->pixel(0, 0) == 0 && d->pixel(19, 19) == 0);  // a new surface is zero
    EXPECT_TRUE(d->setBrush(CColor{255, 0, 0, 255}));
    d->fillRect(CRect(2, 3, 7, 9));
    EXPECT_TRUE(mismatches(
                    *d, 20, 20, [](int x, int y) { return x >= 2 && x < 7 && y >= 3 && y < 9; },
                    kRed, 0) == 0);

    auto c = surface(20, 20);
    c->setBrush(CColor{0, 255, 0, 255});
    c->setClip(CRect(5, 6, 10, 12));
    c->fillRect(CRect(0, 0, 20, 20));
    EXPECT_TRUE(mismatches(
                    *c, 20, 20, [](int x, int y) { return x >= 5 && x < 10 && y >= 6 && y < 12; },
                    kGreen, 0) == 0);
    c->setClip(CRect(3, 3, 3, 9));  // empty: nothing at all
    c->setBrush(CColor{0, 0, 255, 255});
    c->fillRect(CRect(0, 0, 20, 20));
    EXPECT_TRUE(c->pixel(7, 8) == kGreen && c->pixel(3, 4) == 0);
}

TEST(GdiDevice, LinesLeaveOutTheirEndPoint) {
    auto d = surface(12, 12);
    d->setPen(CColor{255, 255, 255, 128}, 1);  // alpha never reaches the pixels
    d->moveTo(CPoint(1, 1));
    d->lineTo(CPoint(8, 1));
    EXPECT_TRUE(
        mismatches(
            *d, 12, 2, [](int x, int y) { return y == 1 && x >= 1 && x < 8; }, 0xFFFFFF, 0) == 0);
    d->moveTo(CPoint(2, 3));
    d->lineTo(CPoint(7, 8));
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(d->pixel(2 + i, 3 + i) == 0xFFFFFF);
    EXPECT_TRUE(d->pixel(7, 8) == 0);
}

TEST(GdiDevice, ImagesAreBottomUpDibsDrawnTheRightWayUp) {
    std::unique_ptr<Image> img = createImage(3, 2);
    auto* dib = dynamic_cast<win32::GdiImage*>(img.get());
    EXPECT_TRUE(dib != nullptr);
    if (!dib) return;
    EXPECT_TRUE(img->row(0) == dib->bits() + 3 * 4);  // the top row is the last in memory
    EXPECT_TRUE(img->row(1) == dib->bits());
    EXPECT_TRUE(createImage(0, 5) == nullptr);

    // A filmstrip: 4 x 4 red, then 4 x 4 blue; offset (0, 4) shows the blue one.
    auto strip =
        image(4, 8, [](int, int y) -> uint32_t { return y < 4 ? 0xFFFF0000 : 0xFF0000FF; });
    auto d = surface(6, 6);
    d->blit(*strip, CRect(1, 1, 5, 5), CPoint(0, 4));
    EXPECT_TRUE(mismatches(
                    *d, 6, 6, [](int x, int y) { return x >= 1 && x < 5 && y >= 1 && y < 5; },
                    kBlue, 0) == 0);
    d->blit(*strip, CRect(0, 0, 2, 2), CPoint(0, 0));
    EXPECT_TRUE(d->pixel(0, 0) == kRed && d->pixel(1, 1) == kRed && d->pixel(2, 2) == kBlue);
}

TEST(GdiDevice, ColourKeyComparesRedGreenAndBlueOnly) {
    // A checkerboard of white (the key) and green over a blue destination;
    // the key pixels' fourth byte must not matter.
    auto opaqueKey = image(
        8, 8, [](int x, int y) -> uint32_t { return ((x + y) % 2) ? 0xFFFFFFFF : 0xFF00FF00; });
    auto clearKey = image(
        8, 8, [](int x, int y) -> uint32_t { return ((x + y) % 2) ? 0x00FFFFFF : 0xFF00FF00; });
    for (bool clear : {false, true}) {
        const Image& img = clear ? *clearKey : *opaqueKey;
        auto d = surface(10, 10);
        d->setBrush(CColor{0, 0, 255, 255});
        d->fillRect(CRect(0, 0, 10, 10));
        d->blitColorKey(img, CRect(1, 1, 9, 9), CPoint(0, 0), CColor{255, 255, 255, 0});
        int bad = 0;
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                const bool inside = x >= 1 && x < 9 && y >= 1 && y < 9;
                const bool key = inside && ((x - 1 + y - 1) % 2) == 1;
                const uint32_t want = inside && !key ? kGreen : kBlue;
                if (d->pixel(x, y) != want) ++bad;
            }
        char note[160];
        std::snprintf(note, sizeof note, "%s: %d wrong, (1,1) %06x (2,1) %06x (0,0) %06x",
                      clear ? "key alpha 0" : "key alpha 255", bad, d->pixel(1, 1), d->pixel(2, 1),
                      d->pixel(0, 0));
        EXPECT_TRUE(bad == 0) << note;
    }
}

TEST(GdiDevice, AlphaBlendComposesPremultipliedPixels) {
    // Alpha 128 with red 100 premultiplied, over (0, 0, 200): red stays
    // 100 + 0, blue becomes 200 * (255 - 128) / 255; constant alpha 255.
    auto img = image(2, 2, [](int, int) -> uint32_t { return 0x80640000; });
    auto d = surface(4, 4);
    d->setBrush(CColor{0, 0, 200, 255});
    d->fillRect(CRect(0, 0, 4, 4));
    d->alphaBlend(*img, CRect(1, 1, 3, 3), CPoint(0, 0), 255);
    const uint32_t p = d->pixel(1, 1);
    const int red = p >> 16, blue = p & 0xFF;
    const double wantBlue = 200.0 * (255 - 128) / 255.0;
    EXPECT_TRUE(std::abs(red - 100) <= 1 && std::abs(blue - wantBlue) <= 1.0) << std::to_string(p);
    EXPECT_TRUE(d->pixel(0, 0) == 200 && d->pixel(3, 3) == 200);  // outside untouched
    // Constant alpha 0 leaves the destination as it was.
    d->alphaBlend(*img, CRect(0, 0, 1, 1), CPoint(0, 0), 0);
    EXPECT_TRUE(d->pixel(0, 0) == 200);
}

TEST(GdiDevice, FontsCarryTheTableFields) {
    auto d = surface(4, 4);
    FontDesc f;
    f.pixelHeight = 12;
    f.bold = true;
    d->setFont(f);
    LOGFONTA lf{};
    GetObjectA(GetCurrentObject(d->dc(), OBJ_FONT), sizeof lf, &lf);
    EXPECT_TRUE(lf.lfHeight == -12 && lf.lfWeight == 700 && !lf.lfItalic);
    EXPECT_TRUE((lf.lfPitchAndFamily & 0xF0) == FF_SWISS &&
                (lf.lfPitchAndFamily & 3) == VARIABLE_PITCH);
    EXPECT_TRUE(std::strcmp(lf.lfFaceName, "Arial") == 0);
    FontDesc s;
    s.face = "Symbol";
    s.pixelHeight = 13;
    s.decorative = true;
    s.italic = s.underline = true;
    d->setFont(s);
    GetObjectA(GetCurrentObject(d->dc(), OBJ_FONT), sizeof lf, &lf);
    EXPECT_TRUE(lf.lfHeight == -13 && lf.lfWeight == 400 && lf.lfItalic && lf.lfUnderline);
    EXPECT_TRUE((lf.lfPitchAndFamily & 0xF0) == FF_DECORATIVE &&
                (lf.lfPitchAndFamily & 3) == DEFAULT_PITCH);
}

TEST(GdiDevice, TextIsOneCentredLineWithOpaqueCellAndNoPrefix) {
    auto count = [](const GdiDevice& d, int w, int h, uint32_t colour) {
        int n = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                n += d.pixel(x, y) == colour;
        return n;
    };
    FontDesc f;
    f.pixelHeight = 14;
    auto t = surface(60, 30);
    t->setFont(f);
    t->setTextColor(CColor{255, 255, 255, 255});
    t->drawText("&", CRect(0, 0, 60, 30), TextAlign::center, false);
    EXPECT_TRUE(count(*t, 60, 30, 0xFFFFFF) > 0);  // "&" is a character, not a prefix
    // Vertically centred: as much ink above the middle as below (within a row or two).
    int top = 30, bottom = -1;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x)
            if (t->pixel(x, y) != 0) top = std::min(top, y), bottom = std::max(bottom, y);
    EXPECT_TRUE(std::abs((top + bottom) - 29) <= 4)
        << std::to_string(top) + ".." + std::to_string(bottom);

    auto o = surface(60, 30);
    o->setFont(f);
    o->setBrush(CColor{0, 255, 0, 255});
    o->setTextColor(CColor{255, 255, 255, 255});
    o->drawText("88", CRect(0, 0, 60, 30), TextAlign::left, true);
    EXPECT_TRUE(count(*o, 60, 30, kGreen) > 0);  // the cell behind opaque text
    auto n = surface(60, 30);
    n->setFont(f);
    n->setBrush(CColor{0, 255, 0, 255});
    n->drawText("88", CRect(0, 0, 60, 30), TextAlign::left, false);
    EXPECT_TRUE(count(*n, 60, 30, kGreen) == 0);
}

TEST(GdiDevice, CopiesBetweenDevicesMoveExactRectangles) {
    auto a = surface(10, 10);
    a->setBrush(CColor{255, 0, 0, 255});
    a->fillRect(CRect(2, 2, 5, 6));
    auto b = surface(10, 10);
    b->copyFrom(*a, CRect(2, 2, 5, 6), CPoint(6, 1));
    EXPECT_TRUE(mismatches(
                    *b, 10, 10, [](int x, int y) { return x >= 6 && x < 9 && y >= 1 && y < 5; },
                    kRed, 0) == 0);
}

TEST(GdiDevice, PngResourcesAreFoundByTheLowWordOfTheirNumber) {
    const ResourceBytes bytes = findPngResource(101);
    EXPECT_TRUE(bytes.data != nullptr && bytes.size > 8);
    if (bytes.data) {
        EXPECT_TRUE(std::memcmp(bytes.data, "\x89PNG\r\n\x1a\n", 8) == 0);
    }
    const ResourceBytes same = findPngResource(101 + 65536);
    EXPECT_TRUE(same.data == bytes.data && same.size == bytes.size);
    EXPECT_TRUE(findPngResource(105).data == nullptr);
    EXPECT_TRUE(loadPlainBitmap(101) == nullptr);  // no plain bitmap of that number
}

TEST(GdiDevice, PlainBitmapsBecomeOpaqueImagesTheRightWayUp) {
    // Resource 201: 4 x 2, top row red, green, blue, white; bottom row
    // black, grey, yellow, cyan.
    std::unique_ptr<Image> img = loadPlainBitmap(201);
    EXPECT_TRUE(img != nullptr);
    if (!img) return;
    EXPECT_TRUE(img->width() == 4 && img->height() == 2);
    const uint32_t want[2][4] = {{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF},
                                 {0x000000, 0x808080, 0xFFFF00, 0x00FFFF}};
    int bad = 0;
    for (int y = 0; y < 2; ++y) {
        const uint8_t* row = img->row(y);
        for (int x = 0; x < 4; ++x) {
            const uint32_t rgb =
                (uint32_t{row[x * 4 + 2]} << 16) | (uint32_t{row[x * 4 + 1]} << 8) | row[x * 4];
            if (rgb != want[y][x] || row[x * 4 + 3] != 255) ++bad;
        }
    }
    EXPECT_TRUE(bad == 0);
}
