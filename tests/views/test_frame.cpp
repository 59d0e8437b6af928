// The frame's life on its window: events, idle, resizing, cursor, teardown.
#include <gtest/gtest.h>

#include <memory>

#include "editor_test_support.h"
#include "view_test_support.h"

using namespace kvtest;
using VSTGUI::platform::CursorShape;
using VSTGUI::platform::HeadlessDropTarget;
using VSTGUI::platform::HeadlessWindow;

TEST(FrameWindow, AWindowDestroyedFromOutsideStopsEverything) {
    CFrame frame(CRect(0, 0, 100, 100), hostWindow(), nullptr);
    HeadlessWindow* window = HeadlessWindow::last();
    auto* probe = new Probe(CRect(0, 0, 10, 10));
    frame.addView(probe);
    window->paint(CRect(0, 0, 100, 100));
    EXPECT_EQ(frame.getParentWindow(), hostWindow());

    window->destroyFromOutside();
    EXPECT_FALSE(frame.getOpenFlag());
    EXPECT_FALSE(frame.isOpen());
    EXPECT_EQ(frame.getParentWindow(), nullptr);

    probe->setDirty(true);
    const int32_t presents = window->presentCount();
    frame.idle();
    frame.update(nullptr);
    EXPECT_EQ(window->presentCount(), presents);
    EXPECT_FALSE(frame.setSize(300, 300));
    int32_t x = 0, y = 0;
    EXPECT_FALSE(frame.getPosition(x, y));
    CRect r;
    EXPECT_FALSE(frame.getSize(r));
}

TEST(FrameWindow, IdleHandlesPendingWindowEventsFirst) {
    CFrame frame(CRect(0, 0, 100, 100), hostWindow(), nullptr);
    HeadlessWindow* window = HeadlessWindow::last();
    auto* probe = new Probe(CRect(0, 0, 50, 50));
    frame.addView(probe);

    window->postPaint(CRect(0, 0, 100, 100));
    window->postClick(CPoint(10, 10));
    EXPECT_EQ(window->presentCount(), 0);
    frame.idle();
    EXPECT_EQ(window->processEventsCalls(), 1);
    EXPECT_EQ(probe->clicks, 1);
    EXPECT_EQ(window->presentCount(), 1);  // the paint; nothing was dirty after it
    EXPECT_EQ(window->pendingEvents(), 0);

    // One block copy per idle update, however many views are dirty.
    frame.addView(new Probe(CRect(60, 60, 70, 70)));
    probe->setDirty(true);
    frame.idle();
    EXPECT_EQ(window->presentCount(), 2);
    frame.idle();
    EXPECT_EQ(window->presentCount(), 2);
}

TEST(FrameWindow, WithoutAParentNothingIsCreatedOrDrawn) {
    CFrame frame(CRect(0, 0, 100, 100), nullptr, nullptr);
    frame.addView(new Probe(CRect(0, 0, 10, 10)));
    EXPECT_EQ(frame.getPlatformWindow(), nullptr);
    EXPECT_FALSE(frame.isDropActive());
    frame.idle();
    EXPECT_TRUE(frame.isFirstDrawPending());
    CPoint where(7, 7);
    EXPECT_TRUE(frame.getCurrentLocation(where));
    EXPECT_EQ(where, CPoint(0, 0));
    frame.setCursor(kCursorHand);  // nothing to set it on

    // A window the system refuses behaves the same.
    HeadlessWindow::failNextCreate();
    CFrame refused(CRect(0, 0, 100, 100), hostWindow(), nullptr);
    EXPECT_EQ(refused.getPlatformWindow(), nullptr);
    EXPECT_FALSE(refused.isDropActive());
}

TEST(FrameWindow, DrawViewDrawsADirectChildOrElseTheWholeFrame) {
    CFrame frame(CRect(0, 0, 100, 100), hostWindow(), nullptr);
    auto* direct = new Probe(CRect(0, 0, 10, 10));
    auto* box = new Box(CRect(20, 20, 60, 60));
    auto* deep = new Probe(CRect(0, 0, 10, 10));
    frame.addView(direct);
    frame.addView(box);
    box->addView(deep);

    frame.drawView(direct);
    EXPECT_EQ(direct->draws, 1);
    EXPECT_EQ(deep->draws, 0);
    EXPECT_TRUE(frame.isFirstDrawPending());  // a child's drawing is not the frame's
    frame.drawView(deep);
    EXPECT_EQ(deep->draws, 1);
    EXPECT_EQ(direct->draws, 2);
    EXPECT_FALSE(frame.isFirstDrawPending());
}

TEST(FrameCursor, TypesMapToShapesAndTheDefaultComesBackAtTeardown) {
    const CursorShape expected[] = {CursorShape::arrow,
                                    CursorShape::wait,
                                    CursorShape::resizeHorizontal,
                                    CursorShape::resizeVertical,
                                    CursorShape::move,
                                    CursorShape::resizeNESW,
                                    CursorShape::resizeNWSE,
                                    CursorShape::arrow,
                                    CursorShape::forbidden,
                                    CursorShape::hand};
    {
        CFrame frame(CRect(0, 0, 10, 10), hostWindow(), nullptr);
        HeadlessWindow* window = HeadlessWindow::last();
        for (int32_t type = 0; type < 10; ++type) {
            frame.setCursor(type);
            EXPECT_EQ(window->cursor(), expected[type]) << "type " << type;
        }
        frame.setCursor(-1);
        EXPECT_EQ(window->cursor(), CursorShape::arrow);
        frame.setCursor(10);
        EXPECT_EQ(window->cursor(), CursorShape::arrow);
        frame.setCursor(kCursorHand);
    }
    EXPECT_EQ(HeadlessWindow::finalCursor(), CursorShape::arrow);

    // Also when the cursor was never changed, teardown sets the default.
    int32_t changes = 0;
    {
        CFrame frame(CRect(0, 0, 10, 10), hostWindow(), nullptr);
        changes = HeadlessWindow::last()->cursorChanges();
    }
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(HeadlessWindow::finalCursor(), CursorShape::arrow);
}

TEST(FrameResize, TheSameSizeIsNoChangeAndKeepsTheBackBuffer) {
    FakeHost host;
    SilentEffect effect;
    TestEditor editor(&effect);
    editor.openFrame(CRect(0, 0, 100, 100), hostWindow());
    CFrame* frame = editor.getFrame();
    COffscreenContext* buffer = frame->getBackBuffer();
    EXPECT_FALSE(frame->setSize(100, 100));
    EXPECT_EQ(frame->getBackBuffer(), buffer);
    EXPECT_EQ(host.count(audioMasterCanDo), 0);
}

TEST(FrameResize, TheHostIsAskedFirstAndTheTopLeftCornerStays) {
    FakeHost host;
    SilentEffect effect;
    TestEditor editor(&effect);
    editor.openFrame(CRect(10, 20, 110, 220), hostWindow());
    CFrame* frame = editor.getFrame();
    HeadlessWindow* window = HeadlessWindow::last();
    frame->getBackBuffer();

    EXPECT_TRUE(frame->setSize(150, 250));
    EXPECT_EQ(frame->getViewSize(), CRect(10, 20, 160, 270));
    EXPECT_EQ(host.count(audioMasterCanDo), 1);
    EXPECT_EQ(host.count(audioMasterSizeWindow), 1);
    ASSERT_EQ(window->resizes().size(), 1u);
    EXPECT_EQ(window->resizes()[0], CPoint(150, 250));
    EXPECT_TRUE(window->ancestorResizes().empty());
    // The buffer is made again, of the new size, and everything is redrawn.
    EXPECT_EQ(frame->getBackBuffer()->getWidth(), 150);
    EXPECT_EQ(frame->getBackBuffer()->getHeight(), 250);
    EXPECT_TRUE(frame->isDirty());

    // setViewSize only takes the width and height.
    frame->setViewSize(CRect(500, 500, 620, 700));
    EXPECT_EQ(frame->getViewSize(), CRect(10, 20, 130, 220));
}

TEST(FrameResize, WhenTheHostRefusesTheFrameResizesItsWindowsItself) {
    FakeHost host;
    host.acceptsSize = false;
    SilentEffect effect;
    TestEditor editor(&effect);
    editor.openFrame(CRect(10, 20, 110, 220), hostWindow());
    CFrame* frame = editor.getFrame();
    HeadlessWindow* window = HeadlessWindow::last();
    frame->setDirty(false);

    EXPECT_TRUE(frame->setSize(150, 250));
    EXPECT_EQ(host.count(audioMasterSizeWindow), 1);
    EXPECT_TRUE(window->resizes().empty());
    ASSERT_EQ(window->ancestorResizes().size(), 1u);
    EXPECT_EQ(window->ancestorResizes()[0], CPoint(150, 250));
    EXPECT_EQ(frame->getViewSize(), CRect(0, 0, 150, 250));
    EXPECT_TRUE(frame->isDirty());

    // A host that cannot resize at all is not asked to.
    host.canSizeWindow = false;
    EXPECT_TRUE(frame->setSize(160, 260));
    EXPECT_EQ(host.count(audioMasterSizeWindow), 1);
    EXPECT_EQ(window->ancestorResizes().size(), 2u);

    // A walk that stops early ends the resize where it stands.
    window->setAncestorResizeResult(false);
    frame->setDirty(false);
    EXPECT_TRUE(frame->setSize(170, 270));
    EXPECT_EQ(frame->getViewSize(), CRect(0, 0, 170, 270));
    EXPECT_FALSE(frame->isDirty());
}

TEST(FrameHost, EditsTicksKnobModeAndWindowQueriesGoThroughTheEditor) {
    FakeHost host;
    TestClock clock(123456, 250);
    SilentEffect effect;
    TestEditor editor(&effect);
    editor.openFrame(CRect(0, 0, 100, 100), hostWindow());
    CFrame* frame = editor.getFrame();
    HeadlessWindow* window = HeadlessWindow::last();

    frame->beginEdit(3);
    frame->endEdit(3);
    EXPECT_EQ(host.editIndices(), (std::vector<int32_t>{4, -4}));

    EXPECT_EQ(frame->getTicks(), 123456u);
    CFrame orphan(CRect(0, 0, 10, 10), nullptr, nullptr);
    EXPECT_EQ(orphan.getTicks(), 0u);

    EXPECT_TRUE(editor.setKnobMode(2));
    EXPECT_EQ(frame->getKnobMode(), 2);
    EXPECT_EQ(orphan.getKnobMode(), 2);  // shared by every frame
    editor.setKnobMode(0);

    window->setHostWindowPosition(CPoint(33, 44));
    int32_t x = 0, y = 0;
    EXPECT_TRUE(frame->getPosition(x, y));
    EXPECT_EQ(x, 33);
    EXPECT_EQ(y, 44);
    window->setHostWindowPosition(CPoint(), false);
    EXPECT_FALSE(frame->getPosition(x, y));
    window->setParentWindowRect(CRect(1, 2, 3, 4));
    CRect r;
    EXPECT_TRUE(frame->getSize(&r));
    EXPECT_EQ(r, CRect(1, 2, 3, 4));
    EXPECT_FALSE(frame->getSize(nullptr));
    EXPECT_FALSE(frame->setPosition(1, 1));
    EXPECT_FALSE(frame->openWindow());
    EXPECT_FALSE(frame->closeWindow());
    EXPECT_EQ(frame->getEditor(), &editor);
    auto* probe = new Probe(CRect(0, 0, 1, 1));
    frame->addView(probe);
    EXPECT_EQ(probe->getEditor(), &editor);
}

TEST(FrameLifetime, OpeningAndClosingAThousandTimesLeavesNothingBehind) {
    const int32_t views = Probe::alive;
    const int32_t boxes = Box::alive;
    const int32_t windows = HeadlessWindow::liveCount();
    const int32_t targets = HeadlessDropTarget::liveCount();
    for (int i = 0; i < 1000; ++i) {
        auto frame = std::make_unique<CFrame>(CRect(0, 0, 60, 40), hostWindow(), nullptr);
        auto* box = new Box(CRect(5, 5, 50, 30));
        box->useOffscreen(true);
        frame->addView(box);
        box->addView(new Probe(CRect(1, 1, 9, 9), CColor{1, 2, 3, 255}, true));
        auto* focus = new Probe(CRect(50, 30, 60, 40));
        focus->setWantsFocus(true);
        frame->addView(focus);
        frame->setFocusView(focus);
        auto* modal = new Probe(CRect(0, 0, 5, 5));
        frame->setModalView(modal);
        modal->forget();  // the frame drops its reference at teardown
        HeadlessWindow::last()->paint(CRect(0, 0, 60, 40));
        frame->idle();
        if (i % 2) HeadlessDropTarget::last()->enter(1);  // a drag left hanging
    }
    EXPECT_EQ(Probe::alive, views + 0);
    EXPECT_EQ(Box::alive, boxes);
    EXPECT_EQ(HeadlessWindow::liveCount(), windows);
    EXPECT_EQ(HeadlessDropTarget::liveCount(), targets);
}
