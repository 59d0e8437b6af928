// The native window of a frame: a child window of the host's window that
// delivers paint, button and wheel events to its owner and answers the
// questions the toolkit asks about the pointer, the cursor and the window
// chain. Keys do not come from here: the host hands them to the editor.
//
// Every back end keeps these rules:
// - Everything runs on the thread that created the window; a window never
//   starts a thread of its own (it lives in the host's process, whose idle
//   is its clock). Events are delivered only from inside processEvents /
//   processOnePaint or from the system's own dispatch of the window's
//   messages on that thread.
// - An event carries what the user did at the moment it happened. Events
//   may be delivered long after (a host pumps them from its idle), when the
//   live state asked through the window already differs: a short click is
//   over by then.
// - Any callback may end in the owner destroying the window; after the
//   callback returns, the back end touches nothing of the destroyed object.
#pragma once

#include <cstdint>
#include <memory>

#include "vstgui/geometry.h"
#include "vstgui/platform/draw_device.h"

namespace VSTGUI::platform {

// What the window tells its owner.
class WindowEvents {
  public:
    virtual ~WindowEvents() = default;
    // The window system asks for `area` (window pixels) to be repainted;
    // device draws onto the window. The owner composes and copies.
    virtual void windowPaint(DrawDevice& device, const CRect& area) = 0;
    // Button 1, 2 or 3 went down at `where` (window pixels). `buttons` is
    // the state of that press as the toolkit's mask (kMouseLeft ... kModAlt,
    // swapped buttons applied): the button that went down, the buttons
    // already down and the modifier keys.
    virtual void windowMouseDown(CPoint where, int32_t buttons) = 0;
    // One wheel event: axis 1 vertical, 0 horizontal; +1.0 per notch away
    // from the user (up) or to the right. The system back ends deliver the
    // vertical wheel only: a sideways swipe on a touchpad turns no knob.
    virtual void windowWheel(CPoint where, int32_t axis, float distance) = 0;
    // The window was destroyed by somebody else (the host closed its own
    // window before closing the editor). No drawing may follow.
    virtual void windowDestroyed() = 0;
    // The desktop's scale factor for the window changed (the host's window
    // moved to a monitor of another density).
    virtual void windowScaleChanged(double factor) { (void)factor; }
};

// Cursor shapes, the toolkit's numbering.
enum class CursorShape : int32_t {
    arrow = 0,  // the cursor that was current before the frame changed it
    wait,
    resizeHorizontal,
    resizeVertical,
    move,
    resizeNESW,
    resizeNWSE,
    forbidden,
    hand,
};

class NativeWindow {
  public:
    // Destroys the window and every platform resource this object made.
    virtual ~NativeWindow() = default;

    // The system's handle of the window, for child windows and logs.
    virtual void* handle() const = 0;
    // A device that draws straight onto the window.
    virtual std::unique_ptr<DrawDevice> createDevice() = 0;
    // Top-left corner of the window on the screen.
    virtual CPoint screenOrigin() = 0;
    // The pointer on the screen, live (also outside the window).
    virtual CPoint pointerPosition() = 0;
    // The mouse buttons and modifier keys now, as the toolkit's mask
    // (kMouseLeft ... kModAlt, swapped buttons applied); never the state of
    // an earlier event (a press being delivered carries its own).
    virtual int32_t mouseButtons() = 0;
    virtual void setCursor(CursorShape shape) = 0;

    // Resizes the frame's window to width x height without moving it.
    virtual void resize(int32_t width, int32_t height) = 0;
    // Resizes the window and, where the system expects it, the host's
    // windows around it. Answers false when it stopped early and the caller
    // must not finish the resize.
    virtual bool resizeWithAncestors(int32_t width, int32_t height) = 0;
    // Position of the host's top window in its parent, and the rectangle of
    // this window's parent in its own parent; false when unknown.
    virtual bool hostWindowPosition(CPoint& position) = 0;
    virtual bool parentWindowRect(CRect& rect) = 0;

    // The part of `area` (window pixels) in which `source`, a surface of the
    // window's size composed for it, differs from what the window shows;
    // an empty rectangle when the window already shows all of it. A back
    // end that does not keep what it showed answers `area`.
    virtual CRect changedPart(DrawDevice& source, const CRect& area) {
        (void)source;
        return area;
    }

    // Handles every pending event of this window (called from idle), each
    // one that reached the window before the call included: none waits for
    // a later idle. Called from inside windowMouseDown (a control following
    // the pointer pumps idle), it delivers only paints and the window's
    // destruction; further presses and wheel events wait until the press
    // returned.
    virtual void processEvents() = 0;
    // Handles at most one pending paint request (the editor's idle pump).
    virtual void processOnePaint() = 0;
};

// The desktop's scale factor for windows on the screen of `parent` (the
// system's handle of the host's window): how many device pixels the
// desktop's own windows give a pixel of a plain screen. 0 when the desktop
// says nothing; the caller clamps what it gets.
double desktopScale(void* parent);

// A visible child window of `parent` (the system's handle of the host's
// window) at (0, 0) of width x height, or null when it cannot be created.
std::unique_ptr<NativeWindow> createChildWindow(void* parent, int32_t width, int32_t height,
                                                WindowEvents& events);

}  // namespace VSTGUI::platform
