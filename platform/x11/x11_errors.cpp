#include "platform/x11/x11_errors.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "platform/posix/fork_generation.h"

// Xlib's internals, for the display's flags and its per-display error
// conversion; last, since they define min and max as macros.
#include <X11/Xlibint.h>
#undef min
#undef max

// New in libX11 1.7: the tarball also loads on systems with an older Xlib,
// which then simply has no per-display exit handler.
#pragma weak XSetIOErrorExitHandler

namespace VSTGUI::platform::x11 {
namespace {

// Kept on the display's own extension list: Xlib frees it (with free())
// when the connection closes, so nothing of it outlives the connection or
// depends on this library's static objects.
struct ConnectionState {
    int lastError = 0;
    bool ended = false;       // switched off: the server ended it, or inherited
    bool inherited = false;   // opened by the process this one was forked from
    uint32_t generation = 0;  // the fork generation that opened it
};

// Only we add data to our own connections; the number just has to differ
// from Xlib's extension numbers, which count up from 1.
constexpr int kStateNumber = -0x4B56;

// Plain atomics: nothing here is destroyed when the library's static
// objects go, so an editor closed from a host's static destructor at exit
// still finds it. The table lets a forked child switch off every inherited
// connection at once, before any teardown of its editors says a word on
// one; a connection beyond its size is switched off when first used.
std::atomic<int> openConnections{0};
constexpr int kTableSize = 256;
std::atomic<Display*> ourConnections[kTableSize];
std::atomic<bool> forkHandlerSet{false};

ConnectionState* stateOf(Display* display) {
    XEDataObject object;
    object.display = display;
    XExtData* data = XFindOnExtensionList(XEHeadOfExtensionList(object), kStateNumber);
    return data ? reinterpret_cast<ConnectionState*>(data->private_data) : nullptr;
}

// Every protocol error of our connection is ours: returning False keeps it
// from the process's error handler.
Bool keepError(Display* display, XErrorEvent* error, xError*) {
    if (ConnectionState* state = stateOf(display)) state->lastError = error->error_code;
    return False;
}

// Xlib turns the display off itself before it calls this, after the
// process's I/O error handler; only a host handler that returns lets it
// come here, and then the editor simply goes dark.
void connectionEnded(Display* display, void*) {
    if (ConnectionState* state = stateOf(display)) state->ended = true;
}

void switchOff(Display* display, ConnectionState* state) {
    // Xlib's own mark of a dead connection: requests are dropped, replies
    // and events are not waited for, and the I/O error handler is never
    // called for it again.
    display->flags = display->flags | XlibDisplayIOError;
    if (state) state->ended = true;
}

// In a forked child our connections belong to the parent.
ConnectionState* current(Display* display) {
    ConnectionState* state = stateOf(display);
    if (state && !state->inherited && state->generation != posix::forkGeneration()) {
        state->inherited = true;
        switchOff(display, state);
    }
    return state;
}

// Runs in a forked child before fork() returns there (glibc drops the
// handler when the library is unloaded).
void switchOffInherited() {
    for (auto& slot : ourConnections) {
        if (Display* display = slot.load(std::memory_order_relaxed)) {
            ConnectionState* state = stateOf(display);
            if (state) state->inherited = true;
            switchOff(display, state);
        }
    }
}

void remember(Display* display) {
    if (!forkHandlerSet.exchange(true)) pthread_atfork(nullptr, nullptr, &switchOffInherited);
    for (auto& slot : ourConnections) {
        Display* empty = nullptr;
        if (slot.compare_exchange_strong(empty, display)) return;
    }
}

void forget(Display* display) {
    for (auto& slot : ourConnections) {
        Display* mine = display;
        if (slot.compare_exchange_strong(mine, nullptr)) return;
    }
}

}  // namespace

void adoptErrors(Display* display) {
    openConnections.fetch_add(1, std::memory_order_relaxed);
    const uint32_t generation = posix::forkGeneration();
    for (int code = 1; code < 256; ++code)
        XESetWireToError(display, code, &keepError);
    if (&XSetIOErrorExitHandler != nullptr)
        XSetIOErrorExitHandler(display, &connectionEnded, nullptr);
    auto* state = static_cast<ConnectionState*>(std::calloc(1, sizeof(ConnectionState)));
    auto* data = static_cast<XExtData*>(std::calloc(1, sizeof(XExtData)));
    if (!state || !data) {
        // Errors are still kept from the host; only their codes are lost.
        std::free(state);
        std::free(data);
        return;
    }
    state->generation = generation;
    data->number = kStateNumber;
    data->private_data = reinterpret_cast<XPointer>(state);
    XEDataObject object;
    object.display = display;
    XAddToExtensionList(XEHeadOfExtensionList(object), data);
    remember(display);
}

int takeLastError(Display* display) {
    ConnectionState* state = stateOf(display);
    if (!state) return 0;
    const int code = state->lastError;
    state->lastError = 0;
    return code;
}

bool connectionUsable(Display* display, bool askSocket) {
    ConnectionState* state = current(display);
    if ((state && state->ended) || (display->flags & XlibDisplayIOError)) return false;
    if (!askSocket) return true;
    pollfd socket{ConnectionNumber(display), POLLRDHUP, 0};
    if (poll(&socket, 1, 0) > 0 && (socket.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) {
        switchOff(display, state);
        return false;
    }
    return true;
}

void closeConnection(Display* display) {
    ConnectionState* state = current(display);
    openConnections.fetch_sub(1, std::memory_order_relaxed);
    forget(display);
    if (state && state->inherited) {
        // Xlib's close would shut the socket down for the parent as well,
        // after a last exchange on it. The child's descriptor goes; the
        // rest of the display is the parent's memory image, left as it is.
        close(ConnectionNumber(display));
        return;
    }
    XCloseDisplay(display);
}

int adoptedConnections() {
    return openConnections.load(std::memory_order_relaxed);
}

}  // namespace VSTGUI::platform::x11
