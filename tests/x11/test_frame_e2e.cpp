// The frame embedded in a real top-level window under Xvfb, driven from
// outside with xdotool as a user would: clicks and wheel reach the view under
// the pointer, exposures repaint, the screen shows exactly the back buffer,
// nothing is drawn before the first paint, the host destroying its window is
// survived, and a thousand editors opened and closed leave nothing behind.
#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/x11/child_process.h"
#include "tests/x11/x_server.h"
//
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using kvtest::ChildProcess;

std::string tempPath(const std::string& name) {
    return "/tmp/kv23-x11-" + std::to_string(getpid()) + "-" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class FrameInWindow : public testing::Test {
  protected:
    void SetUp() override {
        errors_ = tempPath("stderr.txt");
        ASSERT_TRUE(demo_.start({FRAME_DEMO_PATH}, errors_));
        const std::string ready = demo_.waitFor("ready ");
        ASSERT_FALSE(ready.empty()) << readFile(errors_);
        std::istringstream in(ready.substr(6));
        in >> host_ >> frameWindow_;
        ASSERT_NE(frameWindow_, 0u) << "the frame made no window";
    }
    void TearDown() override { std::remove(errors_.c_str()); }

    void mapAndWaitForFirstPaint() {
        demo_.send("map");
        ASSERT_FALSE(demo_.waitFor("mapped").empty());
        for (const char* view : {"draw back", "draw red", "draw green", "draw blue"})
            ASSERT_FALSE(demo_.waitFor(view).empty()) << view;
    }
    void xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        ASSERT_EQ(kvtest::runProgram(args), 0);
    }
    std::string win(unsigned long w) { return std::to_string(w); }

    ChildProcess demo_;
    std::string errors_;
    unsigned long host_ = 0;
    unsigned long frameWindow_ = 0;
};

TEST_F(FrameInWindow, NothingIsDrawnBeforeTheFirstPaint) {
    const size_t start = demo_.lines().size();
    demo_.send("dirty red 0 0 255");
    demo_.send("idle 10");
    ASSERT_FALSE(demo_.waitFor("idled 10").empty());
    demo_.drain(100);  // a few timed idle passes as well
    EXPECT_EQ(demo_.count("draw", start), 0);
    demo_.send("state");
    EXPECT_EQ(demo_.waitFor("state"), "state open=1 firstDrawPending=1");

    mapAndWaitForFirstPaint();
    demo_.send("state");
    EXPECT_EQ(demo_.waitFor("state"), "state open=1 firstDrawPending=0");
}

TEST_F(FrameInWindow, ClicksReachTheViewUnderThePointer) {
    if (!kvtest::haveProgram("xdotool")) GTEST_SKIP() << "xdotool missing";
    mapAndWaitForFirstPaint();
    // The button is held while the frame reads the live state, so the
    // view sees it in the button mask.
    xdotool({"mousemove", "--sync", "--window", win(frameWindow_), "50", "40", "mousedown", "1"});
    EXPECT_EQ(demo_.waitFor("click"), "click red 50 40 1");
    xdotool({"mouseup", "1"});
    xdotool({"mousemove", "--sync", "--window", win(frameWindow_), "150", "50", "keydown", "shift",
             "mousedown", "3"});
    EXPECT_EQ(demo_.waitFor("click"), "click green 150 50 12");  // right + shift
    xdotool({"mouseup", "3", "keyup", "shift"});
    // Edges belong to the view; between the views the background answers.
    xdotool({"mousemove", "--sync", "--window", win(frameWindow_), "10", "110", "mousedown", "1"});
    EXPECT_EQ(demo_.waitFor("click"), "click blue 10 110 1");
    xdotool({"mouseup", "1"});
    xdotool({"mousemove", "--sync", "--window", win(frameWindow_), "120", "100", "mousedown", "2"});
    EXPECT_EQ(demo_.waitFor("click"), "click back 120 100 2");
    xdotool({"mouseup", "2"});
    // A short click, over before the frame reads it, still carries its button.
    xdotool({"mousemove", "--sync", "--window", win(frameWindow_), "229", "89", "click", "1"});
    EXPECT_EQ(demo_.waitFor("click"), "click green 229 89 1");
}

TEST_F(FrameInWindow, WheelNotchesAreOneStepEach) {
    if (!kvtest::haveProgram("xdotool")) GTEST_SKIP() << "xdotool missing";
    mapAndWaitForFirstPaint();
    xdotool({"mousemove", "--sync", "--window", win(frameWindow_), "60", "150", "click", "4"});
    EXPECT_EQ(demo_.waitFor("wheel"), "wheel blue 60 150 1 +1.0");
    xdotool({"click", "5"});
    EXPECT_EQ(demo_.waitFor("wheel"), "wheel blue 60 150 1 -1.0");
    // Sideways scrolling (buttons 6 and 7) reaches no view: the next wheel
    // event seen is the vertical notch after them.
    xdotool({"mousemove", "--sync", "--window", win(frameWindow_), "200", "20", "click", "6"});
    xdotool({"click", "7"});
    xdotool({"click", "4"});
    EXPECT_EQ(demo_.waitFor("wheel"), "wheel green 200 20 1 +1.0");
    EXPECT_EQ(demo_.count("click"), 0) << "wheel notches are no clicks";
}

TEST_F(FrameInWindow, ScreenShowsTheBackBufferAfterUpdatesAndExposure) {
    if (!kvtest::haveProgram("xdotool")) GTEST_SKIP() << "xdotool missing";
    mapAndWaitForFirstPaint();

    // A dirty view is redrawn by idle, views that do not touch it are not.
    size_t mark = demo_.lines().size();
    demo_.send("dirty red 255 255 0");
    ASSERT_FALSE(demo_.waitFor("draw red").empty());
    demo_.drain(100);
    EXPECT_EQ(demo_.count("draw green", mark), 0);
    EXPECT_EQ(demo_.count("draw blue", mark), 0);

    // Hiding and showing the window asks for a paint of all of it.
    mark = demo_.lines().size();
    xdotool({"windowunmap", "--sync", win(host_)});
    xdotool({"windowmap", "--sync", win(host_)});
    ASSERT_FALSE(demo_.waitFor("draw green").empty());
    ASSERT_FALSE(demo_.waitFor("draw blue").empty());
    demo_.drain(100);

    const std::string png = tempPath("back.png");
    demo_.send("dump " + png);
    ASSERT_EQ(demo_.waitFor("dump"), "dumped " + png);
    cairo_surface_t* back = cairo_image_surface_create_from_png(png.c_str());
    std::remove(png.c_str());
    ASSERT_EQ(cairo_surface_status(back), CAIRO_STATUS_SUCCESS);
    const int w = cairo_image_surface_get_width(back), h = cairo_image_surface_get_height(back);
    ASSERT_EQ(w, 240);
    ASSERT_EQ(h, 200);

    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    XImage* shot = XGetImage(dpy, frameWindow_, 0, 0, static_cast<unsigned>(w),
                             static_cast<unsigned>(h), AllPlanes, ZPixmap);
    ASSERT_NE(shot, nullptr);
    const uint8_t* data = cairo_image_surface_get_data(back);
    const int stride = cairo_image_surface_get_stride(back);
    int different = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t argb;
            std::memcpy(&argb, data + y * stride + x * 4, 4);
            if ((argb & 0xffffff) != (XGetPixel(shot, x, y) & 0xffffff)) ++different;
        }
    EXPECT_EQ(different, 0);
    // The recoloured view is what both show.
    EXPECT_EQ(XGetPixel(shot, 50, 40) & 0xffffff, 0xffff00u);
    EXPECT_EQ(XGetPixel(shot, 150, 40) & 0xffffff, 0x1ec83cu);
    XDestroyImage(shot);
    XCloseDisplay(dpy);
    cairo_surface_destroy(back);
}

TEST_F(FrameInWindow, SurvivesTheHostDestroyingItsWindow) {
    mapAndWaitForFirstPaint();
    demo_.send("destroy-parent");
    ASSERT_FALSE(demo_.waitFor("parent destroyed").empty());
    demo_.send("idle 3");
    ASSERT_FALSE(demo_.waitFor("idled").empty());
    demo_.send("state");
    EXPECT_EQ(demo_.waitFor("state"), "state open=0 firstDrawPending=0");
    // Dirty views are not drawn onto a window that is gone.
    const size_t mark = demo_.lines().size();
    demo_.send("dirty blue 1 2 3");
    demo_.send("idle 3");
    ASSERT_FALSE(demo_.waitFor("idled").empty());
    EXPECT_EQ(demo_.count("draw", mark), 0);
    demo_.send("close");
    EXPECT_EQ(demo_.waitFor("closed"), "closed");
    demo_.send("quit");
    EXPECT_EQ(demo_.wait(), 0);
    EXPECT_EQ(readFile(errors_), "") << "no X error may be reported";
}

TEST_F(FrameInWindow, AThousandEditorsLeaveNoWindowsOrDescriptors) {
    mapAndWaitForFirstPaint();
    demo_.send("close");
    ASSERT_FALSE(demo_.waitFor("closed").empty());
    demo_.send("cycle 1000");
    const std::string result = demo_.waitFor("cycled", 60000);
    ASSERT_FALSE(result.empty());
    std::istringstream in(result);
    std::string word;
    int count = 0, windowsBefore = -1, windowsAfter = -2, fdsBefore = -1, fdsAfter = -2;
    in >> word >> count >> word >> windowsBefore >> windowsAfter >> word >> fdsBefore >> fdsAfter;
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(windowsBefore, 0);
    EXPECT_EQ(windowsAfter, 0);
    EXPECT_EQ(fdsAfter, fdsBefore);
    demo_.send("quit");
    EXPECT_EQ(demo_.wait(), 0);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return kvtest::runAllTestsOnPrivateServer("window tests");
}
