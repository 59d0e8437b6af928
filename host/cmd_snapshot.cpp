// kv23 snapshot: a picture of the plug-in's editor as a host shows it. The
// editor opens on a window of our own (on $DISPLAY, or on a private Xvfb
// started for the purpose when there is no display), gets effEditIdle until
// its first frame is on the window, and the window's pixels are read back
// from the X server and written as a PNG file.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/channel_buffers.h"
#include "host/cli.h"
#include "host/plugin_instance.h"
#include "host/private_x_server.h"
#include "host/x_errors.h"
#include "host/x_pixels.h"

namespace kv::host {
namespace {

const char* const kSnapshotHelp =
    "usage: kv23 snapshot OUT.png [--plugin PATH] [--trace] [--param N=V]... [--over]\n"
    "                             [--scale FACTOR]\n"
    "\n"
    "Opens the plug-in's editor in a window, waits until it has drawn its panel\n"
    "and writes the window's pixels to OUT.png. Without $DISPLAY a private Xvfb\n"
    "is started for the picture and stopped afterwards.\n"
    "\n"
    "  --param N=V   set parameter N to V, in its own units, before opening\n"
    "                (repeatable); a VST 2 plug-in's are numbered and take 0 to 1\n"
    "                (0 Gain, 1 Pad 1, 2 Pad 2, 3 Volume)\n"
    "  --over        feed one block above full scale through the processing\n"
    "                first, so the peak LED shows lit\n"
    "  --scale F     give the editor the host's scale factor F (1.5, 2 ...) as\n"
    "                it opens: VST 2 as Carla does (effVendorSpecific 'PreS'\n"
    "                'AeCs'), CLAP as gui.set_scale\n"
    "\n"
    "A CLAP plug-in (a .clap file) is shown through its gui extension, embedded\n"
    "as kv23 gui embeds it, its timers run as the idle: --param ID=V takes the\n"
    "parameter's id or name and its plain value (decibels, 0 or 1), set through\n"
    "before the panel is created.\n";

using Clock = std::chrono::steady_clock;

struct Options {
    PluginChoice plugin;
    std::string out;
    std::vector<std::pair<std::string, double>> params;  // N (or a CLAP id or name), V
    bool over = false;
    double scale = 0.0;  // 0: send none
};

Options parse(const std::vector<std::string>& args) {
    Options o;
    ArgReader reader(args);
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (takePluginOption(reader, arg, o.plugin)) continue;
        if (arg == "--over") {
            o.over = true;
        } else if (arg == "--scale") {
            o.scale = parseNumber(reader.valueOf(arg), arg);
            if (!(o.scale > 0.0) || !std::isfinite(o.scale))
                throw UsageError("--scale needs a positive number (1, 1.5, 2 ...)");
        } else if (arg == "--param") {
            const std::string& assignment = reader.valueOf(arg);
            const size_t eq = assignment.find('=');
            if (eq == std::string::npos)
                throw UsageError("--param needs N=V, not \"" + assignment + "\"");
            const std::string name = assignment.substr(0, eq);
            const double value = parseNumber(assignment.substr(eq + 1), "--param value");
            if (!std::isfinite(value)) throw UsageError("--param value must be a finite number");
            o.params.emplace_back(name, value);
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError("unknown option \"" + arg + "\"");
        } else if (o.out.empty()) {
            o.out = arg;
        } else {
            throw UsageError("only one output file, not also \"" + arg + "\"");
        }
    }
    if (o.out.empty()) throw UsageError("the output file OUT.png is missing");
    return o;
}

// The plug-in's side of a snapshot, whatever its format.
class Editor {
  public:
    explicit Editor(const PluginChoice& choice) {
        const LoadOptions options = loadOptions(choice);
        std::string error;
        const std::string path = choice.path.empty() ? defaultPluginPath() : choice.path;
        plugin_ = openPluginInstance(path, error, options);
        if (!plugin_) throw RunError(error);
        if (!plugin_->capabilities().editor)
            throw RunError("the plug-in has no editor (none for an X11 window)");
    }
    // Before the display: each --param names a parameter (a VST 2 index, a
    // CLAP id or name), else a UsageError.
    void check(const Options& options) {
        for (const auto& [name, value] : options.params)
            settings_.emplace_back(parameter(name), value);
    }
    // Starts the plug-in and sets the parameters, in their own units.
    void prepare() {
        if (!plugin_->start(44100.0, 512)) throw RunError("the plug-in refused to start");
        for (const auto& [index, value] : settings_)
            plugin_->setValue(index, value);
    }
    bool size(int& w, int& h) { return plugin_->editorSize(w, h); }
    bool open(Window parent, double scale) { return plugin_->openEditor(parent, scale); }
    void idle() { plugin_->idle(); }
    // Twice full scale for one block; the LED lights at the next idle and
    // holds long enough for the picture.
    void over() {
        ChannelBuffers<float> buffers(plugin_->inputs(), plugin_->outputs(), 512);
        buffers.fillInputs(2.0f);
        plugin_->process(buffers.inPointers(), buffers.outPointers(), 512);
    }
    void close() {
        plugin_->closeEditor();
        plugin_.reset();
    }

  private:
    uint32_t parameter(const std::string& name) const {
        if (plugin_->identity().format == PluginFormat::Vst2) {
            const long index = parseInteger(name, "--param index");
            if (index < 0 || index >= static_cast<long>(plugin_->parameterCount()))
                throw UsageError("--param index " + std::to_string(index) + " is not a parameter");
            return static_cast<uint32_t>(index);
        }
        const auto index = plugin_->findParameter(name);
        if (!index) throw UsageError("--param " + name + " is not a parameter's id or name");
        return *index;
    }

    std::unique_ptr<PluginInstance> plugin_;
    std::vector<std::pair<uint32_t, double>> settings_;
};

// The editor on a window of ours, from open() to close(). The members are
// released in reverse order: the display, then the plug-in, then the private
// server if one was started.
class SnapshotSession {
  public:
    explicit SnapshotSession(const Options& options) : options_(options) {}
    SnapshotSession(const SnapshotSession&) = delete;
    SnapshotSession& operator=(const SnapshotSession&) = delete;
    ~SnapshotSession() {
        editor_.reset();
        if (dpy_) XCloseDisplay(dpy_);
    }

    // Loads the plug-in and checks the request, finds or starts a display,
    // sets the parameters and opens the editor on a window of its size.
    // Throws RunError or UsageError.
    void open();
    // Idles as a host does until the picture holds still (then the over, if
    // asked for); the window's pixels, or none when the editor drew nothing.
    std::vector<uint32_t> capture();
    // Closes the editor and the plug-in and destroys the window.
    void close();

    int width() const { return width_; }
    int height() const { return height_; }

  private:
    bool editorSize(int& w, int& h);
    void idleOnce();
    std::vector<uint32_t> settled();

    const Options& options_;
    PrivateXServer server_;
    std::unique_ptr<Editor> editor_;
    Display* dpy_ = nullptr;
    Window window_ = 0;
    int width_ = 0;
    int height_ = 0;
};

void SnapshotSession::open() {
    {
        // The plug-in and the arguments first: nothing to start for a
        // request that cannot be carried out.
        auto loaded = std::make_unique<Editor>(options_.plugin);
        loaded->check(options_);
        editor_ = std::move(loaded);
    }
    dpy_ = XOpenDisplay(nullptr);
    if (!dpy_) {
        // A scaled panel (up to 720 x 1200) must lie on the screen to be read.
        const bool large = options_.scale > 1.0;
        if (!(large ? server_.start("1024x1280x24") : server_.start()))
            throw RunError("there is no X display and " + server_.failure());
        dpy_ = XOpenDisplay(server_.display().c_str());
        if (!dpy_) throw RunError("there is no X display and Xvfb did not take a connection");
        // The plug-in opens its own connection, to the display we use.
        setenv("DISPLAY", server_.display().c_str(), 1);
    }
    installXErrorLog();
    editor_->prepare();

    // Hosts ask for the size before and again after opening: many editors
    // know it only once they are open. Until then the window takes a
    // provisional size and is resized to the editor's.
    if (!editorSize(width_, height_)) {
        width_ = 240;
        height_ = 400;
    }

    const int screen = DefaultScreen(dpy_);
    window_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen), 0, 0,
                                  static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0,
                                  BlackPixel(dpy_, screen), BlackPixel(dpy_, screen));
    XStoreName(dpy_, window_, "kv23 snapshot");
    XSelectInput(dpy_, window_, StructureNotifyMask);
    XMapWindow(dpy_, window_);
    for (XEvent event; XNextEvent(dpy_, &event), event.type != MapNotify;) {
    }
    if (!editor_->open(window_, options_.scale)) {
        XDestroyWindow(dpy_, window_);
        throw RunError("the plug-in's editor did not open");
    }
    if (!editorSize(width_, height_)) {
        editor_->close();
        XDestroyWindow(dpy_, window_);
        throw RunError("the editor reports no size");
    }
    XResizeWindow(dpy_, window_, static_cast<unsigned>(width_), static_cast<unsigned>(height_));
    XSync(dpy_, False);
}

bool SnapshotSession::editorSize(int& w, int& h) {
    return editor_->size(w, h) && w <= 8192 && h <= 8192;
}

void SnapshotSession::idleOnce() {
    editor_->idle();
    XSync(dpy_, False);
    while (XPending(dpy_) > 0) {
        XEvent event;
        XNextEvent(dpy_, &event);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Idle until the picture holds still and is not the bare (black) window;
// bounded, because a broken editor draws nothing.
std::vector<uint32_t> SnapshotSession::settled() {
    std::vector<uint32_t> last;
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < until) {
        idleOnce();
        std::vector<uint32_t> now = grab(dpy_, window_, width_, height_);
        bool drawn = false;
        for (uint32_t p : now)
            drawn = drawn || p != 0;
        if (drawn && now == last) return now;
        last = std::move(now);
    }
    return std::vector<uint32_t>();
}

std::vector<uint32_t> SnapshotSession::capture() {
    std::vector<uint32_t> pixels = settled();
    if (!pixels.empty() && options_.over) {
        editor_->over();
        idleOnce();
        idleOnce();
        pixels = grab(dpy_, window_, width_, height_);
    }
    return pixels;
}

void SnapshotSession::close() {
    editor_->close();
    XDestroyWindow(dpy_, window_);
    XSync(dpy_, False);
}

int runSnapshot(const std::vector<std::string>& args) {
    // Our own arguments are read first, in the C locale ("--param 0=0.75");
    // the plug-in then runs in the user's, as in the desktop hosts whose
    // window this shows.
    const Options options = parse(args);
    std::setlocale(LC_ALL, "");

    SnapshotSession session(options);
    session.open();
    const std::vector<uint32_t> pixels = session.capture();
    session.close();
    if (pixels.empty()) throw RunError("the editor drew nothing within 5 seconds");
    writePng(options.out, pixels, session.width(), session.height());
    std::printf("%s: %d x %d\n", options.out.c_str(), session.width(), session.height());
    return 0;
}

}  // namespace

extern const Command kSnapshotCommand;
const Command kSnapshotCommand = {"snapshot", "write a picture of the plug-in's editor (X11)",
                                  kSnapshotHelp, runSnapshot};

}  // namespace kv::host
