// kv23 gui: the plug-in's editor in a window of its own, driven the way a
// Linux DAW drives it: effOpen, effEditGetRect, a top-level window of that
// size, effEditOpen with the window's id, effEditIdle about every 20 ms while
// our own window events are handled, and effEditClose + effClose when the
// window is closed or the process is asked to stop. Every call the plug-in
// makes into the host is printed as one line on standard output.
#include <X11/Xlib.h>

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
#include "host/gui_support.h"
#include "host/plugin_instance.h"
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
    "A CLAP plug-in (a .clap file) shows its panel through its gui extension,\n"
    "embedded in the window (create \"x11\", set_scale with --scale, get_size,\n"
    "set_parent, show; hide and destroy on closing), and gets the timers it\n"
    "registers, the flushes it requests and its main-thread callbacks from\n"
    "kv23's loop. Its lines are the same, with the parameter's id for INDEX and\n"
    "its plain value (decibels, 0 or 1) for VALUE: beginEdit and endEdit are its\n"
    "gesture events, automate its value events, sizeWindow its request_resize;\n"
    "\"scale FACTOR ANSWER\" gives set_scale's answer (1 or 0), and other gui\n"
    "requests print as \"call gui.NAME ...\". \"over\" activates it for its one\n"
    "block. One more command:\n"
    "  set ID VALUE  set parameter ID (or name) to the plain VALUE as a host's\n"
    "                automation does while not processing (params.flush with a\n"
    "                value event); the panel follows at its next timer tick;\n"
    "                printed as \"set ID VALUE\"\n"
    "A VST3 plug-in (a .vst3 bundle) shows its view (create_view \"editor\",\n"
    "set_frame, set_content_scale_factor with --scale, attached as\n"
    "X11EmbedWindowID, get_size; removed on closing) and gets the timers and\n"
    "descriptor handlers of kv23's run loop. Its lines and commands are the CLAP\n"
    "ones, ids and plain values: beginEdit, automate and endEdit are the\n"
    "handler's begin_edit, perform_edit and end_edit, sizeWindow the frame's\n"
    "resize_view, \"call NAME ...\" any other host call; \"set\" reaches the\n"
    "controller at once and the processor at its next block. Before \"closed\"\n"
    "a line \"runloop longest US us\" says how long one run-loop call took at most.\n"
    "--close-in-idle is for VST 2 plug-ins only.\n"
    "\n"
    "A plug-in without an editor (no effFlagsHasEditor, or effEditOpen refused) is\n"
    "an error: one line on standard error, exit status 1.\n";

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};

// The size the editor reports, or (0, 0) when it reports none.
void editorSize(Vst2Host& host, int& width, int& height) {
    ERect* rect = nullptr;
    host.dispatch(effEditGetRect, 0, 0, &rect);
    width = rect ? rect->right - rect->left : 0;
    height = rect ? rect->bottom - rect->top : 0;
}

// The host's scale factor, as Carla and JUCE hosts send it: the vendor-
// specific call 'PreS' / 'AeCs' with the factor as a float.
void sendScale(Vst2Host& host, double factor) {
    const intptr_t answer =
        host.dispatch(effVendorSpecific, kvFourCC('P', 'r', 'e', 'S'), kvFourCC('A', 'e', 'C', 's'),
                      nullptr, static_cast<float>(factor));
    say("scale %s %ld\n", sixDecimals(factor).c_str(), static_cast<long>(answer));
}

// One command line from standard input (see the help text).
void runCommand(Vst2Host& host, const std::string& line) {
    SessionCommands commands;
    commands.params = [&host] {
        for (int32_t i = 0; i < host.numParams(); ++i)
            say("param %d %s\n", i, sixDecimals(host.getParameter(i)).c_str());
    };
    commands.over = [&host] {
        std::thread audio([&host] {
            ChannelBuffers<float> buffers(host.numInputs(), host.numOutputs(), 256);
            buffers.fillInputs(2.0f);
            host.processReplacing(buffers.inPointers(), buffers.outPointers(), 256);
        });
        audio.join();
        say("over\n");
    };
    commands.scale = [&host](double factor) { sendScale(host, factor); };
    runSessionCommand(line, commands);
}

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
    std::optional<intptr_t> hostCall(const HostCall& call);
    bool openEditor();

    const GuiOptions& options_;
    std::unique_ptr<Display, DisplayCloser> display_;
    Display* dpy_ = nullptr;
    std::unique_ptr<Vst2Host> host_;
    std::optional<TopWindow> window_;
    int width_ = 0;
    int height_ = 0;
    bool editorOpen_ = false;
    bool reopen_ = false;
    bool windowGone_ = false;
    std::optional<StopSignals> signals_;
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
    window_.emplace(dpy_, width_, height_,
                    "kv23 - " + (name.empty() ? std::string("plug-in") : name));

    host_->setCallbackHook([this](const HostCall& call, void*) { return hostCall(call); });
    if (!openEditor()) {
        XDestroyWindow(dpy_, window_->id());
        host_->close();
        throw RunError("the plug-in has no editor (effEditOpen answered 0)");
    }
    editorSize(*host_, width_, height_);
    window_->resizeTo(width_, height_);
    say("open %d %d 0x%lx\n", width_, height_, static_cast<unsigned long>(window_->id()));
    signals_.emplace();
}

bool GuiSession::openEditor() {
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window_->id()));
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
            window_->resizeTo(call.index, static_cast<int>(call.value));
            width_ = window_->width();
            height_ = window_->height();
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
    CommandInput input;
    while (!stopRequested && !windowGone_) {
        if (window_->readEvents()) windowGone_ = true;
        const auto now = Clock::now();
        if (options_.closeAfter >= 0 &&
            now - start >= std::chrono::milliseconds(options_.closeAfter))
            break;
        if (reopen_) {
            reopen_ = false;
            if (openEditor())
                say("open %d %d 0x%lx\n", width_, height_,
                    static_cast<unsigned long>(window_->id()));
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
        input.wait(ConnectionNumber(dpy_), static_cast<int>(wait) + 1,
                   [this](const std::string& line) { runCommand(*host_, line); });
    }
}

void GuiSession::close() {
    if (options_.destroyFirst && !windowGone_) {
        XDestroyWindow(dpy_, window_->id());
        XSync(dpy_, False);
        windowGone_ = true;
    }
    if (editorOpen_) host_->dispatch(effEditClose);
    editorOpen_ = false;
    say("closed\n");
    host_->close();
    if (!windowGone_) XDestroyWindow(dpy_, window_->id());
    XSync(dpy_, False);
    signals_.reset();
}

int runGui(const std::vector<std::string>& args) {
    // GTK and Qt hosts adopt the user's locale: the plug-in must live with a
    // comma as the decimal point.
    std::setlocale(LC_ALL, "");
    const GuiOptions options = parseOptions(args);
    // Each format's host calls are its own (VST 2's opcodes, CLAP's gui
    // requests and events): each has its session, over the format's host.
    std::string why;
    const std::string path =
        options.plugin.path.empty() ? defaultPluginPath() : options.plugin.path;
    const auto format = pluginFormatOf(path, why);
    if (format == PluginFormat::Clap) return runClapGui(options);
    if (format == PluginFormat::Vst3) return runVst3Gui(options);
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
