// The panel's own controls: the filmstrip knob with its linear drag, and the
// peak LED with its hold time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "control_test_support.h"
#include "panel/brackenlume_knob.h"
#include "panel/brackenlume_peak_led.h"
#include "vstgui/canimknob.h"

using namespace VSTGUI;
using kvtest::FrameFixture;
using kvtest::RecordingBitmap;
using kvtest::RecordingListener;

namespace {

// Image k of a 97-image strip of 80-pixel images is shown for the values
// whose trunc(7680 * v) lies in [80k, 80k + 80); the last one only for 1.
int32_t expectedStripOffset(float v, bool inverse) {
    if (!(v >= 0.f)) return 0;
    const float share = inverse ? 1.f - v : v;
    const auto pos = static_cast<int32_t>(share * 7680.f);
    const int32_t image = std::min(pos / 80, 96);
    return image * 80;
}

struct PanelKnobFixture : FrameFixture {
    PanelKnobFixture() : listener(&editor) {
        strip = new RecordingBitmap(80, 97 * 80);
        knob = new BrackenlumeKnob(CRect(40, 100, 120, 180), &listener, 3, 97, 80, strip);
        frame->addView(knob);
        knob->setDragRange(640.f);
    }
    ~PanelKnobFixture() { strip->forget(); }
    CPoint press() const { return CPoint(80, 140); }
    CPoint at(int32_t right, int32_t up) const { return CPoint(80 + right, 140 - up); }

    RecordingListener listener;
    RecordingBitmap* strip;
    BrackenlumeKnob* knob;
};

}  // namespace

TEST(FilmstripKnob, ChoosesTheImageForTheValue) {
    kvtest::TestClock clock;
    auto* strip = new RecordingBitmap(80, 97 * 80);
    auto* knob = new BrackenlumeKnob(CRect(0, 0, 80, 80), nullptr, 0, 97, 80, strip);
    auto shown = [&](float v) {
        knob->setValue(v);
        knob->draw(nullptr);
        return strip->draws.back().offset.v;
    };
    EXPECT_EQ(shown(0.f), 0);
    EXPECT_EQ(shown(1.f / 96.f), 80);
    EXPECT_EQ(shown(0.5f), 3840);
    EXPECT_EQ(shown(0.999f), 7600);
    EXPECT_EQ(shown(1.f), 7680);
    EXPECT_EQ(shown(-0.2f), 0);
    EXPECT_EQ(shown(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(strip->draws.back().rect, CRect(0, 0, 80, 80));
    EXPECT_FALSE(strip->draws.back().transparent);
    for (int i = 0; i <= 1000; ++i) {
        const float v = i / 1000.f;
        EXPECT_EQ(shown(v), expectedStripOffset(v, false)) << v;
    }

    knob->setInverseBitmap(true);
    EXPECT_EQ(shown(0.f), 7680);
    EXPECT_EQ(shown(1.f), 0);
    for (int i = 0; i <= 100; ++i) {
        const float v = i / 100.f;
        EXPECT_EQ(shown(v), expectedStripOffset(v, true)) << v;
    }
    knob->setTransparency(true);
    shown(0.5f);
    EXPECT_TRUE(strip->draws.back().transparent);
    knob->forget();
    strip->forget();
}

TEST(FilmstripKnob, DirtyOnlyWhenTheHandleMovesAWholePixelOrTheImageChanges) {
    kvtest::TestClock clock;
    auto* knob = new BrackenlumeKnob(CRect(0, 0, 80, 80), nullptr, 0, 97, 80, nullptr);
    EXPECT_EQ(knob->getInset(), 0);
    EXPECT_TRUE(knob->isDirty());
    knob->setValue(0.5f);
    knob->draw(nullptr);
    EXPECT_FALSE(knob->isDirty());
    knob->setValue(0.5001f);
    EXPECT_FALSE(knob->isDirty());  // the same handle point
    knob->setValue(0.6f);
    EXPECT_TRUE(knob->isDirty());
    knob->setValue(0.5001f);
    knob->setDirty(true);
    EXPECT_TRUE(knob->isDirty());
    // The handle stays on its pixel, but the last image belongs to 1 alone.
    knob->setValue(0.99999f);
    knob->draw(nullptr);
    knob->setValue(1.f);
    EXPECT_TRUE(knob->isDirty());

    EXPECT_TRUE(knob->isTypeOf("BrackenlumeKnob"));
    EXPECT_TRUE(knob->isTypeOf("CControl"));
    EXPECT_TRUE(knob->isTypeOf("CView"));
    EXPECT_FALSE(knob->isTypeOf("CKnob"));
    EXPECT_FALSE(knob->isTypeOf("CAnimKnob"));
    knob->forget();
}

TEST(PanelKnobDrag, TravelFromThePressSetsTheValue) {
    PanelKnobFixture f;
    f.knob->setValue(0.f);
    f.scriptDrag({f.at(0, 160), f.at(0, 320)});
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 0.5f);

    f.knob->setValue(0.f);
    f.scriptDrag({f.at(160, 160)});
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 0.5f);

    f.knob->setValue(0.3f);
    f.scriptDrag({f.at(0, -640)});
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 0.f);

    // Shift does not make it finer.
    f.knob->setValue(0.f);
    f.scriptDrag({f.at(0, 64)}, kMouseLeft | kModShift);
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft | kModShift);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 0.1f);
}

// The host automates the knob inside every idle of the drag: the end of the
// drag reports nothing the user's travel did not produce.
TEST(PanelKnobDrag, AutomationDuringTheDragIsNotReportedAsTheUsers) {
    PanelKnobFixture f;
    f.knob->setValue(0.f);
    f.editor.onPump = [&] { f.knob->setValue(0.77f); };
    f.scriptDrag({f.at(0, 64), f.at(0, 128)});
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft);
    ASSERT_FALSE(f.listener.reports.empty());
    for (const auto& r : f.listener.reports)
        EXPECT_NE(r.value, 0.77f);
    EXPECT_FLOAT_EQ(f.listener.reports.back().value, 0.2f);
    ASSERT_EQ(f.editor.edits.size(), 2u);
}

TEST(PanelKnobDrag, ClampedTravelIsNotAccumulated) {
    PanelKnobFixture f;
    f.knob->setValue(0.9f);
    f.scriptDrag({f.at(0, 200), f.at(0, 100), f.at(0, 50), f.at(0, 0)});
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft);
    std::vector<float> seen;
    for (const auto& r : f.listener.reports)
        seen.push_back(r.value);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_FLOAT_EQ(seen[0], 0.9f);
    EXPECT_FLOAT_EQ(seen[1], 1.f);
    EXPECT_FLOAT_EQ(seen[2], 1.f);
    EXPECT_FLOAT_EQ(seen[3], 0.9f + 50.f / 640.f);
    EXPECT_NEAR(seen[3], 0.978125, 1e-6);
    EXPECT_FLOAT_EQ(seen[4], 0.9f);
    for (const auto& r : f.listener.reports)
        EXPECT_EQ(r.editsSoFar, 1);
    ASSERT_EQ(f.editor.edits.size(), 2u);
    EXPECT_EQ(f.editor.edits[0].index, 3);
}

TEST(PanelKnobDrag, TheValueASlowDragEndsOnIsReported) {
    PanelKnobFixture f;
    // The panel redraws the knob after every report, as its idle pump does.
    f.listener.onChange = [](CControl* control) { control->draw(nullptr); };
    f.knob->setValue(0.5f);
    f.knob->draw(nullptr);
    // One pixel up: neither the handle nor the image moves, yet the effect
    // must get the value the knob now holds (before it, only the press is
    // reported: the knob took the focus).
    f.scriptDrag({f.at(0, 1)});
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft);
    ASSERT_FALSE(f.listener.reports.empty());
    EXPECT_FLOAT_EQ(f.listener.reports.back().value, 0.5f + 1.f / 640.f);
    EXPECT_EQ(f.listener.reports.back().editsSoFar, 1);  // inside the edit bracket

    // Up past the top a pixel at a time: the last report is the end stop.
    f.listener.reports.clear();
    f.knob->setValue(0.99f);
    f.knob->draw(nullptr);
    std::vector<CPoint> path;
    for (int32_t up = 1; up <= 10; ++up)
        path.push_back(f.at(0, up));
    f.scriptDrag(path);
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft);
    ASSERT_FALSE(f.listener.reports.empty());
    EXPECT_EQ(f.listener.reports.back().value, 1.f);

    // The toolkit's own filmstrip knob, in its linear mode, does the same.
    auto* anim = new CAnimKnob(CRect(40, 100, 120, 180), &f.listener, 5, 97, 80, f.strip);
    f.frame->addView(anim);
    setToolkitKnobMode(2);
    anim->setValue(0.5f);
    anim->draw(nullptr);
    f.scriptDrag({f.at(0, 1)}, kMouseLeft | kModShift);
    anim->onMouseDown(f.context, f.press(), kMouseLeft | kModShift);
    setToolkitKnobMode(0);
    EXPECT_GT(anim->getValue(), 0.5f);
    EXPECT_EQ(f.listener.reports.back().value, anim->getValue());
}

TEST(PanelKnobDrag, PressesThatDoNotDrag) {
    PanelKnobFixture f;
    // Press without movement: unchanged, still bracketed.
    f.knob->setValue(0.4f);
    f.scriptDrag({f.press()});
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 0.4f);
    EXPECT_EQ(f.editor.edits.size(), 2u);

    // Control-click: the default.
    f.editor.edits.clear();
    f.knob->setDefaultValue(0.25f);
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft | kModControl);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 0.25f);
    EXPECT_EQ(f.editor.edits.size(), 2u);

    // Control-shift: an ordinary drag.
    f.knob->setValue(0.f);
    f.scriptDrag({f.at(0, 64)}, kMouseLeft | kModControl | kModShift);
    f.knob->onMouseDown(f.context, f.press(), kMouseLeft | kModControl | kModShift);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 0.1f);

    // Right button: nothing at all.
    f.editor.edits.clear();
    const int32_t polls = f.window->mouseButtonsCalls();
    f.knob->onMouseDown(f.context, f.press(), kMouseRight);
    EXPECT_TRUE(f.editor.edits.empty());
    EXPECT_EQ(f.window->mouseButtonsCalls(), polls);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 0.1f);
}

TEST(PeakLed, LightsAboveFullScaleAndHoldsAcrossTheTickWrap) {
    kvtest::TestClock clock;
    auto* bitmap = new RecordingBitmap(28, 56);
    auto* led = new BrackenlumePeakLed(CRect(180, 307, 208, 335), bitmap);
    auto drawAt = [&](uint32_t now) {
        clock.now = now;
        led->draw(nullptr);
        return bitmap->draws.back().offset.v == 28;
    };

    raisePeakCell(*led->peakCell(), 1.0);
    EXPECT_FALSE(drawAt(1000));
    raisePeakCell(*led->peakCell(), 1.0000001);
    EXPECT_TRUE(drawAt(1010));
    EXPECT_DOUBLE_EQ(led->getPeak(), 0.0);  // cleared by the draw
    EXPECT_TRUE(drawAt(1200));
    EXPECT_TRUE(drawAt(1309));
    EXPECT_FALSE(drawAt(1310));
    EXPECT_FALSE(drawAt(1320));
    EXPECT_EQ(bitmap->draws.back().rect, CRect(180, 307, 208, 335));

    // Overs every 100 ms keep it lit; 300 ms after the last it goes dark.
    for (uint32_t t = 2000; t <= 2500; t += 50) {
        if (t % 100 == 0) raisePeakCell(*led->peakCell(), 1.5);
        EXPECT_TRUE(drawAt(t)) << t;
    }
    EXPECT_TRUE(drawAt(2799));
    EXPECT_FALSE(drawAt(2800));

    // Across the wrap of the 32-bit tick counter.
    raisePeakCell(*led->peakCell(), 2.0);
    EXPECT_TRUE(drawAt(0xFFFFFF00u));
    EXPECT_TRUE(drawAt(0xFFFFFF00u + 200u));  // 0x000000C8
    EXPECT_FALSE(drawAt(0xFFFFFF00u + 300u));

    // NaN is not an over; lower values do not replace a higher peak.
    raisePeakCell(*led->peakCell(), std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(drawAt(10));
    raisePeakCell(*led->peakCell(), 0.5);
    raisePeakCell(*led->peakCell(), 0.2);
    EXPECT_DOUBLE_EQ(led->getPeak(), 0.5);
    led->forget();
    bitmap->forget();
}

TEST(PeakLed, DirtyAtEveryCheckAndDeafToTheMouse) {
    kvtest::TestClock clock;
    auto* bitmap = new RecordingBitmap(28, 56);
    auto* led = new BrackenlumePeakLed(CRect(0, 0, 28, 28), bitmap);
    EXPECT_EQ(bitmap->getNbReference(), 2);
    for (int i = 0; i < 3; ++i) {
        led->draw(nullptr);
        EXPECT_TRUE(led->isDirty());
    }
    led->setDirty(false);
    EXPECT_TRUE(led->isDirty());
    led->onMouseDown(nullptr, CPoint(5, 5), kMouseLeft);
    EXPECT_FALSE(led->onWheel(nullptr, CPoint(5, 5), 1.f));
    EXPECT_FLOAT_EQ(led->getValue(), 0.f);
    EXPECT_TRUE(led->isTypeOf("BrackenlumePeakLed"));
    EXPECT_TRUE(led->isTypeOf("CControl"));
    EXPECT_FALSE(led->isTypeOf("CParamDisplay"));

    // Without a bitmap nothing is drawn and the flag stays.
    led->setBackground(nullptr);
    led->setDirty(true);
    raisePeakCell(*led->peakCell(), 3.0);
    led->draw(nullptr);
    EXPECT_DOUBLE_EQ(led->getPeak(), 3.0);
    EXPECT_FALSE(led->isLit());
    led->forget();
    EXPECT_EQ(bitmap->getNbReference(), 1);
    bitmap->forget();
}

// A loud block processed while the LED draws, just after it read the peak:
// the clock's reading is the step in between, and the next draw shows it.
TEST(PeakLed, AnOverRaisedWhileTheLedDrawsIsShownNextTime) {
    kvtest::TestClock clock;
    auto* bitmap = new RecordingBitmap(28, 56);
    auto* led = new BrackenlumePeakLed(CRect(0, 0, 28, 28), bitmap);
    raisePeakCell(*led->peakCell(), 1.5);
    clock.onTicks = [&] { raisePeakCell(*led->peakCell(), 2.0); };
    led->draw(nullptr);
    clock.onTicks = nullptr;
    EXPECT_DOUBLE_EQ(led->getPeak(), 2.0);
    clock.now += 1000;  // past the hold: only a new over lights it
    led->draw(nullptr);
    EXPECT_TRUE(led->isLit());
    led->forget();
    bitmap->forget();
}

TEST(PeakLedThreads, AudioRaisesWhileTheEditorDraws) {
    kvtest::TestClock clock;
    auto* bitmap = new RecordingBitmap(28, 56);
    auto* led = new BrackenlumePeakLed(CRect(0, 0, 28, 28), bitmap);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        double level = 0.0;
        while (!stop.load()) {
            level = level > 2.0 ? 0.0 : level + 0.01;
            raisePeakCell(*led->peakCell(), level);
        }
    });
    bool sawLit = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!sawLit && std::chrono::steady_clock::now() < giveUp) {
        clock.now += 1000;  // past the hold each time
        led->draw(nullptr);
        sawLit = led->isLit();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    audio.join();
    EXPECT_TRUE(sawLit);
    led->forget();
    bitmap->forget();
}
