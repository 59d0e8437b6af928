// The process-wide X error handler of the toolkit.
//
// Xlib's default handler exits the process, and a host may destroy its own
// window (and with it ours) before it closes the editor: a request of ours on
// a window that is already gone must not kill the host. The handler installed
// here swallows every error that happens on one of our own connections and
// remembers it for that connection; errors on other connections (the host's)
// go to the handler that was installed before ours. The previous handler is
// put back when the last of our connections is released.
#pragma once

#include <X11/Xlib.h>

namespace VSTGUI::platform::x11 {

// Starts routing errors of `display` to the toolkit's handler; installs the
// handler when this is the first connection.
void adoptErrors(Display* display);
// Stops routing errors of `display` (call after XCloseDisplay); restores the
// previous handler when this was the last connection.
void releaseErrors(Display* display);

// The error code of the last error swallowed on `display` since the last
// call (0 when none), and clears it. Call XSync first to collect errors of
// requests that were just sent.
int takeLastError(Display* display);

// Number of our connections whose errors are routed (tests).
int adoptedConnections();

}  // namespace VSTGUI::platform::x11
