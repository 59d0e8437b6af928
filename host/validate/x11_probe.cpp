#include "host/validate/x11_probe.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef KV_HAVE_XRES
#include <X11/extensions/XRes.h>
#endif

namespace kv::validate {

struct XProbe::Impl {
    Display* display = nullptr;
};

namespace {

// Windows the editor made and destroyed under us can vanish between two
// requests; such errors on the probe's connection are expected.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

long countTree(Display* display, Window window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &n) == 0) return 0;
    long total = n;
    for (unsigned int i = 0; i < n; ++i)
        total += countTree(display, children[i]);
    if (children != nullptr) XFree(children);
    return total;
}

}  // namespace

std::unique_ptr<XProbe> XProbe::open(std::string& why) {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        why = "no X display (DISPLAY is not set; run under xvfb-run)";
        return nullptr;
    }
    // An X server with no clients left resets itself, and refuses
    // connections for that moment: try again for up to two seconds.
    Display* display = nullptr;
    for (int attempt = 0; attempt < 20 && display == nullptr; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        display = XOpenDisplay(name);
    }
    if (display == nullptr) {
        why = std::string("cannot open the X display ") + name;
        return nullptr;
    }
    std::unique_ptr<XProbe> probe(new XProbe());
    probe->impl_ = std::make_unique<Impl>();
    probe->impl_->display = display;
    // Only errors the editor provokes on windows we own reach this handler;
    // the plug-in installs its own for its connection.
    XSetErrorHandler(&ignoreErrors);
    return probe;
}

XProbe::~XProbe() {
    if (impl_ && impl_->display != nullptr) XCloseDisplay(impl_->display);
}

unsigned long XProbe::makeWindow(int width, int height) {
    Display* d = impl_->display;
    const int screen = DefaultScreen(d);
    const Window w = XCreateSimpleWindow(
        d, RootWindow(d, screen), 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
        0, BlackPixel(d, screen), WhitePixel(d, screen));
    XMapWindow(d, w);
    XSync(d, False);
    return w;
}

void XProbe::destroyWindow(unsigned long window) {
    XDestroyWindow(impl_->display, window);
    XSync(impl_->display, False);
}

int XProbe::childCount(unsigned long window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    XSync(impl_->display, False);
    if (XQueryTree(impl_->display, window, &root, &parent, &children, &n) == 0) return -1;
    if (children != nullptr) XFree(children);
    return static_cast<int>(n);
}

int XProbe::waitForChildren(unsigned long window, int expected, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int n = childCount(window);
    while (n != expected && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        n = childCount(window);
    }
    return n;
}

bool XProbe::firstChildSize(unsigned long window, int& width, int& height) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    XSync(impl_->display, False);
    if (XQueryTree(impl_->display, window, &root, &parent, &children, &n) == 0 || n == 0) {
        return false;
    }
    XWindowAttributes attributes{};
    const Status ok = XGetWindowAttributes(impl_->display, children[0], &attributes);
    XFree(children);
    if (ok == 0) return false;
    width = attributes.width;
    height = attributes.height;
    return true;
}

ServerCounts XProbe::counts() {
    Display* d = impl_->display;
    XSync(d, False);
    ServerCounts c;
    c.windows = countTree(d, DefaultRootWindow(d));
#ifdef KV_HAVE_XRES
    int eventBase = 0, errorBase = 0;
    if (XResQueryExtension(d, &eventBase, &errorBase)) {
        int numClients = 0;
        XResClient* clients = nullptr;
        if (XResQueryClients(d, &numClients, &clients)) {
            const Atom pixmap = XInternAtom(d, "PIXMAP", False);
            const Atom gc = XInternAtom(d, "GC", False);
            c.pixmaps = c.gcs = c.total = 0;
            for (int i = 0; i < numClients; ++i) {
                int numTypes = 0;
                XResType* types = nullptr;
                if (!XResQueryClientResources(d, clients[i].resource_base, &numTypes, &types)) {
                    continue;
                }
                for (int t = 0; t < numTypes; ++t) {
                    c.total += types[t].count;
                    if (types[t].resource_type == pixmap) c.pixmaps += types[t].count;
                    if (types[t].resource_type == gc) c.gcs += types[t].count;
                }
                if (types != nullptr) XFree(types);
            }
            if (clients != nullptr) XFree(clients);
        }
    }
#endif
    return c;
}

void XProbe::sync() {
    XSync(impl_->display, False);
}

bool XProbe::killOwnerOfFirstChild(unsigned long window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    XSync(impl_->display, False);
    if (XQueryTree(impl_->display, window, &root, &parent, &children, &n) == 0 || n == 0) {
        return false;
    }
    XKillClient(impl_->display, children[0]);
    XFree(children);
    XSync(impl_->display, False);
    return true;
}

void XProbe::provokeError() {
    // No client makes window ids this high: the id names no window.
    XMapWindow(impl_->display, static_cast<Window>(0x7ffffff0));
    XSync(impl_->display, False);
}

int openDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int n = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++n;
    }
    closedir(dir);
    return n - 1;  // the directory stream's own descriptor
}

}  // namespace kv::validate
