// The XDND marks on the host's client window: XdndAware, and XdndProxy
// naming our child window, where drag sources look for a target.
//
// A source finds the top-level client window under the pointer: the window
// with WM_STATE, which a reparenting window manager gives the host's window
// once it has put it into its decoration. A frame may open before that, or
// between the two steps; the window then found for the host's is only a
// guess (the window right below the root, which becomes the decoration).
// The windows above ours, up to that one, are watched, and the marks move
// when one of them is reparented or gains WM_STATE: also later, when a host
// docks the editor's container into another top-level window. We mark only a window that
// carries neither property already (a host that takes drops itself, or
// another editor, keeps them) and take the marks off again at the end.
#pragma once

#include <X11/Xlib.h>

#include <vector>

namespace VSTGUI::platform::x11 {

class HostMarks {
  public:
    struct Atoms {
        Atom aware, proxy, wmState;
    };
    HostMarks(Display* display, Window child, Atoms atoms);
    ~HostMarks();
    HostMarks(const HostMarks&) = delete;
    HostMarks& operator=(const HostMarks&) = delete;

    // The window carrying our marks, or 0.
    Window client() const { return client_; }
    // Structure and property events of the windows above ours; never
    // consumed, as other parts of the back end may watch the same windows.
    void handle(const XEvent& event);

  private:
    struct Watched {
        Window window;
        long added;  // the event mask bits we added to our connection's
    };
    void place();
    void takeOffMarks();
    // Watches exactly `windows`; answers whether one was not watched before.
    bool watchOnly(const std::vector<Window>& windows);

    Display* display_;
    Window child_;
    Atoms atoms_;
    Window found_ = 0;   // the window a source finds for us, as last seen
    Window client_ = 0;  // the same, when we marked it
    std::vector<Watched> watched_;
};

}  // namespace VSTGUI::platform::x11
