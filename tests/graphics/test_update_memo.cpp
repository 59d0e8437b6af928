// The frame's memo of what each view last drew into the back buffer: an
// update that would draw the same pixels again is skipped, any other one is
// played, on a real offscreen surface.
#include <gtest/gtest.h>

#include <memory>

#include "graphics_test_support.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/platform/graphics.h"
#include "vstgui/update_memo.h"

namespace kvtest {
namespace {

using namespace VSTGUI;

std::unique_ptr<platform::Image> filled(int32_t w, int32_t h, uint32_t bgra) {
    auto image = platform::createImage(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            reinterpret_cast<uint32_t*>(image->row(y))[x] = bgra;
    image->pixelsChanged();
    return image;
}

struct Buffer {
    COffscreenContext context{nullptr, 40, 40, CColor{0, 0, 0, 255}};
    platform::DrawDevice& device = *context.getDevice();
    UpdateMemo memo;
    const int viewA = 0, viewB = 0;  // two views, known by address only

    // What the LED's update draws: the opaque faceplate beneath its clip,
    // then its lamp at a source offset.
    bool lamp(const void* view, const platform::Image& face, const platform::Image& lamp,
              int32_t offset, const CRect& clip = CRect(10, 10, 20, 20)) {
        platform::DrawDevice& d = memo.begin(view, clip);
        d.alphaBlend(face, CRect(0, 0, 40, 40), CPoint(0, 0), 255);
        d.alphaBlend(lamp, clip, CPoint(0, offset), 255);
        return memo.finish(device);
    }
};

TEST(UpdateMemo, AnImageUpdateThatRepeatsItselfIsPlayedOnceUntilSomethingChanges) {
    Buffer b;
    const auto face = filled(40, 40, 0xFFFF0000u);  // opaque red
    auto lamp = filled(10, 20, 0x80008000u);        // half-transparent green
    for (int32_t y = 10; y < 20; ++y)               // lower half: opaque blue
        for (int32_t x = 0; x < 10; ++x)
            reinterpret_cast<uint32_t*>(lamp->row(y))[x] = 0xFF0000FFu;
    lamp->pixelsChanged();

    EXPECT_TRUE(b.lamp(&b.viewA, *face, *lamp, 0));
    const uint32_t unlit = pixelAt(b.context, 15, 15);
    EXPECT_NE(unlit, 0xFFFF0000u);
    EXPECT_FALSE(b.lamp(&b.viewA, *face, *lamp, 0));
    EXPECT_EQ(pixelAt(b.context, 15, 15), unlit) << "the same blend once more would differ";

    EXPECT_TRUE(b.lamp(&b.viewA, *face, *lamp, 10)) << "lit: another part of the lamp";
    EXPECT_EQ(rgbAt(b.context, 15, 15), rgb(0, 0, 255));
    EXPECT_FALSE(b.lamp(&b.viewA, *face, *lamp, 10));

    b.memo.drawnOver(CRect(0, 0, 10, 10));  // beside the lamp: still there
    EXPECT_FALSE(b.lamp(&b.viewA, *face, *lamp, 10));
    b.memo.drawnOver(CRect(19, 19, 30, 30));  // one pixel of it
    EXPECT_TRUE(b.lamp(&b.viewA, *face, *lamp, 10));

    lamp->pixelsChanged();  // new pixels in the same image
    EXPECT_TRUE(b.lamp(&b.viewA, *face, *lamp, 10));
    EXPECT_TRUE(b.lamp(&b.viewB, *face, *lamp, 10)) << "another view, not played by it yet";
    EXPECT_TRUE(b.lamp(&b.viewA, *face, *lamp, 10)) << "view B drew over view A's pixels";
    EXPECT_TRUE(b.lamp(&b.viewA, *face, *lamp, 10, CRect(10, 10, 20, 19))) << "another clip";

    b.memo.forgetAll();
    EXPECT_TRUE(b.lamp(&b.viewA, *face, *lamp, 10));
}

TEST(UpdateMemo, UpdatesWhosePixelsDependOnTheBufferAreAlwaysPlayed) {
    Buffer b;
    const auto face = filled(40, 40, 0xFFFF0000u);
    const auto glass = filled(40, 40, 0x80000080u);  // translucent: blends with the buffer
    const auto lamp = filled(10, 10, 0xFF00FF00u);
    const CRect clip(10, 10, 20, 20);
    // Each case twice in a row: the second is played as well.
    for (int round = 0; round < 2; ++round)
        EXPECT_TRUE(b.lamp(&b.viewA, *glass, *lamp, 0)) << "translucent beneath";
    for (int round = 0; round < 2; ++round)
        EXPECT_TRUE(b.lamp(&b.viewA, *face, *lamp, 0, CRect(0, 0, 45, 40)))
            << "the faceplate does not cover the clip";
    for (int round = 0; round < 2; ++round) {
        b.memo.begin(&b.viewA, clip).alphaBlend(*face, CRect(0, 0, 40, 40), CPoint(), 128);
        EXPECT_TRUE(b.memo.finish(b.device)) << "faded faceplate";
    }
    for (int round = 0; round < 2; ++round) {
        b.memo.begin(&b.viewA, clip).fillRect(clip);
        EXPECT_TRUE(b.memo.finish(b.device)) << "not images";
    }
    for (int round = 0; round < 2; ++round) {
        platform::DrawDevice& wider = b.memo.begin(&b.viewA, clip);
        wider.alphaBlend(*face, CRect(0, 0, 40, 40), CPoint(), 255);
        wider.setClip(CRect(0, 0, 40, 40));
        wider.alphaBlend(*lamp, CRect(5, 5, 15, 15), CPoint(), 255);
        EXPECT_TRUE(b.memo.finish(b.device)) << "a wider clip after the faceplate";
    }
}

TEST(UpdateMemo, ASkippedUpdateStillHandsOnTheStateItSet) {
    Buffer b;
    const auto face = filled(40, 40, 0xFFFF0000u);
    const CRect clip(10, 10, 20, 20);
    for (int round = 0; round < 2; ++round) {
        platform::DrawDevice& d = b.memo.begin(&b.viewA, clip);
        d.setBrush(CColor{0, 0, 255, 255});
        d.alphaBlend(*face, CRect(0, 0, 40, 40), CPoint(), 255);
        EXPECT_EQ(b.memo.finish(b.device), round == 0);
        b.device.setBrush(CColor{0, 255, 0, 255});
    }
    // The brush the second, skipped, update set is in force, then green.
    b.device.setClip(CRect(0, 0, 40, 40));
    b.device.fillRect(CRect(0, 0, 2, 2));
    EXPECT_EQ(rgbAt(b.context, 1, 1), rgb(0, 255, 0));
}

}  // namespace
}  // namespace kvtest
