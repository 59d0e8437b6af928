// kv23 gui: the plug-in's editor in a window of its own, driven the way a
// Linux DAW drives it: effOpen, effEditGetRect, a top-level window of that
// size, effEditOpen with the window's id, effEditIdle about every 20 ms while
// our own window events are handled, and effEditClose + effClose when the
// window is closed or the process is asked to stop. Every call the plug-in
// makes into the host is printed as one line on standard output.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "host/channel_buffers.h"
#include "host/cli.h"
#include "host/x_errors.h"

namespace kv::host {
namespace {

const char* const kGuiHelp =
    "usage: kv23 gui [--plugin PATH] [--trace] [--close-after MS] [--destroy-window-first]\n"
    "                [--close-in-idle]\n"
    "\n"
    "Opens the plug-in's editor in a window on $DISPLAY, as a host does, and\n"
    "sends it effEditIdle about every 20 ms. Closing the window, Ctrl+C or\n"
    "SIGTERM closes the editor (effEditClose) and the plug-in (effClose).\n"
    "\n"
    "Each call the plug-in makes into the host is one line on standard output,\n"
    "written at once:\n"
    "  automate INDEX VALUE     a parameter changed (VALUE normalised, 6 decimals)\n"
    "  beginEdit INDEX          the user grabbed a control\n"
    "  endEdit INDEX            ... and let it go\n"
    "  sizeWindow WIDTH HEIGHT  the editor asks for a new size (granted)\n"
    "  canDo TEXT ANSWER        a capability question and our answer\n"
    "  updateDisplay            the plug-in's display changed\n"
    "  call NAME INDEX VALUE    anything else (not idle requests)\n"
    "When the editor is open, a line \"open WIDTH HEIGHT WINDOW\" comes first, and\n"
    "\"closed\" after effEditClose.\n"
    "\n"
    "  --close-after MS         close by itself after MS milliseconds\n"
    "  --destroy-window-first   on closing, destroy the window before effEditClose,\n"
    "                           as some hosts do\n"
    "  --close-in-idle          a host that runs its event loop in audioMasterIdle and\n"
    "                           closes the editor there: every audioMasterIdle sends\n"
    "                           effEditClose from inside the call (\"closed in idle\"),\n"
    "                           and the editor is opened again right after\n"
    "\n"
    "Like the desktop hosts it stands for, kv23 gui runs in the user's locale\n"
    "(LC_ALL, LC_NUMERIC ...).\n"
    "\n"
    "Commands read from standard input, one a line (for scripts and tests):\n"
    "  params   print \"param INDEX VALUE\" for every parameter\n"
    "  over     process one block at twice full scale on a thread of its own, as\n"
    "           a DAW's audio thread would, then print \"over\"\n"
    "  quit     close as if the window were closed\n"
    "\n"
    "A plug-in without an editor (no effFlagsHasEditor, or effEditOpen refused) is\n"
    "an error: one line on standard error, exit status 1.\n";

volatile sig_atomic_t stopRequested = 0;
void requestStop(int) {
    stopRequested = 1;
}

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};

void say(const char* format, auto... args) {
    // A line without arguments is printed as it is: a format that is not a
    // literal with nothing to format is what hardened builds reject.
    if constexpr (sizeof...(args) == 0) {
        std::fputs(format, stdout);
    } else {
        std::printf(format, args...);
    }
    std::fflush(stdout);
}

// A value with six decimals and a point: the lines are for scripts, whatever
// the locale the user runs kv23 in.
std::string sixDecimals(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    return std::string(text, result.ec == std::errc() ? result.ptr : text);
}

// The size the editor reports, or (0, 0) when it reports none.
void editorSize(PluginHost& host, int& width, int& height) {
    ERect* rect = nullptr;
    host.dispatch(effEditGetRect, 0, 0, &rect);
    width = rect ? rect->right - rect->left : 0;
    height = rect ? rect->bottom - rect->top : 0;
}

// One command line from standard input (see the help text).
void runCommand(PluginHost& host, const std::string& line) {
    if (line == "params") {
        for (int32_t i = 0; i < host.numParams(); ++i)
            say("param %d %s\n", i, sixDecimals(host.getParameter(i)).c_str());
    } else if (line == "over") {
        std::thread audio([&host] {
            ChannelBuffers<float> buffers(host.numInputs(), host.numOutputs(), 256);
            buffers.fillInputs(2.0f);
            host.processReplacing(buffers.inPointers(), buffers.outPointers(), 256);
        });
        audio.join();
        say("over\n");
    } else if (line == "quit") {
        stopRequested = 1;
    } else if (!line.empty()) {
        say("unknown command %s\n", line.c_str());
    }
}

int runGui(const std::vector<std::string>& args) {
    // GTK and Qt hosts adopt the user's locale: the plug-in must live with a
    // comma as the decimal point.
    std::setlocale(LC_ALL, "");
    PluginChoice choice;
    long closeAfter = -1;
    bool destroyFirst = false;
    bool closeInIdle = false;
    ArgReader reader(args);
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (takePluginOption(reader, arg, choice)) continue;
        if (arg == "--close-after") {
            closeAfter = parseInteger(reader.valueOf(arg), arg);
            if (closeAfter < 0) throw UsageError("--close-after needs a number of milliseconds");
            continue;
        }
        if (arg == "--destroy-window-first") {
            destroyFirst = true;
            continue;
        }
        if (arg == "--close-in-idle") {
            closeInIdle = true;
            continue;
        }
        throw UsageError("unknown argument \"" + arg + "\"");
    }

    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) throw RunError("cannot open the X display; set DISPLAY to a running X server");
    Display* dpy = display.get();
    installXErrorLog();

    auto host = openPlugin(choice);
    AEffect* effect = host->effect();
    if ((effect->flags & effFlagsHasEditor) == 0)
        throw RunError("the plug-in has no editor (effFlagsHasEditor is not set in its flags)");
    host->dispatch(effOpen);
    const std::string name = host->getString(effGetEffectName, 0, kVstMaxEffectNameLen);

    int width = 0, height = 0;
    editorSize(*host, width, height);
    if (width <= 0 || height <= 0) {
        width = 240;  // resized once the editor tells its size after opening
        height = 400;
    }

    const int screen = DefaultScreen(dpy);
    const Window window = XCreateSimpleWindow(
        dpy, RootWindow(dpy, screen), 0, 0, static_cast<unsigned>(width),
        static_cast<unsigned>(height), 0, BlackPixel(dpy, screen), BlackPixel(dpy, screen));
    const std::string title = "kv23 - " + (name.empty() ? std::string("plug-in") : name);
    XStoreName(dpy, window, title.c_str());
    const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    XChangeProperty(dpy, window, XInternAtom(dpy, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, window, &deleteWindow, 1);
    XSelectInput(dpy, window, StructureNotifyMask);

    auto resizeTo = [&](int w, int h) {
        if (w <= 0 || h <= 0) return;
        // A fixed-size editor: the window manager should not offer resizing.
        XSizeHints* hints = XAllocSizeHints();
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = w;
        hints->min_height = hints->max_height = h;
        XSetWMNormalHints(dpy, window, hints);
        XFree(hints);
        XResizeWindow(dpy, window, static_cast<unsigned>(w), static_cast<unsigned>(h));
        XFlush(dpy);
        width = w;
        height = h;
    };
    resizeTo(width, height);
    XMapWindow(dpy, window);
    XSync(dpy, False);

    bool editorOpen = false;
    bool reopen = false;
    host->setCallbackHook([&](const HostCall& call, void*) -> std::optional<intptr_t> {
        switch (call.opcode) {
            case audioMasterAutomate:
                say("automate %d %s\n", call.index, sixDecimals(call.opt).c_str());
                return std::nullopt;
            case audioMasterBeginEdit:
                say("beginEdit %d\n", call.index);
                return std::nullopt;
            case audioMasterEndEdit:
                say("endEdit %d\n", call.index);
                return std::nullopt;
            case audioMasterUpdateDisplay:
                say("updateDisplay\n");
                return std::nullopt;
            case audioMasterSizeWindow:
                say("sizeWindow %d %ld\n", call.index, static_cast<long>(call.value));
                resizeTo(call.index, static_cast<int>(call.value));
                return 1;
            case audioMasterCanDo: {
                const intptr_t yes = call.text == "sizeWindow" ? 1 : 0;
                say("canDo %s %ld\n", call.text.c_str(), static_cast<long>(yes));
                return yes;
            }
            // The user interface level, not the offline one of kv23 process.
            case audioMasterGetCurrentProcessLevel:
                return 1;
            case audioMasterIdle:
                if (closeInIdle && editorOpen) {
                    // From inside the plug-in's own call, as a host whose
                    // event loop runs here would.
                    editorOpen = false;
                    host->dispatch(effEditClose);
                    say("closed in idle\n");
                    reopen = true;
                }
                return std::nullopt;
            case audioMasterVersion:
            case audioMasterGetTime:
                return std::nullopt;
            default:
                say("call %s %d %ld\n", hostOpcodeName(call.opcode).c_str(), call.index,
                    static_cast<long>(call.value));
                return std::nullopt;
        }
    });

    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window));
    if (host->dispatch(effEditOpen, 0, 0, parent) == 0) {
        XDestroyWindow(dpy, window);
        host->close();
        throw RunError("the plug-in has no editor (effEditOpen answered 0)");
    }
    editorOpen = true;
    editorSize(*host, width, height);
    resizeTo(width, height);
    say("open %d %d 0x%lx\n", width, height, static_cast<unsigned long>(window));

    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    struct sigaction oldInt {
    }, oldTerm{};
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGTERM, &action, &oldTerm);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nextIdle = start;
    bool windowGone = false;
    bool readInput = true;
    std::string pending;
    while (!stopRequested && !windowGone) {
        while (XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
            if (event.type == ClientMessage &&
                static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow)
                stopRequested = 1;
            if (event.type == DestroyNotify && event.xdestroywindow.window == window)
                windowGone = true;
        }
        const auto now = Clock::now();
        if (closeAfter >= 0 && now - start >= std::chrono::milliseconds(closeAfter)) break;
        if (reopen) {
            reopen = false;
            editorOpen = host->dispatch(effEditOpen, 0, 0, parent) != 0;
            if (editorOpen)
                say("open %d %d 0x%lx\n", width, height, static_cast<unsigned long>(window));
        }
        if (now >= nextIdle) {
            if (editorOpen) host->dispatch(effEditIdle);
            host->clearCalls();  // the lines are printed; keep memory flat
            nextIdle = now + std::chrono::milliseconds(20);
            continue;
        }
        // Sleep until the next idle tick or an event of ours.
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextIdle - now).count();
        pollfd p[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(p, readInput ? 2 : 1, static_cast<int>(wait) + 1) > 0 && readInput &&
            (p[1].revents & (POLLNVAL | POLLERR)) != 0) {
            readInput = false;  // no standard input at all (closed by the caller)
        } else if (readInput && (p[1].revents & (POLLIN | POLLHUP)) != 0) {
            char chunk[256];
            const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
            if (got <= 0) readInput = false;  // no more commands; keep running
            pending.append(chunk, got > 0 ? static_cast<size_t>(got) : 0);
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                runCommand(*host, pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
    }

    if (destroyFirst && !windowGone) {
        XDestroyWindow(dpy, window);
        XSync(dpy, False);
        windowGone = true;
    }
    if (editorOpen) host->dispatch(effEditClose);
    editorOpen = false;
    say("closed\n");
    host->close();
    if (!windowGone) XDestroyWindow(dpy, window);
    XSync(dpy, False);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    return 0;
}

}  // namespace

extern const Command kGuiCommand;
const Command kGuiCommand = {"gui", "open the plug-in's editor in a window (needs X11)", kGuiHelp,
                             runGui};

}  // namespace kv::host
