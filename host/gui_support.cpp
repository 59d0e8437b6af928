#include "host/gui_support.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <charconv>

#include "host/cli.h"

namespace kv::host {

volatile sig_atomic_t stopRequested = 0;

namespace {
void requestStop(int) {
    stopRequested = 1;
}
}  // namespace

std::string sixDecimals(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    return std::string(text, result.ec == std::errc() ? result.ptr : text);
}

double parseFactor(const std::string& text, const std::string& option) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end || !(value > 0.0))
        throw UsageError(option + " needs a positive number (1, 1.5, 2 ...)");
    return value;
}

bool readSetting(const std::string& arguments, std::string& parameter, double& value) {
    const size_t space = arguments.rfind(' ');
    if (space == std::string::npos) return false;
    try {
        value = parseNumber(arguments.substr(space + 1), "set");
    } catch (const UsageError&) {
        return false;
    }
    parameter = arguments.substr(0, space);
    return true;
}

void runSessionCommand(const std::string& line, const SessionCommands& commands) {
    bool understood = true;
    if (line == "params") {
        commands.params();
    } else if (line == "over") {
        commands.over();
    } else if (line == "quit") {
        stopRequested = 1;
    } else if (line.rfind("scale ", 0) == 0) {
        try {
            commands.scale(parseFactor(line.substr(6), "scale"));
        } catch (const UsageError&) {
            understood = false;
        }
    } else if (line.rfind("set ", 0) == 0 && commands.set) {
        understood = commands.set(line.substr(4));
    } else {
        understood = line.empty();
    }
    if (!understood) say("unknown command %s\n", line.c_str());
}

StopSignals::StopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
}

TopWindow::TopWindow(Display* dpy, int width, int height, const std::string& title)
    : dpy_(dpy), width_(width), height_(height) {
    const int screen = DefaultScreen(dpy_);
    window_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen), 0, 0,
                                  static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0,
                                  BlackPixel(dpy_, screen), BlackPixel(dpy_, screen));
    XStoreName(dpy_, window_, title.c_str());
    const Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
    XChangeProperty(dpy_, window_, XInternAtom(dpy_, "_NET_WM_NAME", False), utf8, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    deleteWindow_ = XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy_, window_, &deleteWindow_, 1);
    XSelectInput(dpy_, window_, StructureNotifyMask);
    resizeTo(width_, height_);
    XMapWindow(dpy_, window_);
    XSync(dpy_, False);
}

void TopWindow::resizeTo(int w, int h) {
    if (w <= 0 || h <= 0) return;
    // A fixed-size editor: the window manager should not offer resizing.
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = w;
    hints->min_height = hints->max_height = h;
    XSetWMNormalHints(dpy_, window_, hints);
    XFree(hints);
    XResizeWindow(dpy_, window_, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XFlush(dpy_);
    width_ = w;
    height_ = h;
}

bool TopWindow::readEvents() {
    bool destroyed = false;
    while (XPending(dpy_) > 0) {
        XEvent event;
        XNextEvent(dpy_, &event);
        if (event.type == ClientMessage &&
            static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_)
            stopRequested = 1;
        if (event.type == DestroyNotify && event.xdestroywindow.window == window_) destroyed = true;
    }
    return destroyed;
}

void CommandInput::wait(int xFd, int ms, const std::function<void(const std::string&)>& run) {
    pollfd p[2] = {{xFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(p, open_ ? 2 : 1, ms) <= 0 || !open_) return;
    if ((p[1].revents & (POLLNVAL | POLLERR)) != 0) {
        open_ = false;  // no standard input at all (closed by the caller)
        return;
    }
    if ((p[1].revents & (POLLIN | POLLHUP)) == 0) return;
    // Complete lines run as commands; the rest waits for its newline.
    char chunk[256];
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got <= 0) open_ = false;  // no more commands; keep running
    pending_.append(chunk, got > 0 ? static_cast<size_t>(got) : 0);
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        run(line);
    }
}

}  // namespace kv::host
