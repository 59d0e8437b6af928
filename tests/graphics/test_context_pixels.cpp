// What a drawing context puts on an offscreen surface, pixel by pixel.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "graphics_test_support.h"
#include "vstgui/cdrawcontext.h"

namespace {

using namespace VSTGUI;
using kvtest::rgb;
using kvtest::rgbAt;

constexpr CColor kGreen{0, 255, 0, 255};
constexpr CColor kBlue{0, 0, 255, 255};
constexpr uint32_t kBlackRgb = 0x000000;
constexpr uint32_t kGreenRgb = 0x00FF00;
constexpr uint32_t kBlueRgb = 0x0000FF;

struct Offscreen {
    explicit Offscreen(int32_t w, int32_t h, CColor bg = kBlackColor)
        : context(new COffscreenContext(nullptr, w, h, bg)) {}
    ~Offscreen() { context->forget(); }
    COffscreenContext& operator*() { return *context; }
    COffscreenContext* operator->() { return context; }
    COffscreenContext* context;
};

std::set<std::pair<int32_t, int32_t>> coloured(COffscreenContext& c, uint32_t color) {
    std::set<std::pair<int32_t, int32_t>> out;
    for (const CPoint& p : kvtest::pixelsOfColor(c, color))
        out.emplace(p.h, p.v);
    return out;
}

TEST(OffscreenContext, StartsInTheBackgroundColourEverywhere) {
    Offscreen off(7, 5, CColor{10, 20, 30, 255});
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 7; ++x) {
            EXPECT_EQ(kvtest::pixelAt(*off, x, y), 0xFF0A141Eu) << x << "," << y;
        }
    }
    EXPECT_EQ(off->getClipRect(), CRect(0, 0, 7, 5));
    // A side below 1 still gives a usable context with an empty clip.
    Offscreen empty(0, -3);
    EXPECT_TRUE(empty->getClipRect().isEmpty());
    empty->fillRect(CRect(0, 0, 10, 10));  // must not crash
}

TEST(ContextRectangles, FillLeavesTopRowAndLeftColumnAndOutlineTakesTheOuterPixels) {
    Offscreen off(12, 12);
    off->setFillColor(kGreen);
    off->fillRect(CRect(0, 0, 10, 10));
    for (int32_t y = 0; y < 12; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
            const bool inside = x >= 1 && x <= 9 && y >= 1 && y <= 9;
            EXPECT_EQ(rgbAt(*off, x, y), inside ? kGreenRgb : kBlackRgb) << x << "," << y;
        }
    }

    Offscreen out(12, 12);
    out->setFrameColor(kBlue);
    out->outlineRect(CRect(0, 0, 10, 10));
    for (int32_t y = 0; y < 12; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
            const bool edge = (x == 0 || x == 9 || y == 0 || y == 9) && x <= 9 && y <= 9;
            EXPECT_EQ(rgbAt(*out, x, y), edge ? kBlueRgb : kBlackRgb) << x << "," << y;
        }
    }
}

TEST(ContextLines, StopBeforeTheirEndPointInEveryDirection) {
    using Pixels = std::set<std::pair<int32_t, int32_t>>;
    struct Case {
        CPoint from, to;
        Pixels expected;
    };
    const Case cases[] = {
        {{2, 5}, {8, 5}, {{2, 5}, {3, 5}, {4, 5}, {5, 5}, {6, 5}, {7, 5}}},
        {{8, 5}, {2, 5}, {{8, 5}, {7, 5}, {6, 5}, {5, 5}, {4, 5}, {3, 5}}},
        {{4, 1}, {4, 6}, {{4, 1}, {4, 2}, {4, 3}, {4, 4}, {4, 5}}},
        {{4, 6}, {4, 1}, {{4, 6}, {4, 5}, {4, 4}, {4, 3}, {4, 2}}},
        {{1, 1}, {6, 6}, {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}},
        {{6, 1}, {1, 6}, {{6, 1}, {5, 2}, {4, 3}, {3, 4}, {2, 5}}},
    };
    for (const Case& c : cases) {
        Offscreen off(12, 12);
        off->setFrameColor(kGreen);
        off->moveTo(c.from);
        off->lineTo(c.to);
        EXPECT_EQ(coloured(*off, kGreenRgb), c.expected)
            << "(" << c.from.h << "," << c.from.v << ")->(" << c.to.h << "," << c.to.v << ")";
    }

    // A shallow line: one pixel per column from 0 to 9, none in column 10,
    // each within half a pixel of the ideal line y = 0.3 x, never going back.
    Offscreen off(12, 6);
    off->setFrameColor(kGreen);
    off->moveTo(CPoint(0, 0));
    off->lineTo(CPoint(10, 3));
    const auto px = coloured(*off, kGreenRgb);
    ASSERT_EQ(px.size(), 10u);
    int32_t lastY = 0;
    int32_t column = 0;
    for (const auto& [x, y] : px) {
        EXPECT_EQ(x, column++);
        EXPECT_LE(std::abs(10 * y - 3 * x), 5) << x << "," << y;
        EXPECT_GE(y, lastY);
        lastY = y;
    }

    // Consecutive lineTo calls continue from the previous end point.
    Offscreen poly(12, 12);
    poly->setFrameColor(kGreen);
    poly->moveTo(CPoint(1, 1));
    poly->lineTo(CPoint(4, 1));
    poly->lineTo(CPoint(4, 3));
    EXPECT_EQ(coloured(*poly, kGreenRgb), (Pixels{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {4, 2}}));

    // A wide pen puts its square on every point: rows 4 to 6 of columns 1
    // to 6 for the points 2 to 5, then columns 3 to 5 down to the point 8.
    Offscreen wide(12, 12);
    wide->setFrameColor(kGreen);
    wide->setLineWidth(3);
    wide->moveTo(CPoint(2, 5));
    wide->lineTo(CPoint(6, 5));
    wide->moveTo(CPoint(4, 9));
    wide->lineTo(CPoint(4, 7));
    Pixels square;
    for (int32_t y = 4; y < 7; ++y)
        for (int32_t x = 1; x < 7; ++x)
            square.insert({x, y});
    for (int32_t y = 7; y < 11; ++y)
        for (int32_t x = 3; x < 6; ++x)
            square.insert({x, y});
    EXPECT_EQ(coloured(*wide, kGreenRgb), square);
}

TEST(ContextOffsetAndClip, ShiftEveryCoordinateAndLimitTheDrawing) {
    Offscreen off(40, 40);
    off->offset = CPoint(10, 5);
    off->setClipRect(CRect(0, 0, 20, 10));
    // The clip is stored with the offset added and answered without it.
    EXPECT_EQ(off->getClipRect(), CRect(0, 0, 20, 10));
    off->setFillColor(kGreen);
    off->fillRect(CRect(-20, -20, 60, 60));
    // Only device pixels (10..29, 5..14) are inside the clip.
    EXPECT_EQ(kvtest::inkBox(*off, kBlackRgb), CRect(10, 5, 30, 15));

    // A saved clip restored after the offset changed back means the same area.
    const CRect saved = off->getClipRect();
    off->offset = CPoint(0, 0);
    EXPECT_EQ(off->getClipRect(), CRect(10, 5, 30, 15));
    off->offset = CPoint(10, 5);
    EXPECT_EQ(off->getClipRect(), saved);

    // Lines and outlines follow the offset too.
    Offscreen lines(20, 20);
    lines->offset = CPoint(3, 4);
    lines->setFrameColor(kBlue);
    lines->outlineRect(CRect(0, 0, 3, 3));
    EXPECT_EQ(kvtest::inkBox(*lines, kBlackRgb), CRect(3, 4, 6, 7));
    EXPECT_EQ(rgbAt(*lines, 4, 5), kBlackRgb);  // the middle stays empty
}

TEST(ContextCopies, MoveRectanglesBetweenContextsWithTheirOffsets) {
    Offscreen source(20, 20);
    // A pattern in which every pixel is different.
    for (int32_t y = 0; y < 20; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            source->setFillColor(CColor{uint8_t(x * 10), uint8_t(y * 10), 7, 255});
            source->fillRect(CRect(x - 1, y - 1, x + 1, y + 1));
        }
    }
    ASSERT_EQ(rgbAt(*source, 3, 4), rgb(30, 40, 7));

    Offscreen dest(30, 30, kBlue);
    source->offset = CPoint(2, 3);
    dest->copyFromContext(source.context, CRect(0, 0, 5, 4), CPoint(10, 11));
    for (int32_t y = 0; y < 30; ++y) {
        for (int32_t x = 0; x < 30; ++x) {
            const bool copied = x >= 10 && x < 15 && y >= 11 && y < 15;
            const uint32_t expected =
                copied ? rgb(uint8_t((x - 10 + 2) * 10), uint8_t((y - 11 + 3) * 10), 7) : kBlueRgb;
            ASSERT_EQ(rgbAt(*dest, x, y), expected) << x << "," << y;
        }
    }

    // copyToContext: the destination rectangle moves with the destination's
    // offset, the source point does not move.
    Offscreen target(30, 30, kBlue);
    target->offset = CPoint(1, 2);
    source->offset = CPoint(7, 7);  // ignored for the buffer's own side
    source->copyToContext(target.context, CRect(4, 4, 7, 6), CPoint(5, 9));
    EXPECT_EQ(kvtest::inkBox(*target, kBlueRgb), CRect(5, 6, 8, 8));
    EXPECT_EQ(rgbAt(*target, 5, 6), rgb(50, 90, 7));
    EXPECT_EQ(rgbAt(*target, 7, 7), rgb(70, 100, 7));

    // The destination's clip limits a copy.
    Offscreen clipped(30, 30, kBlue);
    clipped->setClipRect(CRect(0, 0, 2, 2));
    source->copyToContext(clipped.context, CRect(0, 0, 10, 10), CPoint(0, 0));
    EXPECT_EQ(kvtest::inkBox(*clipped, kBlueRgb), CRect(0, 0, 2, 2));
    // Missing contexts are tolerated.
    source->copyToContext(nullptr, CRect(0, 0, 5, 5), CPoint());
    dest->copyFromContext(nullptr, CRect(0, 0, 5, 5), CPoint());
}

}  // namespace
