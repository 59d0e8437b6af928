// The X11 native window against a real X server (Xvfb): what reaches the
// screen, which events arrive, what the pointer queries answer, the window
// tree queries, destruction from outside and the error handler, leaks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Before Xlib, whose macros (None, Bool, CursorShape) clash with C++ names.
#include "platform/cairo/cairo_device.h"
#include "platform/x11/x11_window.h"
//
#include <X11/Xutil.h>
#include <poll.h>

#include "platform/x11/x11_errors.h"
#include "platform/x11/x11_text_scroll.h"
#include "tests/x11/x_server.h"
#include "vstgui/ccolor.h"
#include "vstgui/platform/text_field.h"

using namespace VSTGUI;
using namespace VSTGUI::platform;

namespace {

struct Recorder : WindowEvents {
    struct Wheel {
        CPoint where;
        int32_t axis;
        float distance;
    };
    std::vector<CRect> paints;
    std::vector<CPoint> downs;
    std::vector<Wheel> wheels;
    int destroyed = 0;
    std::function<void(DrawDevice&, const CRect&)> onPaint;
    std::function<void(CPoint, int32_t)> onDown;

    void windowPaint(DrawDevice& device, const CRect& area) override {
        paints.push_back(area);
        if (onPaint) onPaint(device, area);
    }
    void windowMouseDown(CPoint where, int32_t buttons) override {
        downs.push_back(where);
        if (onDown) onDown(where, buttons);
    }
    void windowWheel(CPoint where, int32_t axis, float distance) override {
        wheels.push_back({where, axis, distance});
    }
    void windowDestroyed() override { ++destroyed; }
};

int testErrors = 0;
int countingHandler(Display*, XErrorEvent*) {
    ++testErrors;
    return 0;
}

std::string id(Window w) {
    return std::to_string(static_cast<unsigned long>(w));
}

// The test's own connection plays the host: it owns the top-level window
// the editor's window is embedded in.
class X11WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        dpy_ = XOpenDisplay(nullptr);
        ASSERT_NE(dpy_, nullptr);
        XSetErrorHandler(countingHandler);
        testErrors = 0;
        host_ = makeWindow(DefaultRootWindow(dpy_), 50, 60, 200, 150);
        XMapWindow(dpy_, host_);
        XSync(dpy_, False);
    }
    void TearDown() override {
        XCloseDisplay(dpy_);
        XSetErrorHandler(nullptr);
        EXPECT_EQ(x11::adoptedConnections(), 0);
    }

    Window makeWindow(Window parent, int x, int y, unsigned w, unsigned h) {
        XSetWindowAttributes a{};
        a.background_pixel = 0x404040;
        a.override_redirect = True;
        return XCreateWindow(dpy_, parent, x, y, w, h, 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
    }

    std::unique_ptr<x11::X11Window> open(Window parent, int32_t w, int32_t h) {
        auto native = createChildWindow(reinterpret_cast<void*>(parent), w, h, events_);
        auto* x = x11::asX11Window(native.get());
        if (x) static_cast<void>(native.release());  // x owns the window now
        return std::unique_ptr<x11::X11Window>(x);
    }

    // Pumps the window until its first paint arrived.
    void waitForFirstPaint(x11::X11Window& w) {
        ASSERT_TRUE(kvtest::waitUntil([&] { return !events_.paints.empty(); }, 3000,
                                      [&] { w.processEvents(); }));
    }

    // The window draws on a connection of its own: wait until the server
    // has carried out its requests before reading pixels on ours.
    void settle(x11::X11Window& w) {
        XSync(w.display(), False);
        XSync(dpy_, False);
    }

    uint32_t pixel(Window w, int x, int y) {
        XImage* image = XGetImage(dpy_, w, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return 0xdeadbeef;
        const uint32_t p = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xffffff;
        XDestroyImage(image);
        return p;
    }

    int childCount(Window w) {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        XQueryTree(dpy_, w, &root, &parent, &children, &count);
        if (children) XFree(children);
        return static_cast<int>(count);
    }

    Display* dpy_ = nullptr;
    Window host_ = 0;
    Recorder events_;
};

// The pattern of the offscreen source, a formula of the position.
uint32_t patternAt(int x, int y) {
    return (static_cast<uint32_t>(x * 8) << 16) | (static_cast<uint32_t>(y * 8) << 8) | 0x80;
}

TEST_F(X11WindowTest, DrawingReachesTheScreenExactly) {
    auto w = open(host_, 120, 90);
    ASSERT_NE(w, nullptr);
    waitForFirstPaint(*w);

    auto device = w->createDevice();
    device->setBrush({0, 0, 255, 255});
    device->fillRect(CRect(0, 0, 120, 90));
    device->setBrush({0, 200, 0, 255});
    device->fillRect(CRect(10, 10, 30, 20));
    settle(*w);
    EXPECT_EQ(pixel(w->window(), 10, 10), 0x00c800u);
    EXPECT_EQ(pixel(w->window(), 29, 19), 0x00c800u);
    EXPECT_EQ(pixel(w->window(), 30, 19), 0x0000ffu);
    EXPECT_EQ(pixel(w->window(), 29, 20), 0x0000ffu);
    EXPECT_EQ(pixel(w->window(), 9, 10), 0x0000ffu);

    // A back buffer copied in one block lands pixel for pixel at the
    // destination, also when only a part of the source is taken.
    auto buffer = cairo::CairoDevice::createImageDevice(30, 30);
    cairo_surface_t* s = buffer->surface();
    cairo_surface_flush(s);
    uint8_t* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            const uint32_t argb = 0xff000000u | patternAt(x, y);
            std::memcpy(data + y * stride + x * 4, &argb, 4);
        }
    cairo_surface_mark_dirty(s);
    device->copyFrom(*buffer, CRect(5, 6, 25, 26), CPoint(60, 40));
    settle(*w);
    int wrong = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            if (pixel(w->window(), 60 + x, 40 + y) != patternAt(5 + x, 6 + y)) ++wrong;
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(pixel(w->window(), 59, 40), 0x0000ffu);
    EXPECT_EQ(pixel(w->window(), 80, 59), 0x0000ffu);

    // Copies out of the window read what it shows, also within itself.
    auto beneath = cairo::CairoDevice::createImageDevice(20, 20);
    beneath->copyFrom(*device, CRect(60, 40, 80, 60), CPoint(0, 0));
    device->copyFrom(*device, CRect(60, 40, 80, 60), CPoint(70, 50));
    settle(*w);
    wrong = 0;
    int wrongOnScreen = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            if ((beneath->pixel(x, y) & 0xffffff) != patternAt(5 + x, 6 + y)) ++wrong;
            if (pixel(w->window(), 70 + x, 50 + y) != patternAt(5 + x, 6 + y)) ++wrongOnScreen;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(wrongOnScreen, 0);

    // A clip keeps drawing (and what is copied to the screen) inside it.
    device->setClip(CRect(0, 0, 5, 5));
    device->setBrush({255, 0, 0, 255});
    device->fillRect(CRect(0, 0, 120, 90));
    settle(*w);
    EXPECT_EQ(pixel(w->window(), 4, 4), 0xff0000u);
    EXPECT_EQ(pixel(w->window(), 5, 5), 0x0000ffu);
    EXPECT_EQ(testErrors, 0);
}

TEST_F(X11WindowTest, ExposeSeriesBecomesOnePaintOfTheirUnion) {
    auto w = open(host_, 120, 90);
    ASSERT_NE(w, nullptr);
    waitForFirstPaint(*w);
    EXPECT_EQ(events_.paints.size(), 1u);
    EXPECT_EQ(events_.paints[0], CRect(0, 0, 120, 90));

    // A sibling over the middle of our window makes its visible region
    // non-rectangular: mapping the window again exposes it as a series of
    // several rectangles, which must come as one paint covering them all.
    Window cover = makeWindow(host_, 40, 30, 20, 20);
    XMapRaised(dpy_, cover);
    XUnmapWindow(dpy_, w->window());
    XMapWindow(dpy_, w->window());
    XRaiseWindow(dpy_, cover);
    XSync(dpy_, False);
    events_.paints.clear();
    kvtest::waitUntil([&] { return events_.paints.size() >= 1; }, 2000,
                      [&] { w->processEvents(); });
    kvtest::waitUntil([] { return false; }, 50, [&] { w->processEvents(); });
    ASSERT_EQ(events_.paints.size(), 1u);
    EXPECT_EQ(events_.paints[0], CRect(0, 0, 120, 90));

    // Two separate exposures are two series; processOnePaint handles one.
    events_.paints.clear();
    XClearArea(dpy_, w->window(), 5, 5, 10, 10, True);
    XClearArea(dpy_, w->window(), 100, 70, 30, 30, True);
    XSync(dpy_, False);
    w->processOnePaint();
    ASSERT_EQ(events_.paints.size(), 1u);
    EXPECT_EQ(events_.paints[0], CRect(5, 5, 15, 15));
    w->processOnePaint();
    ASSERT_EQ(events_.paints.size(), 2u);
    EXPECT_EQ(events_.paints[1], CRect(100, 70, 120, 90));  // bounded by the window
    w->processOnePaint();
    EXPECT_EQ(events_.paints.size(), 2u);

    // An exposure that the window's connection read while it waited for a
    // reply of its own, with nothing left on the socket: the next pump
    // still delivers it.
    events_.paints.clear();
    XClearArea(dpy_, w->window(), 20, 20, 10, 10, True);
    XSync(dpy_, False);
    XSync(w->display(), False);
    w->processEvents();
    ASSERT_EQ(events_.paints.size(), 1u);
    EXPECT_EQ(events_.paints[0], CRect(20, 20, 30, 30));

    // The host makes the window larger than the panel: beyond the panel the
    // window shows black, not what lay there (the host's grey); the panel
    // still paints only its own area.
    XResizeWindow(dpy_, w->window(), 180, 130);
    XSync(dpy_, False);
    events_.paints.clear();
    kvtest::waitUntil([] { return false; }, 100, [&] { w->processEvents(); });
    settle(*w);
    EXPECT_EQ(pixel(w->window(), 150, 40), 0u);
    EXPECT_EQ(pixel(w->window(), 60, 110), 0u);
    EXPECT_EQ(pixel(w->window(), 179, 129), 0u);
    for (const CRect& paint : events_.paints)
        EXPECT_EQ(paint.bounded(CRect(0, 0, 120, 90)), paint);
}

TEST_F(X11WindowTest, ButtonsAndWheelArriveAtTheirPositions) {
    if (!kvtest::haveProgram("xdotool")) GTEST_SKIP() << "xdotool missing";
    auto w = open(host_, 120, 90);
    ASSERT_NE(w, nullptr);
    waitForFirstPaint(*w);
    auto click = [&](int x, int y, int button) {
        ASSERT_EQ(kvtest::runProgram({"xdotool", "mousemove", "--sync", "--window", id(w->window()),
                                      std::to_string(x), std::to_string(y), "click",
                                      std::to_string(button)}),
                  0);
    };
    // Each click is over (pressed and released) before the window reads
    // it: the press arrives with its own state, the live state shows the
    // buttons up again.
    std::vector<std::pair<int32_t, int32_t>> asked;
    events_.onDown = [&](CPoint, int32_t buttons) {
        asked.push_back({buttons, w->mouseButtons()});
    };
    click(17, 23, 1);
    click(0, 0, 2);
    ASSERT_EQ(kvtest::runProgram({"xdotool", "keydown", "ctrl"}), 0);
    click(119, 89, 3);
    ASSERT_EQ(kvtest::runProgram({"xdotool", "keyup", "ctrl"}), 0);
    ASSERT_TRUE(kvtest::waitUntil([&] { return events_.downs.size() >= 3; }, 2000,
                                  [&] { w->processEvents(); }));
    EXPECT_EQ(events_.downs[0], CPoint(17, 23));
    EXPECT_EQ(events_.downs[1], CPoint(0, 0));
    EXPECT_EQ(events_.downs[2], CPoint(119, 89));
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0], std::make_pair(int32_t{kMouseLeft}, int32_t{0}));
    EXPECT_EQ(asked[1], std::make_pair(int32_t{kMouseMiddle}, int32_t{0}));
    EXPECT_EQ(asked[2], std::make_pair(int32_t{kMouseRight | kModControl}, int32_t{0}));
    EXPECT_EQ(w->mouseButtons(), 0);

    // Sideways scrolling (buttons 6 and 7, touchpad swipes) is no wheel:
    // only the vertical wheel reaches the panel.
    click(32, 42, 6);
    click(33, 43, 7);
    click(30, 40, 4);
    click(31, 41, 5);
    ASSERT_TRUE(kvtest::waitUntil([&] { return events_.wheels.size() >= 2; }, 2000,
                                  [&] { w->processEvents(); }));
    EXPECT_EQ(events_.downs.size(), 3u) << "wheel buttons are not clicks";
    ASSERT_EQ(events_.wheels.size(), 2u);
    const Recorder::Wheel expected[2] = {{{30, 40}, 1, 1.0f}, {{31, 41}, 1, -1.0f}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(events_.wheels[i].where, expected[i].where) << i;
        EXPECT_EQ(events_.wheels[i].axis, expected[i].axis) << i;
        EXPECT_EQ(events_.wheels[i].distance, expected[i].distance) << i;
    }
}

TEST_F(X11WindowTest, PumpingInsideAPressPaintsButHoldsFurtherPresses) {
    if (!kvtest::haveProgram("xdotool")) GTEST_SKIP() << "xdotool missing";
    auto w = open(host_, 120, 90);
    ASSERT_NE(w, nullptr);
    waitForFirstPaint(*w);
    const std::string window = id(w->window());
    // A control following the mouse pumps events from inside the press:
    // the exposure queued behind the press is painted there, the second
    // press waits until the first handler returned.
    size_t paintsInside = 0, downsInside = 0;
    events_.onDown = [&](CPoint, int32_t) {
        if (events_.downs.size() != 1) return;
        kvtest::waitUntil([&] { return false; }, 100, [&] { w->processEvents(); });
        paintsInside = events_.paints.size();
        downsInside = events_.downs.size();
    };
    events_.paints.clear();
    ASSERT_EQ(kvtest::runProgram(
                  {"xdotool", "mousemove", "--sync", "--window", window, "5", "5", "click", "1"}),
              0);
    XClearArea(dpy_, w->window(), 0, 0, 8, 8, True);
    XSync(dpy_, False);
    ASSERT_EQ(kvtest::runProgram({"xdotool", "click", "1"}), 0);
    ASSERT_TRUE(kvtest::waitUntil([&] { return events_.downs.size() >= 2; }, 2000,
                                  [&] { w->processEvents(); }));
    EXPECT_EQ(downsInside, 1u);
    EXPECT_EQ(paintsInside, 1u);
    EXPECT_EQ(events_.downs.size(), 2u);
}

TEST_F(X11WindowTest, LivePointerButtonsAndModifiers) {
    if (!kvtest::haveProgram("xdotool")) GTEST_SKIP() << "xdotool missing";
    auto w = open(host_, 120, 90);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(kvtest::runProgram({"xdotool", "mousemove", "--sync", "300", "200"}), 0);
    EXPECT_EQ(w->pointerPosition(), CPoint(300, 200)) << "outside the window too";
    EXPECT_EQ(w->mouseButtons(), 0);

    ASSERT_EQ(kvtest::runProgram({"xdotool", "mousemove", "--sync", "60", "70", "keydown", "shift",
                                  "keydown", "ctrl", "mousedown", "1"}),
              0);
    EXPECT_EQ(w->pointerPosition(), CPoint(60, 70));
    EXPECT_EQ(w->mouseButtons(), kMouseLeft | kModShift | kModControl);
    ASSERT_EQ(kvtest::runProgram({"xdotool", "mouseup", "1", "keyup", "shift", "keyup", "ctrl",
                                  "keydown", "alt", "mousedown", "3"}),
              0);
    EXPECT_EQ(w->mouseButtons(), kMouseRight | kModAlt);
    ASSERT_EQ(kvtest::runProgram({"xdotool", "mouseup", "3", "keyup", "alt", "mousedown", "2"}), 0);
    EXPECT_EQ(w->mouseButtons(), kMouseMiddle);
    ASSERT_EQ(kvtest::runProgram({"xdotool", "mouseup", "2"}), 0);
    EXPECT_EQ(w->mouseButtons(), 0);
}

TEST_F(X11WindowTest, PositionsFromTheWindowTree) {
    // host at (50, 60) on the root; an intermediate host window at (7, 9)
    // inside it; the editor's window inside that.
    Window inner = makeWindow(host_, 7, 9, 150, 100);
    XMapWindow(dpy_, inner);
    XSync(dpy_, False);
    auto w = open(inner, 120, 90);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->screenOrigin(), CPoint(57, 69));
    CRect parentRect;
    ASSERT_TRUE(w->parentWindowRect(parentRect));
    EXPECT_EQ(parentRect, CRect(7, 9, 157, 109));
    CPoint top;
    ASSERT_TRUE(w->hostWindowPosition(top));
    EXPECT_EQ(top, CPoint(50, 60));

    XMoveWindow(dpy_, host_, 80, 20);
    XSync(dpy_, False);
    EXPECT_EQ(w->screenOrigin(), CPoint(87, 29));
    ASSERT_TRUE(w->hostWindowPosition(top));
    EXPECT_EQ(top, CPoint(80, 20));

    // Resizing changes our window only, and keeps its position.
    EXPECT_TRUE(w->resizeWithAncestors(60, 40));
    Window root = 0;
    int x = -1, y = -1;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(dpy_, w->window(), &root, &x, &y, &width, &height, &border, &depth);
    EXPECT_EQ(CRect(x, y, x + int(width), y + int(height)), CRect(0, 0, 60, 40));
    ASSERT_TRUE(w->parentWindowRect(parentRect));
    EXPECT_EQ(parentRect, CRect(7, 9, 157, 109));
    EXPECT_EQ(testErrors, 0);
}

TEST_F(X11WindowTest, SurvivesTheHostDestroyingItsWindowFirst) {
    auto w = open(host_, 120, 90);
    ASSERT_NE(w, nullptr);
    waitForFirstPaint(*w);
    XDestroyWindow(dpy_, host_);
    XSync(dpy_, False);
    ASSERT_TRUE(kvtest::waitUntil([&] { return events_.destroyed > 0; }, 2000,
                                  [&] { w->processEvents(); }));
    EXPECT_TRUE(w->destroyed());
    // Everything the toolkit may still do before it closes stays harmless.
    auto device = w->createDevice();
    device->setBrush({1, 2, 3, 255});
    device->fillRect(CRect(0, 0, 50, 50));
    w->setCursor(CursorShape::hand);
    w->resize(200, 100);
    w->processEvents();
    w->processOnePaint();
    CPoint p;
    CRect r;
    EXPECT_FALSE(w->hostWindowPosition(p));
    EXPECT_FALSE(w->parentWindowRect(r));
    w->pointerPosition();
    w->mouseButtons();
    device.reset();
    w.reset();
    EXPECT_EQ(events_.destroyed, 1);
    EXPECT_EQ(testErrors, 0) << "no error may reach the host's handler";

    // The same when the host destroys its window and closes the editor
    // before the editor saw the destruction.
    host_ = makeWindow(DefaultRootWindow(dpy_), 0, 0, 100, 100);
    XMapWindow(dpy_, host_);
    XSync(dpy_, False);
    w = open(host_, 50, 50);
    ASSERT_NE(w, nullptr);
    XDestroyWindow(dpy_, host_);
    XSync(dpy_, False);
    w->createDevice()->fillRect(CRect(0, 0, 10, 10));
    w->setCursor(CursorShape::wait);
    w.reset();
    EXPECT_EQ(testErrors, 0);
}

// The window lives in the host's process on the host's clock: it starts no
// thread, an idle handles what reached its socket before the idle (not one
// idle later), and a connection the server ended (xkill) is found out at the
// next idle before Xlib reads it, whose I/O error handler would end the host.
TEST_F(X11WindowTest, RunsOnTheHostsIdleAloneAndSeesWhatCameAndAHangUpAtOnce) {
    const int threads = kvtest::threadCount();
    auto w = open(host_, 120, 90);
    ASSERT_NE(w, nullptr);
    waitForFirstPaint(*w);
    EXPECT_EQ(kvtest::threadCount(), threads);
    auto arrived = [&] {
        pollfd socket{ConnectionNumber(w->display()), POLLIN, 0};
        return poll(&socket, 1, 2000) == 1;
    };
    for (int round = 0; round < 20; ++round) {
        events_.paints.clear();
        XClearArea(dpy_, w->window(), round, 0, 1, 1, True);
        XFlush(dpy_);
        ASSERT_TRUE(arrived()) << round;
        w->processEvents();
        ASSERT_EQ(events_.paints.size(), 1U) << round;
        EXPECT_EQ(events_.paints[0], CRect(round, 0, round + 1, 1));
    }
    XKillClient(dpy_, w->window());
    XSync(dpy_, False);
    ASSERT_TRUE(arrived());
    w->processEvents();
    EXPECT_EQ(events_.destroyed, 1);
    EXPECT_FALSE(x11::connectionUsable(w->display(), false));
    w->processEvents();  // still dark, still alive
    w->mouseButtons();
    w.reset();
    EXPECT_EQ(kvtest::threadCount(), threads);
}

// The process's error handler is the host's: a host may save and restore
// it around our calls, or unload us, so we never install one. Errors of our
// own connections are kept on the connection instead.
TEST_F(X11WindowTest, ErrorHandlerSwallowsOnlyOurOwnErrors) {
    auto w = open(host_, 40, 40);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(XSetErrorHandler(countingHandler), &countingHandler);
    // An error on the host's connection still reaches the host's handler.
    XMapWindow(dpy_, static_cast<Window>(0x7ffffff0));
    XSync(dpy_, False);
    EXPECT_EQ(testErrors, 1);
    // An error on ours is kept from it, and remembered for us.
    XMapWindow(w->display(), static_cast<Window>(0x7ffffff0));
    XSync(w->display(), False);
    EXPECT_EQ(testErrors, 1);
    EXPECT_EQ(x11::takeLastError(w->display()), BadWindow);
    // Not even Xlib's default handler, which exits, sees one of ours.
    XSetErrorHandler(nullptr);
    XMapWindow(w->display(), static_cast<Window>(0x7ffffff0));
    XSync(w->display(), False);
    XSetErrorHandler(countingHandler);
    EXPECT_EQ(x11::takeLastError(w->display()), BadWindow);
    // With a second window open, closing the first keeps the second's.
    Recorder other;
    auto second = createChildWindow(reinterpret_cast<void*>(host_), 10, 10, other);
    ASSERT_NE(second, nullptr);
    w.reset();
    EXPECT_EQ(x11::adoptedConnections(), 1);
    second.reset();
    EXPECT_EQ(x11::adoptedConnections(), 0);
    EXPECT_EQ(XSetErrorHandler(countingHandler), &countingHandler);
}

TEST_F(X11WindowTest, RefusesParentsThatAreNotWindows) {
    EXPECT_EQ(createChildWindow(nullptr, 10, 10, events_), nullptr);
    EXPECT_EQ(createChildWindow(reinterpret_cast<void*>(uintptr_t{0x7ffffff0}), 10, 10, events_),
              nullptr);
    EXPECT_EQ(x11::adoptedConnections(), 0);
    EXPECT_EQ(x11::X11Window::liveCount(), 0);
    EXPECT_EQ(testErrors, 0);
}

TEST_F(X11WindowTest, EmbedsInAParentWithAnAlphaVisual) {
    XVisualInfo want{};
    want.screen = DefaultScreen(dpy_);
    want.depth = 32;
    want.c_class = TrueColor;
    int count = 0;
    XVisualInfo* found =
        XGetVisualInfo(dpy_, VisualScreenMask | VisualDepthMask | VisualClassMask, &want, &count);
    if (!found) GTEST_SKIP() << "the server has no 32-bit visual";
    XSetWindowAttributes a{};
    a.colormap = XCreateColormap(dpy_, DefaultRootWindow(dpy_), found[0].visual, AllocNone);
    a.border_pixel = 0;
    a.background_pixel = 0;
    Window argb = XCreateWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 100, 100, 0, 32, InputOutput,
                                found[0].visual, CWColormap | CWBorderPixel | CWBackPixel, &a);
    XFree(found);
    XMapWindow(dpy_, argb);
    XSync(dpy_, False);
    auto w = open(argb, 60, 60);
    ASSERT_NE(w, nullptr);
    waitForFirstPaint(*w);
    auto device = w->createDevice();
    device->setBrush({10, 20, 30, 255});
    device->fillRect(CRect(0, 0, 60, 60));
    settle(*w);
    EXPECT_EQ(pixel(w->window(), 30, 30), 0x0a141eu);
    EXPECT_EQ(testErrors, 0);
}

TEST_F(X11WindowTest, CursorShapesAreValid) {
    auto w = open(host_, 40, 40);
    ASSERT_NE(w, nullptr);
    for (int32_t shape = 0; shape <= 10; ++shape) {
        w->setCursor(static_cast<CursorShape>(shape));
        XSync(w->display(), False);
        EXPECT_EQ(x11::takeLastError(w->display()), 0) << shape;
    }
}

TEST_F(X11WindowTest, OpeningAndClosingAThousandTimesLeaksNothing) {
    // Warm up once: Xlib and cairo keep some process-wide caches.
    {
        auto w = open(host_, 60, 40);
        ASSERT_NE(w, nullptr);
        waitForFirstPaint(*w);
    }
    const int descriptors = kvtest::openDescriptors();
    const int rootChildren = childCount(DefaultRootWindow(dpy_));
    for (int i = 0; i < 1000; ++i) {
        events_.paints.clear();
        auto w = open(host_, 60, 40);
        ASSERT_NE(w, nullptr);
        if (i % 50 == 0) waitForFirstPaint(*w);
        w->setCursor(CursorShape::move);
        w->createDevice()->fillRect(CRect(0, 0, 10, 10));
    }
    XSync(dpy_, False);
    EXPECT_EQ(childCount(host_), 0);
    EXPECT_EQ(childCount(DefaultRootWindow(dpy_)), rootChildren);
    EXPECT_EQ(kvtest::openDescriptors(), descriptors);
    EXPECT_EQ(x11::X11Window::liveCount(), 0);
    EXPECT_EQ(testErrors, 0);
}

// The text field opens its input method with "@im=none", a process-wide
// Xlib setting that belongs to the host: the host's own comes back. With
// all of a long text selected (as when the field opens), the text's start
// shows: "-20.00" keeps its minus sign in a 30-pixel field.
TEST_F(X11WindowTest, TextFieldKeepsTheHostsLocaleModifiersAndShowsTheTextsStart) {
    struct Ignore : TextFieldEvents {
        void textFieldReturn() override {}
        void textFieldFocusLost() override {}
    } ignore;
    unsetenv("XMODIFIERS");
    ASSERT_NE(XSetLocaleModifiers("@im=kv23host"), nullptr);
    auto w = open(host_, 120, 90);
    ASSERT_NE(w, nullptr);
    TextFieldSetup setup;
    setup.screenRect = CRect(60, 70, 90, 84);
    setup.text = "-20.00";
    auto field = createTextField(*w, setup, ignore);
    ASSERT_NE(field, nullptr);
    EXPECT_STREQ(XSetLocaleModifiers(nullptr), "@im=kv23host");
    field.reset();
    XSetLocaleModifiers("");

    // A text 34 pixels wide, centred in 30: it would start at -2. All of it
    // selected, it starts at 0; with the caret alone at its end, the caret
    // stays in view (at 28) and the start goes out of view.
    EXPECT_EQ(x11::fieldTextStart(-2, 34, 30, true), 0);
    EXPECT_EQ(x11::fieldTextStart(5, 20, 30, true), 5);  // a short text keeps its alignment
    EXPECT_EQ(x11::fieldTextStart(-2, 34, 30, false), -6);
    EXPECT_EQ(x11::fieldTextStart(-2, 0, 30, false), 0);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return kvtest::runAllTestsOnPrivateServer("X11 tests");
}
