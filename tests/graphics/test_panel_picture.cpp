// Composes the four panel images the way the editor shows them and writes
// the result as a picture for the documentation: on the left the panel with
// pad 1 off, pad 2 on, the LED lit and the knobs at 0.25 and 0.5; on the
// right the other states with the knobs at both ends of their travel.
#include <gtest/gtest.h>

#include <filesystem>

#include "graphics_test_support.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cdrawcontext.h"

namespace {

using namespace VSTGUI;

constexpr CRect kPad1(55, 24, 95, 54);
constexpr CRect kPad2(137, 24, 177, 54);
constexpr CRect kGain(80, 90, 160, 170);
constexpr CRect kVolume(80, 230, 160, 310);
constexpr CRect kLed(180, 307, 208, 335);
constexpr int32_t kPanelWidth = 240;
constexpr int32_t kGap = 8;

struct PanelState {
    bool pad1, pad2, led;
    float gain, volume;
};

// Source offset of the knob image for a value: whole images of 80 pixels,
// 96 steps over the range.
CPoint knobImage(float value) {
    const auto pixels = static_cast<int32_t>(7680.0f * value);
    return CPoint(0, pixels / 80 * 80);
}

CRect shifted(CRect r, int32_t dx) {
    return r.offset(dx, 0);
}

void drawPanel(CDrawContext* c, int32_t x, const PanelState& s, CBitmap& background, CBitmap& knob,
               CBitmap& pad, CBitmap& led) {
    background.draw(c, CRect(x, 0, x + kPanelWidth, 400));
    pad.drawTransparent(c, shifted(kPad1, x), CPoint(0, s.pad1 ? 30 : 0));
    pad.drawTransparent(c, shifted(kPad2, x), CPoint(0, s.pad2 ? 30 : 0));
    knob.drawTransparent(c, shifted(kGain, x), knobImage(s.gain));
    knob.drawTransparent(c, shifted(kVolume, x), knobImage(s.volume));
    led.drawTransparent(c, shifted(kLed, x), CPoint(0, s.led ? 28 : 0));
}

int64_t sumOfRed(CDrawContext& c, const CRect& r) {
    int64_t sum = 0;
    for (int32_t y = r.top; y < r.bottom; ++y) {
        for (int32_t x = r.left; x < r.right; ++x)
            sum += (kvtest::rgbAt(c, x, y) >> 16) & 0xFF;
    }
    return sum;
}

bool differs(CDrawContext& c, const CRect& a, int32_t dx) {
    for (int32_t y = a.top; y < a.bottom; ++y) {
        for (int32_t x = a.left; x < a.right; ++x) {
            if (kvtest::rgbAt(c, x, y) != kvtest::rgbAt(c, x + dx, y)) return true;
        }
    }
    return false;
}

TEST(PanelPicture, ComposesThePanelImagesInBothStatesAndWritesThem) {
    EXPECT_EQ(knobImage(0.25f), CPoint(0, 1920));  // image 24
    EXPECT_EQ(knobImage(0.5f), CPoint(0, 3840));   // image 48, pointer up
    EXPECT_EQ(knobImage(1.0f), CPoint(0, 7680));   // image 96, the last

    auto* background = new CBitmap(101);
    auto* knob = new CBitmap(102);
    auto* pad = new CBitmap(103);
    auto* led = new CBitmap(104);
    ASSERT_TRUE(background->isLoaded() && knob->isLoaded() && pad->isLoaded() && led->isLoaded());

    constexpr int32_t kRight = kPanelWidth + kGap;
    auto* c = new COffscreenContext(nullptr, 2 * kPanelWidth + kGap, 400, CColor{40, 40, 40, 255});
    drawPanel(c, 0, {false, true, true, 0.25f, 0.5f}, *background, *knob, *pad, *led);
    drawPanel(c, kRight, {true, false, false, 0.0f, 1.0f}, *background, *knob, *pad, *led);

    // Both copies share the background; each control shows its state.
    EXPECT_EQ(kvtest::rgbAt(*c, 5, 380), kvtest::rgbAt(*c, kRight + 5, 380));
    EXPECT_EQ(kvtest::rgbAt(*c, 120, 200), kvtest::rgbAt(*c, kRight + 120, 200));
    EXPECT_TRUE(differs(*c, kPad1, kRight));
    EXPECT_TRUE(differs(*c, kPad2, kRight));
    EXPECT_TRUE(differs(*c, kGain, kRight));
    EXPECT_TRUE(differs(*c, kVolume, kRight));
    // The lit LED is redder than the unlit one.
    EXPECT_GT(sumOfRed(*c, kLed), sumOfRed(*c, shifted(kLed, kRight)) + 28 * 28 * 20);
    // The gap between the copies stays in the buffer's colour.
    EXPECT_EQ(kvtest::rgbAt(*c, kPanelWidth + 3, 200), kvtest::rgb(40, 40, 40));

    std::filesystem::create_directories(KV_DOCS_OUTPUT_DIR);
    const std::string path = std::string(KV_DOCS_OUTPUT_DIR) + "/panel-parts.png";
    EXPECT_TRUE(platform::cairo::writePng(*c->getDevice(), path));
    CBitmap check(0);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> bytes;
    for (int ch; (ch = std::fgetc(f)) != EOF;)
        bytes.push_back(uint8_t(ch));
    std::fclose(f);
    ASSERT_TRUE(check.loadFromPngBytes(bytes.data(), bytes.size()));
    EXPECT_EQ(check.getWidth(), 2 * kPanelWidth + kGap);
    EXPECT_EQ(check.getHeight(), 400);

    c->forget();
    background->forget();
    knob->forget();
    pad->forget();
    led->forget();
}

}  // namespace
