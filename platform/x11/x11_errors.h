// What can go wrong with our own X connections: protocol errors, the
// connection ended by the server, and a fork that leaves a child holding
// the parent's connection.
//
// Xlib's error handler is one per process and belongs to the host. A host
// may save and restore it around our calls, load two copies of the plug-in
// side by side, or unload us while its handler chain still names ours; any
// handler of ours left installed would then run after our code is gone or
// chain to itself. So none is installed. Each of our connections instead
// gets a filter of its own (Xlib's per-display conversion of wire errors,
// which decides whether an error goes on to the process's handler) that
// keeps every error of that connection for us. It lives and dies with the
// connection, and so does the little state kept for it here.
//
// A connection that the server ended (xkill, a server that went away) would
// run Xlib's I/O error handler, which exits the host. Ours is switched off
// for Xlib before that can happen: no request leaves it and no read waits
// on it any more, and the editor on it goes dark. The same is done in a
// forked child to every connection it inherited: the socket is the parent's
// too, so the child must neither talk on it nor shut it down.
#pragma once

#include <X11/Xlib.h>

namespace VSTGUI::platform::x11 {

// Keeps every protocol error of `display` from the process's handler and
// remembers the last one. Call right after XOpenDisplay.
void adoptErrors(Display* display);

// The error code of the last error swallowed on `display` since the last
// call (0 when none), and clears it. Call XSync first to collect errors of
// requests that were just sent.
int takeLastError(Display* display);

// False once the connection can no longer be used: the server ended it, or
// this process is a fork's child that inherited it. `askSocket` also asks
// the kernel whether the server hung up (a system call: do it when the
// socket has something to read anyway, before Xlib reads it).
bool connectionUsable(Display* display, bool askSocket);

// Closes one of our connections: in the process that opened it through
// Xlib; in a forked child only the child's descriptor of the socket.
void closeConnection(Display* display);

// Number of our connections open in the process (tests).
int adoptedConnections();

}  // namespace VSTGUI::platform::x11
