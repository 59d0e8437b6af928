// The knob's angle mapping, its handle, and its linear and circular drags.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "control_test_support.h"
#include "vstgui/cknob.h"

using namespace VSTGUI;
using kvtest::DeviceCall;
using kvtest::FrameFixture;
using kvtest::RecordingBitmap;
using kvtest::RecordingListener;

namespace {

constexpr double kPi = std::numbers::pi;

// Handle point for a value by plain trigonometry (double precision): the
// value's share of the swept angle from the start angle, on a circle of
// radius - inset around the knob's centre.
CPoint expectedHandle(double value, double startAngle, double rangeAngle, double radius,
                      double inset) {
    const double a = startAngle + value * rangeAngle;
    const double r = radius - inset;
    return CPoint(static_cast<int32_t>(radius + std::cos(a) * r + 0.5),
                  static_cast<int32_t>(radius - std::sin(a) * r + 0.5));
}

struct KnobFixture : FrameFixture {
    KnobFixture() : listener(&editor) {
        knob = new CKnob(CRect(80, 200, 160, 280), &listener, 4, nullptr, nullptr);
        frame->addView(knob);
    }
    ~KnobFixture() { setToolkitKnobMode(0); }
    // The centre of the knob in frame coordinates.
    CPoint centre() const { return CPoint(120, 240); }
    CPoint from(int32_t dh, int32_t dv) const { return CPoint(120 + dh, 240 + dv); }

    RecordingListener listener;
    CKnob* knob;
};

}  // namespace

TEST(KnobAngles, HandlePointsFollowTheSweptAngle) {
    kvtest::TestClock clock;
    auto* knob = new CKnob(CRect(10, 20, 90, 100), nullptr, 0, nullptr, nullptr);
    CPoint p;
    knob->setValue(0.f);
    knob->valueToPoint(p);
    EXPECT_EQ(p, CPoint(14, 66));
    knob->setValue(1.f);
    knob->valueToPoint(p);
    EXPECT_EQ(p, CPoint(66, 66));
    knob->setValue(0.5f);
    knob->valueToPoint(p);
    EXPECT_EQ(p.h, 40);
    EXPECT_EQ(p.v, 3);  // the top, inset by 3
    for (int i = 0; i <= 20; ++i) {
        const float v = i / 20.f;
        knob->setValue(v);
        knob->valueToPoint(p);
        const CPoint e = expectedHandle(v, 1.25 * kPi, -1.5 * kPi, 40, 3);
        EXPECT_NEAR(p.h, e.h, 1) << v;
        EXPECT_NEAR(p.v, e.v, 1) << v;
    }
    knob->forget();
}

TEST(KnobAngles, PointerPositionsMapBackToValuesAndTheDeadSectorSnaps) {
    kvtest::TestClock clock;
    auto* knob = new CKnob(CRect(10, 20, 90, 100), nullptr, 0, nullptr, nullptr);
    CPoint top(40, 0);
    EXPECT_NEAR(knob->valueFromPoint(top), 0.5f, 1e-5);
    CPoint right(80, 40);
    EXPECT_NEAR(knob->valueFromPoint(right), 5.0 / 6.0, 1e-5);  // 225 deg -> 0 deg of 270
    CPoint left(0, 40);
    EXPECT_NEAR(knob->valueFromPoint(left), 1.0 / 6.0, 1e-5);
    CPoint gapLeft(30, 79);
    EXPECT_FLOAT_EQ(knob->valueFromPoint(gapLeft), 0.f);
    CPoint gapRight(50, 79);
    EXPECT_FLOAT_EQ(knob->valueFromPoint(gapRight), 1.f);
    // Round trip over the live range.
    for (int i = 1; i < 20; ++i) {
        const double v = i / 20.0;
        const double a = 1.25 * kPi - v * 1.5 * kPi;
        CPoint p(static_cast<int32_t>(std::lround(40 + std::cos(a) * 1000)),
                 static_cast<int32_t>(std::lround(40 - std::sin(a) * 1000)));
        EXPECT_NEAR(knob->valueFromPoint(p), v, 2e-3) << v;
    }

    // Counter-clockwise: minimum at the lower right, maximum at the lower left.
    knob->setStartAngle(static_cast<float>(-0.25 * kPi));
    knob->setRangeAngle(static_cast<float>(1.5 * kPi));
    EXPECT_NEAR(knob->valueFromPoint(top), 0.5f, 1e-5);
    EXPECT_NEAR(knob->valueFromPoint(right), 1.0 / 6.0, 1e-5);
    EXPECT_FLOAT_EQ(knob->valueFromPoint(gapRight), 0.f);
    EXPECT_FLOAT_EQ(knob->valueFromPoint(gapLeft), 1.f);
    knob->forget();
}

TEST(KnobHandle, LinesTowardsTheCentreOrTheHandleBitmap) {
    FrameFixture f;
    auto* knob = new CKnob(CRect(10, 20, 90, 100), nullptr, 0, nullptr, nullptr);
    f.frame->addView(knob);
    knob->setShadowHandleColor(CColor{1, 2, 3, 255});
    knob->setHandleColor(CColor{9, 8, 7, 255});
    knob->setValue(0.f);
    f.device.clear();
    knob->draw(f.context);
    EXPECT_FALSE(knob->isDirty());
    const auto moves = f.device.of(DeviceCall::Move);
    const auto lines = f.device.of(DeviceCall::Line);
    const auto pens = f.device.of(DeviceCall::Pen);
    ASSERT_EQ(moves.size(), 2u);
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_EQ(pens.size(), 2u);
    EXPECT_EQ(pens[0].color, (CColor{1, 2, 3, 255}));  // shadow first
    EXPECT_EQ(moves[0].point, CPoint(10 + 14 - 1, 20 + 66));
    EXPECT_EQ(lines[0].point, CPoint(49, 59 + 1));
    EXPECT_EQ(pens[1].color, (CColor{9, 8, 7, 255}));
    EXPECT_EQ(moves[1].point, CPoint(10 + 14, 20 + 66 - 1));
    EXPECT_EQ(lines[1].point, CPoint(50, 59));

    auto* handle = new RecordingBitmap(9, 5);
    knob->setHandleBitmap(handle);
    EXPECT_EQ(knob->getInset(), 7);
    EXPECT_EQ(handle->getNbReference(), 2);
    knob->setValue(0.5f);
    knob->draw(f.context);
    ASSERT_EQ(handle->draws.size(), 1u);
    CPoint p;
    knob->valueToPoint(p);
    EXPECT_EQ(p, CPoint(40, 7));
    EXPECT_EQ(handle->draws[0].rect,
              CRect(10 + 40 - 4, 20 + 7 - 2, 10 + 40 - 4 + 9, 20 + 7 - 2 + 5));
    EXPECT_TRUE(handle->draws[0].transparent);
    f.frame->removeView(knob, true);
    EXPECT_EQ(handle->getNbReference(), 1);
    handle->forget();
}

TEST(KnobLinearDrag, HundredPixelsUpOrRightIsAQuarter) {
    KnobFixture f;
    setToolkitKnobMode(2);
    f.knob->setValue(0.f);
    f.scriptDrag({f.from(0, -50), f.from(0, -100)});
    f.knob->onMouseDown(f.context, f.centre(), kMouseLeft);
    EXPECT_NEAR(f.knob->getValue(), 0.25f, 1e-6);
    ASSERT_EQ(f.editor.edits.size(), 2u);
    EXPECT_TRUE(f.editor.edits.front().begin);
    EXPECT_FALSE(f.editor.edits.back().begin);
    EXPECT_EQ(f.editor.edits.front().index, 4);
    // Every report came inside the bracket.
    for (const auto& r : f.listener.reports)
        EXPECT_EQ(r.editsSoFar, 1);
    EXPECT_GT(f.editor.pumps, 0);

    f.knob->setValue(0.f);
    f.scriptDrag({f.from(100, 0)});
    f.knob->onMouseDown(f.context, f.centre(), kMouseLeft);
    EXPECT_NEAR(f.knob->getValue(), 0.25f, 1e-6);

    f.knob->setValue(0.f);
    f.scriptDrag({f.from(200, -200)});
    f.knob->onMouseDown(f.context, f.centre(), kMouseLeft);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 1.f);

    // Alt in circular mode also drags linearly.
    setToolkitKnobMode(0);
    f.knob->setValue(0.f);
    f.scriptDrag({f.from(0, -100)}, kMouseLeft | kModAlt);
    f.knob->onMouseDown(f.context, f.centre(), kMouseLeft | kModAlt);
    EXPECT_NEAR(f.knob->getValue(), 0.25f, 1e-6);
}

TEST(KnobLinearDrag, ShiftSlowsDownWithoutAJump) {
    KnobFixture f;
    setToolkitKnobMode(2);
    f.knob->setValue(0.f);
    f.scriptDrag({f.from(0, -100)}, kMouseLeft | kModShift);
    f.knob->onMouseDown(f.context, f.centre(), kMouseLeft | kModShift);
    EXPECT_NEAR(f.knob->getValue(), 100.0 / 600.0, 1e-5);  // zoom 1.5: 600 px

    // 40 px plain, Shift pressed, 60 px more.
    f.knob->setValue(0.f);
    f.listener.reports.clear();
    f.window->scriptPointer({{f.centre(), kMouseLeft},
                             {f.from(0, -40), kMouseLeft},
                             {f.from(0, -40), kMouseLeft | kModShift},
                             {f.from(0, -100), kMouseLeft | kModShift},
                             {f.from(0, -100), 0}});
    f.knob->onMouseDown(f.context, f.centre(), kMouseLeft);
    const double expectedEnd = 40.0 / 400.0 + 60.0 / 600.0;
    EXPECT_NEAR(f.knob->getValue(), expectedEnd, 1e-5);
    // The value at the moment Shift went down was still 40 / 400.
    ASSERT_GE(f.listener.reports.size(), 2u);
    EXPECT_NEAR(f.listener.reports[f.listener.reports.size() - 2].value, 0.1, 1e-5);
    // Releasing Shift later speeds up again from where it is.
    f.knob->setValue(0.f);
    f.window->scriptPointer({{f.centre(), kMouseLeft | kModShift},
                             {f.from(0, -60), kMouseLeft | kModShift},
                             {f.from(0, -60), kMouseLeft},
                             {f.from(0, -100), kMouseLeft},
                             {f.from(0, -100), 0}});
    f.knob->onMouseDown(f.context, f.centre(), kMouseLeft | kModShift);
    EXPECT_NEAR(f.knob->getValue(), 60.0 / 600.0 + 40.0 / 400.0, 1e-5);
}

TEST(KnobCircularDrag, CrossingTheDeadSectorStaysAtTheEnd) {
    KnobFixture f;
    setToolkitKnobMode(0);
    f.knob->setValue(0.2f);
    // From the top over the right side into the right half of the gap, on
    // into the left half and round to the left side.
    f.scriptDrag({f.from(38, 0), f.from(10, 38), f.from(-10, 38), f.from(-38, 0)});
    f.knob->onMouseDown(f.context, f.from(0, -35), kMouseLeft);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 1.f);
    ASSERT_GE(f.listener.reports.size(), 3u);
    EXPECT_NEAR(f.listener.reports[0].value, 0.5f, 1e-5);  // the press sets the angle's value
    EXPECT_NEAR(f.listener.reports[1].value, 5.0 / 6.0, 2e-2);

    // The other way round ends at the minimum.
    f.knob->setValue(0.5f);
    f.listener.reports.clear();
    f.scriptDrag({f.from(-38, 0), f.from(-10, 38), f.from(10, 38), f.from(38, 0)});
    f.knob->onMouseDown(f.context, f.from(0, -35), kMouseLeft);
    EXPECT_FLOAT_EQ(f.knob->getValue(), 0.f);

    // Alt in linear mode drags circularly.
    setToolkitKnobMode(2);
    f.knob->setValue(0.f);
    f.scriptDrag({f.from(38, 0)}, kMouseLeft | kModAlt);
    f.knob->onMouseDown(f.context, f.from(0, -35), kMouseLeft | kModAlt);
    EXPECT_NEAR(f.knob->getValue(), 5.0 / 6.0, 2e-2);
}
