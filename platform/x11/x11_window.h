// The frame's native window on X11: a child window of the host's window on a
// Display connection of its own.
//
// Why a connection of our own: hosts hand us their Display* (or nothing) and
// drive it from their own thread and event loop; with our own connection the
// editor reads exactly its own events, when the host calls the editor's idle,
// and closing the connection frees every server resource we made even when
// the host destroyed its window first.
//
// Events are read only inside processEvents / processOnePaint, on the thread
// that created the window, and the window starts no thread: the host's idle
// is the only clock it runs on. Other parts of the back end that make windows
// on the same connection (the text field, the drop target) see every event
// first through an event hook.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// <X11/X.h> defines CursorShape (a QueryBestSize class) as a macro, which
// would break the toolkit's enum of that name; nothing here needs the macro.
#ifdef CursorShape
#undef CursorShape
#endif
#include "vstgui/platform/native_window.h"

#include <X11/Xlib.h>
#undef CursorShape

namespace VSTGUI::platform::x11 {

// State shared by the window and the devices that draw onto it, so that a
// device that outlives the window object never touches a closed connection.
struct Connection;

class X11Window final : public NativeWindow {
  public:
    // Called for every event read from the connection before the window
    // handles it; answers true when it consumed the event.
    using EventHook = std::function<bool(XEvent&)>;

    ~X11Window() override;

    Display* display() const;
    // Our window; still the id after the window was destroyed from outside,
    // check destroyed() before using it.
    Window window() const;
    bool destroyed() const;
    int32_t width() const;
    int32_t height() const;

    int addEventHook(EventHook hook);
    void removeEventHook(int id);
    // Called at the start of every processEvents outside a mouse handler,
    // for work that waits on the clock rather than on an event (the drop
    // target's bounded wait for a drag source). Same ids as event hooks.
    int addIdleHook(std::function<void()> hook);

    void* handle() const override;
    std::unique_ptr<DrawDevice> createDevice() override;
    CPoint screenOrigin() override;
    CPoint pointerPosition() override;
    int32_t mouseButtons() override;
    void setCursor(CursorShape shape) override;
    void resize(int32_t width, int32_t height) override;
    bool resizeWithAncestors(int32_t width, int32_t height) override;
    bool hostWindowPosition(CPoint& position) override;
    bool parentWindowRect(CRect& rect) override;
    CRect changedPart(DrawDevice& source, const CRect& area) override;
    void processEvents() override;
    void processOnePaint() override;

    // Number of windows of this kind alive in the process (tests).
    static int liveCount();

    // A mapped child of `parent` at (0, 0), or null when the display cannot
    // be opened or the parent does not exist.
    static std::unique_ptr<X11Window> create(Window parent, int32_t width, int32_t height,
                                             WindowEvents& events);

  private:
    X11Window(std::shared_ptr<Connection> connection, WindowEvents& events);

    void dispatch(XEvent& event);
    void addExpose(const XExposeEvent& expose);
    void deliverPaint();
    void buttonPress(const XButtonEvent& button);
    void markDestroyed();

    struct Hook {
        int id;
        EventHook hook;
    };

    std::shared_ptr<Connection> connection_;
    WindowEvents& events_;
    std::vector<Hook> hooks_;
    std::vector<std::pair<int, std::function<void()>>> idleHooks_;
    int nextHookId_ = 1;
    CRect pendingPaint_;
    bool paintPending_ = false;
    int mouseDownDepth_ = 0;
    bool eventsMayWait(Display* display) const;
    Cursor cursors_[9] = {};
    std::unique_ptr<DrawDevice> paintDevice_;
    // The connection's next request number when processEvents last read
    // every event there was; see eventsMayWait.
    unsigned long drainedAt_ = 0;
    bool drained_ = false;
    // Cleared by the destructor; event delivery checks it after each
    // callback, which may end in the owner destroying this object.
    std::shared_ptr<bool> alive_;
};

// The X11 window behind a frame's native window, or null for another kind.
X11Window* asX11Window(NativeWindow* window);

}  // namespace VSTGUI::platform::x11
