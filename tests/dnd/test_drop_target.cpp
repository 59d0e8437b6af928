// The portable drop target on the headless back end, where the test plays
// the window system: the drag container's count and references, the
// module-wide current drag, the release at leave and drop, a count that
// arrives after the enter, and a target without a frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/headless/headless_window.h"
#include "vstgui/cdragcontainer.h"
#include "vstgui/cdroptarget.h"
#include "vstgui/cframe.h"
#include "vstgui/cview.h"

using namespace VSTGUI;
using platform::HeadlessDropTarget;
using platform::HeadlessWindow;

namespace {

void* hostWindow() {
    static int token;
    return &token;
}

// Records every drag event with the count the container had at that moment
// and keeps the container of the last enter alive, to look at it later.
class Recorder : public CView {
  public:
    using CView::CView;
    ~Recorder() override {
        if (kept) kept->forget();
    }
    void onDragEnter(CDrawContext*, CDragContainer* drag, const CPoint& where) override {
        log.push_back("enter " + std::to_string(drag->getCount()));
        at = where;
        if (kept) kept->forget();
        kept = drag;
        kept->remember();
    }
    void onDragMove(CDrawContext*, CDragContainer* drag, const CPoint& where) override {
        log.push_back("move " + std::to_string(drag->getCount()));
        at = where;
    }
    void onDragLeave(CDrawContext*, CDragContainer* drag, const CPoint&) override {
        log.push_back("leave " + std::to_string(drag->getCount()));
    }
    bool onDrop(CDrawContext*, CDragContainer* drag, const CPoint&) override {
        log.push_back("drop " + std::to_string(drag->getCount()));
        return takesDrop;
    }
    std::vector<std::string> log;
    CPoint at{-1, -1};
    CDragContainer* kept = nullptr;
    bool takesDrop = false;
};

struct DropTest : testing::Test {
    CFrame frame{CRect(0, 0, 200, 100), hostWindow(), nullptr};
    HeadlessWindow* window = HeadlessWindow::last();
    HeadlessDropTarget* target = HeadlessDropTarget::last();
    Recorder* view = nullptr;

    void SetUp() override {
        ASSERT_NE(window, nullptr);
        ASSERT_NE(target, nullptr);
        view = new Recorder(CRect(0, 0, 200, 100));
        frame.addView(view);
    }
};

}  // namespace

TEST(DragContainer, CountsAreNeverNegativeAndTheHandleIsKept) {
    int handle = 0;
    auto* drag = new CDragContainer(&handle, 3);
    EXPECT_EQ(drag->getCount(), 3);
    EXPECT_EQ(drag->getPlatformDrag(), &handle);
    EXPECT_EQ(drag->getIteratorPosition(), 0);
    EXPECT_EQ(drag->getNbReference(), 1);
    drag->setCount(-4);
    EXPECT_EQ(drag->getCount(), 0);
    drag->setCount(12);
    EXPECT_EQ(drag->getCount(), 12);
    drag->forget();
    auto* negative = new CDragContainer(-1);
    EXPECT_EQ(negative->getCount(), 0);
    EXPECT_EQ(negative->getPlatformDrag(), nullptr);
    negative->forget();
}

TEST_F(DropTest, EnterHoldsTheCurrentDragAndLeaveReleasesIt) {
    EXPECT_EQ(getCurrentDrag(), nullptr);
    window->setPointer(CPoint(40, 30), 0);
    EXPECT_TRUE(target->enter(2));
    CDragContainer* current = getCurrentDrag();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current, view->kept);
    // The target's reference and the view's.
    EXPECT_EQ(current->getNbReference(), 2);
    EXPECT_EQ(view->at, CPoint(40, 30)) << "the frame reads the pointer itself";
    window->setPointer(CPoint(41, 32), 0);
    EXPECT_TRUE(target->move());
    EXPECT_EQ(view->at, CPoint(41, 32));
    target->leave();
    EXPECT_EQ(getCurrentDrag(), nullptr);
    EXPECT_EQ(view->kept->getNbReference(), 1) << "the target gave its reference back";
    EXPECT_EQ(view->log, (std::vector<std::string>{"enter 2", "move 2", "leave 2"}));
}

TEST_F(DropTest, ACountThatArrivesLaterReachesTheCurrentDragOnly) {
    EXPECT_TRUE(target->enter(0));
    target->itemCount(3);
    EXPECT_TRUE(target->move());
    EXPECT_EQ(getCurrentDrag()->getCount(), 3);
    EXPECT_FALSE(target->drop()) << "no view took it";
    EXPECT_EQ(getCurrentDrag(), nullptr);
    EXPECT_EQ(view->kept->getNbReference(), 1);
    // A late count after the drag ended changes nothing and touches no
    // released container.
    target->itemCount(9);
    EXPECT_EQ(view->kept->getCount(), 3);
    // The container routing tells the view the drag left after the drop.
    EXPECT_EQ(view->log, (std::vector<std::string>{"enter 0", "move 3", "drop 3", "leave 3"}));

    view->takesDrop = true;
    EXPECT_TRUE(target->enter(1));
    EXPECT_TRUE(target->drop()) << "the frame's answer reaches the back end";
}

TEST_F(DropTest, ANewEnterEndsADragWhoseEndNeverCame) {
    EXPECT_TRUE(target->enter(1));
    CDragContainer* first = view->kept;
    first->remember();  // watch it beyond the view's next enter
    EXPECT_TRUE(target->enter(4));
    EXPECT_EQ(first->getNbReference(), 1) << "only the test's reference is left";
    first->forget();
    EXPECT_EQ(getCurrentDrag()->getCount(), 4);
    target->leave();
    EXPECT_EQ(getCurrentDrag(), nullptr);
}

TEST_F(DropTest, WithoutAFrameNothingIsOffered) {
    // A target whose frame is gone refuses the enter (no action for the
    // source) and ignores the rest.
    CDropTarget orphan(&frame);
    orphan.detach();
    EXPECT_EQ(orphan.getFrame(), nullptr);
    EXPECT_FALSE(orphan.dragEnter(1));
    EXPECT_EQ(getCurrentDrag(), nullptr);
    EXPECT_FALSE(orphan.dragMove());
    orphan.dragLeave();
    EXPECT_FALSE(orphan.drop());
    EXPECT_TRUE(view->log.empty());

    // Detaching the frame's own target mid-drag releases that drag, and a
    // second target's drag is not touched by the first one's events.
    EXPECT_TRUE(target->enter(2));
    CDropTarget other(&frame);
    EXPECT_FALSE(other.dragMove()) << "not its drag";
    other.dragLeave();
    EXPECT_NE(getCurrentDrag(), nullptr);
    EXPECT_TRUE(other.dragEnter(5));
    EXPECT_EQ(getCurrentDrag()->getCount(), 5);
    other.detach();
    EXPECT_EQ(getCurrentDrag(), nullptr);
    EXPECT_FALSE(target->move()) << "its drag was replaced";
}

TEST_F(DropTest, ClosingTheFrameMidDragReleasesTheDrag) {
    auto* other = new CFrame(CRect(0, 0, 50, 50), hostWindow(), nullptr);
    auto* otherView = new Recorder(CRect(0, 0, 50, 50));
    other->addView(otherView);
    ASSERT_TRUE(HeadlessDropTarget::last()->enter(6));
    ASSERT_NE(getCurrentDrag(), nullptr);
    delete other;
    EXPECT_EQ(getCurrentDrag(), nullptr);
    // The frame that stays still works.
    EXPECT_TRUE(target->enter(1));
    target->leave();
    EXPECT_EQ(view->log.back(), "leave 1");
}
