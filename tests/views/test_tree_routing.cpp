// Where clicks, wheel turns, keys, drags and the focus go.
#include <gtest/gtest.h>

#include "view_test_support.h"

using namespace kvtest;
using VSTGUI::platform::HeadlessDropTarget;
using VSTGUI::platform::HeadlessWindow;

namespace {

struct FrameTest : ::testing::Test {
    CFrame frame{CRect(0, 0, 200, 200), hostWindow(), nullptr};
    HeadlessWindow* window = HeadlessWindow::last();

    template <typename T>
    T* add(T* view, CViewContainer* into = nullptr) {
        (into ? into : static_cast<CViewContainer*>(&frame))->addView(view);
        return view;
    }
};

}  // namespace

TEST_F(FrameTest, TheTopmostMouseEnabledViewTakesTheClickEdgesIncluded) {
    ASSERT_NE(window, nullptr);
    auto* a = add(new Probe(CRect(0, 0, 50, 50)));
    auto* b = add(new Probe(CRect(20, 20, 70, 70)));
    window->setPointer(CPoint(30, 30), kMouseLeft | kModShift);

    window->click(CPoint(30, 30));
    EXPECT_EQ(b->clicks, 1);
    EXPECT_EQ(a->clicks, 0);
    // The press arrives with the state of the pointer when it was clicked.
    EXPECT_EQ(b->lastButtons, kMouseLeft | kModShift);

    b->setMouseEnabled(false);
    window->click(CPoint(30, 30));
    EXPECT_EQ(a->clicks, 1);
    EXPECT_EQ(b->clicks, 1);

    // The right and bottom edges belong to the mouseable area.
    window->click(CPoint(50, 50));
    EXPECT_EQ(a->clicks, 2);
    window->click(CPoint(51, 50));
    EXPECT_EQ(a->clicks, 2);

    // The mouseable area decides, not the view's rectangle.
    a->setMouseableArea(CRect(100, 100, 120, 120));
    window->click(CPoint(10, 10));
    window->click(CPoint(120, 120));
    EXPECT_EQ(a->clicks, 3);
}

TEST_F(FrameTest, ClicksArriveInTheReceiversParentCoordinates) {
    auto* box = add(new Box(CRect(40, 40, 140, 140)));
    auto* inner = add(new Box(CRect(10, 10, 90, 90)), box);
    auto* probe = add(new Probe(CRect(5, 5, 25, 25)), inner);
    window->click(CPoint(60, 61));
    EXPECT_EQ(probe->clicks, 1);
    EXPECT_EQ(probe->lastWhere, CPoint(60 - 40 - 10, 61 - 40 - 10));

    CPoint p(60, 61);
    probe->frameToLocal(p);
    EXPECT_EQ(p, CPoint(10, 11));
    probe->localToFrame(p);
    EXPECT_EQ(p, CPoint(60, 61));
}

TEST_F(FrameTest, GetViewAtLooksInsideContainersOnlyWhenAskedTo) {
    auto* empty = add(new Box(CRect(0, 0, 50, 50)));
    auto* full = add(new Box(CRect(100, 100, 150, 150)));
    auto* probe = add(new Probe(CRect(10, 10, 20, 20)), full);

    EXPECT_EQ(frame.getViewAt(CPoint(25, 25), false), empty);
    EXPECT_EQ(frame.getViewAt(CPoint(25, 25), true), nullptr);
    EXPECT_EQ(frame.getViewAt(CPoint(115, 115), true), probe);
    EXPECT_EQ(frame.getViewAt(CPoint(130, 130), true), nullptr);
    EXPECT_EQ(frame.getViewAt(CPoint(130, 130), false), full);
    EXPECT_EQ(frame.getViewAt(CPoint(180, 10), false), nullptr);

    // Without a frame there is no answer at all.
    auto* loose = new Box(CRect(0, 0, 50, 50));
    loose->addView(new Probe(CRect(0, 0, 50, 50)));
    EXPECT_EQ(loose->getViewAt(CPoint(5, 5), false), nullptr);
    loose->forget();
}

TEST_F(FrameTest, PointerQueriesMeasureFromTheWindowOrigin) {
    window->setScreenOrigin(CPoint(300, 200));
    auto* box = add(new Box(CRect(40, 40, 140, 140)));
    auto* probe = add(new Probe(CRect(10, 10, 30, 30)), box);
    window->setPointer(CPoint(300 + 55, 200 + 57), 0);

    CPoint where;
    EXPECT_TRUE(frame.getCurrentLocation(where));
    EXPECT_EQ(where, CPoint(55, 57));
    EXPECT_EQ(box->getViewUnderCursor(), probe);
    EXPECT_EQ(frame.getViewUnderCursor(), box);

    // getMouseLocation answers in the coordinates of the view's own size.
    auto* context = frame.createDrawContext();
    CPoint local;
    probe->getMouseLocation(context, local);
    EXPECT_EQ(local, CPoint(15, 17));
    EXPECT_EQ(context->offset, CPoint(0, 0));
    EXPECT_EQ(context->offsetScreen, CPoint(300, 200));
    context->forget();
}

TEST_F(FrameTest, WheelDistancesReachTheViewUnderThePointer) {
    auto* box = add(new Box(CRect(100, 0, 200, 100)));
    auto* inBox = add(new Probe(CRect(0, 0, 100, 100)), box);
    auto* plain = add(new Probe(CRect(0, 100, 100, 200)));

    window->wheelDelta(CPoint(10, 150), -240);
    EXPECT_EQ(plain->wheels, 1);
    EXPECT_FLOAT_EQ(plain->lastDistance, -2.0f);
    EXPECT_EQ(plain->lastWhere, CPoint(10, 150));  // the frame passes it unchanged

    window->wheelDelta(CPoint(150, 20), 60);
    EXPECT_EQ(inBox->wheels, 1);
    EXPECT_FLOAT_EQ(inBox->lastDistance, 0.5f);
    EXPECT_EQ(inBox->lastWhere, CPoint(50, 20));  // the container converts

    EXPECT_FALSE(frame.onWheel(nullptr, CPoint(150, 150), 1.0f));  // nobody there
}

TEST(ContainerKeys, TheLastChildIsAskedFirstAndTheFirstAnswerWins) {
    std::vector<std::string> order;
    auto* box = new Box(CRect(0, 0, 10, 10));
    const char* names[] = {"first", "second", "third"};
    Probe* probes[3];
    for (int i = 0; i < 3; ++i) {
        probes[i] = new Probe(CRect(0, 0, 10, 10));
        probes[i]->name = names[i];
        probes[i]->order = &order;
        box->addView(probes[i]);
    }
    probes[1]->keyResult = 5;
    EXPECT_EQ(box->onKeyDown(key(0, 0, 'a')), 5);
    EXPECT_EQ(order, (std::vector<std::string>{"third", "second"}));

    order.clear();
    probes[1]->keyResult = -1;
    EXPECT_EQ(box->onKeyUp(key(0, 0, 'a')), -1);
    EXPECT_EQ(order, (std::vector<std::string>{"third", "second", "first"}));
    box->forget();
}

TEST_F(FrameTest, TabWalksTheFocusableViewsAndWrapsThroughNoFocus) {
    auto focusable = [](Probe* p) {
        p->setWantsFocus(true);
        return p;
    };
    auto* f1 = add(focusable(new Probe(CRect(0, 0, 10, 10))));
    add(new Probe(CRect(10, 0, 20, 10)));
    auto* box = add(new Box(CRect(20, 0, 60, 10)));
    auto* f2 = add(focusable(new Probe(CRect(0, 0, 10, 10))), box);
    auto* f3 = add(focusable(new Probe(CRect(60, 0, 70, 10))));
    const VSTGUI::KeyCode tab = key(VSTGUI::kKeyTab);
    const VSTGUI::KeyCode backTab = key(VSTGUI::kKeyTab, VSTGUI::kShiftKey);

    EXPECT_EQ(frame.onKeyDown(tab), 1);
    EXPECT_EQ(frame.getFocusView(), f1);
    f1->setDirty(false);
    EXPECT_EQ(frame.onKeyDown(tab), 1);
    EXPECT_EQ(frame.getFocusView(), f2);
    // The old focus lost it and both must be redrawn.
    EXPECT_EQ(f1->focusLosses, 1);
    EXPECT_TRUE(f1->isDirty());
    EXPECT_TRUE(f2->isDirty());
    EXPECT_EQ(frame.onKeyDown(tab), 1);
    EXPECT_EQ(frame.getFocusView(), f3);
    // Past the last: no focus, and the next Tab starts again.
    EXPECT_EQ(frame.onKeyDown(tab), -1);
    EXPECT_EQ(frame.getFocusView(), nullptr);
    EXPECT_EQ(frame.onKeyDown(tab), 1);
    EXPECT_EQ(frame.getFocusView(), f1);

    frame.setFocusView(nullptr);
    EXPECT_EQ(frame.onKeyDown(backTab), 1);
    EXPECT_EQ(frame.getFocusView(), f3);
    EXPECT_EQ(frame.onKeyDown(backTab), 1);
    EXPECT_EQ(frame.getFocusView(), f2);
    EXPECT_EQ(frame.onKeyDown(backTab), 1);
    EXPECT_EQ(frame.getFocusView(), f1);

    // Keys other than Tab are not offered to the frame's other children.
    EXPECT_EQ(frame.onKeyDown(key(0, 0, 'x')), -1);

    // A click anywhere first takes the focus away.
    const int32_t losses = f1->focusLosses;
    window->click(CPoint(150, 150));
    EXPECT_EQ(frame.getFocusView(), nullptr);
    EXPECT_EQ(f1->focusLosses, losses + 1);
}

TEST_F(FrameTest, RemovingAViewThatHoldsTheFocusClearsIt) {
    auto* box = add(new Box(CRect(0, 0, 50, 50)));
    auto* inner = add(new Probe(CRect(0, 0, 10, 10)), box);
    inner->setWantsFocus(true);
    frame.setFocusView(inner);
    // The focus lies inside the container that goes away.
    frame.removeView(box, true);
    EXPECT_EQ(frame.getFocusView(), nullptr);
    EXPECT_EQ(frame.onKeyDown(key(0, 0, 'x')), -1);

    // Asked of a container that does not hold it, the view stays where it
    // is, but the focus is cleared all the same.
    auto* other = add(new Box(CRect(60, 60, 90, 90)));
    auto* focused = add(new Probe(CRect(0, 0, 10, 10)), other);
    focused->setWantsFocus(true);
    frame.setFocusView(focused);
    frame.removeView(focused, false);
    EXPECT_EQ(frame.getFocusView(), nullptr);
    EXPECT_TRUE(other->isChild(focused));
}

TEST_F(FrameTest, ADragTargetOrModalViewThatLeavesTheTreeIsForgotten) {
    auto* target = HeadlessDropTarget::last();
    ASSERT_NE(target, nullptr);
    // Each view is kept alive by a reference of the test, so that a stale
    // pointer shows as an event to a view no longer in the tree.
    auto* under = add(new Probe(CRect(0, 0, 100, 200)));
    under->remember();
    window->setPointer(CPoint(10, 20), 0);
    EXPECT_TRUE(target->enter(1));
    frame.removeView(under, true);
    target->move();
    target->drop();
    EXPECT_EQ(under->dragLog, (std::vector<std::string>{"enter"}));

    // The same when the target lies inside a container that leaves.
    auto* box = add(new Box(CRect(0, 0, 100, 200)));
    auto* inner = add(new Probe(CRect(0, 0, 100, 200)), box);
    box->remember();
    EXPECT_TRUE(target->enter(1));
    frame.removeAll(true);
    target->leave();
    EXPECT_EQ(inner->dragLog, (std::vector<std::string>{"enter"}));

    auto* modal = new Probe(CRect(10, 10, 50, 50));
    ASSERT_TRUE(frame.setModalView(modal));
    frame.removeView(modal, false);
    EXPECT_EQ(frame.getModalView(), nullptr);
    window->click(CPoint(20, 20));
    window->wheel(CPoint(20, 20), 1.0f);
    EXPECT_EQ(modal->clicks + modal->wheels, 0);
    EXPECT_TRUE(frame.setModalView(modal));
    frame.removeAll(false);
    EXPECT_EQ(frame.getModalView(), nullptr);

    modal->forget();
    under->forget();
    box->forget();
}

TEST_F(FrameTest, AModalViewTakesMouseAndWheelAndBlocksTheFocus) {
    auto* other = add(new Probe(CRect(100, 100, 150, 150)));
    other->setWantsFocus(true);
    auto* modal = new Probe(CRect(10, 10, 50, 50));
    auto* second = new Probe(CRect(60, 60, 90, 90));

    EXPECT_TRUE(frame.setModalView(modal));
    EXPECT_EQ(modal->getNbReference(), 2);
    EXPECT_EQ(frame.getView(frame.getViewCount() - 1), modal);  // drawn last
    EXPECT_FALSE(frame.setModalView(second));
    EXPECT_EQ(frame.getModalView(), modal);

    window->click(CPoint(120, 120));  // outside the modal view: dropped
    EXPECT_EQ(other->clicks, 0);
    EXPECT_EQ(modal->clicks, 0);
    window->click(CPoint(20, 20));
    EXPECT_EQ(modal->clicks, 1);

    window->wheel(CPoint(120, 120), 1.0f);  // anywhere: to the modal view
    EXPECT_EQ(modal->wheels, 1);
    EXPECT_EQ(other->wheels, 0);

    EXPECT_FALSE(frame.advanceNextFocusView(nullptr, false));
    EXPECT_EQ(frame.onKeyDown(key(VSTGUI::kKeyTab)), -1);
    EXPECT_EQ(frame.getViewUnderCursor(), modal);

    EXPECT_TRUE(frame.setModalView(nullptr));
    EXPECT_EQ(modal->getNbReference(), 1);
    EXPECT_FALSE(frame.isChild(modal));
    EXPECT_TRUE(frame.setModalView(second));
    EXPECT_EQ(frame.getModalView(), second);
    EXPECT_TRUE(frame.setModalView(nullptr));
    modal->forget();
    second->forget();
}

TEST_F(FrameTest, DragsFromOtherApplicationsFollowThePointer) {
    auto* target = HeadlessDropTarget::last();
    ASSERT_NE(target, nullptr);
    EXPECT_TRUE(frame.isDropActive());
    auto* left = add(new Probe(CRect(0, 0, 100, 200)));
    auto* right = add(new Probe(CRect(100, 0, 200, 200)));
    left->acceptsDrop = true;

    window->setPointer(CPoint(10, 20), 0);
    EXPECT_TRUE(target->enter(3));
    EXPECT_EQ(left->dragLog, (std::vector<std::string>{"enter"}));
    EXPECT_EQ(left->lastDragCount, 3);
    EXPECT_EQ(left->lastWhere, CPoint(10, 20));
    EXPECT_TRUE(target->move());
    window->setPointer(CPoint(150, 20), 0);
    EXPECT_TRUE(target->move());
    EXPECT_EQ(left->dragLog, (std::vector<std::string>{"enter", "move", "leave"}));
    EXPECT_EQ(right->dragLog, (std::vector<std::string>{"enter"}));
    window->setPointer(CPoint(50, 20), 0);
    target->drop();
    EXPECT_EQ(right->dragLog, (std::vector<std::string>{"enter", "leave"}));
    EXPECT_EQ(left->dragLog, (std::vector<std::string>{"enter", "move", "leave", "drop", "leave"}));
    // After the drop the drag is over: moves and leaves are ignored.
    EXPECT_FALSE(target->move());
    target->leave();
    EXPECT_EQ(left->dragLog.size(), 5u);

    // Enter and leave without a drop: the leave reaches the view and the
    // drag is over.
    EXPECT_TRUE(target->enter(0));
    EXPECT_EQ(left->lastDragCount, 0);
    target->leave();
    EXPECT_EQ(left->dragLog.back(), "leave");
    EXPECT_EQ(left->dragLog.size(), 7u);
    EXPECT_FALSE(target->move());
    target->drop();
    EXPECT_EQ(left->dragLog.size(), 7u);
}

TEST_F(FrameTest, DropRegistrationRules) {
    const int32_t targets = HeadlessDropTarget::liveCount();
    EXPECT_TRUE(frame.setDropActive(false));
    EXPECT_EQ(HeadlessDropTarget::liveCount(), targets - 1);
    EXPECT_FALSE(frame.isDropActive());
    // Already inactive: true without touching anything.
    EXPECT_TRUE(frame.setDropActive(false));
    EXPECT_EQ(HeadlessDropTarget::liveCount(), targets - 1);
    EXPECT_TRUE(frame.setDropActive(true));
    EXPECT_EQ(HeadlessDropTarget::liveCount(), targets);

    CFrame windowless(CRect(0, 0, 10, 10), nullptr, nullptr);
    EXPECT_EQ(windowless.getPlatformWindow(), nullptr);
    EXPECT_TRUE(windowless.setDropActive(false));
    EXPECT_FALSE(windowless.setDropActive(true));
    EXPECT_FALSE(windowless.isDropActive());
}
