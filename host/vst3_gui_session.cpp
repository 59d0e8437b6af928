// kv23 gui for a VST3 plug-in: its view embedded in a window of ours as
// Linux VST3 hosts embed it: create_view("editor"), set_frame with our run
// loop, the content scale when a factor is given, attached to the window
// as X11EmbedWindowID, get_size; the run loop's timers and descriptor
// handlers run from our loop; removed and released when the window is
// closed or the process is asked to stop. The lines and commands are the
// CLAP session's (see kv23 gui --help): ids and plain values.
#include <X11/Xlib.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "host/channel_buffers.h"
#include "host/gui_support.h"
#include "host/vst3_instance.h"
#include "host/x_errors.h"

namespace kv::host {
namespace {

class Vst3GuiSession final : public InstanceListener {
  public:
    explicit Vst3GuiSession(const GuiOptions& options) : options_(options) {}
    ~Vst3GuiSession() override {
        plugin_.reset();  // the plug-in's own connection goes before ours
        if (dpy_) XCloseDisplay(dpy_);
    }
    Vst3GuiSession(const Vst3GuiSession&) = delete;
    Vst3GuiSession& operator=(const Vst3GuiSession&) = delete;

    void open();
    void loop();
    void close();

  private:
    uint32_t idOf(uint32_t index) const { return plugin_->parameters()[index].id; }
    void gestureBegin(uint32_t index) override { say("beginEdit %u\n", idOf(index)); }
    void gestureEnd(uint32_t index) override { say("endEdit %u\n", idOf(index)); }
    void valueChanged(uint32_t index, double value) override {
        say("automate %u %s\n", idOf(index), sixDecimals(value).c_str());
    }
    bool resizeRequested(int width, int height) override {
        say("sizeWindow %d %d\n", width, height);
        if (!window_) return false;
        window_->resizeTo(width, height);
        return true;
    }
    void hostCall(const std::string& line) override {
        if (line.rfind("resize_view", 0) != 0) say("call %s\n", line.c_str());
    }

    void runCommand(const std::string& line);
    void setScale(double factor);
    void over();
    bool set(const std::string& arguments);
    void followSize();

    const GuiOptions& options_;
    Display* dpy_ = nullptr;
    std::unique_ptr<Vst3Instance> plugin_;
    std::optional<TopWindow> window_;
    bool windowGone_ = false;
    std::optional<StopSignals> signals_;
};

void Vst3GuiSession::open() {
    dpy_ = XOpenDisplay(nullptr);
    if (!dpy_) throw RunError("cannot open the X display; set DISPLAY to a running X server");
    installXErrorLog();
    std::string error;
    auto host = Vst3Host::load(options_.plugin.path, error);
    if (!host) throw RunError(error);
    plugin_ = std::make_unique<Vst3Instance>(std::move(host));
    plugin_->setListener(this);
    // The window comes first (the view needs a parent), at the panel's
    // size until the view tells its own.
    const std::string& name = plugin_->vst3().record().name;
    window_.emplace(dpy_, 240, 400, "kv23 - " + (name.empty() ? std::string("plug-in") : name));
    std::string why;
    if (!plugin_->vst3().openView(window_->id(), options_.scale, &why)) {
        XDestroyWindow(dpy_, window_->id());
        throw RunError("the plug-in has no editor (" + why + ")");
    }
    if (options_.scale > 0.0) say("scale %s 1\n", sixDecimals(options_.scale).c_str());
    followSize();
    say("open %d %d 0x%lx\n", window_->width(), window_->height(),
        static_cast<unsigned long>(window_->id()));
    signals_.emplace();
}

void Vst3GuiSession::followSize() {
    int width = 0, height = 0;
    if (plugin_->editorSize(width, height) &&
        (width != window_->width() || height != window_->height()))
        window_->resizeTo(width, height);
}

void Vst3GuiSession::setScale(double factor) {
    say("scale %s %d\n", sixDecimals(factor).c_str(), plugin_->setEditorScale(factor) ? 1 : 0);
}

// One block at twice full scale on a thread of its own, as a DAW's audio
// thread would run it; started for it and stopped after.
void Vst3GuiSession::over() {
    constexpr uint32_t kFrames = 256;
    if (!plugin_->start(44100.0, kFrames)) {
        say("over refused\n");
        return;
    }
    std::thread audio([this] {
        ChannelBuffers<float> buffers(plugin_->inputs(), plugin_->outputs(), kFrames);
        buffers.fillInputs(2.0f);
        plugin_->process(buffers.inPointers(), buffers.outPointers(), kFrames, {});
    });
    audio.join();
    plugin_->stop();
    say("over\n");
}

// "ID VALUE": the host sets a parameter (its automation, or a value typed
// into its own field): the controller at once, the processor at its next
// block.
bool Vst3GuiSession::set(const std::string& arguments) {
    std::string parameter;
    double value = 0.0;
    if (!readSetting(arguments, parameter, value)) return false;
    const auto index = plugin_->findParameter(parameter);
    if (!index) return false;
    plugin_->setValue(*index, value);
    say("set %u %s\n", idOf(*index), sixDecimals(value).c_str());
    return true;
}

void Vst3GuiSession::runCommand(const std::string& line) {
    runSessionCommand(line, {[this] {
                                 for (uint32_t i = 0; i < plugin_->parameterCount(); ++i)
                                     say("param %u %s\n", idOf(i),
                                         sixDecimals(plugin_->value(i)).c_str());
                             },
                             [this] { over(); },
                             [this](double factor) {
                                 setScale(factor);
                                 followSize();
                             },
                             [this](const std::string& arguments) { return set(arguments); }});
}

void Vst3GuiSession::loop() {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    CommandInput input;
    while (!stopRequested && !windowGone_) {
        if (window_->readEvents()) windowGone_ = true;
        if (options_.closeAfter >= 0 &&
            Clock::now() - start >= std::chrono::milliseconds(options_.closeAfter))
            break;
        // The run loop: the timers that are due, the descriptors that are ready.
        const int wait = plugin_->vst3().idleDue();
        if (stopRequested || windowGone_) break;
        input.wait(ConnectionNumber(dpy_), wait + 1,
                   [this](const std::string& line) { runCommand(line); });
    }
}

void Vst3GuiSession::close() {
    if (options_.destroyFirst && !windowGone_) {
        XDestroyWindow(dpy_, window_->id());
        XSync(dpy_, False);
        windowGone_ = true;
    }
    plugin_->closeEditor();
    // How long the plug-in held the run loop at most: a drag must not hold it.
    say("runloop longest %ld us\n",
        static_cast<long>(plugin_->vst3().services().longestCall().count()));
    say("closed\n");
    plugin_.reset();
    if (!windowGone_) XDestroyWindow(dpy_, window_->id());
    XSync(dpy_, False);
    signals_.reset();
}

}  // namespace

int runVst3Gui(const GuiOptions& options) {
    if (options.closeInIdle)
        throw UsageError("--close-in-idle is for VST 2 plug-ins (a VST3 host has no idle call)");
    Vst3GuiSession session(options);
    session.open();
    session.loop();
    session.close();
    return 0;
}

}  // namespace kv::host
