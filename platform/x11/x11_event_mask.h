// Our connection's event mask on a window that several parts of the back end
// may watch at once (the host's windows: the text field, the host marks, a
// drag whose source is the host itself). The mask is per client, so nothing
// changes for other connections; each part adds only the bits that were not
// there and later takes off only those, leaving the others' watches alone.
#pragma once

#include <X11/Xlib.h>

namespace VSTGUI::platform::x11 {

// Adds `bits` to our mask on `window`; answers the bits it added (0 when
// they were all there already or the window is gone).
inline long addEventBits(Display* display, Window window, long bits) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) return 0;
    const long added = bits & ~attributes.your_event_mask;
    if (added) XSelectInput(display, window, attributes.your_event_mask | added);
    return added;
}

// Takes `bits` (what addEventBits answered) off our mask on `window`.
inline void removeEventBits(Display* display, Window window, long bits) {
    XWindowAttributes attributes{};
    if (bits && XGetWindowAttributes(display, window, &attributes))
        XSelectInput(display, window, attributes.your_event_mask & ~bits);
}

}  // namespace VSTGUI::platform::x11
