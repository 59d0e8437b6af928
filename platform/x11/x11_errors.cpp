#include "platform/x11/x11_errors.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace VSTGUI::platform::x11 {
namespace {

// A host may use Xlib on several threads (its own connection on one, our
// editor on another), so the handler can run on any of them: the table is
// guarded, and the previous handler is called outside the lock.
struct Adopted {
    Display* display;
    int lastError;
};

std::mutex& lock() {
    static std::mutex m;
    return m;
}
std::vector<Adopted>& table() {
    static std::vector<Adopted> t;
    return t;
}
XErrorHandler previousHandler = nullptr;

int toolkitHandler(Display* display, XErrorEvent* error) {
    XErrorHandler previous = nullptr;
    {
        std::lock_guard guard(lock());
        for (Adopted& a : table()) {
            if (a.display == display) {
                a.lastError = error->error_code;
                return 0;
            }
        }
        previous = previousHandler;
    }
    return previous ? previous(display, error) : 0;
}

}  // namespace

void adoptErrors(Display* display) {
    std::lock_guard guard(lock());
    if (table().empty()) previousHandler = XSetErrorHandler(toolkitHandler);
    table().push_back({display, 0});
}

void releaseErrors(Display* display) {
    std::lock_guard guard(lock());
    auto& t = table();
    t.erase(
        std::remove_if(t.begin(), t.end(), [&](const Adopted& a) { return a.display == display; }),
        t.end());
    if (!t.empty()) return;
    // Put the previous handler back, unless somebody installed another one
    // after ours: then theirs stays (it may chain to ours, which still
    // passes everything on to the one before).
    XErrorHandler current = XSetErrorHandler(previousHandler);
    if (current != toolkitHandler) XSetErrorHandler(current);
}

int takeLastError(Display* display) {
    std::lock_guard guard(lock());
    for (Adopted& a : table()) {
        if (a.display == display) {
            const int code = a.lastError;
            a.lastError = 0;
            return code;
        }
    }
    return 0;
}

int adoptedConnections() {
    std::lock_guard guard(lock());
    return static_cast<int>(table().size());
}

}  // namespace VSTGUI::platform::x11
