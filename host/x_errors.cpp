#include "host/x_errors.h"

#include <X11/Xlib.h>

#include <atomic>
#include <cstdio>

namespace kv::host {

namespace {

std::atomic<int> gErrors{0};

int logError(Display* dpy, XErrorEvent* event) {
    gErrors.fetch_add(1);
    char text[160] = {};
    XGetErrorText(dpy, event->error_code, text, sizeof text - 1);
    std::fprintf(
        stderr, "kv23: X error ignored: %s (code %d, request %d.%d, resource 0x%lx, serial %lu)\n",
        text, event->error_code, event->request_code, event->minor_code,
        static_cast<unsigned long>(event->resourceid), static_cast<unsigned long>(event->serial));
    return 0;
}

}  // namespace

void installXErrorLog() {
    // A plug-in may install a handler of its own while its editor is open
    // and put ours back afterwards; installing again is harmless.
    XSetErrorHandler(&logError);
}

int xErrorCount() {
    return gErrors.load();
}

}  // namespace kv::host
