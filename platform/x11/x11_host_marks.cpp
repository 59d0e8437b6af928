#include "platform/x11/x11_host_marks.h"

#include <X11/Xatom.h>

#include <algorithm>

#include "platform/x11/x11_event_mask.h"
#include "platform/x11/x11_xdnd.h"

namespace VSTGUI::platform::x11 {
namespace {

constexpr long kWatchMask = StructureNotifyMask | PropertyChangeMask;

Window windowProperty(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window value = 0;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_WINDOW, &type, &format,
                           &count, &after, &data) == Success &&
        data && type == XA_WINDOW && format == 32 && count == 1)
        value = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    if (data) XFree(data);
    return value;
}

bool hasProperty(Display* display, Window window, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, window, property, 0, 1, False, AnyPropertyType,
                                          &type, &format, &count, &after, &data);
    if (data) XFree(data);
    return status == Success && type != None;
}

void setWindowProperty(Display* display, Window on, Atom property, Window value) {
    const unsigned long v = value;
    XChangeProperty(display, on, property, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&v), 1);
}

// The window a source finds for us: the nearest ancestor with WM_STATE (the
// host's client window under a window manager), else our ancestor right
// below the root. `ancestors`: the windows above ours, up to that one.
struct Found {
    Window window = 0;
    bool managed = false;  // it carries WM_STATE
    std::vector<Window> ancestors;
};

Found hostClientWindow(Display* display, Window child, Atom wmState) {
    Found found;
    const Window root = DefaultRootWindow(display);
    Window current = child;
    for (int depth = 0; depth < 64; ++depth) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, current, &rootReturn, &parent, &children, &count)) return {};
        if (children) XFree(children);
        if (!parent || parent == root) {
            if (current != child) found.window = current;
            return found;
        }
        current = parent;
        found.ancestors.push_back(current);
        if (hasProperty(display, current, wmState)) {
            found.window = current;
            found.managed = true;
            return found;
        }
    }
    return {};
}

}  // namespace

HostMarks::HostMarks(Display* display, Window child, Atoms atoms)
    : display_(display), child_(child), atoms_(atoms) {
    place();
}

HostMarks::~HostMarks() {
    watchOnly({});
    takeOffMarks();
}

void HostMarks::place() {
    // Until the window is known for sure, the windows above ours are watched
    // before they are looked at again: a change between the look and the
    // watch would go unseen.
    // The watch stays once the window carries WM_STATE: a host that docks
    // the editor's container into another top-level window later
    // reparents one of these windows.
    Found found = hostClientWindow(display_, child_, atoms_.wmState);
    for (int pass = 0; pass < 8 && watchOnly(found.ancestors); ++pass)
        found = hostClientWindow(display_, child_, atoms_.wmState);
    if (found.window == found_) return;
    takeOffMarks();
    found_ = found.window;
    if (found_ && !hasProperty(display_, found_, atoms_.aware) &&
        !hasProperty(display_, found_, atoms_.proxy)) {
        const long version = kXdndVersion;
        XChangeProperty(display_, found_, atoms_.aware, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&version), 1);
        setWindowProperty(display_, found_, atoms_.proxy, child_);
        client_ = found_;
    }
}

void HostMarks::takeOffMarks() {
    // The host's window may be gone already (errors are swallowed), or
    // somebody else may have marked it since: take off only our marks.
    if (client_ && windowProperty(display_, client_, atoms_.proxy) == child_) {
        XDeleteProperty(display_, client_, atoms_.proxy);
        XDeleteProperty(display_, client_, atoms_.aware);
    }
    client_ = 0;
}

bool HostMarks::watchOnly(const std::vector<Window>& windows) {
    // Only the bits we added come off: the text field may watch the same
    // windows meanwhile. The mask is per client: nothing changes for the
    // host's own connection.
    const auto listed = [&windows](Window w) {
        return std::find(windows.begin(), windows.end(), w) != windows.end();
    };
    for (const Watched& w : watched_)
        if (!listed(w.window)) removeEventBits(display_, w.window, w.added);
    std::erase_if(watched_, [&](const Watched& w) { return !listed(w.window); });
    bool added = false;
    XWindowAttributes attributes{};
    for (Window w : windows) {
        if (std::any_of(watched_.begin(), watched_.end(),
                        [w](const Watched& x) { return x.window == w; }))
            continue;
        if (!XGetWindowAttributes(display_, w, &attributes)) continue;
        watched_.push_back({w, addEventBits(display_, w, kWatchMask)});
        added = true;
    }
    return added;
}

void HostMarks::handle(const XEvent& event) {
    Window about = 0;
    if (event.type == ReparentNotify)
        about = event.xreparent.window;
    else if (event.type == PropertyNotify && event.xproperty.atom == atoms_.wmState)
        about = event.xproperty.window;
    else
        return;
    if (std::any_of(watched_.begin(), watched_.end(),
                    [about](const Watched& w) { return w.window == about; }))
        place();
}

}  // namespace VSTGUI::platform::x11
