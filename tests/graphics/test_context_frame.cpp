// A drawing context that belongs to a frame: the frame's size is the first
// clip and the frame's window answers the mouse state.
#include <gtest/gtest.h>

#include "platform/headless/headless_window.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"
#include "vstgui/platform/graphics.h"

namespace {

using namespace VSTGUI;

TEST(ContextWithFrame, TakesTheClipFromTheFrameAndTheButtonsFromItsWindow) {
    int parentStandIn = 0;
    auto* frame = new CFrame(CRect(0, 0, 240, 400), &parentStandIn, nullptr);
    auto* window = platform::HeadlessWindow::last();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(frame->getPlatformWindow(), window);
    window->setPointer(CPoint(10, 10), kMouseLeft | kModAlt);

    auto* device = platform::createOffscreenDevice(240, 400).release();
    auto* c = new CDrawContext(frame, device, nullptr);
    EXPECT_EQ(c->getClipRect(), CRect(0, 0, 240, 400));
    EXPECT_EQ(c->getMouseButtons(), kMouseLeft | kModAlt);
    window->setPointer(CPoint(10, 10), 0);
    EXPECT_EQ(c->getMouseButtons(), 0);
    c->forget();
    delete device;
    delete frame;

    // A frame without a window: nothing to ask, no buttons.
    auto* bare = new CFrame(CRect(0, 0, 50, 60), nullptr, nullptr);
    auto* d = new CDrawContext(bare, nullptr, nullptr);
    EXPECT_EQ(d->getClipRect(), CRect(0, 0, 50, 60));
    EXPECT_EQ(d->getMouseButtons(), 0);
    d->forget();
    delete bare;
}

}  // namespace
