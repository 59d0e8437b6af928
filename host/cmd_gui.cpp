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
#include <memory>
#include <optional>
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
    "                [--close-in-idle] [--scale FACTOR]\n"
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
    "  --scale FACTOR           send the editor this scale factor for dense screens\n"
    "                           (1.5, 2 ...) just before effEditOpen, as Carla does:\n"
    "                           effVendorSpecific 'PreS' 'AeCs' with the factor;\n"
    "                           printed as \"scale FACTOR ANSWER\"\n"
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
    "  scale F  send the open editor the scale factor F, as --scale does\n"
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

// The host's scale factor, as Carla and JUCE hosts send it: the vendor-
// specific call 'PreS' / 'AeCs' with the factor as a float.
void sendScale(PluginHost& host, double factor) {
    const intptr_t answer =
        host.dispatch(effVendorSpecific, kvFourCC('P', 'r', 'e', 'S'), kvFourCC('A', 'e', 'C', 's'),
                      nullptr, static_cast<float>(factor));
    say("scale %s %ld\n", sixDecimals(factor).c_str(), static_cast<long>(answer));
}

// A factor as the user wrote it, read without the locale.
double parseFactor(const std::string& text, const std::string& option) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end || !(value > 0.0))
        throw UsageError(option + " needs a positive number (1, 1.5, 2 ...)");
    return value;
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
    } else if (line.rfind("scale ", 0) == 0) {
        try {
            sendScale(host, parseFactor(line.substr(6), "scale"));
        } catch (const UsageError&) {
            say("unknown command %s\n", line.c_str());
        }
    } else if (!line.empty()) {
        say("unknown command %s\n", line.c_str());
    }
}

struct GuiOptions {
    PluginChoice plugin;
    long closeAfter = -1;
    bool destroyFirst = false;
    bool closeInIdle = false;
    double scale = 0.0;  // 0: send none
};

GuiOptions parseOptions(const std::vector<std::string>& args) {
    GuiOptions o;
    ArgReader reader(args);
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (takePluginOption(reader, arg, o.plugin)) continue;
        if (arg == "--close-after") {
            o.closeAfter = parseInteger(reader.valueOf(arg), arg);
            if (o.closeAfter < 0) throw UsageError("--close-after needs a number of milliseconds");
            continue;
        }
        if (arg == "--destroy-window-first") {
            o.destroyFirst = true;
            continue;
        }
        if (arg == "--close-in-idle") {
            o.closeInIdle = true;
            continue;
        }
        if (arg == "--scale") {
            o.scale = parseFactor(reader.valueOf(arg), arg);
            continue;
        }
        throw UsageError("unknown argument \"" + arg + "\"");
    }
    return o;
}

// The plug-in's editor in a top-level window of ours, from open() to close().
// The members are released in reverse order: the plug-in before the display.
class GuiSession {
  public:
    explicit GuiSession(const GuiOptions& options) : options_(options) {}

    // Connects to the display, opens the plug-in and its editor in a new
    // window, and takes over SIGINT and SIGTERM. Throws RunError.
    void open();
    // Handles our window's events, standard input's commands and the idle
    // ticks until the window closes, a stop is requested or time is up.
    void loop();
    // effEditClose and effClose, in the order the options ask for against
    // the window's destruction; gives the signals back.
    void close();

  private:
    void createWindow(const std::string& title);
    void resizeTo(int w, int h);
    std::optional<intptr_t> hostCall(const HostCall& call);
    bool openEditor();
    void readCommands(bool& readInput, std::string& pending);

    const GuiOptions& options_;
    std::unique_ptr<Display, DisplayCloser> display_;
    Display* dpy_ = nullptr;
    std::unique_ptr<PluginHost> host_;
    Window window_ = 0;
    Atom deleteWindow_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool editorOpen_ = false;
    bool reopen_ = false;
    bool windowGone_ = false;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

void GuiSession::open() {
    display_.reset(XOpenDisplay(nullptr));
    if (!display_) throw RunError("cannot open the X display; set DISPLAY to a running X server");
    dpy_ = display_.get();
    installXErrorLog();

    host_ = openPlugin(options_.plugin);
    if ((host_->effect()->flags & effFlagsHasEditor) == 0)
        throw RunError("the plug-in has no editor (effFlagsHasEditor is not set in its flags)");
    host_->dispatch(effOpen);
    const std::string name = host_->getString(effGetEffectName, 0, kVstMaxEffectNameLen);
    if (options_.scale > 0.0) sendScale(*host_, options_.scale);

    editorSize(*host_, width_, height_);
    if (width_ <= 0 || height_ <= 0) {
        width_ = 240;  // resized once the editor tells its size after opening
        height_ = 400;
    }
    createWindow("kv23 - " + (name.empty() ? std::string("plug-in") : name));

    host_->setCallbackHook([this](const HostCall& call, void*) { return hostCall(call); });
    if (!openEditor()) {
        XDestroyWindow(dpy_, window_);
        host_->close();
        throw RunError("the plug-in has no editor (effEditOpen answered 0)");
    }
    editorSize(*host_, width_, height_);
    resizeTo(width_, height_);
    say("open %d %d 0x%lx\n", width_, height_, static_cast<unsigned long>(window_));

    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
}

void GuiSession::createWindow(const std::string& title) {
    const int screen = DefaultScreen(dpy_);
    window_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen), 0, 0,
                                  static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0,
                                  BlackPixel(dpy_, screen), BlackPixel(dpy_, screen));
    XStoreName(dpy_, window_, title.c_str());
    const Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
    XChangeProperty(dpy_, window_, XInternAtom(dpy_, "_NET_WM_NAME", False), utf8, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    deleteWindow_ = XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy_, window_, &deleteWindow_, 1);
    XSelectInput(dpy_, window_, StructureNotifyMask);
    resizeTo(width_, height_);
    XMapWindow(dpy_, window_);
    XSync(dpy_, False);
}

void GuiSession::resizeTo(int w, int h) {
    if (w <= 0 || h <= 0) return;
    // A fixed-size editor: the window manager should not offer resizing.
    XSizeHints* hints = XAllocSizeHints();
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = w;
    hints->min_height = hints->max_height = h;
    XSetWMNormalHints(dpy_, window_, hints);
    XFree(hints);
    XResizeWindow(dpy_, window_, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XFlush(dpy_);
    width_ = w;
    height_ = h;
}

bool GuiSession::openEditor() {
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window_));
    editorOpen_ = host_->dispatch(effEditOpen, 0, 0, parent) != 0;
    return editorOpen_;
}

// Every call the plug-in makes into us, printed (see the help text).
std::optional<intptr_t> GuiSession::hostCall(const HostCall& call) {
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
            if (options_.closeInIdle && editorOpen_) {
                // From inside the plug-in's own call, as a host whose
                // event loop runs here would.
                editorOpen_ = false;
                host_->dispatch(effEditClose);
                say("closed in idle\n");
                reopen_ = true;
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
}

void GuiSession::loop() {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nextIdle = start;
    bool readInput = true;
    std::string pending;
    while (!stopRequested && !windowGone_) {
        while (XPending(dpy_) > 0) {
            XEvent event;
            XNextEvent(dpy_, &event);
            if (event.type == ClientMessage &&
                static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_)
                stopRequested = 1;
            if (event.type == DestroyNotify && event.xdestroywindow.window == window_)
                windowGone_ = true;
        }
        const auto now = Clock::now();
        if (options_.closeAfter >= 0 &&
            now - start >= std::chrono::milliseconds(options_.closeAfter))
            break;
        if (reopen_) {
            reopen_ = false;
            if (openEditor())
                say("open %d %d 0x%lx\n", width_, height_, static_cast<unsigned long>(window_));
        }
        if (now >= nextIdle) {
            if (editorOpen_) host_->dispatch(effEditIdle);
            host_->clearCalls();  // the lines are printed; keep memory flat
            nextIdle = now + std::chrono::milliseconds(20);
            continue;
        }
        // Sleep until the next idle tick or an event of ours.
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextIdle - now).count();
        pollfd p[2] = {{ConnectionNumber(dpy_), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(p, readInput ? 2 : 1, static_cast<int>(wait) + 1) > 0 && readInput &&
            (p[1].revents & (POLLNVAL | POLLERR)) != 0) {
            readInput = false;  // no standard input at all (closed by the caller)
        } else if (readInput && (p[1].revents & (POLLIN | POLLHUP)) != 0) {
            readCommands(readInput, pending);
        }
    }
}

// What standard input has ready: complete lines run as commands, the rest
// waits in `pending` for its newline.
void GuiSession::readCommands(bool& readInput, std::string& pending) {
    char chunk[256];
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got <= 0) readInput = false;  // no more commands; keep running
    pending.append(chunk, got > 0 ? static_cast<size_t>(got) : 0);
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        runCommand(*host_, pending.substr(0, end));
        pending.erase(0, end + 1);
    }
}

void GuiSession::close() {
    if (options_.destroyFirst && !windowGone_) {
        XDestroyWindow(dpy_, window_);
        XSync(dpy_, False);
        windowGone_ = true;
    }
    if (editorOpen_) host_->dispatch(effEditClose);
    editorOpen_ = false;
    say("closed\n");
    host_->close();
    if (!windowGone_) XDestroyWindow(dpy_, window_);
    XSync(dpy_, False);
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
}

int runGui(const std::vector<std::string>& args) {
    // GTK and Qt hosts adopt the user's locale: the plug-in must live with a
    // comma as the decimal point.
    std::setlocale(LC_ALL, "");
    const GuiOptions options = parseOptions(args);
    GuiSession session(options);
    session.open();
    session.loop();
    session.close();
    return 0;
}

}  // namespace

extern const Command kGuiCommand;
const Command kGuiCommand = {"gui", "open the plug-in's editor in a window (needs X11)", kGuiHelp,
                             runGui};

}  // namespace kv::host
