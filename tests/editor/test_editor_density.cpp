// The panel at a screen's density, on the headless window: which factor the
// editor takes, the sizes the window and the host see, the pixels at 2x and
// 1.5x against pictures composed here from the artwork files, and gestures
// measured in device pixels.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "editor_test_support.h"
#include "platform/headless/headless_window.h"
#include "vstgui/cfont.h"

namespace {

using kvtest::Instance;
using VSTGUI::CPoint;
using VSTGUI::CRect;
using VSTGUI::platform::HeadlessTextField;
using VSTGUI::platform::HeadlessWindow;

constexpr int32_t kScaleIndex = kvFourCC('P', 'r', 'e', 'S');
constexpr intptr_t kScaleValue = kvFourCC('A', 'e', 'C', 's');

constexpr CRect kPad1(55, 24, 95, 54);
constexpr CRect kPad2(137, 24, 177, 54);
constexpr CRect kGainKnob(80, 90, 160, 170);
constexpr CRect kVolumeKnob(80, 230, 160, 310);
constexpr CRect kVolumeText(30, 314, 60, 328);
constexpr CRect kLed(180, 307, 208, 335);

// The desktop's and the user's factors are process-wide: each test leaves
// them as it found them (saying nothing).
struct QuietDesktop {
    QuietDesktop() {
        HeadlessWindow::setDesktopScale(0.0);
        unsetenv("KV23_SCALE");
    }
    ~QuietDesktop() {
        HeadlessWindow::setDesktopScale(0.0);
        unsetenv("KV23_SCALE");
    }
};

intptr_t sendScale(Instance& plugin, float factor) {
    return plugin.dispatch(effVendorSpecific, kScaleIndex, kScaleValue, nullptr, factor);
}

CPoint rectSize(Instance& plugin) {
    ERect* rect = nullptr;
    plugin.dispatch(effEditGetRect, 0, 0, &rect);
    return rect ? CPoint(rect->right - rect->left, rect->bottom - rect->top) : CPoint();
}

CPoint windowSize() {
    HeadlessWindow* window = HeadlessWindow::last();
    return window ? CPoint(window->width(), window->height()) : CPoint();
}

// The size of a panel opened now, and getRect's answer while it is open.
CPoint openedSize(Instance& plugin) {
    plugin.openAndPaint();
    const CPoint size = windowSize();
    EXPECT_EQ(rectSize(plugin), size);
    plugin.dispatch(effEditClose);
    return size;
}

CPoint deviceCentre(const CRect& r, double scale) {
    return CPoint(static_cast<int32_t>(std::lround((r.left + r.width() / 2.0) * scale)),
                  static_cast<int32_t>(std::lround((r.top + r.height() / 2.0) * scale)));
}

TEST(EditorDensity, TheHostsFactorWinsOverTheUsersWhichWinsOverTheDesktops) {
    QuietDesktop quiet;
    Instance plugin;
    EXPECT_EQ(plugin.dispatch(effCanDo, 0, 0, const_cast<char*>("supportsViewDpiScaling")), 1);
    EXPECT_EQ(openedSize(plugin), CPoint(240, 400));

    HeadlessWindow::setDesktopScale(1.5);
    EXPECT_EQ(openedSize(plugin), CPoint(360, 600));
    setenv("KV23_SCALE", "1.25", 1);
    EXPECT_EQ(openedSize(plugin), CPoint(300, 500));
    // The host's word replaces the others (never multiplies them), and the
    // host knows the size before the window opens.
    EXPECT_EQ(sendScale(plugin, 2.0f), 1);
    EXPECT_EQ(rectSize(plugin), CPoint(480, 800));
    EXPECT_EQ(openedSize(plugin), CPoint(480, 800));
    // Other vendor-specific calls still answer 0.
    EXPECT_EQ(plugin.dispatch(effVendorSpecific, kScaleIndex, 0, nullptr, 3.0f), 0);
    EXPECT_EQ(plugin.dispatch(effVendorSpecific, 0, kScaleValue, nullptr, 3.0f), 0);
    EXPECT_EQ(openedSize(plugin), CPoint(480, 800));
}

TEST(EditorDensity, FactorsAreClampedToOneToThreeAndNonNumbersIgnored) {
    QuietDesktop quiet;
    Instance plugin;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float sent;
        CPoint size;
    };
    for (const Case& c : {Case{0.5f, {240, 400}}, Case{-2.0f, {240, 400}}, Case{7.0f, {720, 1200}},
                          Case{1.75f, {420, 700}}, Case{nan, {420, 700}}, Case{inf, {420, 700}},
                          Case{-inf, {420, 700}}, Case{3.0f, {720, 1200}}}) {
        sendScale(plugin, c.sent);
        EXPECT_EQ(openedSize(plugin), c.size) << c.sent;
    }
    // The user's and the desktop's odd values alike.
    Instance quietHost;
    for (const char* text : {"nan", "inf", "", "x2", "0"}) {
        setenv("KV23_SCALE", text, 1);
        EXPECT_EQ(openedSize(quietHost), CPoint(240, 400)) << text;
    }
    unsetenv("KV23_SCALE");
    HeadlessWindow::setDesktopScale(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(openedSize(quietHost), CPoint(240, 400));
    HeadlessWindow::setDesktopScale(10.0);
    EXPECT_EQ(openedSize(quietHost), CPoint(720, 1200));
}

TEST(EditorDensity, AFactorChangedWhileOpenResizesTheWindowAndAsksTheHost) {
    QuietDesktop quiet;
    Instance plugin;
    plugin.host.answer = [](const kvtest::HostCall& c) -> intptr_t {
        if (c.opcode == audioMasterVersion) return 2400;
        return c.opcode == audioMasterCanDo || c.opcode == audioMasterSizeWindow ? 1 : 0;
    };
    plugin.setParameter(3, 0.2f);
    plugin.openAndPaint();
    plugin.clearEvents();
    for (const float factor : {2.0f, 1.5f, 1.5f, 1.0f, 2.0f}) {
        const CPoint before = windowSize();
        sendScale(plugin, factor);
        const CPoint want(static_cast<int32_t>(std::lround(240 * factor)),
                          static_cast<int32_t>(std::lround(400 * factor)));
        EXPECT_EQ(windowSize(), want) << factor;
        EXPECT_EQ(rectSize(plugin), want) << factor;
        const std::vector<kvtest::HostCall> calls = plugin.events();
        const bool asked = !calls.empty() && calls.back().opcode == audioMasterSizeWindow &&
                           calls.back().index == want.h && calls.back().value == want.v;
        EXPECT_EQ(asked, before != want) << factor;
        plugin.clearEvents();
    }
    // A text field open when the factor changes is committed and closed.
    const CPoint field = deviceCentre(kVolumeText, 2.0);
    HeadlessWindow::last()->setPointer(field, 1);
    HeadlessWindow::last()->click(field);
    HeadlessWindow::last()->setPointer(field, 0);
    ASSERT_NE(HeadlessTextField::last(), nullptr);
    HeadlessTextField::last()->setText("-3.5");
    sendScale(plugin, 1.5f);
    EXPECT_EQ(HeadlessTextField::openCount(), 0);
    EXPECT_NEAR(plugin.getParameter(3), (32.0f - 3.5f) / 64.0f, 1e-6f);
    sendScale(plugin, 2.0f);
    plugin.setParameter(3, 0.2f);
    // The whole panel is drawn again at the new factor.
    plugin.idle();
    EXPECT_EQ(kvtest::mismatches(plugin, 102, kVolumeKnob, CPoint(0, 1520 / 80 * 80), 2, 2), 0);
    EXPECT_EQ(kvtest::mismatches(plugin, 104, kLed, CPoint(0, 0), 2, 2), 0);
    plugin.dispatch(effEditClose);
}

TEST(EditorDensity, TheDesktopsNewFactorRescalesOnlyAPanelThatFollowsTheDesktop) {
    QuietDesktop quiet;
    Instance plugin;
    HeadlessWindow::setDesktopScale(1.5);
    plugin.openAndPaint();
    // The host's window moved to a monitor at 200 %.
    HeadlessWindow::last()->desktopScaleChanged(2.0);
    EXPECT_EQ(windowSize(), CPoint(480, 800));
    EXPECT_EQ(rectSize(plugin), CPoint(480, 800));
    HeadlessWindow::last()->desktopScaleChanged(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(windowSize(), CPoint(240, 400));
    // A factor from the host stays whatever monitor the window is on.
    sendScale(plugin, 1.25f);
    HeadlessWindow::last()->desktopScaleChanged(2.0);
    EXPECT_EQ(windowSize(), CPoint(300, 500));
    plugin.dispatch(effEditClose);
}

TEST(EditorDensityPixels, TheTwoTimesPanelIsTheDenseArtworkAtTheControlsRectangles) {
    QuietDesktop quiet;
    Instance plugin;
    sendScale(plugin, 2.0f);
    plugin.setParameter(0, 0.75f);
    plugin.setParameter(2, 1.0f);
    plugin.setParameter(3, 0.2f);
    plugin.openAndPaint();
    ASSERT_EQ(windowSize(), CPoint(480, 800));
    EXPECT_EQ(kvtest::mismatches(plugin, 102, kGainKnob, CPoint(0, 7680 * 3 / 4), 2, 2), 0);
    EXPECT_EQ(kvtest::mismatches(plugin, 102, kVolumeKnob, CPoint(0, 1520), 2, 2), 0);
    EXPECT_EQ(kvtest::mismatches(plugin, 103, kPad1, CPoint(0, 0), 2, 2), 0);
    EXPECT_EQ(kvtest::mismatches(plugin, 103, kPad2, CPoint(0, 30), 2, 2), 0);
    EXPECT_EQ(kvtest::mismatches(plugin, 104, kLed, CPoint(0, 0), 2, 2), 0);
    // Away from the controls and the text, the dense background itself.
    EXPECT_EQ(kvtest::mismatches(plugin, 101, CRect(0, 340, 240, 400), CPoint(0, 340), 2, 2), 0);
    plugin.dispatch(effEditClose);
}

// ------------------------------------------------------------------ 1.5x

// A premultiplied cairo image of a resource file, decoded by stb.
struct CairoPicture {
    cairo_surface_t* surface = nullptr;
    explicit CairoPicture(int32_t number) {
        const kvtest::Image& image = kvtest::resourceImage(number);
        surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height);
        cairo_surface_flush(surface);
        uint8_t* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int32_t y = 0; y < image.height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
            for (int32_t x = 0; x < image.width; ++x) {
                const uint32_t rgba = image.rgbaAt(x, y);
                const uint32_t a = rgba & 0xFF;
                const auto pre = [a](uint32_t c) { return (c * a + 127) / 255; };
                row[x] = (a << 24) | (pre(rgba >> 24) << 16) | (pre((rgba >> 16) & 0xFF) << 8) |
                         pre((rgba >> 8) & 0xFF);
            }
        }
        cairo_surface_mark_dirty(surface);
    }
    ~CairoPicture() { cairo_surface_destroy(surface); }
};

// Pixels [from) of a dense picture painted over `to` (device pixels) of cr,
// resampled with cairo's good filter, the edges padded.
void paintPart(cairo_t* cr, const CairoPicture& picture, const CRect& from, const CRect& to) {
    cairo_surface_t* part = cairo_surface_create_for_rectangle(picture.surface, from.left, from.top,
                                                               from.width(), from.height());
    cairo_save(cr);
    cairo_rectangle(cr, to.left, to.top, to.width(), to.height());
    cairo_clip(cr);
    cairo_translate(cr, to.left, to.top);
    cairo_scale(cr, static_cast<double>(to.width()) / from.width(),
                static_cast<double>(to.height()) / from.height());
    cairo_set_source_surface(cr, part, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(part);
}

CRect scaled(const CRect& r, double s) {
    const auto px = [s](int32_t v) { return static_cast<int32_t>(std::lround(v * s)); };
    return CRect(px(r.left), px(r.top), px(r.right), px(r.bottom));
}

TEST(EditorDensityPixels, TheOneAndAHalfTimesPanelIsTheDenseArtworkResampled) {
    QuietDesktop quiet;
    Instance plugin;
    sendScale(plugin, 1.5f);
    plugin.setParameter(0, 0.75f);
    plugin.setParameter(1, 1.0f);
    plugin.openAndPaint();
    ASSERT_EQ(windowSize(), CPoint(360, 600));

    // Every picture placed at its rectangle times 1.5, taken from the dense
    // artwork at the knob frame, switch and lamp state the values choose.
    cairo_surface_t* want = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 360, 600);
    cairo_t* cr = cairo_create(want);
    const CairoPicture background(1101), knob(1102), pad(1103), led(1104);
    paintPart(cr, background, CRect(0, 0, 480, 800), CRect(0, 0, 360, 600));
    struct Piece {
        const CairoPicture& picture;
        CRect where;
        CPoint offset;
    };
    const Piece pieces[] = {{knob, kGainKnob, {0, 5760}},
                            {knob, kVolumeKnob, {0, 3840}},
                            {pad, kPad1, {0, 30}},
                            {pad, kPad2, {0, 0}},
                            {led, kLed, {0, 0}}};
    for (const Piece& p : pieces) {
        const CRect from(p.offset.h * 2, p.offset.v * 2, (p.offset.h + p.where.width()) * 2,
                         (p.offset.v + p.where.height()) * 2);
        paintPart(cr, p.picture, from, scaled(p.where, 1.5));
    }
    cairo_destroy(cr);
    cairo_surface_flush(want);

    const auto* rows = cairo_image_surface_get_data(want);
    const int stride = cairo_image_surface_get_stride(want);
    int32_t bad = 0;
    for (const CRect& r : {kPad1, kPad2, kGainKnob, kVolumeKnob, kLed, CRect(0, 340, 240, 400)}) {
        const CRect d = scaled(r, 1.5);
        for (int32_t y = d.top; y < d.bottom; ++y) {
            for (int32_t x = d.left; x < d.right; ++x) {
                const uint32_t expected =
                    reinterpret_cast<const uint32_t*>(rows + y * stride)[x] & 0xFFFFFF;
                const uint32_t got = plugin.pixel(x, y);
                bool off = false;
                for (int shift : {16, 8, 0}) {
                    const int a = static_cast<int>((expected >> shift) & 0xFF);
                    const int b = static_cast<int>((got >> shift) & 0xFF);
                    off = off || std::abs(a - b) > 3;
                }
                if (off && bad++ < 3)
                    ADD_FAILURE() << "(" << x << ", " << y << "): want " << std::hex << expected
                                  << ", window has " << got;
            }
        }
    }
    EXPECT_EQ(bad, 0);
    cairo_surface_destroy(want);
    plugin.dispatch(effEditClose);
}

// ------------------------------------------------------------------ gestures

TEST(EditorDensityGestures, ClicksDragsAndTypingAreMeasuredInPanelUnits) {
    QuietDesktop quiet;
    kvtest::TestClock clock{5000};
    for (const double scale : {2.0, 1.5}) {
        Instance plugin;
        sendScale(plugin, static_cast<float>(scale));
        plugin.openAndPaint();
        HeadlessWindow* window = HeadlessWindow::last();

        // A click at the centre of a pad's scaled rectangle toggles it.
        const CPoint pad = deviceCentre(kPad1, scale);
        window->setPointer(pad, 1);
        window->click(pad);
        EXPECT_EQ(plugin.getParameter(1), 1.0f) << scale;

        // A drag of 64 units is 64 * scale device pixels.
        const CPoint c = deviceCentre(kGainKnob, scale);
        const CPoint up(c.h, c.v - static_cast<int32_t>(std::lround(64 * scale)));
        window->scriptPointer({{c, 1}, {c, 1}, {up, 1}, {up, 0}});
        window->click(c);
        EXPECT_FLOAT_EQ(plugin.getParameter(0), 0.25f + 64.0f / 640.0f) << scale;
        window->scriptPointer({});

        // The text field covers the control's pixels with the font at the
        // factor, and its typing gives what it gives at 1x.
        const CPoint field = deviceCentre(kVolumeText, scale);
        window->setPointer(field, 1);
        window->click(field);
        window->setPointer(field, 0);
        HeadlessTextField* entry = HeadlessTextField::last();
        ASSERT_NE(entry, nullptr) << scale;
        EXPECT_EQ(entry->screenRect(), scaled(kVolumeText, scale));
        EXPECT_EQ(entry->font().pixelHeight,
                  static_cast<int32_t>(std::lround(
                      std::min(VSTGUI::fontPixelHeight(4), kVolumeText.height() - 2) * scale)));
        entry->setText("-3.5");
        entry->pressReturn();
        EXPECT_NEAR(plugin.getParameter(3), (32.0f - 3.5f) / 64.0f, 1e-6f) << scale;

        // A wheel notch at the knob's scaled centre turns it.
        window->wheel(deviceCentre(kVolumeKnob, scale), 1.0f);
        EXPECT_NEAR(plugin.getParameter(3), (32.0f - 3.5f) / 64.0f + 0.125f, 1e-6f) << scale;
        plugin.dispatch(effEditClose);
    }
}

}  // namespace
