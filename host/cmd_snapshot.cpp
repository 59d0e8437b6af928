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
#include "host/private_x_server.h"
#include "host/x_errors.h"

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
    "  --param N=V   set parameter N to the normalised value V before opening\n"
    "                (repeatable; 0 Gain, 1 Pad 1, 2 Pad 2, 3 Volume)\n"
    "  --over        feed one block above full scale through the processing\n"
    "                first, so the peak LED shows lit\n"
    "  --scale F     send the editor the scale factor F (1.5, 2 ...) before it\n"
    "                opens, as Carla does (effVendorSpecific 'PreS' 'AeCs')\n";

using Clock = std::chrono::steady_clock;

struct Options {
    PluginChoice plugin;
    std::string out;
    std::vector<std::pair<long, double>> params;
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
            const long index = parseInteger(assignment.substr(0, eq), "--param index");
            const double value = parseNumber(assignment.substr(eq + 1), "--param value");
            if (!std::isfinite(value)) throw UsageError("--param value must be a finite number");
            o.params.emplace_back(index, value);
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

// The window's pixels as 0xRRGGBB rows, read from the server; the window's
// children (the editor) included, as they are on the screen.
std::vector<uint32_t> grab(Display* dpy, Window window, int width, int height) {
    std::vector<uint32_t> pixels;
    XImage* image = XGetImage(dpy, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image) return pixels;
    pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            // Scale each mask's bits to 8 bits (24-bit TrueColor in practice).
            auto part = [p](unsigned long mask) -> uint32_t {
                if (mask == 0) return 0;
                int shift = 0;
                while (((mask >> shift) & 1) == 0)
                    ++shift;
                const unsigned long bits = mask >> shift;
                return static_cast<uint32_t>(((p & mask) >> shift) * 255 / bits);
            };
            pixels[static_cast<size_t>(y) * width + x] = (part(image->red_mask) << 16) |
                                                         (part(image->green_mask) << 8) |
                                                         part(image->blue_mask);
        }
    }
    XDestroyImage(image);
    return pixels;
}

void writePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        std::memcpy(data + static_cast<size_t>(y) * stride, &pixels[static_cast<size_t>(y) * width],
                    static_cast<size_t>(width) * 4);
    }
    cairo_surface_mark_dirty(surface);
    // Written beside the target and renamed, so a failed run leaves no
    // half-written picture under the requested name.
    const std::string partial = path + ".partial";
    const cairo_status_t status = cairo_surface_write_to_png(surface, partial.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        throw RunError("cannot write \"" + path + "\"");
    }
}

// The editor on a window of ours, from open() to close(). The members are
// released in reverse order: the display, then the plug-in, then the private
// server if one was started.
class SnapshotSession {
  public:
    explicit SnapshotSession(const Options& options) : options_(options) {}
    SnapshotSession(const SnapshotSession&) = delete;
    SnapshotSession& operator=(const SnapshotSession&) = delete;
    ~SnapshotSession() {
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
    std::unique_ptr<PluginHost> host_;
    Display* dpy_ = nullptr;
    Window window_ = 0;
    int width_ = 0;
    int height_ = 0;
};

void SnapshotSession::open() {
    {
        // The plug-in and the arguments first: nothing to start for a
        // request that cannot be carried out.
        auto loaded = openPlugin(options_.plugin);
        if ((loaded->effect()->flags & effFlagsHasEditor) == 0)
            throw RunError("the plug-in has no editor");
        for (const auto& [index, value] : options_.params) {
            if (index < 0 || index >= loaded->numParams())
                throw UsageError("--param index " + std::to_string(index) + " is not a parameter");
        }
        host_ = std::move(loaded);
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
    host_->start(44100.0f, 512);  // effOpen, rate, block size, resume
    for (const auto& [index, value] : options_.params)
        host_->setParameter(static_cast<int32_t>(index), static_cast<float>(value));

    if (options_.scale > 0.0)
        host_->dispatch(effVendorSpecific, kvFourCC('P', 'r', 'e', 'S'),
                        kvFourCC('A', 'e', 'C', 's'), nullptr, static_cast<float>(options_.scale));

    // Hosts ask for the size before and again after effEditOpen: many
    // editors know it only once they are open. Until then the window takes
    // a provisional size and is resized to the editor's.
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
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window_));
    if (host_->dispatch(effEditOpen, 0, 0, parent) == 0) {
        XDestroyWindow(dpy_, window_);
        throw RunError("the plug-in's editor did not open");
    }
    if (!editorSize(width_, height_)) {
        host_->dispatch(effEditClose);
        XDestroyWindow(dpy_, window_);
        throw RunError("the editor reports no size");
    }
    XResizeWindow(dpy_, window_, static_cast<unsigned>(width_), static_cast<unsigned>(height_));
    XSync(dpy_, False);
}

bool SnapshotSession::editorSize(int& w, int& h) {
    ERect* rect = nullptr;
    host_->dispatch(effEditGetRect, 0, 0, &rect);
    w = rect ? rect->right - rect->left : 0;
    h = rect ? rect->bottom - rect->top : 0;
    return w > 0 && h > 0 && w <= 8192 && h <= 8192;
}

void SnapshotSession::idleOnce() {
    host_->dispatch(effEditIdle);
    host_->clearCalls();
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
        // Twice full scale for one block; the LED lights at the next idle
        // and holds long enough for the picture.
        ChannelBuffers<float> buffers(host_->numInputs(), host_->numOutputs(), 512);
        buffers.fillInputs(2.0f);
        host_->processReplacing(buffers.inPointers(), buffers.outPointers(), 512);
        idleOnce();
        idleOnce();
        pixels = grab(dpy_, window_, width_, height_);
    }
    return pixels;
}

void SnapshotSession::close() {
    host_->dispatch(effEditClose);
    host_->close();
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
