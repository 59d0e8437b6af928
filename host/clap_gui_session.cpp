// kv23 gui for a CLAP plug-in: its panel through the gui extension, embedded
// in a window of ours as Linux CLAP hosts embed it: create("x11"), set_scale
// when a factor is given, get_size, a top-level window of that size,
// set_parent, show; the plug-in's timers, requested flushes and callbacks
// run from our loop; hide and destroy when the window is closed or the
// process is asked to stop. The output lines and the commands are the VST 2
// session's where the formats meet (see kv23 gui --help); values are the
// parameters' plain values (decibels, 0/1), as CLAP gives them.
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "host/channel_buffers.h"
#include "host/clap_host.h"
#include "host/gui_support.h"
#include "host/x_errors.h"

namespace kv::host {
namespace {

class ClapGuiSession final : public ClapHostListener {
  public:
    explicit ClapGuiSession(const GuiOptions& options) : options_(options) {}
    ~ClapGuiSession() override {
        if (created_) gui_->destroy(host_->plugin());  // open() failed half-way
        host_.reset();  // the plug-in's own connection goes before ours
        if (dpy_) XCloseDisplay(dpy_);
    }
    ClapGuiSession(const ClapGuiSession&) = delete;
    ClapGuiSession& operator=(const ClapGuiSession&) = delete;

    // Connects to the display, loads the plug-in and embeds its panel in a
    // new window; takes over SIGINT and SIGTERM. Throws RunError.
    void open();
    // Window events, commands, timers and flushes until the window closes,
    // a stop is requested or time is up.
    void loop();
    // hide and destroy (after or before the window, as the options ask),
    // then the plug-in; gives the signals back.
    void close();
    // Whether the plug-in did something wrong during the session.
    bool sawFault() const { return faultSaid_; }

  private:
    void outputEvent(const clap_event_header_t& event) override;
    bool requestResize(uint32_t width, uint32_t height) override;
    bool requestShow() override {
        say("call gui.request_show 0 0\n");
        return true;
    }
    bool requestHide() override {
        say("call gui.request_hide 0 0\n");
        return true;
    }
    void guiClosed(bool wasDestroyed) override {
        say("call gui.closed %d 0\n", wasDestroyed ? 1 : 0);
        if (wasDestroyed) stopRequested = 1;
    }
    void resizeHintsChanged() override { say("call gui.resize_hints_changed 0 0\n"); }

    void runCommand(const std::string& line);
    void setScale(double factor);
    void over();
    bool set(const std::string& arguments);
    void followSize();

    const GuiOptions& options_;
    Display* dpy_ = nullptr;
    std::unique_ptr<ClapHost> host_;
    const clap_plugin_gui_t* gui_ = nullptr;
    std::optional<TopWindow> window_;
    bool created_ = false;
    bool windowGone_ = false;
    std::optional<StopSignals> signals_;
    bool faultSaid_ = false;  // the plug-in did wrong, and it was said
};

void ClapGuiSession::open() {
    dpy_ = XOpenDisplay(nullptr);
    if (!dpy_) throw RunError("cannot open the X display; set DISPLAY to a running X server");
    installXErrorLog();

    std::string error;
    host_ = ClapHost::load(options_.plugin.path, error, options_.plugin.id);
    if (!host_) throw RunError(error);
    gui_ = host_->gui();
    const clap_plugin_t* p = host_->plugin();
    if (!gui_ || !gui_->is_api_supported(p, CLAP_WINDOW_API_X11, false))
        throw RunError("the plug-in has no editor (no gui extension for an embedded X11 window)");
    host_->setListener(this);
    if (!gui_->create(p, CLAP_WINDOW_API_X11, false))
        throw RunError("the plug-in has no editor (gui.create answered false)");
    created_ = true;
    if (options_.scale > 0.0) setScale(options_.scale);

    uint32_t width = 0, height = 0;
    const bool sized = gui_->get_size(p, &width, &height);
    if (sized && (width > kMaxWindowSide || height > kMaxWindowSide))
        throw RunError("the plug-in's fault: its gui.get_size answers " + std::to_string(width) +
                       " x " + std::to_string(height) + ", larger than any screen (kv23 takes " +
                       std::to_string(kMaxWindowSide) + " a side at most)");
    if (!sized || width == 0 || height == 0) {
        width = 240;  // resized once the panel tells its size after set_parent
        height = 400;
    }
    const std::string& name = host_->descriptor().name;
    window_.emplace(dpy_, static_cast<int>(width), static_cast<int>(height),
                    "kv23 - " + (name.empty() ? std::string("plug-in") : name));
    clap_window_t parent{};
    parent.api = CLAP_WINDOW_API_X11;
    parent.x11 = window_->id();
    if (!gui_->set_parent(p, &parent)) {
        XDestroyWindow(dpy_, window_->id());
        throw RunError("the plug-in has no editor (gui.set_parent answered false)");
    }
    followSize();
    gui_->show(p);
    say("open %d %d 0x%lx\n", window_->width(), window_->height(),
        static_cast<unsigned long>(window_->id()));
    signals_.emplace();
}

// After set_parent or set_scale a host asks the size again and fits its
// window to it.
void ClapGuiSession::followSize() {
    uint32_t width = 0, height = 0;
    if (gui_->get_size(host_->plugin(), &width, &height) && width <= kMaxWindowSide &&
        height <= kMaxWindowSide &&
        (static_cast<int>(width) != window_->width() ||
         static_cast<int>(height) != window_->height()))
        window_->resizeTo(static_cast<int>(width), static_cast<int>(height));
}

void ClapGuiSession::setScale(double factor) {
    const bool answer = gui_->set_scale(host_->plugin(), factor);
    say("scale %s %d\n", sixDecimals(factor).c_str(), answer ? 1 : 0);
}

// Gestures and values from the panel, as the VST 2 session prints begin
// edit, end edit and automate.
void ClapGuiSession::outputEvent(const clap_event_header_t& event) {
    if (event.space_id != CLAP_CORE_EVENT_SPACE_ID) return;
    if (event.type == CLAP_EVENT_PARAM_GESTURE_BEGIN ||
        event.type == CLAP_EVENT_PARAM_GESTURE_END) {
        const auto& gesture = reinterpret_cast<const clap_event_param_gesture_t&>(event);
        say(event.type == CLAP_EVENT_PARAM_GESTURE_BEGIN ? "beginEdit %u\n" : "endEdit %u\n",
            gesture.param_id);
    } else if (event.type == CLAP_EVENT_PARAM_VALUE) {
        const auto& value = reinterpret_cast<const clap_event_param_value_t&>(event);
        say("automate %u %s\n", value.param_id, sixDecimals(value.value).c_str());
    } else {
        say("event %u\n", static_cast<unsigned>(event.type));
    }
}

bool ClapGuiSession::requestResize(uint32_t width, uint32_t height) {
    say("sizeWindow %u %u\n", width, height);
    if (!window_ || width > kMaxWindowSide || height > kMaxWindowSide) return false;
    window_->resizeTo(static_cast<int>(width), static_cast<int>(height));
    return true;
}

// One block at twice full scale on a thread of its own, as a DAW's audio
// thread would run it; activated for it and deactivated after.
void ClapGuiSession::over() {
    constexpr uint32_t kFrames = 256;
    if (!host_->activate(44100.0, kFrames)) {
        say("over refused\n");
        return;
    }
    std::thread audio([this] {
        ChannelBuffers<float> buffers(static_cast<int32_t>(host_->inputChannels()),
                                      static_cast<int32_t>(host_->outputChannels()), kFrames);
        buffers.fillInputs(2.0f);
        if (host_->startProcessing())
            host_->process(buffers.inPointers(), buffers.outPointers(), kFrames, 0, {});
        host_->stopProcessing();
    });
    audio.join();
    host_->deactivate();
    say("over\n");
}

// "ID VALUE": the host sets a parameter while not processing (automation
// or a value typed into the host's own field) through params.flush.
bool ClapGuiSession::set(const std::string& arguments) {
    std::string parameter;
    double value = 0.0;
    if (!readSetting(arguments, parameter, value)) return false;
    const auto id = host_->findParam(parameter);
    if (!id || host_->active() || !host_->flush({{0, *id, value}})) return false;
    say("set %u %s\n", *id, sixDecimals(value).c_str());
    return true;
}

void ClapGuiSession::runCommand(const std::string& line) {
    runSessionCommand(line, {[this] {
                                 for (const clap_param_info_t& p : host_->params())
                                     say("param %u %s\n", p.id,
                                         sixDecimals(host_->value(p.id).value_or(0.0)).c_str());
                             },
                             [this] { over(); },
                             [this](double factor) {
                                 setScale(factor);
                                 followSize();
                             },
                             [this](const std::string& arguments) { return set(arguments); }});
}

void ClapGuiSession::loop() {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    CommandInput input;
    while (!stopRequested && !windowGone_) {
        if (window_->readEvents()) windowGone_ = true;
        if (options_.closeAfter >= 0 &&
            Clock::now() - start >= std::chrono::milliseconds(options_.closeAfter))
            break;
        // Timers, a flush the panel asked for, main-thread callbacks.
        const int wait = host_->idle();
        if (!faultSaid_ && !host_->fault().empty()) {
            std::fprintf(stderr, "kv23 gui: the plug-in's fault: %s\n", host_->fault().c_str());
            faultSaid_ = true;
        }
        if (stopRequested || windowGone_) break;
        input.wait(ConnectionNumber(dpy_), wait + 1,
                   [this](const std::string& line) { runCommand(line); });
    }
}

void ClapGuiSession::close() {
    if (options_.destroyFirst && !windowGone_) {
        XDestroyWindow(dpy_, window_->id());
        XSync(dpy_, False);
        windowGone_ = true;
    }
    if (created_) {
        gui_->hide(host_->plugin());
        gui_->destroy(host_->plugin());
        created_ = false;
    }
    say("closed\n");
    host_.reset();
    if (!windowGone_) XDestroyWindow(dpy_, window_->id());
    XSync(dpy_, False);
    signals_.reset();
}

}  // namespace

int runClapGui(const GuiOptions& options) {
    if (options.closeInIdle)
        throw UsageError("--close-in-idle is for VST 2 plug-ins (a CLAP host has no idle call)");
    ClapGuiSession session(options);
    session.open();
    session.loop();
    session.close();
    return session.sawFault() ? 1 : 0;
}

}  // namespace kv::host
