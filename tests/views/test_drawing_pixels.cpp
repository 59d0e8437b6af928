// What reaches the window, compared pixel by pixel. A filled rectangle
// covers left + 1 .. right - 1 and top + 1 .. bottom - 1 (the toolkit's fill
// leaves the top row and left column alone); buffers start black.
#include <gtest/gtest.h>

#include "view_test_support.h"

using namespace kvtest;
using VSTGUI::platform::HeadlessWindow;

namespace {

constexpr CColor kRed{200, 0, 0, 255};
constexpr CColor kGreen{0, 200, 0, 255};
constexpr CColor kBlue{0, 0, 200, 255};
constexpr CColor kPaleYellow{250, 240, 120, 255};
constexpr uint32_t kBlack = 0x000000;

struct PixelTest : ::testing::Test {
    CFrame frame{CRect(0, 0, 100, 100), hostWindow(), nullptr};
    HeadlessWindow* window = HeadlessWindow::last();

    void SetUp() override { frame.setBackgroundColor(kRed); }
    uint32_t at(int32_t x, int32_t y) const { return window->pixel(x, y); }
    Probe* colored(const CRect& r, CColor c) { return new Probe(r, c, true); }
};

}  // namespace

TEST_F(PixelTest, NothingIsDrawnBeforeTheFirstPaint) {
    frame.addView(colored(CRect(10, 10, 60, 60), kBlue));
    frame.idle();
    EXPECT_EQ(window->presentCount(), 0);
    EXPECT_EQ(window->deviceCalls(), 0);
    EXPECT_EQ(at(30, 30), kBlack);
    EXPECT_TRUE(frame.isFirstDrawPending());

    window->paint(CRect(0, 0, 100, 100));
    EXPECT_FALSE(frame.isFirstDrawPending());
    EXPECT_EQ(window->presentCount(), 1);
    EXPECT_EQ(at(0, 0), kBlack);  // the frame's own fill leaves its first row
    EXPECT_EQ(at(5, 5), rgb(kRed));
    EXPECT_EQ(at(10, 10), rgb(kRed));
    EXPECT_EQ(at(11, 11), rgb(kBlue));
    EXPECT_EQ(at(59, 59), rgb(kBlue));
    EXPECT_EQ(at(60, 60), rgb(kRed));
}

TEST_F(PixelTest, APartialPaintRecomposesOnlyTheDamagedArea) {
    auto* probe = colored(CRect(10, 10, 60, 60), kBlue);
    frame.addView(probe);
    window->paint(CRect(0, 0, 100, 100));

    probe->color = kGreen;
    probe->setDirty(true);
    window->paint(CRect(0, 0, 30, 30));
    EXPECT_EQ(window->presentCount(), 2);
    EXPECT_EQ(at(11, 11), rgb(kGreen));
    EXPECT_EQ(at(29, 29), rgb(kGreen));
    EXPECT_EQ(at(30, 30), rgb(kBlue));
    EXPECT_EQ(at(59, 12), rgb(kBlue));
    EXPECT_TRUE(probe->isDirty());  // drawn in part only

    // The next idle draws the rest and presents the frame in one block.
    frame.idle();
    EXPECT_EQ(window->presentCount(), 3);
    EXPECT_EQ(at(59, 59), rgb(kGreen));
    EXPECT_EQ(at(5, 5), rgb(kRed));
}

TEST_F(PixelTest, AContainerWithAnOffscreenComposesItsChildrenThere) {
    auto* box = new Box(CRect(20, 20, 80, 80));
    box->useOffscreen(true);
    box->setBackgroundColor(kGreen);
    frame.addView(box);
    ASSERT_NE(box->getOffscreen(), nullptr);  // made when it joined the tree
    box->addView(colored(CRect(10, 10, 30, 30), kBlue));
    window->paint(CRect(0, 0, 100, 100));

    // The buffer's untouched first row and column are black, not the frame
    // beneath: the buffer was copied whole.
    EXPECT_EQ(at(20, 20), kBlack);
    EXPECT_EQ(at(50, 20), kBlack);
    EXPECT_EQ(at(21, 21), rgb(kGreen));
    EXPECT_EQ(at(30, 30), rgb(kGreen));
    EXPECT_EQ(at(31, 31), rgb(kBlue));
    EXPECT_EQ(at(49, 49), rgb(kBlue));
    EXPECT_EQ(at(50, 50), rgb(kGreen));
    EXPECT_EQ(at(79, 79), rgb(kGreen));
    EXPECT_EQ(at(80, 80), rgb(kRed));

    box->useOffscreen(false);
    EXPECT_EQ(box->getOffscreen(), nullptr);
}

TEST_F(PixelTest, APartialRepaintOfAnOffscreenContainerShowsTheNewPixels) {
    auto* box = new Box(CRect(20, 20, 80, 80));
    box->useOffscreen(true);
    box->setBackgroundColor(kGreen);
    frame.addView(box);
    auto* probe = colored(CRect(30, 30, 50, 50), kBlue);
    box->addView(probe);
    window->paint(CRect(0, 0, 100, 100));
    EXPECT_EQ(at(55, 55), rgb(kBlue));

    // The window system asks for an area inside the container only.
    probe->color = kPaleYellow;
    probe->setDirty(true);
    window->paint(CRect(50, 50, 70, 70));
    EXPECT_EQ(at(51, 51), rgb(kPaleYellow));
    EXPECT_EQ(at(69, 69), rgb(kPaleYellow));
    EXPECT_EQ(at(45, 45), rgb(kGreen));
}

TEST_F(PixelTest, ATransparentContainerShowsWhatLiesBeneath) {
    auto* glass = new Box(CRect(20, 20, 80, 80));
    glass->setTransparency(true);
    frame.addView(glass);
    glass->addView(colored(CRect(10, 10, 30, 30), kBlue));
    window->paint(CRect(0, 0, 100, 100));

    EXPECT_EQ(at(20, 20), rgb(kRed));
    EXPECT_EQ(at(25, 25), rgb(kRed));
    EXPECT_EQ(at(30, 30), rgb(kRed));
    EXPECT_EQ(at(31, 31), rgb(kBlue));
    EXPECT_EQ(at(75, 75), rgb(kRed));
}

TEST_F(PixelTest, ATransparentOffscreenContainerStartsFromACopyOfWhatLiesBeneath) {
    frame.addView(colored(CRect(0, 0, 50, 100), kGreen));
    auto* glass = new Box(CRect(20, 20, 80, 80));
    glass->setTransparency(true);
    glass->useOffscreen(true);
    frame.addView(glass);
    glass->addView(colored(CRect(40, 40, 55, 55), kBlue));
    window->paint(CRect(0, 0, 100, 100));

    EXPECT_EQ(at(20, 20), rgb(kGreen));
    EXPECT_EQ(at(30, 30), rgb(kGreen));
    EXPECT_EQ(at(60, 30), rgb(kRed));
    EXPECT_EQ(at(61, 61), rgb(kBlue));
    EXPECT_EQ(at(74, 74), rgb(kBlue));
    EXPECT_EQ(at(78, 78), rgb(kRed));
}

TEST_F(PixelTest, ViewsAreDrawnInListOrderAndClippedToTheirContainer) {
    auto* box = new Box(CRect(10, 10, 50, 50));
    box->setBackgroundColor(kGreen);
    frame.addView(box);
    // Reaches beyond the box: only the part inside may show.
    box->addView(colored(CRect(20, 20, 70, 70), kBlue));
    // On top of both, added last.
    frame.addView(colored(CRect(40, 40, 60, 60), kPaleYellow));
    window->paint(CRect(0, 0, 100, 100));

    EXPECT_EQ(at(35, 35), rgb(kBlue));
    EXPECT_EQ(at(49, 35), rgb(kBlue));
    EXPECT_EQ(at(49, 30), rgb(kGreen));
    EXPECT_EQ(at(50, 30), rgb(kRed));  // outside the box
    EXPECT_EQ(at(45, 45), rgb(kPaleYellow));
    EXPECT_EQ(at(55, 55), rgb(kPaleYellow));
    EXPECT_EQ(at(65, 65), rgb(kRed));
}

TEST_F(PixelTest, ATransparentOffscreenContainerDrawnStraightOntoTheWindowCopiesItsPixels) {
    auto* glass = new Box(CRect(20, 20, 80, 80));
    glass->setTransparency(true);
    glass->useOffscreen(true);
    frame.addView(glass);
    auto* probe = colored(CRect(40, 40, 55, 55), kBlue);
    glass->addView(probe);
    window->paint(CRect(0, 0, 100, 100));

    // Outside an update there is no back buffer in use: the container
    // draws on the window and must start from the window's own pixels.
    // Something else appeared on the window beneath the container.
    window->surface().setBrush(kPaleYellow);
    window->surface().fillRect(CRect(0, 0, 40, 40));
    probe->color = kGreen;
    frame.drawView(glass);
    EXPECT_EQ(at(30, 30), rgb(kPaleYellow));
    EXPECT_EQ(at(61, 61), rgb(kGreen));
    EXPECT_EQ(at(78, 78), rgb(kRed));
}

// Another thread stores a value right after the frame asked the view
// whether it was dirty: whatever the update then draws must reach the
// window, now or at the next idle, never only the back buffer.
TEST_F(PixelTest, AValueStoredWhileTheUpdateRunsStillReachesTheWindow) {
    struct Racing : Probe {
        using Probe::Probe;
        bool isDirty() const override {
            const bool answer = Probe::isDirty();
            if (storeAfterQuestion) {
                storeAfterQuestion = false;
                auto* self = const_cast<Racing*>(this);
                self->color = kGreen;
                self->dirty = true;
            }
            return answer;
        }
        mutable bool storeAfterQuestion = false;
    };
    // The other view comes first, so the frame's "anything dirty?" stops
    // there and the update's own question is the first the racing view gets.
    auto* other = colored(CRect(50, 50, 70, 70), kBlue);
    auto* racing = new Racing(CRect(10, 10, 30, 30), kBlue, true);
    frame.addView(other);
    frame.addView(racing);
    window->paint(CRect(0, 0, 100, 100));
    EXPECT_EQ(at(20, 20), rgb(kBlue));

    other->setDirty(true);
    racing->storeAfterQuestion = true;
    frame.idle();
    frame.idle();
    EXPECT_EQ(at(20, 20), rgb(kGreen));
    EXPECT_FALSE(racing->isDirty());
}
