// A drag source for the tests: performs one XDND drag onto whatever window is
// under a root position, the way a file manager or an editor does, and
// prints what the target answered, one line each:
//   target WINDOW proxy WINDOW      the window found and where messages go
//   status accept=0|1 action=NAME   every XdndStatus
//   finished accepted=0|1 action=NAME
//   no-target / no-finished         nothing aware under the point / no end
//   served TYPE BYTES               a selection request that was answered
//
//   xdnd_source X Y [options]
//     --moves N        positions sent, one pixel apart (default 4)
//     --end drop|leave how the drag ends (default leave)
//     --uris N         offer text/uri-list with N file URIs (default)
//     --text STRING    offer UTF8_STRING and text/plain with STRING
//     --malformed      offer a file list whose bytes are not a list
//     --huge MIB       offer a file list of MIB mebibytes
//     --incr           answer the list request with an INCR transfer
//     --silent         never answer the selection request
//     --die            exit right after the positions, without an end
//     --many-types     announce six types (the list goes on XdndTypeList)
//     --source-window W  name window W (decimal) as the source in every
//                      message, as a host dragging from its own window does
//
// The pointer is warped to every position, as a hand would move it.
// Messages go to the proxy when the target names one that names itself; the
// window field always names the target, as the protocol requires.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

Display* dpy = nullptr;
Window source = 0;
Window named = 0;  // the source the messages name, when not ours

Atom atom(const char* name) {
    return XInternAtom(dpy, name, False);
}

std::string atomName(Atom a) {
    if (a == None) return "None";
    char* n = XGetAtomName(dpy, a);
    std::string s = n ? n : "?";
    if (n) XFree(n);
    return s;
}

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool hasProperty(Window w, Atom p) {
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    const int ok = XGetWindowProperty(dpy, w, p, 0, 1, False, AnyPropertyType, &type, &format, &n,
                                      &after, &data);
    if (data) XFree(data);
    return ok == Success && type != None;
}

Window windowProperty(Window w, Atom p) {
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    Window value = 0;
    if (XGetWindowProperty(dpy, w, p, 0, 1, False, XA_WINDOW, &type, &format, &n, &after, &data) ==
            Success &&
        data && n == 1 && format == 32)
        value = *reinterpret_cast<unsigned long*>(data);
    if (data) XFree(data);
    return value;
}

// As GTK 3 and Qt 5 look for a target: the client window under (x, y) (the
// first one with WM_STATE on the way down from the root, else the root's
// child there); never a window inside it. When that window names a proxy
// that names itself, the version is read on the proxy; otherwise on the
// client window. Without XdndAware there, nobody takes drops.
Window findTarget(int x, int y) {
    const Atom aware = atom("XdndAware"), wmState = atom("WM_STATE");
    const Window root = DefaultRootWindow(dpy);
    Window current = root;
    Window client = 0;
    for (int depth = 0; depth < 64 && !client; ++depth) {
        int cx = 0, cy = 0;
        Window child = 0;
        if (!XTranslateCoordinates(dpy, root, current, x, y, &cx, &cy, &child) || !child) break;
        current = child;
        if (hasProperty(current, wmState)) client = current;
    }
    if (!client) {
        int cx = 0, cy = 0;
        XTranslateCoordinates(dpy, root, root, x, y, &cx, &cy, &client);
    }
    if (!client || client == source) return 0;
    Window versionOn = client;
    const Window proxy = windowProperty(client, atom("XdndProxy"));
    if (proxy && windowProperty(proxy, atom("XdndProxy")) == proxy) versionOn = proxy;
    return hasProperty(versionOn, aware) ? client : 0;
}

struct Options {
    int x = 0, y = 0;
    int moves = 4;
    bool drop = false;
    enum { uris, text, malformed, huge, incr, silent } serve = uris;
    int count = 3;
    std::string words;
    int mebibytes = 2;
    bool die = false;
    bool manyTypes = false;
    unsigned long sourceWindow = 0;
};

std::string payload(const Options& o) {
    std::string s;
    switch (o.serve) {
        case Options::text:
            return o.words;
        case Options::malformed:
            // Binary bytes, a comment, blanks, lines without a scheme, a
            // scheme with nothing after it, and no final newline.
            static const char bytes[] =
                "\xff\xfe\x01\x02 garbage\r\n#file:///commented\n\n   \r\n::::\n1abc:x\n";
            s.assign(bytes, sizeof bytes - 1);
            s += std::string(3, '\0');
            s += "file:";
            return s;
        case Options::huge: {
            const std::string line =
                "file:///tmp/a-rather-long-file-name-for-the-huge-list.wav\r\n";
            const size_t total = static_cast<size_t>(o.mebibytes) << 20;
            while (s.size() < total)
                s += line;
            return s;
        }
        default:
            s = "# dragged by the test source\r\n";
            for (int i = 0; i < o.count; ++i)
                s += "file:///tmp/kv23%20take%20" + std::to_string(i + 1) + ".wav\r\n";
            return s;
    }
}

void serve(const XSelectionRequestEvent& r, const Options& o) {
    if (o.serve == Options::silent) return;
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = dpy;
    reply.xselection.requestor = r.requestor;
    reply.xselection.selection = r.selection;
    reply.xselection.target = r.target;
    reply.xselection.time = r.time;
    const Atom property = r.property != None ? r.property : r.target;
    reply.xselection.property = property;
    if (o.serve == Options::incr) {
        const long size = 4 << 20;
        XChangeProperty(dpy, r.requestor, property, atom("INCR"), 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&size), 1);
        say("served INCR 0");
    } else {
        const std::string data = payload(o);
        XChangeProperty(dpy, r.requestor, property, r.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data.data()),
                        static_cast<int>(data.size()));
        say("served " + atomName(r.target) + " " + std::to_string(data.size()));
    }
    XSendEvent(dpy, r.requestor, False, NoEventMask, &reply);
    XFlush(dpy);
}

// Handles events until `until` answers true for one or `ms` passed.
template <typename Until>
bool pump(const Options& o, int ms, Until until) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        while (XPending(dpy) > 0) {
            XEvent e;
            XNextEvent(dpy, &e);
            if (e.type == SelectionRequest) serve(e.xselectionrequest, o);
            if (until(e)) return true;
        }
        pollfd p{ConnectionNumber(dpy), POLLIN, 0};
        poll(&p, 1, 10);
    }
    return false;
}

void send(Window to, Window target, Atom type, long l1, long l2, long l3, long l4) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.display = dpy;
    e.xclient.window = target;
    e.xclient.message_type = type;
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(named ? named : source);
    e.xclient.data.l[1] = l1;
    e.xclient.data.l[2] = l2;
    e.xclient.data.l[3] = l3;
    e.xclient.data.l[4] = l4;
    XSendEvent(dpy, to, False, NoEventMask, &e);
    XFlush(dpy);
}

bool parse(int argc, char** argv, Options& o) {
    if (argc < 3) return false;
    o.x = std::atoi(argv[1]);
    o.y = std::atoi(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--moves" && more)
            o.moves = std::atoi(argv[++i]);
        else if (a == "--end" && more)
            o.drop = std::string(argv[++i]) == "drop";
        else if (a == "--uris" && more)
            o.serve = Options::uris, o.count = std::atoi(argv[++i]);
        else if (a == "--text" && more)
            o.serve = Options::text, o.words = argv[++i];
        else if (a == "--malformed")
            o.serve = Options::malformed;
        else if (a == "--huge" && more)
            o.serve = Options::huge, o.mebibytes = std::atoi(argv[++i]);
        else if (a == "--incr")
            o.serve = Options::incr;
        else if (a == "--silent")
            o.serve = Options::silent;
        else if (a == "--die")
            o.die = true;
        else if (a == "--many-types")
            o.manyTypes = true;
        else if (a == "--source-window" && more)
            o.sourceWindow = std::strtoul(argv[++i], nullptr, 10);
        else
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: xdnd_source X Y [options] (see the source)\n");
        return 2;
    }
    dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "xdnd_source: no display\n");
        return 1;
    }
    source = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), -10, -10, 1, 1, 0, 0, 0);
    named = static_cast<Window>(o.sourceWindow);
    XSelectInput(dpy, source, PropertyChangeMask);
    const Atom selection = atom("XdndSelection");
    XSetSelectionOwner(dpy, selection, source, CurrentTime);

    std::vector<Atom> types;
    if (o.serve == Options::text) {
        types = {atom("UTF8_STRING"), atom("text/plain;charset=utf-8"), atom("text/plain")};
    } else {
        types = {atom("text/uri-list")};
    }
    if (o.manyTypes) {
        types.insert(types.begin(), {atom("x-special/gnome-icon-list"), atom("image/png"),
                                     atom("application/x-kv23-private")});
        types.push_back(atom("x-special/other"));
    }
    const bool list = types.size() > 3;
    if (list)
        XChangeProperty(dpy, source, atom("XdndTypeList"), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(types.data()),
                        static_cast<int>(types.size()));
    XSync(dpy, False);

    const Window target = findTarget(o.x, o.y);
    if (!target) {
        say("no-target");
        return 3;
    }
    Window to = target;
    const Window proxy = windowProperty(target, atom("XdndProxy"));
    if (proxy && windowProperty(proxy, atom("XdndProxy")) == proxy) to = proxy;
    char line[96];
    std::snprintf(line, sizeof line, "target 0x%lx proxy 0x%lx", target, proxy);
    say(line);

    // A real drag moves the pointer; the target reads it from the server.
    auto warp = [&](int x, int y) {
        XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, x, y);
        XSync(dpy, False);
    };
    warp(o.x, o.y);
    long l1 = 5L << 24 | (list ? 1 : 0);
    auto typeAt = [&](size_t i) { return !list && i < types.size() ? long(types[i]) : 0L; };
    send(to, target, atom("XdndEnter"), l1, typeAt(0), typeAt(1), typeAt(2));

    const Atom statusAtom = atom("XdndStatus"), finishedAtom = atom("XdndFinished");
    const Atom move = atom("XdndActionMove");
    for (int i = 0; i < o.moves; ++i) {
        warp(o.x + i, o.y);
        const long where = (long(o.x + i) << 16) | long(o.y);
        send(to, target, atom("XdndPosition"), 0, where, CurrentTime, long(move));
        const bool answered = pump(o, 3000, [&](const XEvent& e) {
            if (e.type != ClientMessage || e.xclient.message_type != statusAtom) return false;
            say("status accept=" + std::to_string(e.xclient.data.l[1] & 1) +
                " action=" + atomName(static_cast<Atom>(e.xclient.data.l[4])));
            return true;
        });
        if (!answered) say("no-status");
    }
    if (o.die) {
        say("dying");
        std::_Exit(0);  // no leave, no drop; the server destroys our window
    }
    if (!o.drop) {
        send(to, target, atom("XdndLeave"), 0, 0, 0, 0);
        // Still serve a late selection request for a moment.
        pump(o, 300, [](const XEvent&) { return false; });
        say("left");
    } else {
        send(to, target, atom("XdndDrop"), 0, CurrentTime, 0, 0);
        const bool finished = pump(o, 6000, [&](const XEvent& e) {
            if (e.type != ClientMessage || e.xclient.message_type != finishedAtom) return false;
            say("finished accepted=" + std::to_string(e.xclient.data.l[1] & 1) +
                " action=" + atomName(static_cast<Atom>(e.xclient.data.l[2])));
            return true;
        });
        if (!finished) say("no-finished");
    }
    XDestroyWindow(dpy, source);
    XCloseDisplay(dpy);
    return 0;
}
