// The value control's state rules, the reset click, modifier clicks, the
// on/off button, and the knob's wheel and arrow keys.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "control_test_support.h"
#include "panel/brackenlume_knob.h"
#include "panel/brackenlume_peak_led.h"
#include "vstgui/canimknob.h"
#include "vstgui/cknob.h"
#include "vstgui/conoffbutton.h"
#include "vstgui/cparamdisplay.h"
#include "vstgui/ctextedit.h"

using namespace VSTGUI;
using kvtest::FrameFixture;
using kvtest::RecordingBitmap;
using kvtest::RecordingListener;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// A knob of 80 x 80 at (80, 200) in the frame.
CKnob* addKnob(FrameFixture& f, CControlListener* listener, int32_t tag = 7) {
    auto* knob = new CKnob(CRect(80, 200, 160, 280), listener, tag, nullptr, nullptr);
    f.frame->addView(knob);
    return knob;
}

COnOffButton* addButton(FrameFixture& f, CControlListener* listener, int32_t tag = 1) {
    auto* button = new COnOffButton(CRect(10, 10, 38, 38), listener, tag, nullptr);
    f.frame->addView(button);
    return button;
}

}  // namespace

TEST(ControlDirtyTracking, DirtyUntilDrawnAndAfterEveryValueChange) {
    kvtest::TestClock clock;
    auto* button = new COnOffButton(CRect(0, 0, 20, 20), nullptr, 0, nullptr);
    // New: dirty, and oldValue made different from the value 0.
    EXPECT_TRUE(button->isDirty());
    EXPECT_FLOAT_EQ(button->getOldValue(), -1.f);
    EXPECT_TRUE(button->isDirty());
    button->draw(nullptr);
    EXPECT_FALSE(button->isDirty());
    EXPECT_FLOAT_EQ(button->getOldValue(), 0.f);

    // A stored value alone makes it dirty; no clamping on setValue.
    button->setValue(3.5f);
    EXPECT_TRUE(button->isDirty());
    EXPECT_FLOAT_EQ(button->getValue(), 3.5f);
    button->draw(nullptr);
    EXPECT_FALSE(button->isDirty());

    // setDirty(true) picks an oldValue that differs from the value.
    button->setValue(-1.f);
    button->setDirty(true);
    EXPECT_FLOAT_EQ(button->getOldValue(), 0.f);
    button->setValue(0.25f);
    button->setDirty(true);
    EXPECT_FLOAT_EQ(button->getOldValue(), -1.f);
    button->setDirty(false);
    EXPECT_FLOAT_EQ(button->getOldValue(), 0.25f);
    EXPECT_FALSE(button->isDirty());

    // NaN never equals what is on screen.
    button->setValue(kNaN);
    button->draw(nullptr);
    EXPECT_TRUE(button->isDirty());
    button->forget();
}

// Another thread stores a value while the control draws (the bitmap's draw
// is that moment): the control stays dirty until it has drawn that value.
TEST(ControlDirtyTracking, AValueStoredDuringTheDrawIsDrawnNextTime) {
    FrameFixture f;
    auto* strip = new RecordingBitmap(20, 20 * 11);
    auto* knob = new CAnimKnob(CRect(0, 0, 20, 20), nullptr, 0, 11, 20, strip);
    auto* pad = new COnOffButton(CRect(30, 0, 50, 20), nullptr, 1, strip);
    for (CControl* control : std::initializer_list<CControl*>{knob, pad}) {
        f.frame->addView(control);
        control->setValue(0.3f);
        control->draw(f.context);
        strip->onDraw = [control] { control->setValue(0.9f); };
        control->setDirty(true);
        control->update(f.context);  // draws 0.3, then 0.9 arrives
        strip->onDraw = nullptr;
        EXPECT_TRUE(control->isDirty()) << control->getTag();
        control->update(f.context);
        EXPECT_FALSE(control->isDirty()) << control->getTag();
    }
    EXPECT_EQ(strip->draws.back().offset, CPoint(0, 110));                    // the pad, on
    EXPECT_EQ(strip->draws[strip->draws.size() - 4].offset, CPoint(0, 180));  // knob at 0.9
    strip->forget();
}

TEST(ControlDirtyTracking, BounceClampsIntoTheRange) {
    kvtest::TestClock clock;
    auto* button = new COnOffButton(CRect(0, 0, 20, 20), nullptr, 0, nullptr);
    button->setMin(-2.f);
    button->setMax(4.f);
    button->setValue(5.f);
    button->bounceValue();
    EXPECT_FLOAT_EQ(button->getValue(), 4.f);
    button->setValue(-7.f);
    button->bounceValue();
    EXPECT_FLOAT_EQ(button->getValue(), -2.f);
    button->setValue(1.5f);
    button->bounceValue();
    EXPECT_FLOAT_EQ(button->getValue(), 1.5f);
    button->forget();
}

TEST(ControlDirtyTracking, DoubleClickDelayHasAFloor) {
    kvtest::TestClock clock;
    clock.doubleClick = 100;
    auto* fast = new COnOffButton(CRect(0, 0, 20, 20), nullptr, 0, nullptr);
    EXPECT_EQ(fast->getDoubleClickDelay(), 250);
    clock.doubleClick = 600;
    auto* slow = new COnOffButton(CRect(0, 0, 20, 20), nullptr, 0, nullptr);
    EXPECT_EQ(slow->getDoubleClickDelay(), 600);
    fast->forget();
    slow->forget();
}

TEST(ControlDefaultReset, OnlyExactControlClickResetsInsideAnEditBracket) {
    FrameFixture f;
    setToolkitKnobMode(2);
    RecordingListener listener(&f.editor);
    CKnob* knob = addKnob(f, &listener, 7);
    knob->setValue(0.9f);

    knob->onMouseDown(f.context, CPoint(120, 240), kMouseLeft | kModControl);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.5f);
    ASSERT_EQ(f.editor.edits.size(), 2u);
    EXPECT_TRUE(f.editor.edits[0].begin);
    EXPECT_EQ(f.editor.edits[0].index, 7);
    EXPECT_FALSE(f.editor.edits[1].begin);
    ASSERT_EQ(listener.reports.size(), 1u);
    EXPECT_EQ(listener.reports[0].editsSoFar, 1);  // told inside the bracket
    EXPECT_EQ(f.frame->getFocusView(), knob);
    EXPECT_EQ(f.window->mouseButtonsCalls(), 0);  // no drag loop

    // Control + Shift is not the reset: an ordinary drag without movement.
    knob->setValue(0.9f);
    listener.reports.clear();
    f.editor.edits.clear();
    f.scriptDrag({CPoint(120, 240)}, kMouseLeft | kModControl | kModShift);
    knob->onMouseDown(f.context, CPoint(120, 240), kMouseLeft | kModControl | kModShift);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.9f);
    EXPECT_EQ(f.editor.edits.size(), 2u);
    EXPECT_GT(f.window->mouseButtonsCalls(), 0);
    ASSERT_EQ(listener.modifierButtons.size(), 2u);
    EXPECT_EQ(listener.modifierButtons[1], kMouseLeft | kModControl | kModShift);

    // Control with the right button is not the reset either.
    f.editor.edits.clear();
    knob->setValue(0.9f);
    EXPECT_FALSE(knob->checkDefaultValue(f.context, kMouseRight | kModControl | kMouseLeft));
    EXPECT_FLOAT_EQ(knob->getValue(), 0.9f);
    EXPECT_TRUE(f.editor.edits.empty());
    setToolkitKnobMode(0);
}

TEST(ControlModifierClicks, TakenByTheListenerTheyChangeNothing) {
    FrameFixture f;
    RecordingListener listener(&f.editor);
    listener.modifierAnswer = 1;
    COnOffButton* button = addButton(f, &listener);
    CKnob* knob = addKnob(f, &listener);
    knob->setValue(0.3f);

    button->onMouseDown(f.context, CPoint(20, 20), kMouseLeft | kModShift);
    knob->onMouseDown(f.context, CPoint(120, 240), kMouseLeft | kModAlt);
    knob->onMouseDown(f.context, CPoint(120, 240), kMouseLeft | kModControl);
    EXPECT_FLOAT_EQ(button->getValue(), 0.f);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.3f);
    EXPECT_TRUE(f.editor.edits.empty());
    EXPECT_TRUE(listener.reports.empty());
    EXPECT_EQ(listener.modifierButtons.size(), 3u);

    // Without a modifier the hook is not asked and the button toggles.
    button->onMouseDown(f.context, CPoint(20, 20), kMouseLeft);
    EXPECT_FLOAT_EQ(button->getValue(), 1.f);
    EXPECT_EQ(listener.modifierButtons.size(), 3u);

    // Answered with 0, the modifier click is handled normally.
    listener.modifierAnswer = 0;
    button->onMouseDown(f.context, CPoint(20, 20), kMouseLeft | kModShift);
    EXPECT_FLOAT_EQ(button->getValue(), 0.f);

    // Disabled or without the left button: nothing, not even the hook.
    button->setMouseEnabled(false);
    button->onMouseDown(f.context, CPoint(20, 20), kMouseLeft | kModShift);
    button->setMouseEnabled(true);
    button->onMouseDown(f.context, CPoint(20, 20), kMouseRight | kModShift);
    EXPECT_FLOAT_EQ(button->getValue(), 0.f);
    EXPECT_EQ(listener.modifierButtons.size(), 4u);
}

TEST(OnOffButton, TogglesByTruncationAndReadsLiveButtons) {
    FrameFixture f;
    RecordingListener listener(&f.editor);
    COnOffButton* button = addButton(f, &listener, 2);
    struct Case {
        float before;
        float after;
    };
    const Case cases[] = {{0.f, 1.f},  {1.f, 0.f},  {0.7f, 1.f}, {-0.5f, 1.f},
                          {1.5f, 0.f}, {-1.f, 0.f}, {kNaN, 0.f}};
    for (const Case& c : cases) {
        button->setValue(c.before);
        button->onMouseDown(f.context, CPoint(20, 20), kMouseLeft);
        EXPECT_FLOAT_EQ(button->getValue(), c.after) << "from " << c.before;
    }
    // -1: the live state decides.
    f.window->setPointer(CPoint(20, 20), kMouseLeft);
    button->setValue(0.f);
    button->onMouseDown(f.context, CPoint(20, 20), -1);
    EXPECT_FLOAT_EQ(button->getValue(), 1.f);
    f.window->setPointer(CPoint(20, 20), kMouseRight);
    button->onMouseDown(f.context, CPoint(20, 20), -1);
    EXPECT_FLOAT_EQ(button->getValue(), 1.f);
}

TEST(OnOffButton, NotifiesBeforeOrAfterTheRedrawPumpOrNever) {
    FrameFixture f;
    RecordingListener listener(&f.editor);
    int32_t pumpsAtReport = -1;
    listener.onChange = [&](CControl*) { pumpsAtReport = f.editor.pumps; };
    COnOffButton* button = addButton(f, &listener, 2);

    button->onMouseDown(f.context, CPoint(20, 20), kMouseLeft);  // after (style 0)
    EXPECT_EQ(pumpsAtReport, 1);
    EXPECT_EQ(listener.reports.back().editsSoFar, 1);
    EXPECT_FLOAT_EQ(listener.reports.back().value, 1.f);

    button->setStyle(COnOffButton::kNotifyBeforeRedraw);
    button->onMouseDown(f.context, CPoint(20, 20), kMouseLeft);
    EXPECT_EQ(pumpsAtReport, 1);  // told before the second pump
    EXPECT_EQ(f.editor.pumps, 2);

    button->setStyle(5);
    const size_t reports = listener.reports.size();
    const size_t edits = f.editor.edits.size();
    button->onMouseDown(f.context, CPoint(20, 20), kMouseLeft);
    EXPECT_EQ(listener.reports.size(), reports);
    EXPECT_EQ(f.editor.edits.size(), edits);
    EXPECT_FLOAT_EQ(button->getValue(), 1.f);  // still toggles
    EXPECT_EQ(f.editor.pumps, 3);
    ASSERT_EQ(f.editor.edits.size(), 4u);
    EXPECT_EQ(f.editor.edits[0].index, 2);
}

TEST(OnOffButton, DrawsTheLowerHalfWhenOn) {
    kvtest::TestClock clock;
    auto* bitmap = new RecordingBitmap(28, 56);
    auto* button = new COnOffButton(CRect(5, 6, 33, 34), nullptr, 0, bitmap);
    EXPECT_EQ(bitmap->getNbReference(), 2);
    button->setValue(1.f);
    button->draw(nullptr);
    button->setValue(0.f);
    button->draw(nullptr);
    button->setValue(kNaN);
    button->setTransparency(true);
    button->draw(nullptr);
    ASSERT_EQ(bitmap->draws.size(), 3u);
    EXPECT_EQ(bitmap->draws[0].offset, CPoint(0, 28));
    EXPECT_EQ(bitmap->draws[0].rect, CRect(5, 6, 33, 34));
    EXPECT_FALSE(bitmap->draws[0].transparent);
    EXPECT_EQ(bitmap->draws[1].offset, CPoint(0, 0));
    EXPECT_EQ(bitmap->draws[2].offset, CPoint(0, 28));
    EXPECT_TRUE(bitmap->draws[2].transparent);
    button->forget();
    EXPECT_EQ(bitmap->getNbReference(), 1);
    bitmap->forget();
}

TEST(KnobWheelAndKeys, StepsClampAndReportOnlyRealChanges) {
    FrameFixture f;
    RecordingListener listener(&f.editor);
    CKnob* knob = addKnob(f, &listener, 3);

    knob->setValue(0.5f);
    EXPECT_TRUE(knob->onWheel(f.context, CPoint(120, 240), 1.f));
    EXPECT_NEAR(knob->getValue(), 0.6f, 1e-6);
    f.window->setPointer(CPoint(120, 240), kModShift);
    knob->setValue(0.5f);
    knob->onWheel(f.context, CPoint(120, 240), 1.f);
    EXPECT_NEAR(knob->getValue(), 0.51f, 1e-6);
    f.window->setPointer(CPoint(120, 240), 0);
    knob->onWheel(f.context, CPoint(120, 240), -2.f);
    EXPECT_NEAR(knob->getValue(), 0.31f, 1e-6);
    ASSERT_EQ(listener.reports.size(), 3u);
    EXPECT_EQ(f.editor.edits.size(), 6u);

    // Past the end: clamped; at the end already (and drawn): nobody is told.
    knob->setValue(0.95f);
    knob->onWheel(f.context, CPoint(120, 240), 1.f);
    EXPECT_FLOAT_EQ(knob->getValue(), 1.f);
    EXPECT_EQ(listener.reports.size(), 4u);
    knob->draw(f.context);
    knob->onWheel(f.context, CPoint(120, 240), 1.f);
    EXPECT_FLOAT_EQ(knob->getValue(), 1.f);
    EXPECT_EQ(listener.reports.size(), 4u);
    EXPECT_EQ(f.editor.edits.size(), 8u);

    knob->setMouseEnabled(false);
    knob->setValue(0.5f);
    EXPECT_FALSE(knob->onWheel(f.context, CPoint(120, 240), 1.f));
    EXPECT_FLOAT_EQ(knob->getValue(), 0.5f);

    // Arrow keys ignore the mouse flag; Shift gives a tenth of the step.
    struct Key {
        uint8_t virt;
        uint8_t modifier;
        float expected;
    };
    const Key keys[] = {{VSTGUI::kKeyUp, 0, 0.6f},
                        {VSTGUI::kKeyRight, 0, 0.6f},
                        {VSTGUI::kKeyLeft, 0, 0.4f},
                        {VSTGUI::kKeyDown, 0, 0.4f},
                        {VSTGUI::kKeyUp, VSTGUI::kShiftKey, 0.51f},
                        {VSTGUI::kKeyDown, VSTGUI::kShiftKey, 0.49f}};
    for (const Key& k : keys) {
        knob->setValue(0.5f);
        listener.reports.clear();
        const VSTGUI::KeyCode code{0, k.virt, k.modifier};
        EXPECT_EQ(knob->onKeyDown(code), 1);
        EXPECT_NEAR(knob->getValue(), k.expected, 1e-6);
        ASSERT_EQ(listener.reports.size(), 1u);
        EXPECT_EQ(listener.reports[0].context, nullptr);
    }
    knob->setValue(0.5f);
    const VSTGUI::KeyCode tab{0, VSTGUI::kKeyTab, 0};
    EXPECT_EQ(knob->onKeyDown(tab), -1);
    const VSTGUI::KeyCode letter{'a', 0, 0};
    EXPECT_EQ(knob->onKeyDown(letter), -1);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.5f);
}

TEST(ControlTypes, ClassNamesAnswerTheirChain) {
    kvtest::TestClock clock;
    auto* button = new COnOffButton(CRect(0, 0, 20, 20), nullptr, 0, nullptr);
    auto* knob = new CKnob(CRect(0, 0, 20, 20), nullptr, 0, nullptr, nullptr);
    EXPECT_TRUE(button->isTypeOf("COnOffButton"));
    EXPECT_TRUE(button->isTypeOf("CControl"));
    EXPECT_TRUE(button->isTypeOf("CView"));
    EXPECT_FALSE(button->isTypeOf("CKnob"));
    EXPECT_TRUE(knob->isTypeOf("CKnob"));
    EXPECT_TRUE(knob->isTypeOf("CControl"));
    EXPECT_FALSE(knob->isTypeOf("ckNob"));
    EXPECT_TRUE(knob->wantsFocus());
    EXPECT_FALSE(button->wantsFocus());

    // No name is no class, for every control of the toolkit and the panel.
    const CRect r(0, 0, 20, 20);
    CControl* controls[] = {
        button,
        knob,
        new CAnimKnob(r, nullptr, 0, 2, 20, nullptr),
        new CParamDisplay(r),
        new CTextEdit(r, nullptr, 0),
        new BrackenlumeKnob(r, nullptr, 0, 2, 20, nullptr),
        new BrackenlumePeakLed(r, nullptr),
    };
    for (CControl* control : controls) {
        EXPECT_FALSE(control->isTypeOf(nullptr));
        EXPECT_TRUE(control->isTypeOf("CControl"));
        control->forget();
    }
}
