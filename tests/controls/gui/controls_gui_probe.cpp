// A small host for the end-to-end test of the controls in a real X window:
// a top-level window plays the host's window, a frame inside it holds the
// panel's filmstrip knob (tag 0) and a text edit (tag 9) in a container, and
// every listener call, edit bracket and "LooseFocus" is printed on stdout,
// one line each, for the driving script to check.
//
// Usage: controls_gui_probe [seconds]   (runs until killed or the time is up)
#include <X11/Xlib.h>
#undef CursorShape

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "panel/brackenlume_knob.h"
#include "vst2/aeffguieditor.h"
#include "vstgui/cbitmap.h"
#include "vstgui/cframe.h"
#include "vstgui/ctextedit.h"

using namespace VSTGUI;

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

class ProbeEditor : public AEffGUIEditor, public CControlListener {
  public:
    ProbeEditor() : AEffGUIEditor(nullptr) {}

    void setFrame(CFrame* f) { frame = f; }
    CFrame* takeFrame() {
        CFrame* f = frame;
        frame = nullptr;
        return f;
    }

    void beginEdit(int32_t index) override {
        std::printf("begin %d\n", index), std::fflush(stdout);
    }
    void endEdit(int32_t index) override { std::printf("end %d\n", index), std::fflush(stdout); }
    // Inside a drag: let the window paint what changed.
    void pumpIdle() override {
        if (frame && frame->getPlatformWindow()) frame->getPlatformWindow()->processOnePaint();
    }

    void valueChanged(CDrawContext*, CControl* control) override {
        if (control->getTag() == 9) {
            char text[256] = {};
            static_cast<CTextEdit*>(control)->getText(text);
            std::printf("text %d %s\n", control->getTag(), text);
        } else {
            std::printf("value %d %.6f\n", control->getTag(), control->getValue());
            control->setDirty(true);
        }
        std::fflush(stdout);
    }
    int32_t controlModifierClicked(CDrawContext*, CControl*, int32_t) override { return 0; }
};

class ReportingContainer : public CViewContainer {
  public:
    using CViewContainer::CViewContainer;
    int32_t notify(CView* sender, const char* message) override {
        if (message && std::strcmp(message, "LooseFocus") == 0) {
            std::printf("loosefocus\n");
            std::fflush(stdout);
            return 0;
        }
        return CViewContainer::notify(sender, message);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no display\n");
        return 2;
    }
    const int screen = DefaultScreen(display);
    // The "host" window, at a known place on the screen.
    const Window host = XCreateSimpleWindow(display, RootWindow(display, screen), 50, 40, 240, 400,
                                            0, 0, WhitePixel(display, screen));
    XMapWindow(display, host);
    XSync(display, False);

    ProbeEditor editor;
    auto* frame = new CFrame(CRect(0, 0, 240, 400), reinterpret_cast<void*>(host), &editor);
    editor.setFrame(frame);
    if (!frame->getPlatformWindow()) {
        std::fprintf(stderr, "no frame window\n");
        return 2;
    }

    auto* panel = new ReportingContainer(CRect(0, 0, 240, 400));
    panel->setBackgroundColor(CColor{40, 40, 48, 255});
    frame->addView(panel);

    auto* strip = new CBitmap(102);
    auto* knob = new BrackenlumeKnob(CRect(80, 100, 160, 180), &editor, 0, 97, 80, strip);
    strip->forget();
    panel->addView(knob);
    knob->setDragRange(640.f);
    knob->setValue(0.f);

    auto* edit = new CTextEdit(CRect(80, 300, 160, 318), &editor, 9, "0.00");
    edit->setBackColor(CColor{0, 0, 0, 255});
    edit->setFontColor(CColor{255, 255, 255, 255});
    panel->addView(edit);

    std::printf("ready %lu\n", static_cast<unsigned long>(host));
    std::fflush(stdout);

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!stopRequested && std::chrono::steady_clock::now() < end) {
        frame->idle();
        // The host's own connection: keep its queue drained.
        while (XPending(display)) {
            XEvent e;
            XNextEvent(display, &e);
        }
        usleep(5000);
    }

    delete editor.takeFrame();
    XDestroyWindow(display, host);
    XCloseDisplay(display);
    std::printf("bye\n");
    return 0;
}
