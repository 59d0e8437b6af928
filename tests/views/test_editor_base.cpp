// The editor base: what the host's calls reach, and the idle pump's pacing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "editor_test_support.h"
#include "view_test_support.h"

using namespace kvtest;
using VSTGUI::platform::HeadlessWindow;

namespace {

struct EditorTest : ::testing::Test {
    FakeHost host;
    TestClock clock{10000, 250};
    SilentEffect effect;
    TestEditor editor{&effect};

    HeadlessWindow* open() {
        editor.openFrame(CRect(0, 0, 100, 100), hostWindow());
        return HeadlessWindow::last();
    }
    int32_t passes() { return host.count(audioMasterIdle); }
};

}  // namespace

TEST_F(EditorTest, TheRectangleIsTheEditorsOwnAndWithoutAFrameNothingIsHandled) {
    ERect* rect = nullptr;
    EXPECT_TRUE(editor.getRect(&rect));
    ASSERT_NE(rect, nullptr);
    ERect* again = nullptr;
    editor.getRect(&again);
    EXPECT_EQ(rect, again);

    VstKeyCode tab{0, VKEY_TAB, 0};
    EXPECT_FALSE(editor.onKeyDown(tab));
    EXPECT_FALSE(editor.onKeyUp(tab));
    EXPECT_FALSE(editor.onWheel(1.0f));
    editor.idle();  // nothing to do, nothing breaks
    editor.setParameter(0, 0.5f);
}

TEST_F(EditorTest, KeysCountAsHandledOnlyWhenTheFrameAnswersOne) {
    open();
    auto* view = new Probe(CRect(0, 0, 10, 10));
    view->setWantsFocus(true);
    editor.getFrame()->addView(view);
    VstKeyCode tab{0, VKEY_TAB, 0};
    EXPECT_TRUE(editor.onKeyDown(tab));  // the focus moved: the frame answers 1
    EXPECT_EQ(editor.getFrame()->getFocusView(), view);

    VstKeyCode letter{'q', 0, 0};
    view->keyResult = 1;
    EXPECT_TRUE(editor.onKeyDown(letter));
    EXPECT_TRUE(editor.onKeyUp(letter));
    view->keyResult = 5;  // handled, but not with 1
    EXPECT_FALSE(editor.onKeyDown(letter));
    view->keyResult = -1;
    EXPECT_FALSE(editor.onKeyUp(letter));
}

TEST_F(EditorTest, TheWheelGoesToTheViewUnderThePointer) {
    HeadlessWindow* window = open();
    window->setScreenOrigin(CPoint(400, 300));
    auto* view = new Probe(CRect(20, 30, 60, 70));
    editor.getFrame()->addView(view);
    window->setPointer(CPoint(400 + 25, 300 + 35), 0);
    EXPECT_TRUE(editor.onWheel(-1.5f));
    EXPECT_EQ(view->lastWhere, CPoint(25, 35));
    EXPECT_FLOAT_EQ(view->lastDistance, -1.5f);
    window->setPointer(CPoint(400 + 90, 300 + 90), 0);
    EXPECT_FALSE(editor.onWheel(1.0f));
}

TEST_F(EditorTest, EditsReachTheHostWithTheSameIndex) {
    editor.beginEdit(2);
    editor.endEdit(2);
    editor.beginEdit(0);
    EXPECT_EQ(host.editIndices(), (std::vector<int32_t>{3, -3, 1}));
    EXPECT_TRUE(editor.setKnobMode(1));
    EXPECT_EQ(AEffGUIEditor::getKnobMode(), 1);
    editor.setKnobMode(0);
}

TEST_F(EditorTest, ThePumpRunsOneFullPassPerHundredMilliseconds) {
    open();
    // Due at once: the first pass runs without sleeping.
    editor.pumpIdle();
    EXPECT_EQ(passes(), 1);
    EXPECT_EQ(editor.idles, 1);
    EXPECT_TRUE(clock.sleeps.empty());
    const uint32_t due = clock.now + 100;
    EXPECT_EQ(editor.getNextIdleTicks(), due);

    // A second call within 10 ms only sleeps.
    clock.now += 6;
    editor.pumpIdle();
    EXPECT_EQ(passes(), 1);
    EXPECT_EQ(editor.idles, 1);
    EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{4}));

    // 55 ms early: still only a sleep.
    clock.now = due - 55;
    editor.pumpIdle();
    EXPECT_EQ(passes(), 1);
    EXPECT_EQ(clock.sleeps.size(), 2u);

    // 54 ms early: sleep, then the pass; the next one is due 100 ms after
    // the time after the sleep.
    clock.now = due - 54;
    editor.pumpIdle();
    EXPECT_EQ(passes(), 2);
    EXPECT_EQ(clock.sleeps.size(), 3u);
    EXPECT_EQ(editor.getNextIdleTicks(), due - 50 + 100);

    // Late: at once.
    clock.now = due + 500;
    editor.pumpIdle();
    EXPECT_EQ(passes(), 3);
    EXPECT_EQ(clock.sleeps.size(), 3u);

    // The millisecond counter wraps between two passes: the second, 272 ms
    // after the first, is late and runs at once; 40 ms later it is early.
    clock.now = 0xFFFFFF00u;
    editor.pumpIdle();
    EXPECT_EQ(passes(), 4);
    clock.now = 0x10;
    editor.pumpIdle();
    EXPECT_EQ(passes(), 5);
    EXPECT_EQ(clock.sleeps.size(), 3u);
    clock.now = 0x10 + 40;
    editor.pumpIdle();
    EXPECT_EQ(passes(), 5);
    EXPECT_EQ(clock.sleeps.size(), 4u);
}

TEST_F(EditorTest, DuringADragThePanelFollowsFiftyTimesASecondAtTheHostsPace) {
    HeadlessWindow* window = open();
    auto* knob = new Probe(CRect(0, 0, 10, 10));
    editor.getFrame()->addView(knob);
    window->paint(CRect(0, 0, 100, 100));
    window->postPaint(CRect(0, 0, 100, 100));

    // A drag loop: each pass moves the value (the view is dirty again),
    // takes a millisecond of work and pumps, which sleeps 4 ms when early.
    const uint32_t start = clock.now;
    std::vector<uint32_t> drawnAt;
    for (int i = 0; i < 200; ++i) {
        knob->setDirty(true);
        const int32_t draws = knob->draws;
        clock.now += 1;
        editor.pumpIdle();
        if (knob->draws > draws) drawnAt.push_back(clock.now);
    }
    const uint32_t elapsed = clock.now - start;  // 200 x 5 ms
    uint32_t longestGap = 0;
    for (size_t i = 1; i < drawnAt.size(); ++i)
        longestGap = std::max(longestGap, drawnAt[i] - drawnAt[i - 1]);
    EXPECT_LE(longestGap, 20u + 5u);
    EXPECT_GE(drawnAt.size(), elapsed / 20);
    // The host's idle keeps its pace, and paints still wait for a pass.
    EXPECT_LE(passes(), static_cast<int32_t>(elapsed / 50 + 1));
    EXPECT_EQ(window->processOnePaintCalls(), passes());
}

TEST_F(EditorTest, ThePassHandlesWindowEventsAndIdleRestsDuringTheHostsIdle) {
    HeadlessWindow* window = open();
    auto* view = new Probe(CRect(0, 0, 10, 10));
    editor.getFrame()->addView(view);
    window->postPaint(CRect(0, 0, 100, 100));
    window->postClick(CPoint(1, 1));

    bool insideSeen = false;
    int32_t eventCallsInside = -1;
    host.onIdle = [&] {
        insideSeen = editor.isInMasterIdle();
        const int32_t before = window->processEventsCalls();
        editor.idle();  // the host calling back into the editor: ignored
        eventCallsInside = window->processEventsCalls() - before;
    };
    editor.pumpIdle();
    EXPECT_TRUE(insideSeen);
    EXPECT_EQ(eventCallsInside, 0);
    EXPECT_FALSE(editor.isInMasterIdle());
    EXPECT_EQ(view->clicks, 1);
    EXPECT_EQ(window->presentCount(), 1);
    EXPECT_EQ(window->processOnePaintCalls(), 1);
    EXPECT_EQ(window->pendingEvents(), 0);

    // A call that only sleeps lets no paint through.
    clock.now += 1;
    editor.pumpIdle();
    EXPECT_EQ(window->processOnePaintCalls(), 1);
}

TEST(HeadlessBackEnd, OnePaintAtATimeAndTheScriptedPointer) {
    struct Sink : VSTGUI::platform::WindowEvents {
        void windowPaint(VSTGUI::platform::DrawDevice&, const CRect& area) override {
            paints.push_back(area);
        }
        void windowMouseDown(CPoint, int32_t buttons) override {
            ++clicks;
            pressed.push_back(buttons);
            if (onClick) onClick();
        }
        void windowWheel(CPoint, int32_t, float) override {}
        void windowDestroyed() override {}
        std::vector<CRect> paints;
        int32_t clicks = 0;
        std::vector<int32_t> pressed;
        std::function<void()> onClick;
    } sink;
    HeadlessWindow window(hostWindow(), 20, 20, sink);
    window.postClick(CPoint(1, 1));
    window.postPaint(CRect(0, 0, 5, 5));
    window.postPaint(CRect(5, 5, 10, 10));
    window.processOnePaint();
    EXPECT_EQ(sink.paints, (std::vector<CRect>{CRect(0, 0, 5, 5)}));
    EXPECT_EQ(sink.clicks, 0);
    EXPECT_EQ(window.pendingEvents(), 2);
    window.processEvents();
    EXPECT_EQ(sink.clicks, 1);
    EXPECT_EQ(sink.paints.size(), 2u);

    // One state per button query; the last one holds.
    window.scriptPointer(
        {{CPoint(1, 2), kMouseLeft}, {CPoint(3, 4), kMouseLeft}, {CPoint(5, 6), 0}});
    EXPECT_EQ(window.pointerPosition(), CPoint(1, 2));
    EXPECT_EQ(window.mouseButtons(), kMouseLeft);
    EXPECT_EQ(window.pointerPosition(), CPoint(1, 2));
    EXPECT_EQ(window.mouseButtons(), kMouseLeft);
    EXPECT_EQ(window.pointerPosition(), CPoint(3, 4));
    EXPECT_EQ(window.mouseButtons(), 0);
    EXPECT_EQ(window.mouseButtons(), 0);
    EXPECT_EQ(window.pointerPosition(), CPoint(5, 6));

    // A click carries the pointer's buttons at its delivery, taking a state
    // of the script; pumping from inside it paints but holds the next press.
    window.scriptPointer({{CPoint(1, 1), kMouseRight}, {CPoint(1, 1), 0}});
    sink.clicks = 0;
    sink.paints.clear();
    sink.onClick = [&] {
        if (sink.clicks > 1) return;
        window.postClick(CPoint(2, 2));
        window.postPaint(CRect(0, 0, 3, 3));
        window.processEvents();
        EXPECT_EQ(sink.paints.size(), 1u);
        EXPECT_EQ(sink.clicks, 1);
    };
    window.click(CPoint(1, 1));
    EXPECT_EQ(window.pendingEvents(), 1);
    window.processEvents();
    EXPECT_EQ(sink.clicks, 2);
    EXPECT_EQ(sink.pressed, (std::vector<int32_t>{0, kMouseRight, 0}));
}

TEST(EditorLifetime, AnEditorDeletedWithItsWindowOpenTakesTheFrameAlong) {
    FakeHost host;
    const int32_t windows = HeadlessWindow::liveCount();
    const int32_t views = Probe::alive;
    SilentEffect effect;
    {
        class Careless : public AEffGUIEditor {
          public:
            using AEffGUIEditor::AEffGUIEditor;
            void openFrame() {
                frame = new CFrame(CRect(0, 0, 10, 10), hostWindow(), this);
                frame->addView(new Probe(CRect(0, 0, 5, 5)));
            }
        };
        Careless editor(&effect);
        editor.openFrame();
        EXPECT_EQ(HeadlessWindow::liveCount(), windows + 1);
    }
    EXPECT_EQ(HeadlessWindow::liveCount(), windows);
    EXPECT_EQ(Probe::alive, views);
}
