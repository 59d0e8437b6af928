// A frame that takes drags, embedded in a top-level window larger than the
// panel, as a host embeds an editor. The program idles the frame about every
// 20 ms. One view covers the panel and prints each drag event it receives
// with the item count of the drag at that moment:
//   ready HOST FRAME                  window ids (decimal)
//   enter COUNT X Y / move COUNT X Y / leave COUNT / drop COUNT
// The view keeps a reference to the container of the drag it saw last, so
// that the test can check the drop target gave its own back.
// Commands on standard input (one a line):
//   state        "state current=0|1 held=REFS" (REFS of the kept container,
//                0 when none); then the kept reference is given back
//   drops on|off "drops RESULT active=0|1 aware=0|1" (aware: the host
//                window carries XdndAware)
//   close        destroy the frame: "closed aware=0|1"
//   reopen       release the frame while one of its handlers still runs and
//                open a new one on the same window before the old one goes
//                (a host closing and reopening the editor inside a call):
//                "reopened FRAME aware=0|1 proxy=WINDOW" (of the host window)
//   dock         move the frame's container into a new top-level window with
//                WM_STATE at the same place (a host docking the editor):
//                "docked TOPLEVEL aware=0|1" once it is marked or after 3 s
//   mask         "mask MASK": every client's event mask on the host window
//   quit
// Arguments: --wm puts the host window into a decoration window and gives it
// WM_STATE, as a reparenting window manager does; --wm-late does the same
// around the frame's opening: reparented before, WM_STATE after (then prints
// "decoration aware=0|1" before "ready"); --host-aware marks the host window
// XdndAware before the frame opens (a host that takes drops itself);
// --container puts the frame into a window of its own size inside the host
// window (the host's container, which "dock" moves).
// --scale 2 opens the frame at that factor (a 480 x 400 window; the view's
// positions stay in panel units).
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "vstgui/cdragcontainer.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/cdroptarget.h"
#include "vstgui/cframe.h"
#include "vstgui/cview.h"
//
#include <X11/Xatom.h>
#include <X11/Xlib.h>

using namespace VSTGUI;

namespace {

void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class DragProbe : public CView {
  public:
    using CView::CView;
    ~DragProbe() override { keep(nullptr); }

    void draw(CDrawContext* context) override {
        context->setFillColor({50, 60, 70, 255});
        context->fillRect(size);
        setDirty(false);
    }
    void onDragEnter(CDrawContext*, CDragContainer* drag, const CPoint& where) override {
        keep(drag);
        report("enter", drag, &where);
    }
    void onDragMove(CDrawContext*, CDragContainer* drag, const CPoint& where) override {
        report("move", drag, &where);
    }
    void onDragLeave(CDrawContext*, CDragContainer* drag, const CPoint&) override {
        report("leave", drag, nullptr);
    }
    bool onDrop(CDrawContext*, CDragContainer* drag, const CPoint&) override {
        report("drop", drag, nullptr);
        return false;  // like every view of the plug-in
    }
    int32_t heldReferences() const { return held_ ? held_->getNbReference() : 0; }
    void keep(CDragContainer* drag) {
        if (drag) drag->remember();
        if (held_) held_->forget();
        held_ = drag;
    }

  private:
    static void report(const char* what, CDragContainer* drag, const CPoint* where) {
        std::string line = std::string(what) + " " + std::to_string(drag ? drag->getCount() : -1);
        if (where) line += " " + std::to_string(where->h) + " " + std::to_string(where->v);
        say(line);
    }
    CDragContainer* held_ = nullptr;
};

bool hostAware(Display* dpy, Window host) {
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(dpy, host, XInternAtom(dpy, "XdndAware", False), 0, 1, False,
                       AnyPropertyType, &type, &format, &n, &after, &data);
    if (data) XFree(data);
    return type != None;
}

Window windowProperty(Display* dpy, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    Window value = 0;
    XGetWindowProperty(dpy, window, XInternAtom(dpy, name, False), 0, 1, False, XA_WINDOW, &type,
                       &format, &n, &after, &data);
    if (data && n == 1) value = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    bool wm = false, wmLate = false, hostTakesDrops = false, container = false;
    double scale = 1.0;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--scale" && i + 1 < argc) scale = std::atof(argv[++i]);
        container = container || std::string(argv[i]) == "--container";
        wmLate = wmLate || std::string(argv[i]) == "--wm-late";
        wm = wm || wmLate || std::string(argv[i]) == "--wm";
        hostTakesDrops = hostTakesDrops || std::string(argv[i]) == "--host-aware";
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "dnd_frame: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(dpy);
    Window parent = RootWindow(dpy, screen);
    int x = 20, y = 30;
    if (wm) {
        parent = XCreateSimpleWindow(dpy, parent, 15, 10, 310, 460, 0, 0, BlackPixel(dpy, screen));
        XMapWindow(dpy, parent);
        x = 5;
        y = 20;
    }
    Window host = XCreateSimpleWindow(
        dpy, wmLate ? RootWindow(dpy, screen) : parent, x, y, static_cast<unsigned>(300 * scale),
        static_cast<unsigned>(440 * scale), 0, 0, BlackPixel(dpy, screen));
    const auto giveWmState = [&] {
        const long state[2] = {1, 0};  // NormalState, no icon
        const Atom wmState = XInternAtom(dpy, "WM_STATE", False);
        XChangeProperty(dpy, host, wmState, wmState, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(state), 2);
    };
    if (wmLate) XReparentWindow(dpy, host, parent, x, y);
    if (wm && !wmLate) giveWmState();
    if (hostTakesDrops) {
        const long version = 5;
        XChangeProperty(dpy, host, XInternAtom(dpy, "XdndAware", False), XA_ATOM, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&version), 1);
    }
    XMapWindow(dpy, host);
    Window holder = host;
    if (container) {
        holder = XCreateSimpleWindow(dpy, host, 0, 0, 240, 200, 0, 0, BlackPixel(dpy, screen));
        XMapWindow(dpy, holder);
    }
    XSync(dpy, False);
    DragProbe* probe = nullptr;
    const auto open = [&] {
        auto* f =
            new CFrame(CRect(0, 0, 240, 200), reinterpret_cast<void*>(holder), nullptr, scale);
        probe = new DragProbe(CRect(0, 0, 240, 200));
        f->addView(probe);
        return f;
    };
    const auto windowOf = [](CFrame* f) {
        return f->getPlatformWindow() ? static_cast<unsigned long>(reinterpret_cast<uintptr_t>(
                                            f->getPlatformWindow()->handle()))
                                      : 0ul;
    };
    CFrame* frame = open();
    const auto frameWindow = windowOf(frame);
    if (wmLate) {
        giveWmState();
        XSync(dpy, False);
        // The frame hears of WM_STATE at an idle; a loaded machine may take
        // a while to deliver it.
        for (int i = 0; i < 150 && hostAware(dpy, parent); ++i) {
            frame->idle();
            usleep(20000);
        }
        say(std::string("decoration aware=") + (hostAware(dpy, parent) ? "1" : "0"));
    }
    say("ready " + std::to_string(host) + " " + std::to_string(frameWindow));

    using Clock = std::chrono::steady_clock;
    auto nextIdle = Clock::now();
    std::string pending;
    bool running = true;
    while (running) {
        const auto now = Clock::now();
        if (now >= nextIdle) {
            if (frame) frame->idle();
            nextIdle = now + std::chrono::milliseconds(20);
        }
        pollfd p{0, POLLIN, 0};
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextIdle - Clock::now()).count();
        if (poll(&p, 1, static_cast<int>(std::max<long>(wait, 0))) <= 0) continue;
        char buffer[256];
        const ssize_t n = read(0, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t eol;
        while (running && (eol = pending.find('\n')) != std::string::npos) {
            std::istringstream line(pending.substr(0, eol));
            pending.erase(0, eol + 1);
            std::string command, argument;
            line >> command >> argument;
            if (!frame && command != "quit") {
                say("no frame");
            } else if (command == "state") {
                say(std::string("state current=") + (getCurrentDrag() ? "1" : "0") +
                    " held=" + std::to_string(probe->heldReferences()));
                probe->keep(nullptr);
            } else if (command == "drops") {
                const bool result = frame->setDropActive(argument == "on");
                XSync(dpy, False);
                say(std::string("drops ") + (result ? "1" : "0") +
                    " active=" + (frame->isDropActive() ? "1" : "0") +
                    " aware=" + (hostAware(dpy, host) ? "1" : "0"));
            } else if (command == "close" && frame) {
                delete frame;
                frame = nullptr;
                XSync(dpy, False);
                say(std::string("closed aware=") + (hostAware(dpy, host) ? "1" : "0"));
            } else if (command == "reopen") {
                CFrame* old = frame;
                {
                    CFrame::Scope handler(old);
                    old->release();
                    frame = open();
                }  // the old frame goes here
                XSync(dpy, False);
                char proxy[32];
                std::snprintf(proxy, sizeof proxy, "0x%lx", windowProperty(dpy, host, "XdndProxy"));
                say("reopened " + std::to_string(windowOf(frame)) +
                    " aware=" + (hostAware(dpy, host) ? "1" : "0") + " proxy=" + proxy);
            } else if (command == "dock") {
                const Window top = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 20, 30, 300,
                                                       440, 0, 0, BlackPixel(dpy, screen));
                const long state[2] = {1, 0};
                const Atom wmState = XInternAtom(dpy, "WM_STATE", False);
                XChangeProperty(dpy, top, wmState, wmState, 32, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(state), 2);
                XMapWindow(dpy, top);
                XReparentWindow(dpy, holder, top, 0, 0);
                XSync(dpy, False);
                for (int i = 0; i < 150 && !hostAware(dpy, top); ++i) {
                    frame->idle();
                    usleep(20000);
                }
                say("docked " + std::to_string(top) +
                    " aware=" + (hostAware(dpy, top) ? "1" : "0"));
            } else if (command == "mask") {
                XWindowAttributes attributes{};
                XGetWindowAttributes(dpy, host, &attributes);
                say("mask " + std::to_string(attributes.all_event_masks));
            } else if (command == "quit") {
                running = false;
            }
        }
    }
    delete frame;  // the frame's teardown releases the views
    XDestroyWindow(dpy, host);
    XCloseDisplay(dpy);
    return 0;
}
