// A frame embedded the way a host embeds an editor: the program's own
// connection owns a top-level window (the host's window), the frame makes its
// child window inside it, and the program calls the frame's idle about every
// 20 ms after handling the window's events, as the editor's idle does.
//
// Coloured views record clicks, wheel turns and drawing on standard output,
// one line each. Commands on standard input drive the rest (one per line):
//   map                      map the host window (nothing is shown before)
//   idle N                   N idle passes at once; answers "idled N"
//   dirty NAME R G B         recolour a view and mark it dirty
//   dump PATH                write the frame's back buffer as PNG; "dumped"
//   state                    "state open=B firstDrawPending=B"
//   destroy-parent           destroy the host window (and with it the frame's)
//   close                    destroy the frame; "closed"
//   cycle N                  open and close N frames on the host window; answers
//                            "cycled N windows BEFORE AFTER fds BEFORE AFTER"
//   quit                     end the program
#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "platform/cairo/cairo_device.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cframe.h"
#include "vstgui/cview.h"
//
#include <X11/Xlib.h>

using namespace VSTGUI;

namespace {

void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class ColourView : public CView {
  public:
    ColourView(const CRect& rect, const char* name, CColor colour)
        : CView(rect), name_(name), colour_(colour) {}

    void draw(CDrawContext* context) override {
        context->setFillColor(colour_);
        context->setFrameColor(kBlackColor);
        context->fillRect(size);
        context->outlineRect(size);
        say("draw " + name_);
        setDirty(false);
    }
    void onMouseDown(CDrawContext*, const CPoint& where, int32_t buttons) override {
        say("click " + name_ + " " + std::to_string(where.h) + " " + std::to_string(where.v) + " " +
            std::to_string(buttons));
    }
    bool onWheelAxis(CDrawContext*, const CPoint& where, int32_t axis, float distance) override {
        char text[128];
        std::snprintf(text, sizeof text, "wheel %s %d %d %d %+.1f", name_.c_str(), where.h, where.v,
                      axis, static_cast<double>(distance));
        say(text);
        return true;
    }
    const std::string& name() const { return name_; }
    void setColour(CColor c) { colour_ = c; }

  private:
    std::string name_;
    CColor colour_;
};

constexpr int32_t kWidth = 240;
constexpr int32_t kHeight = 200;

CFrame* openFrame(Window host) {
    auto* frame = new CFrame(CRect(0, 0, kWidth, kHeight), reinterpret_cast<void*>(host), nullptr);
    // The creator's reference goes to the frame with the view.
    auto add = [&](CView* v) { frame->addView(v); };
    add(new ColourView(CRect(0, 0, kWidth, kHeight), "back", {40, 40, 40, 255}));
    add(new ColourView(CRect(10, 10, 110, 90), "red", {220, 30, 30, 255}));
    add(new ColourView(CRect(130, 10, 230, 90), "green", {30, 200, 60, 255}));
    add(new ColourView(CRect(10, 110, 230, 190), "blue", {40, 70, 230, 255}));
    return frame;
}

ColourView* findView(CFrame* frame, const std::string& name) {
    ColourView* found = nullptr;
    for (int32_t i = 0; i < frame->getViewCount(); ++i) {
        auto* v = dynamic_cast<ColourView*>(frame->getView(i));
        if (v && v->name() == name) found = v;
    }
    return found;
}

void idlePass(CFrame* frame) {
    if (auto* w = frame->getPlatformWindow()) w->processEvents();
    frame->idle();
}

int countWindows(Display* dpy, Window w) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XQueryTree(dpy, w, &root, &parent, &children, &count);
    if (children) XFree(children);
    return static_cast<int>(count);
}

int countDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

int main() {
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "frame_demo: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(dpy);
    Window host = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 20, 30, kWidth, kHeight, 0, 0,
                                      BlackPixel(dpy, screen));
    XStoreName(dpy, host, "frame demo");
    XSync(dpy, False);
    CFrame* frame = openFrame(host);
    const Window frameWindow =
        frame->getPlatformWindow()
            ? static_cast<Window>(reinterpret_cast<uintptr_t>(frame->getPlatformWindow()->handle()))
            : 0;
    say("ready " + std::to_string(host) + " " + std::to_string(frameWindow));

    using Clock = std::chrono::steady_clock;
    auto nextIdle = Clock::now();
    std::string pending;
    bool running = true;
    while (running) {
        const auto now = Clock::now();
        if (now >= nextIdle) {
            if (frame) idlePass(frame);
            nextIdle = now + std::chrono::milliseconds(20);
        }
        pollfd p{0, POLLIN, 0};
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextIdle - Clock::now()).count();
        if (poll(&p, 1, static_cast<int>(std::max<long>(wait, 0))) <= 0) continue;
        char buffer[512];
        const ssize_t n = read(0, buffer, sizeof buffer);
        if (n <= 0) break;  // the driver went away
        pending.append(buffer, static_cast<size_t>(n));
        size_t eol;
        while (running && (eol = pending.find('\n')) != std::string::npos) {
            std::istringstream line(pending.substr(0, eol));
            pending.erase(0, eol + 1);
            std::string command;
            line >> command;
            if (command == "map") {
                XMapWindow(dpy, host);
                XSync(dpy, False);
                say("mapped");
            } else if (command == "idle") {
                int count = 0;
                line >> count;
                for (int i = 0; i < count && frame; ++i)
                    idlePass(frame);
                say("idled " + std::to_string(count));
            } else if (command == "dirty" && frame) {
                std::string name;
                int r = 0, g = 0, b = 0;
                line >> name >> r >> g >> b;
                if (ColourView* v = findView(frame, name)) {
                    v->setColour({static_cast<uint8_t>(r), static_cast<uint8_t>(g),
                                  static_cast<uint8_t>(b), 255});
                    v->setDirty(true);
                }
                say("dirtied " + name);
            } else if (command == "dump" && frame) {
                std::string path;
                line >> path;
                auto* device = frame->getBackBuffer()->getDevice();
                const bool ok = device && platform::cairo::writePng(*device, path);
                say(ok ? "dumped " + path : "dump failed");
            } else if (command == "state" && frame) {
                say(std::string("state open=") + (frame->getOpenFlag() ? "1" : "0") +
                    " firstDrawPending=" + (frame->isFirstDrawPending() ? "1" : "0"));
            } else if (command == "destroy-parent") {
                XDestroyWindow(dpy, host);
                XSync(dpy, False);
                say("parent destroyed");
            } else if (command == "close") {
                delete frame;
                frame = nullptr;
                say("closed");
            } else if (command == "cycle") {
                int count = 0;
                line >> count;
                const int windowsBefore = countWindows(dpy, host);
                const int fdsBefore = countDescriptors();
                for (int i = 0; i < count; ++i) {
                    CFrame* f = openFrame(host);
                    for (int pass = 0; pass < 2; ++pass)
                        idlePass(f);
                    delete f;
                }
                XSync(dpy, False);
                std::ostringstream out;
                out << "cycled " << count << " windows " << windowsBefore << " "
                    << countWindows(dpy, host) << " fds " << fdsBefore << " " << countDescriptors();
                say(out.str());
            } else if (command == "quit") {
                running = false;
            } else {
                say("unknown " + command);
            }
        }
    }
    delete frame;
    XCloseDisplay(dpy);
    return 0;
}
