// The panel editor on the X11 back end, in this process, against a real X
// server: an idle that changes no pixel sends the server nothing, and what
// does change (a lit LED, a moved knob, an exposed window) reaches the
// screen exactly as the frame composed it.
#include <gtest/gtest.h>

#include <cstdio>

// Before Xlib, whose macros (None, Bool, CursorShape) clash with C++ names.
#include "platform/cairo/cairo_device.h"
#include "platform/x11/x11_window.h"
//
#include <X11/Xutil.h>

#include "tests/support/host_recorder.h"
#include "tests/support/test_clock.h"
#include "tests/x11/x_server.h"
#include "vst2/base/audioeffect.h"
#include "vst2/brackenlume_opamp_gui.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"
#include "vstgui/platform/clock.h"

using namespace VSTGUI;

namespace {

constexpr CRect kGainKnob(80, 90, 160, 170);
constexpr CRect kLed(180, 307, 208, 335);

class EditorOnX11 : public testing::Test {
  protected:
    void SetUp() override {
        dpy_ = XOpenDisplay(nullptr);
        ASSERT_NE(dpy_, nullptr);
        XSetWindowAttributes a{};
        a.background_pixel = 0x204060;
        a.override_redirect = True;
        hostWindow_ =
            XCreateWindow(dpy_, DefaultRootWindow(dpy_), 10, 10, 240, 400, 0, CopyFromParent,
                          InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
        XMapWindow(dpy_, hostWindow_);
        XSync(dpy_, False);
        fx_ = kv::createInstance(&kvtest::HostRecorder::callback, &createEffectInstance);
        ASSERT_NE(fx_, nullptr);
        fx_->dispatcher(fx_, effOpen, 0, 0, nullptr, 0.f);
        ASSERT_EQ(dispatch(effEditOpen, reinterpret_cast<void*>(hostWindow_)), 1);
        auto* editor =
            dynamic_cast<AEffGUIEditor*>(static_cast<AudioEffect*>(fx_->object)->getEditor());
        ASSERT_NE(editor, nullptr);
        frame_ = editor->getFrame();
        ASSERT_NE(frame_, nullptr);
        window_ = platform::x11::asX11Window(frame_->getPlatformWindow());
        ASSERT_NE(window_, nullptr);
        // The first paint comes with the window's first exposure.
        ASSERT_TRUE(kvtest::waitUntil([&] { return !frame_->isFirstDrawPending(); }, 3000,
                                      [&] { idle(); }));
    }
    void TearDown() override {
        if (fx_) {
            dispatch(effEditClose);
            fx_->dispatcher(fx_, effClose, 0, 0, nullptr, 0.f);
        }
        if (dpy_) XCloseDisplay(dpy_);
    }

    intptr_t dispatch(int32_t opcode, void* ptr = nullptr) {
        return fx_->dispatcher(fx_, opcode, 0, 0, ptr, 0.f);
    }
    void idle() { dispatch(effEditIdle); }
    // One block of a constant level through the processor (it feeds the LED).
    void process(float level) {
        float in[64], out0[64], out1[64];
        for (float& s : in)
            s = level;
        float* ins[2] = {in, in};
        float* outs[2] = {out0, out1};
        fx_->processReplacing(fx_, ins, outs, 64);
    }
    // Requests the editor's connection has issued so far.
    unsigned long requests() { return XNextRequest(window_->display()); }

    // Pixels of `area` where the screen differs from the frame's back
    // buffer, once the server has carried out the editor's requests.
    int screenMismatches(const CRect& area, bool report = true) {
        XSync(window_->display(), False);
        auto* buffer =
            dynamic_cast<platform::cairo::CairoDevice*>(frame_->getBackBuffer()->getDevice());
        if (!buffer) return -1;
        XImage* image = XGetImage(dpy_, window_->window(), area.left, area.top,
                                  static_cast<unsigned>(area.width()),
                                  static_cast<unsigned>(area.height()), AllPlanes, ZPixmap);
        if (!image) return -1;
        int wrong = 0;
        for (int32_t y = 0; y < area.height(); ++y)
            for (int32_t x = 0; x < area.width(); ++x) {
                const auto shown = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xffffff;
                const uint32_t composed = buffer->pixel(area.left + x, area.top + y) & 0xffffff;
                if (shown != composed && ++wrong <= 3 && report)
                    std::fprintf(stderr, "  (%d, %d): screen %06x, composed %06x\n", area.left + x,
                                 area.top + y, shown, composed);
            }
        XDestroyImage(image);
        return wrong;
    }
    uint32_t composedPixel(CPoint p) {
        auto* buffer =
            dynamic_cast<platform::cairo::CairoDevice*>(frame_->getBackBuffer()->getDevice());
        return buffer ? buffer->pixel(p.h, p.v) & 0xffffff : 0;
    }

    // Time stands still unless the test moves it, so the LED's hold cannot
    // run out while a slow machine compares screens.
    kvtest::TestClock clock_{100000};
    kvtest::HostRecorder host_;
    Display* dpy_ = nullptr;
    Window hostWindow_ = 0;
    AEffect* fx_ = nullptr;
    CFrame* frame_ = nullptr;
    platform::x11::X11Window* window_ = nullptr;
};

TEST_F(EditorOnX11, AnIdleThatChangesNoPixelSendsNothingAndChangesStillShow) {
    const CRect all(0, 0, 240, 400);
    EXPECT_EQ(screenMismatches(all), 0);

    // The LED is drawn at every idle, but into the same pixels: nothing is
    // sent and no reply awaited.
    idle();
    unsigned long before = requests();
    idle();
    idle();
    EXPECT_EQ(requests(), before);

    // An over lights the LED at the next idle.
    const CPoint ledCentre(194, 321);
    const uint32_t dark = composedPixel(ledCentre);
    process(2.f);
    idle();
    EXPECT_NE(composedPixel(ledCentre), dark);
    EXPECT_EQ(screenMismatches(kLed), 0);
    EXPECT_EQ(screenMismatches(all), 0);

    // The host moves the gain; the knob shows another filmstrip image.
    std::vector<uint32_t> knobBefore;
    for (int32_t y = kGainKnob.top; y < kGainKnob.bottom; y += 4)
        knobBefore.push_back(composedPixel(CPoint(kGainKnob.left + 40, y)));
    fx_->setParameter(fx_, 0, 0.8f);
    idle();
    std::vector<uint32_t> knobAfter;
    for (int32_t y = kGainKnob.top; y < kGainKnob.bottom; y += 4)
        knobAfter.push_back(composedPixel(CPoint(kGainKnob.left + 40, y)));
    EXPECT_NE(knobAfter, knobBefore);
    EXPECT_EQ(screenMismatches(all), 0);

    // Steady again: nothing more to send (the LED stays lit during its hold).
    before = requests();
    idle();
    EXPECT_EQ(requests(), before);

    // The hold over, the LED goes dark at the next idle, on the screen too.
    clock_.now += 300;
    idle();
    EXPECT_EQ(composedPixel(ledCentre), dark);
    EXPECT_EQ(screenMismatches(kLed), 0);

    // A window laid over the panel and taken away: the server forgets those
    // pixels and asks for them again; the idle that handles that sends them
    // although the frame's buffer did not change.
    XSetWindowAttributes a{};
    a.background_pixel = 0xff00ff;
    a.override_redirect = True;
    const Window cover =
        XCreateWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 200, 300, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
    XMapWindow(dpy_, cover);
    XSync(dpy_, False);
    XDestroyWindow(dpy_, cover);
    XSync(dpy_, False);
    EXPECT_GT(screenMismatches(all, false), 0);  // the cover's pixels are still there
    ASSERT_TRUE(kvtest::waitUntil([&] { return screenMismatches(all, false) == 0; }, 2000,
                                  [&] { idle(); }));
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return kvtest::runAllTestsOnPrivateServer("X11 tests");
}
