// The text entry of a text edit control on X11: a small override-redirect
// top-level window laid over the control, on the owner window's connection.
//
// Why a top-level window: the field must take the keyboard focus, which a
// plug-in's child window cannot rely on inside a host; an override-redirect
// window is placed exactly where we say, without a window manager's frame.
// Its events arrive through the owner's event hook, so they are handled when
// the editor's idle processes events, on the user-interface thread.
//
// The field is placed once, in screen coordinates. When the host's window
// moves or is unmapped while the user types, the field would float where the
// control was: the field watches the windows above the control and ends the
// edit (as a loss of focus does) when the control moves on the screen or one
// of them goes away.
//
// The field draws into a cairo image and puts it on its window with
// XPutImage, as the panel does: cairo's xlib surfaces keep their display's
// state alive past XCloseDisplay, and an editor opens a connection (and may
// open a field) every time the host shows it.
//
// Reports to the owner (Return, focus lost) are the last thing a handler
// does: the owner usually destroys the field from inside the report.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo-xlib.h>
#include <cairo.h>
#undef CursorShape

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/cairo/cairo_text.h"
#include "platform/x11/x11_text_scroll.h"
#include "platform/x11/x11_window.h"
#include "vstgui/line_edit.h"
#include "vstgui/platform/text_field.h"

namespace VSTGUI::platform {

namespace {

double channel(uint8_t c) {
    return c / 255.0;
}

// An XImage over cairo's RGB24 pixels shows them as they are when the visual
// keeps 24-bit pixels in 32 bits with red, green and blue where cairo has
// them; null otherwise.
XImage* wrapPixels(Display* display, int screen, cairo_surface_t* surface) {
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);
    if (depth != 24 || visual->c_class != TrueColor || visual->red_mask != 0xff0000 ||
        visual->green_mask != 0xff00 || visual->blue_mask != 0xff)
        return nullptr;
    int count = 0;
    bool thirtyTwo = false;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    for (int i = 0; i < count; ++i)
        thirtyTwo = thirtyTwo || (formats[i].depth == 24 && formats[i].bits_per_pixel == 32);
    if (formats) XFree(formats);
    if (!thirtyTwo) return nullptr;
    cairo_surface_flush(surface);
    XImage* image = XCreateImage(display, visual, 24, ZPixmap, 0,
                                 reinterpret_cast<char*>(cairo_image_surface_get_data(surface)),
                                 static_cast<unsigned>(cairo_image_surface_get_width(surface)),
                                 static_cast<unsigned>(cairo_image_surface_get_height(surface)), 32,
                                 cairo_image_surface_get_stride(surface));
    if (image) {
        // cairo keeps each pixel as a native 32-bit word.
        const uint32_t probe = 1;
        image->byte_order = *reinterpret_cast<const uint8_t*>(&probe) == 1 ? LSBFirst : MSBFirst;
    }
    return image;
}

void freeImage(XImage* image) {
    if (!image) return;
    image->data = nullptr;  // the pixels belong to cairo
    XDestroyImage(image);
}

class X11TextField final : public TextField {
  public:
    X11TextField(x11::X11Window& owner, const TextFieldSetup& setup, TextFieldEvents& events);
    ~X11TextField() override;

    bool valid() const { return window_ != 0; }
    std::string text() const override { return line_.text(); }

  private:
    bool handle(XEvent& event);
    bool handleAncestor(const XEvent& event);
    void watchAncestors();
    void unwatchAncestors();
    CPoint ownerOrigin() const;
    void keyPress(XKeyEvent& key);
    void takeFocusNow();
    void redraw();

    x11::X11Window& owner_;
    TextFieldEvents& events_;
    Display* display_;
    Window window_ = 0;
    Window previousFocus_ = None;
    int previousRevert_ = RevertToParent;
    XIM im_ = nullptr;
    XIC ic_ = nullptr;
    cairo_surface_t* surface_ = nullptr;  // the field's pixels
    XImage* image_ = nullptr;             // over surface_'s pixels; null: convert with cairo
    GC gc_ = nullptr;
    int hookId_ = 0;
    // Lives inside the hook that the owner window holds: it expires when the
    // window is destroyed (with its connection) before the field is.
    std::weak_ptr<int> ownerAlive_;

    // The windows from the owner's parent up to the one below the root, with
    // the event masks our connection had on them before we watched them.
    struct Watched {
        Window window;
        long mask;
    };
    std::vector<Watched> ancestors_;
    CPoint ownerOrigin_;

    CRect rect_;
    FontDesc font_;
    TextAlign align_;
    CColor fontColor_;
    CColor backColor_;
    LineEdit line_;  // the text, caret and selection

    bool sawFocusIn_ = false;
    bool focusRequested_ = false;
};

X11TextField::X11TextField(x11::X11Window& owner, const TextFieldSetup& setup,
                           TextFieldEvents& events)
    : owner_(owner),
      events_(events),
      display_(owner.display()),
      rect_(setup.screenRect),
      font_(setup.font),
      align_(setup.align),
      fontColor_(setup.fontColor),
      backColor_(setup.backColor),
      line_(setup.text ? setup.text : "", static_cast<size_t>(std::max(0, setup.maxCharacters))) {
    if (!display_ || owner.destroyed()) return;

    const int screen = DefaultScreen(display_);
    const Window root = RootWindow(display_, screen);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display_, screen);
    attributes.border_pixel = 0;
    attributes.colormap = DefaultColormap(display_, screen);
    attributes.event_mask =
        ExposureMask | KeyPressMask | FocusChangeMask | StructureNotifyMask | ButtonPressMask;
    const int w = std::max(1, rect_.width());
    const int h = std::max(1, rect_.height());
    window_ = XCreateWindow(
        display_, root, rect_.left, rect_.top, w, h, 0, DefaultDepth(display_, screen), InputOutput,
        DefaultVisual(display_, screen),
        CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attributes);
    if (!window_) return;
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    if (cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS)
        image_ = wrapPixels(display_, screen, surface_);
    gc_ = XCreateGC(display_, window_, 0, nullptr);

    // Plain key input without an input-method server. The locale modifiers
    // are a process-wide Xlib setting that belongs to the host: keep its
    // own and put them back once our input method is open.
    const char* current = XSetLocaleModifiers(nullptr);
    std::string previousModifiers = current ? current : "";
    // Xlib answers the modifiers with the user's XMODIFIERS appended, and
    // appends them again when they are set: pass back only the program's.
    if (const char* user = std::getenv("XMODIFIERS")) {
        const std::string suffix = user;
        if (!suffix.empty() && previousModifiers.size() >= suffix.size() &&
            previousModifiers.compare(previousModifiers.size() - suffix.size(), suffix.size(),
                                      suffix) == 0)
            previousModifiers.resize(previousModifiers.size() - suffix.size());
    }
    XSetLocaleModifiers("@im=none");
    im_ = XOpenIM(display_, nullptr, nullptr, nullptr);
    XSetLocaleModifiers(previousModifiers.c_str());
    if (im_) {
        ic_ = XCreateIC(im_, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow,
                        window_, XNFocusWindow, window_, nullptr);
    }

    XGetInputFocus(display_, &previousFocus_, &previousRevert_);
    auto token = std::make_shared<int>(0);
    ownerAlive_ = token;
    hookId_ =
        owner_.addEventHook([this, token = std::move(token)](XEvent& e) { return handle(e); });

    watchAncestors();
    XMapRaised(display_, window_);
    // An override-redirect window is mapped as soon as the server has the
    // request: collect its MapNotify now so that the focus moves to the field
    // before the user types, instead of at the next idle.
    XSync(display_, False);
    XEvent mapped;
    if (XCheckTypedWindowEvent(display_, window_, MapNotify, &mapped)) takeFocusNow();
    redraw();
}

X11TextField::~X11TextField() {
    if (ownerAlive_.expired()) {
        // The owner window and its connection went first (an editor closed
        // while the user was typing): closing the connection destroyed our
        // window too, and nothing may touch the display any more.
        freeImage(image_);
        if (surface_) cairo_surface_destroy(surface_);
        return;
    }
    owner_.removeEventHook(hookId_);
    unwatchAncestors();
    if (ic_) XDestroyIC(ic_);
    if (im_) XCloseIM(im_);
    freeImage(image_);
    if (surface_) cairo_surface_destroy(surface_);
    if (gc_) XFreeGC(display_, gc_);
    if (window_ && display_) {
        // Give the keyboard back to the window that had it (errors, such as
        // a window that is gone meanwhile, are swallowed on our connection).
        if (focusRequested_) XSetInputFocus(display_, previousFocus_, previousRevert_, CurrentTime);
        XDestroyWindow(display_, window_);
        XFlush(display_);
    }
}

void X11TextField::takeFocusNow() {
    focusRequested_ = true;
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    if (ic_) XSetICFocus(ic_);
    XFlush(display_);
}

CPoint X11TextField::ownerOrigin() const {
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, owner_.window(), DefaultRootWindow(display_), 0, 0, &x, &y,
                          &child);
    return {x, y};
}

void X11TextField::watchAncestors() {
    if (owner_.destroyed()) return;
    const Window root = DefaultRootWindow(display_);
    Window current = owner_.window();
    for (int depth = 0; depth < 64; ++depth) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, current, &rootReturn, &parent, &children, &count)) break;
        if (children) XFree(children);
        if (!parent || parent == root) break;
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display_, parent, &attributes)) break;
        // The mask is per client: this changes nothing for the host's own
        // connection.
        ancestors_.push_back({parent, attributes.your_event_mask});
        XSelectInput(display_, parent, attributes.your_event_mask | StructureNotifyMask);
        current = parent;
    }
    ownerOrigin_ = ownerOrigin();
}

void X11TextField::unwatchAncestors() {
    // Windows that are gone meanwhile raise errors our connection swallows.
    for (const Watched& w : ancestors_)
        XSelectInput(display_, w.window, w.mask);
    ancestors_.clear();
}

// Structure events of the windows above the control: the edit ends when the
// control moved on the screen or the host's window went out of view. Never
// consumed: other parts of the back end may watch the same windows.
bool X11TextField::handleAncestor(const XEvent& event) {
    Window about = 0;
    switch (event.type) {
        case ConfigureNotify:
            about = event.xconfigure.event;
            break;
        case UnmapNotify:
            about = event.xunmap.event;
            break;
        case DestroyNotify:
            about = event.xdestroywindow.event;
            break;
        case ReparentNotify:
            about = event.xreparent.event;
            break;
        default:
            return false;
    }
    const bool ours = std::any_of(ancestors_.begin(), ancestors_.end(),
                                  [about](const Watched& w) { return w.window == about; });
    if (!ours) return false;
    // Restacked, or resized around a control that stayed put: go on typing.
    if (event.type == ConfigureNotify && !owner_.destroyed() && ownerOrigin() == ownerOrigin_)
        return false;
    events_.textFieldFocusLost();  // may destroy this object
    return false;
}

bool X11TextField::handle(XEvent& event) {
    if (event.xany.window != window_) return handleAncestor(event);
    switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) redraw();
            return true;
        case MapNotify:
            if (!focusRequested_) takeFocusNow();
            return true;
        case FocusIn:
            if (event.xfocus.mode == NotifyNormal || event.xfocus.mode == NotifyWhileGrabbed)
                sawFocusIn_ = true;
            return true;
        case FocusOut:
            // Grabs (a menu, a window manager's key binding) and focus moving
            // within our window are not the user leaving the field.
            if (event.xfocus.mode == NotifyGrab || event.xfocus.mode == NotifyUngrab) return true;
            if (event.xfocus.detail == NotifyInferior) return true;
            if (!sawFocusIn_) return true;
            sawFocusIn_ = false;
            events_.textFieldFocusLost();  // may destroy this object
            return true;
        case KeyPress:
            keyPress(event.xkey);  // may destroy this object
            return true;
        case ButtonPress:
            // A click inside the field: take the focus if it went elsewhere.
            if (!sawFocusIn_) takeFocusNow();
            return true;
        default:
            return true;
    }
}

void X11TextField::keyPress(XKeyEvent& key) {
    char buffer[64] = {};
    KeySym keysym = NoSymbol;
    int length = 0;
    if (ic_) {
        Status status = 0;
        length = Xutf8LookupString(ic_, &key, buffer, sizeof(buffer) - 1, &keysym, &status);
        if (status == XBufferOverflow) length = 0;
        if (status == XLookupNone) length = 0;
        if (status == XLookupChars) keysym = NoSymbol;
    } else {
        length = XLookupString(&key, buffer, sizeof(buffer) - 1, &keysym, nullptr);
    }
    length = std::max(0, length);
    buffer[length] = 0;

    // The keys translate into the line's editing operations; every key but
    // an unknown one or unprintable text redraws the field.
    const bool shift = (key.state & ShiftMask) != 0;
    const bool control = (key.state & ControlMask) != 0;
    bool changed = true;
    switch (keysym) {
        case XK_Return:
        case XK_KP_Enter:
            events_.textFieldReturn();  // may destroy this object
            return;
        case XK_BackSpace:
            line_.backspace();
            break;
        case XK_Delete:
        case XK_KP_Delete:
            line_.deleteForward();
            break;
        case XK_Left:
        case XK_KP_Left:
            line_.left(shift);
            break;
        case XK_Right:
        case XK_KP_Right:
            line_.right(shift);
            break;
        case XK_Home:
        case XK_KP_Home:
            line_.home(shift);
            break;
        case XK_End:
        case XK_KP_End:
            line_.end(shift);
            break;
        default:
            if (control) {
                if (keysym == XK_a || keysym == XK_A)
                    line_.selectAll();
                else
                    changed = false;
                break;
            }
            changed = line_.type(std::string(buffer, static_cast<size_t>(length)));
            break;
    }
    if (changed) redraw();
}

void X11TextField::redraw() {
    if (!surface_) return;
    const int w = std::max(1, rect_.width());
    const int h = std::max(1, rect_.height());
    cairo_t* cr = cairo_create(surface_);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgb(cr, channel(backColor_.red), channel(backColor_.green),
                         channel(backColor_.blue));
    cairo_paint(cr);

    cairo::selectFont(cr, font_);
    const std::string& content = line_.text();
    const CRect box(0, 0, w, h);
    const cairo::TextLayout layout = cairo::layoutText(cr, content, box, align_);
    auto advance = [&](size_t bytes) {
        if (bytes == 0) return 0.0;
        cairo_text_extents_t e{};
        cairo_text_extents(cr, content.substr(0, bytes).c_str(), &e);
        return e.x_advance;
    };

    // Scroll horizontally so that the caret stays visible in a long text.
    const double caretX = advance(line_.caret());
    const double x0 = x11::fieldTextStart(layout.x, caretX, w, line_.allSelected());

    if (line_.hasSelection()) {
        const double a = x0 + advance(line_.selectionStart());
        const double b = x0 + advance(line_.selectionEnd());
        cairo_set_source_rgb(cr, channel(fontColor_.red), channel(fontColor_.green),
                             channel(fontColor_.blue));
        cairo_rectangle(cr, a, layout.top, b - a, layout.height);
        cairo_fill(cr);
    }

    cairo_set_source_rgb(cr, channel(fontColor_.red), channel(fontColor_.green),
                         channel(fontColor_.blue));
    cairo_move_to(cr, x0, layout.baseline);
    cairo_show_text(cr, content.c_str());

    if (line_.hasSelection()) {
        // Selected characters in the back colour over the highlight.
        const double a = x0 + advance(line_.selectionStart());
        const double b = x0 + advance(line_.selectionEnd());
        cairo_save(cr);
        cairo_rectangle(cr, a, layout.top, b - a, layout.height);
        cairo_clip(cr);
        cairo_set_source_rgb(cr, channel(backColor_.red), channel(backColor_.green),
                             channel(backColor_.blue));
        cairo_move_to(cr, x0, layout.baseline);
        cairo_show_text(cr, content.c_str());
        cairo_restore(cr);
    } else {
        // The caret: a one-pixel bar in the text colour.
        const double cx = std::clamp(std::floor(x0 + caretX), 0.0, static_cast<double>(w - 1));
        cairo_set_source_rgb(cr, channel(fontColor_.red), channel(fontColor_.green),
                             channel(fontColor_.blue));
        cairo_rectangle(cr, cx, layout.top, 1, layout.height);
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface_);
    if (image_) {
        XPutImage(display_, window_, gc_, image_, 0, 0, 0, 0, static_cast<unsigned>(w),
                  static_cast<unsigned>(h));
    } else {
        // A visual that stores pixels differently: cairo converts.
        cairo_surface_t* target = cairo_xlib_surface_create(
            display_, window_, DefaultVisual(display_, DefaultScreen(display_)), w, h);
        cairo_t* copy = cairo_create(target);
        cairo_set_source_surface(copy, surface_, 0, 0);
        cairo_paint(copy);
        cairo_destroy(copy);
        cairo_surface_destroy(target);
    }
    XFlush(display_);
}

}  // namespace

std::unique_ptr<TextField> createTextField(NativeWindow& owner, const TextFieldSetup& setup,
                                           TextFieldEvents& events) {
    x11::X11Window* window = x11::asX11Window(&owner);
    if (!window || window->destroyed()) return nullptr;
    auto field = std::make_unique<X11TextField>(*window, setup, events);
    if (!field->valid()) return nullptr;
    return field;
}

}  // namespace VSTGUI::platform
