// Text drawn through a drawing context: alignment, vertical centring, the
// opaque cell and the characters that must reach the page as they are.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "graphics_test_support.h"
#include "platform/cairo/cairo_text.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/platform/graphics.h"

namespace {

using namespace VSTGUI;
using kvtest::inkBox;
using kvtest::rgbAt;

constexpr uint32_t kBlackRgb = 0x000000;

// Draws `text` on a fresh black 120 x 40 context and answers where it inked.
CRect inkOf(const char* text, const CRect& r, int32_t align, int32_t font = kNormalFont,
            bool opaque = false, CColor fill = kBlackColor) {
    auto* c = new COffscreenContext(nullptr, 120, 40, kBlackColor);
    c->setFont(font);
    c->setFontColor(kWhiteColor);
    c->setFillColor(fill);
    c->drawString(text, r, opaque, align);
    const CRect box = inkBox(*c, kBlackRgb);
    c->forget();
    return box;
}

// The sum of the grey levels of everything `text` inks in `font`.
int64_t inkAmount(const char* text, int32_t font) {
    auto* c = new COffscreenContext(nullptr, 120, 40, kBlackColor);
    c->setFont(font);
    c->drawString(text, CRect(0, 0, 120, 40), false, kLeftText);
    int64_t sum = 0;
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 120; ++x)
            sum += rgbAt(*c, x, y) & 0xFF;
    }
    c->forget();
    return sum;
}

TEST(ContextText, AlignsLeftWithAOnePixelIndentCentreAndRight) {
    const CRect cell(20, 0, 100, 40);
    const CRect left = inkOf("Hello", cell, kLeftText);
    const CRect centre = inkOf("Hello", cell, kCenterText);
    const CRect right = inkOf("Hello", cell, kRightText);
    ASSERT_FALSE(left.isEmpty());
    // The same pixels, only moved: the text itself does not change.
    EXPECT_EQ(left.width(), centre.width());
    EXPECT_EQ(left.width(), right.width());
    EXPECT_EQ(left.top, centre.top);
    EXPECT_EQ(left.top, right.top);

    // Left: the ink follows the rectangle's left edge, one pixel in.
    const CRect leftOneOver = inkOf("Hello", CRect(21, 0, 100, 40), kLeftText);
    EXPECT_EQ(leftOneOver.left, left.left + 1);
    EXPECT_GE(left.left, cell.left + 1);
    EXPECT_LE(left.left, cell.left + 3);  // only the glyph's own side bearing
    // Left alignment is any value other than 1 and 2.
    EXPECT_EQ(inkOf("Hello", cell, 7), left);

    // Right: the ink ends at the right edge, less the glyph's bearing.
    EXPECT_LE(right.right, cell.right);
    EXPECT_GE(right.right, cell.right - 2);
    // Centre: the ink's middle within a pixel of the rectangle's middle.
    EXPECT_NEAR((centre.left + centre.right) / 2.0, (cell.left + cell.right) / 2.0, 1.5);
    // Right and centre use the rectangle unchanged: the left one is the
    // only one whose position depends on the indent.
    EXPECT_EQ(inkOf("Hello", CRect(21, 0, 101, 40), kRightText).left, right.left + 1);
}

TEST(ContextText, IsCentredVerticallyOnOneLineAndClippedToItsRectangle) {
    const CRect small = inkOf("Hx", CRect(10, 0, 110, 20), kLeftText);
    const CRect tall = inkOf("Hx", CRect(10, 0, 110, 40), kLeftText);
    ASSERT_FALSE(small.isEmpty());
    // Twenty more pixels of height move the text down by ten.
    EXPECT_EQ(tall.top - small.top, 10);
    EXPECT_EQ(tall.height(), small.height());
    EXPECT_NEAR((tall.top + tall.bottom) / 2.0, 20.0, 3.0);

    // A line break is not a new line.
    const CRect broken = inkOf("Hx\nHx", CRect(10, 0, 110, 40), kLeftText);
    EXPECT_LT(broken.height(), tall.height() * 2);

    // Nothing outside the rectangle, even for a long text.
    const CRect clipped = inkOf("WWWWWWWWWWWWWWWWWWWW", CRect(30, 10, 60, 30), kCenterText);
    EXPECT_GE(clipped.left, 30);
    EXPECT_LE(clipped.right, 60);
    EXPECT_GE(clipped.top, 10);
    EXPECT_LE(clipped.bottom, 30);
}

TEST(ContextText, OpaqueCellTakesTheLastFillColourAndTransparentTextDoesNot) {
    constexpr CColor kFill{200, 0, 0, 255};
    constexpr uint32_t kFillRgb = 0xC80000;
    auto* c = new COffscreenContext(nullptr, 120, 40, kBlackColor);
    c->setFontColor(kWhiteColor);
    c->setFillColor(CColor{0, 0, 90, 255});
    c->setFillColor(kFill);
    const CRect r(10, 0, 110, 40);
    c->drawString("Hi", r, true, kCenterText);
    const auto cell = kvtest::pixelsOfColor(*c, kFillRgb);
    ASSERT_FALSE(cell.empty());
    CRect cellBox(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN);
    for (const CPoint& p : cell) {
        cellBox.left = std::min(cellBox.left, p.h);
        cellBox.top = std::min(cellBox.top, p.v);
        cellBox.right = std::max(cellBox.right, p.h + 1);
        cellBox.bottom = std::max(cellBox.bottom, p.v + 1);
    }
    // The cell surrounds the text, is one line high (about the font's size)
    // and does not fill the whole rectangle.
    const CRect ink = inkBox(*c, kBlackRgb);
    EXPECT_EQ(ink, cellBox);
    EXPECT_GE(cellBox.height(), 12);
    EXPECT_LE(cellBox.height(), 18);
    EXPECT_LT(cellBox.width(), r.width() / 2);
    EXPECT_EQ(rgbAt(*c, 12, 20), kBlackRgb);
    c->forget();

    // Transparent text leaves the background where there is no glyph.
    const CRect plain = inkOf("Hi", r, kCenterText, kNormalFont, false, kFill);
    auto* t = new COffscreenContext(nullptr, 120, 40, kBlackColor);
    t->setFillColor(kFill);
    t->drawString("Hi", r, false, kCenterText);
    EXPECT_TRUE(kvtest::pixelsOfColor(*t, kFillRgb).empty());
    EXPECT_FALSE(plain.isEmpty());
    t->forget();
}

TEST(ContextText, AmpersandIsAnOrdinaryCharacterAndOddBytesDoNotStopDrawing) {
    const CRect r(0, 0, 120, 40);
    const CRect one = inkOf("&", r, kLeftText);
    const CRect two = inkOf("&&", r, kLeftText);
    ASSERT_FALSE(one.isEmpty());
    // Two ampersands are drawn, not one escaped one.
    EXPECT_GE(two.width(), one.width() * 2 - 2);
    // "&H" is drawn without an underline below the H (no prefix handling):
    // it inks the same rows as "&" followed by an H, nothing lower.
    const CRect amp = inkOf("&H", r, kLeftText);
    const CRect plainH = inkOf("H", r, kLeftText);
    EXPECT_LE(amp.bottom, std::max(one.bottom, plainH.bottom));

    // Bytes that are not UTF-8 (a Latin-1 degree sign) are drawn as text,
    // and the context keeps drawing afterwards.
    auto* c = new COffscreenContext(nullptr, 120, 40, kBlackColor);
    c->drawString("12\xB0", r, false, kLeftText);
    EXPECT_FALSE(inkBox(*c, kBlackRgb).isEmpty());
    c->setFillColor(CColor{0, 255, 0, 255});
    c->fillRect(CRect(99, 29, 110, 40));
    EXPECT_EQ(rgbAt(*c, 105, 35), 0x00FF00u);
    c->forget();
}

TEST(ContextText, FontsOfTheTableHaveTheirSizes) {
    // Bigger table entries ink taller capitals; the symbol face draws too.
    const CRect r(0, 0, 120, 40);
    const CRect big = inkOf("H", r, kLeftText, kNormalFontVeryBig);
    const CRect normal = inkOf("H", r, kLeftText, kNormalFont);
    const CRect tiny = inkOf("H", r, kLeftText, kNormalFontVerySmall);
    EXPECT_GT(big.height(), normal.height());
    EXPECT_GT(normal.height(), tiny.height());
    // Capital height of a sans face is about 0.72 em.
    EXPECT_NEAR(big.height(), 18 * 0.72, 2.0);
    EXPECT_NEAR(normal.height(), 12 * 0.72, 2.0);
    EXPECT_FALSE(inkOf("abc", r, kLeftText, kSymbolFont).isEmpty());
    // Font 0 is bold: its strokes put more ink down than the regular font 3
    // of the same size.
    EXPECT_GT(inkAmount("HIH", kSystemFont), inkAmount("HIH", kNormalFont) * 5 / 4);

    // The underline style draws a line under the text, below the baseline
    // and as wide as the text.
    auto* u = new COffscreenContext(nullptr, 120, 40, kBlackColor);
    u->setFont(kNormalFont, kUnderlineFace);
    u->drawString("HHH", r, false, kLeftText);
    const CRect underlined = inkBox(*u, kBlackRgb);
    const CRect plain = inkOf("HHH", r, kLeftText, kNormalFont);
    EXPECT_GT(underlined.bottom, plain.bottom);
    EXPECT_LE(underlined.bottom, plain.bottom + 4);
    EXPECT_GE(underlined.width(), plain.width());
    EXPECT_EQ(rgbAt(*u, plain.left + 1, underlined.bottom - 1), 0xFFFFFFu);
    u->forget();
}

TEST(ContextText, OffscreenSurfaceDrawsWithTheContextsStateFromTheStart) {
    // A new offscreen draws text in font 0 and white at once, exactly as
    // after selecting those explicitly.
    const CRect r(0, 0, 120, 40);
    auto* fresh = new COffscreenContext(nullptr, 120, 40, kBlackColor);
    fresh->drawString("Hello", r, false, kLeftText);
    auto* chosen = new COffscreenContext(nullptr, 120, 40, kBlackColor);
    chosen->setFont(kNormalFont);
    chosen->setFont(kSystemFont);
    chosen->setFontColor(CColor{1, 2, 3, 255});
    chosen->setFontColor(kWhiteColor);
    chosen->drawString("Hello", r, false, kLeftText);
    const CRect ink = inkBox(*fresh, kBlackRgb);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_EQ(ink, inkBox(*chosen, kBlackRgb));
    for (int32_t y = ink.top; y < ink.bottom; ++y) {
        for (int32_t x = ink.left; x < ink.right; ++x) {
            ASSERT_EQ(rgbAt(*fresh, x, y), rgbAt(*chosen, x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(kvtest::pixelsOfColor(*fresh, 0xFFFFFF).empty(), false);
    fresh->forget();
    chosen->forget();
}

// A host may fork at any moment, also while fontconfig is set up on its
// thread; a child that inherited a lock held by that thread would wait
// forever on its first text. The fork waits until the set-up is done, and
// the child draws.
TEST(ContextText, AForkDuringTheFontSetUpWaitsForItAndTheChildDraws) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer counts the parent's set-up thread as leaked in the child";
#endif
    platform::prepareFonts(makeFontDesc(kNormalFont, 0), "12.0 dB");
    const pid_t pid = fork();  // at once: the set-up takes tens of milliseconds
    if (pid == 0) {
        const bool finished = platform::cairo::fontSetUpFinished();
        const bool inked = inkAmount("12.0 dB", kNormalFont) > 0;
        _exit(finished && inked ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        usleep(10000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the child hangs on its first text";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the fork did not wait for the set-up, or the child drew nothing";
}

}  // namespace
