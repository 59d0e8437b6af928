#include "host/validate/x11_input.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdlib>

namespace kv::validate {

std::vector<std::pair<double, double>> dragPoints() {
    std::vector<std::pair<double, double>> points;
    for (double x : {0.5, 0.25, 0.75}) {
        for (double y : {0.325, 0.675, 0.2, 0.5, 0.8, 0.1, 0.9})
            points.emplace_back(x, y);
    }
    return points;
}

// The four XTest functions we use, as libXtst exports them.
struct XInput::Impl {
    Display* display = nullptr;
    void* library = nullptr;
    Bool (*query)(Display*, int*, int*, int*, int*) = nullptr;
    int (*motion)(Display*, int, int, int, unsigned long) = nullptr;
    int (*buttonEvent)(Display*, unsigned int, Bool, unsigned long) = nullptr;
    int (*keyEvent)(Display*, unsigned int, Bool, unsigned long) = nullptr;
};

namespace {
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}
}  // namespace

std::unique_ptr<XInput> XInput::open(std::string& why) {
    const char* name = std::getenv("DISPLAY");
    Display* display = name && *name ? XOpenDisplay(name) : nullptr;
    if (!display) {
        why = "no X display";
        return nullptr;
    }
    std::unique_ptr<XInput> input(new XInput());
    input->impl_ = std::make_unique<Impl>();
    Impl& x = *input->impl_;
    x.display = display;
    x.library = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    if (x.library) {
        x.query = reinterpret_cast<decltype(x.query)>(dlsym(x.library, "XTestQueryExtension"));
        x.motion = reinterpret_cast<decltype(x.motion)>(dlsym(x.library, "XTestFakeMotionEvent"));
        x.buttonEvent =
            reinterpret_cast<decltype(x.buttonEvent)>(dlsym(x.library, "XTestFakeButtonEvent"));
        x.keyEvent = reinterpret_cast<decltype(x.keyEvent)>(dlsym(x.library, "XTestFakeKeyEvent"));
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!x.query || !x.motion || !x.buttonEvent || !x.keyEvent ||
        !x.query(display, &event, &error, &major, &minor)) {
        why = "no XTest (libXtst.so.6 or the server's extension is missing)";
        return nullptr;
    }
    XSetErrorHandler(&ignoreErrors);
    return input;
}

XInput::~XInput() {
    if (impl_ && impl_->display) XCloseDisplay(impl_->display);
    if (impl_ && impl_->library) dlclose(impl_->library);
}

void XInput::moveTo(int rootX, int rootY) {
    impl_->motion(impl_->display, -1, rootX, rootY, 0);
    XSync(impl_->display, False);
}

void XInput::button(unsigned int number, bool down) {
    impl_->buttonEvent(impl_->display, number, down ? True : False, 0);
    XSync(impl_->display, False);
}

void XInput::key(const char* name) {
    const KeyCode code = XKeysymToKeycode(impl_->display, XStringToKeysym(name));
    if (code == 0) return;
    impl_->keyEvent(impl_->display, code, True, 0);
    impl_->keyEvent(impl_->display, code, False, 0);
    XSync(impl_->display, False);
}

bool XInput::pointerIn(unsigned long window) {
    Display* d = impl_->display;
    Window current = DefaultRootWindow(d);
    for (int depth = 0; depth < 64; ++depth) {
        Window root = 0, child = 0;
        int rootX = 0, rootY = 0, x = 0, y = 0;
        unsigned int mask = 0;
        if (!XQueryPointer(d, current, &root, &child, &rootX, &rootY, &x, &y, &mask)) return false;
        if (current == window) return true;
        if (child == 0) return false;
        current = child;
    }
    return false;
}

bool XInput::focusOnPopup() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(impl_->display, &focus, &revert);
    XWindowAttributes attributes{};
    return focus > PointerRoot && XGetWindowAttributes(impl_->display, focus, &attributes) &&
           attributes.override_redirect;
}

bool XInput::origin(unsigned long window, int& rootX, int& rootY) {
    Window child = 0;
    return XTranslateCoordinates(impl_->display, window, DefaultRootWindow(impl_->display), 0, 0,
                                 &rootX, &rootY, &child) != 0;
}

unsigned long XInput::firstChild(unsigned long window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    XSync(impl_->display, False);
    if (!XQueryTree(impl_->display, window, &root, &parent, &children, &n)) return 0;
    const unsigned long first = n > 0 ? children[0] : 0;
    if (children) XFree(children);
    return first;
}

int XInput::topLevelCount() {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    XSync(impl_->display, False);
    if (!XQueryTree(impl_->display, DefaultRootWindow(impl_->display), &root, &parent, &children,
                    &n))
        return -1;
    if (children) XFree(children);
    return static_cast<int>(n);
}

unsigned long XInput::windowProperty(unsigned long window, const char* name, bool* present) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const Atom property = XInternAtom(impl_->display, name, False);
    const int status = XGetWindowProperty(impl_->display, window, property, 0, 1, False,
                                          AnyPropertyType, &type, &format, &count, &after, &data);
    unsigned long value = 0;
    if (status == Success && type == XA_WINDOW && format == 32 && count == 1 && data)
        value = *reinterpret_cast<unsigned long*>(data);
    if (data) XFree(data);
    if (present) *present = status == Success && type != None;
    return value;
}

}  // namespace kv::validate
