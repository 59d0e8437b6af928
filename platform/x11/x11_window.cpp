#include "platform/x11/x11_window.h"

#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include "common/idle_path.h"
#include "platform/cairo/cairo_device.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_errors.h"
#include "vstgui/ccolor.h"

namespace VSTGUI::platform {

std::unique_ptr<NativeWindow> createChildWindow(void* parent, int32_t width, int32_t height,
                                                WindowEvents& events) {
    return x11::X11Window::create(static_cast<Window>(reinterpret_cast<uintptr_t>(parent)), width,
                                  height, events);
}

namespace x11 {
namespace {

// Editors of several hosts' threads (or one host's several user-interface
// threads) open and close windows at the same time.
std::atomic<int> liveWindows{0};

// The visual stores pixels as cairo's RGB24 does and the server keeps 24-bit
// pixels in 32 bits: an XImage can then point at cairo's memory.
bool canWrapPixels(Display* display, Visual* visual, int depth) {
    if (depth != 24 || visual->c_class != TrueColor) return false;
    if (visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff)
        return false;
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    bool found = false;
    for (int i = 0; i < count; ++i)
        if (formats[i].depth == 24 && formats[i].bits_per_pixel == 32) found = true;
    if (formats) XFree(formats);
    return found;
}

Window parentOf(Display* display, Window window) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
    if (children) XFree(children);
    return parent;
}

}  // namespace

std::unique_ptr<X11Window> X11Window::create(Window parent, int32_t width, int32_t height,
                                             WindowEvents& events) {
    if (!parent) return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    adoptErrors(display);
    auto connection = std::make_shared<Connection>();
    connection->display = display;
    connection->width = std::max(width, 1);
    connection->height = std::max(height, 1);

    // A parent with a 32-bit visual would make a child that inherits its
    // colormap and border pixmap fail with BadMatch: give ours explicitly.
    const int screen = DefaultScreen(display);
    connection->visual = DefaultVisual(display, screen);
    connection->depth = DefaultDepth(display, screen);
    XSetWindowAttributes attributes{};
    attributes.colormap = DefaultColormap(display, screen);
    attributes.border_pixel = BlackPixel(display, screen);
    attributes.background_pixmap = None;  // no flash of a background before our paint
    attributes.event_mask = ExposureMask | ButtonPressMask | StructureNotifyMask;
    connection->window = XCreateWindow(
        display, parent, 0, 0, static_cast<unsigned>(connection->width),
        static_cast<unsigned>(connection->height), 0, connection->depth, InputOutput,
        connection->visual, CWColormap | CWBorderPixel | CWBackPixmap | CWEventMask, &attributes);
    XSync(display, False);
    if (takeLastError(display) != 0) {
        // Most likely the parent id does not name a window (any more).
        connection->destroyed = true;
        return nullptr;
    }
    XGCValues values{};
    values.graphics_exposures = False;
    values.foreground = BlackPixel(display, screen);  // beyond the panel (addExpose)
    connection->gc =
        XCreateGC(display, connection->window, GCGraphicsExposures | GCForeground, &values);
    connection->wrapPixels = canWrapPixels(display, connection->visual, connection->depth);
    connection->remakeMirror();
    XMapWindow(display, connection->window);
    XFlush(display);
    return std::unique_ptr<X11Window>(new X11Window(std::move(connection), events));
}

X11Window::X11Window(std::shared_ptr<Connection> connection, WindowEvents& events)
    : connection_(std::move(connection)), events_(events), alive_(std::make_shared<bool>(true)) {
    ++liveWindows;
}

X11Window::~X11Window() {
    *alive_ = false;
    paintDevice_.reset();
    Display* display = connection_->display;
    if (!connection_->destroyed) XUndefineCursor(display, connection_->window);
    for (Cursor& c : cursors_)
        if (c) XFreeCursor(display, c);
    // The connection closes when the last device drawing onto it is gone
    // (normally right now); that destroys the window too.
    connection_.reset();
    --liveWindows;
}

int X11Window::liveCount() {
    return liveWindows.load();
}

Display* X11Window::display() const {
    return connection_->display;
}
Window X11Window::window() const {
    return connection_->window;
}
bool X11Window::destroyed() const {
    return connection_->destroyed;
}
int32_t X11Window::width() const {
    return connection_->width;
}
int32_t X11Window::height() const {
    return connection_->height;
}

int X11Window::addEventHook(EventHook hook) {
    hooks_.push_back({nextHookId_, std::move(hook)});
    return nextHookId_++;
}

void X11Window::removeEventHook(int id) {
    // Only blank it: the hook may be running right now (removing itself).
    for (Hook& h : hooks_)
        if (h.id == id) h.hook = nullptr;
    for (auto& h : idleHooks_)
        if (h.first == id) h.second = nullptr;
}

int X11Window::addIdleHook(std::function<void()> hook) {
    idleHooks_.emplace_back(nextHookId_, std::move(hook));
    return nextHookId_++;
}

void* X11Window::handle() const {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(connection_->window));
}

std::unique_ptr<DrawDevice> X11Window::createDevice() {
    return createWindowDevice(connection_);
}

CPoint X11Window::screenOrigin() {
    if (connection_->destroyed) return {};
    Display* display = connection_->display;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, connection_->window, DefaultRootWindow(display), 0, 0, &x, &y,
                          &child);
    return {x, y};
}

CPoint X11Window::pointerPosition() {
    Display* display = connection_->display;
    if (!connectionUsable(display, false)) return {};
    // Once our window is gone, the root window still answers.
    const Window w = connection_->destroyed ? DefaultRootWindow(display) : connection_->window;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned mask = 0;
    XQueryPointer(display, w, &root, &child, &rootX, &rootY, &x, &y, &mask);
    return {rootX, rootY};
}

namespace {

// The server already applies the pointer mapping (left-handed users'
// swapped buttons): Button1Mask is the logical first button.
int32_t toolkitButtons(unsigned mask) {
    int32_t buttons = 0;
    if (mask & Button1Mask) buttons |= kMouseLeft;
    if (mask & Button2Mask) buttons |= kMouseMiddle;
    if (mask & Button3Mask) buttons |= kMouseRight;
    if (mask & ShiftMask) buttons |= kModShift;
    if (mask & ControlMask) buttons |= kModControl;
    if (mask & Mod1Mask) buttons |= kModAlt;
    return buttons;
}

}  // namespace

int32_t X11Window::mouseButtons() {
    Display* display = connection_->display;
    // A dead connection keeps every request in Xlib's buffer (a modal loop
    // would fill it in a second): no button is down there.
    if (!connectionUsable(display, false)) return 0;
    const Window w = connection_->destroyed ? DefaultRootWindow(display) : connection_->window;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned mask = 0;
    // False only when the pointer is on another screen; the mask holds.
    XQueryPointer(display, w, &root, &child, &rootX, &rootY, &x, &y, &mask);
    return toolkitButtons(mask);
}

void X11Window::setCursor(CursorShape shape) {
    if (connection_->destroyed) return;
    Display* display = connection_->display;
    const auto index = static_cast<int32_t>(shape);
    if (shape == CursorShape::arrow || index < 0 || index >= 9) {
        // No cursor of our own: the window shows its parent's, which is the
        // one that was current before we changed it.
        XUndefineCursor(display, connection_->window);
        XFlush(display);
        return;
    }
    static constexpr unsigned kShapes[9] = {
        XC_left_ptr,
        XC_watch,
        XC_sb_h_double_arrow,
        XC_sb_v_double_arrow,
        XC_fleur,
        XC_bottom_left_corner,
        XC_bottom_right_corner,
        XC_circle,
        XC_hand2,
    };
    if (!cursors_[index]) cursors_[index] = XCreateFontCursor(display, kShapes[index]);
    XDefineCursor(display, connection_->window, cursors_[index]);
    XFlush(display);
}

void X11Window::resize(int32_t width, int32_t height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (width == connection_->width && height == connection_->height) return;
    connection_->width = width;
    connection_->height = height;
    connection_->remakeMirror();
    paintDevice_.reset();
    if (connection_->destroyed) return;
    XResizeWindow(connection_->display, connection_->window, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    XFlush(connection_->display);
}

bool X11Window::resizeWithAncestors(int32_t width, int32_t height) {
    // X11 hosts size their own windows around an embedded child (and a
    // reparenting window manager adds the decoration itself), so there is
    // no chain of decorations to walk: only our window changes.
    resize(width, height);
    return true;
}

bool X11Window::hostWindowPosition(CPoint& position) {
    if (connection_->destroyed) return false;
    Display* display = connection_->display;
    const Window root = DefaultRootWindow(display);
    // The host's top window is our ancestor right below the root: the
    // window manager's frame around the host window, or the host window
    // itself without a window manager. Its position in the root is where
    // the host window (with its decoration) lies on the screen.
    Window current = connection_->window;
    for (int depth = 0; depth < 64; ++depth) {
        const Window parent = parentOf(display, current);
        if (!parent) return false;
        if (parent == root) break;
        current = parent;
    }
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, current, &attributes)) return false;
    position = {attributes.x, attributes.y};
    return true;
}

bool X11Window::parentWindowRect(CRect& rect) {
    if (connection_->destroyed) return false;
    Display* display = connection_->display;
    const Window parent = parentOf(display, connection_->window);
    if (!parent) return false;
    Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!XGetGeometry(display, parent, &root, &x, &y, &w, &h, &border, &depth)) return false;
    rect = CRect(x, y, x + static_cast<int32_t>(w), y + static_cast<int32_t>(h));
    return true;
}

CRect X11Window::changedPart(DrawDevice& source, const CRect& area) {
    auto* surface = dynamic_cast<cairo::SurfaceSource*>(&source);
    return surface ? connection_->unshownPart(surface->cairoSurface(), area) : area;
}

KV_IDLE_PATH void X11Window::processEvents() {
    Display* display = connection_->display;
    // Inside a mouse handler (a control following the pointer, whose loop
    // pumps idle) only paints and the window's destruction are handled;
    // further presses wait in the queue until the handler returned.
    if (mouseDownDepth_ > 0) {
        XEvent event;
        while (!connection_->destroyed &&
               XCheckTypedWindowEvent(display, connection_->window, DestroyNotify, &event))
            dispatch(event);
        while (!connection_->destroyed &&
               XCheckTypedWindowEvent(display, connection_->window, Expose, &event))
            dispatch(event);
        return;
    }
    if (!idleHooks_.empty()) {
        const std::weak_ptr<bool> alive = alive_;
        for (size_t i = 0; i < idleHooks_.size(); ++i) {
            auto hook = idleHooks_[i].second;  // a copy: the hook may remove itself
            if (hook) hook();
            const auto still = alive.lock();
            if (!still || !*still) return;
        }
        std::erase_if(idleHooks_, [](const auto& h) { return !h.second; });
    }
    if (!eventsMayWait(display)) return;
    // Something came, or the server ended the connection (xkill, a server
    // that went away): Xlib would then call the process's I/O error
    // handler, which ends the host. The editor goes dark instead.
    if (!connectionUsable(display, true)) {
        if (!connection_->destroyed) markDestroyed();
        return;
    }
    const std::weak_ptr<bool> alive = alive_;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        dispatch(event);
        const auto still = alive.lock();
        if (!still || !*still) return;
    }
    drainedAt_ = NextRequest(display);
    drained_ = true;
}

KV_IDLE_PATH bool X11Window::eventsMayWait(Display* display) const {
    // XPending reads the socket (twice) even when nothing came. Events can
    // wait in three places: Xlib's queue, the socket, and the queue of the
    // library under Xlib, which fills only while a reply is awaited. No
    // request since the last full read means no reply was awaited, so an
    // empty Xlib queue and a socket with nothing to read mean no event.
    // Xlib's macros read the display's fields where its functions would be
    // a call into a page of the library that is cold by the next idle.
    if (!drained_ || NextRequest(display) != drainedAt_ || QLength(display) > 0) return true;
    // The socket is asked right here, with one non-blocking poll: what
    // reached it is seen by this very idle, and a thread waiting on it in
    // the host's process would save the idle little more than this call.
    // Readable, closed or failing: processEvents finds out which before
    // Xlib reads.
    pollfd socket{ConnectionNumber(display), POLLIN, 0};
    return poll(&socket, 1, 0) != 0;
}

void X11Window::processOnePaint() {
    if (connection_->destroyed) return;
    Display* display = connection_->display;
    XEvent event;
    while (XCheckTypedWindowEvent(display, connection_->window, Expose, &event)) {
        addExpose(event.xexpose);
        if (event.xexpose.count == 0) {
            deliverPaint();
            return;
        }
    }
}

void X11Window::dispatch(XEvent& event) {
    for (size_t i = 0; i < hooks_.size(); ++i) {
        EventHook hook = hooks_[i].hook;  // a copy: the hook may remove itself
        if (hook && hook(event)) return;
    }
    std::erase_if(hooks_, [](const Hook& h) { return !h.hook; });
    if (connection_->destroyed) return;
    switch (event.type) {
        case Expose:
            if (event.xexpose.window != connection_->window) return;
            addExpose(event.xexpose);
            if (event.xexpose.count == 0) deliverPaint();
            return;
        case ButtonPress:
            if (event.xbutton.window == connection_->window) buttonPress(event.xbutton);
            return;
        case DestroyNotify:
            if (event.xdestroywindow.window == connection_->window) markDestroyed();
            return;
        default:
            return;
    }
}

void X11Window::addExpose(const XExposeEvent& expose) {
    const CRect r(expose.x, expose.y, expose.x + expose.width, expose.y + expose.height);
    // A host may make the window larger than the panel (Ardour's LV2 UIs
    // get the width of its toolbar, Qtractor at 200 % twice the size). With
    // no background, what lay there before would stay on the screen: the
    // part beyond the panel is painted black instead.
    const int32_t w = connection_->width, h = connection_->height;
    Display* display = connection_->display;
    if (r.right > w)
        XFillRectangle(display, connection_->window, connection_->gc, std::max(r.left, w), r.top,
                       static_cast<unsigned>(r.right - std::max(r.left, w)),
                       static_cast<unsigned>(r.height()));
    if (r.bottom > h && r.left < w)
        XFillRectangle(display, connection_->window, connection_->gc, r.left, std::max(r.top, h),
                       static_cast<unsigned>(std::min(r.right, w) - r.left),
                       static_cast<unsigned>(r.bottom - std::max(r.top, h)));
    if (!paintPending_) {
        pendingPaint_ = r;
        paintPending_ = true;
        return;
    }
    pendingPaint_.left = std::min(pendingPaint_.left, r.left);
    pendingPaint_.top = std::min(pendingPaint_.top, r.top);
    pendingPaint_.right = std::max(pendingPaint_.right, r.right);
    pendingPaint_.bottom = std::max(pendingPaint_.bottom, r.bottom);
}

void X11Window::deliverPaint() {
    const CRect area = pendingPaint_.bounded(CRect(0, 0, connection_->width, connection_->height));
    paintPending_ = false;
    pendingPaint_ = CRect();
    if (area.isEmpty() || connection_->destroyed) return;
    if (!paintDevice_) paintDevice_ = createDevice();
    events_.windowPaint(*paintDevice_, area);
}

void X11Window::buttonPress(const XButtonEvent& button) {
    const CPoint where(button.x, button.y);
    switch (button.button) {
        case Button1:
        case Button2:
        case Button3: {
            // The event's state holds the modifiers and the buttons that
            // were down before this one.
            static constexpr unsigned kMasks[4] = {0, Button1Mask, Button2Mask, Button3Mask};
            ++mouseDownDepth_;
            const std::weak_ptr<bool> alive = alive_;
            events_.windowMouseDown(where, toolkitButtons(button.state | kMasks[button.button]));
            const auto still = alive.lock();
            if (!still || !*still) return;
            --mouseDownDepth_;
            return;
        }
        case Button4:
            events_.windowWheel(where, 1, 1.0f);
            return;
        case Button5:
            events_.windowWheel(where, 1, -1.0f);
            return;
        default:
            // Buttons 6 and 7 are sideways scrolling (touchpad swipes): the
            // panel takes only the vertical wheel, as on Windows, so a swipe
            // never turns a knob.
            return;
    }
}

void X11Window::markDestroyed() {
    // The host destroyed its window, and ours with it: from now on no
    // request may name our window (the id may even be reused).
    connection_->destroyed = true;
    paintDevice_.reset();
    events_.windowDestroyed();
}

X11Window* asX11Window(NativeWindow* window) {
    return dynamic_cast<X11Window*>(window);
}

}  // namespace x11
}  // namespace VSTGUI::platform
