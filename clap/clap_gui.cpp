#include "clap/clap_gui.h"

#include <clap/ext/gui.h>
#include <clap/ext/thread-check.h>
#include <clap/ext/timer-support.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "clap/clap_params.h"
#include "common/identity.h"
#include "panel/idle_pump.h"
#include "panel/opamp_panel.h"
#include "panel/panel_owner.h"
#include "panel/panel_scale.h"
#include "vstgui/cframe.h"
#include "vstgui/platform/native_window.h"

namespace kv::clap {

namespace {

using namespace kv::opamp;

#ifdef _WIN32
constexpr const char* kWindowApi = CLAP_WINDOW_API_WIN32;
#else
constexpr const char* kWindowApi = CLAP_WINDOW_API_X11;
#endif

}  // namespace

// The panel of one instance, from gui.create to gui.destroy. Main thread.
// After gui.destroy it may wait, closed, on the instance's `retired` list
// until the host's call into the plug-in returns (clap_instance.h).
struct Gui final : kv::panel::PanelOwner {
    explicit Gui(Opamp& instance) : o(instance) {
        for (int32_t i = 0; i < kNumParams; ++i)
            shown[i] = o.values[i].load();
    }
    ~Gui() { close(); }

    const clap_host_gui_t* hostGui() const {
        return static_cast<const clap_host_gui_t*>(o.host->get_extension(o.host, CLAP_EXT_GUI));
    }

    // The factor of an open panel, else the one it would open at.
    double scale() const {
        if (VSTGUI::CFrame* frame = panel.getFrame()) return frame->getScale();
        return kv::panel::chooseScale(hostScale, nullptr);
    }

    // The panel lends the LED's cell to the processing while it is open. A
    // host that sized its window from get_size before set_parent hears the
    // size the panel opened at on this screen (a Windows desktop at 200 %).
    bool open(void* parent) {
        if (!panel.open(parent, kv::panel::chooseScale(hostScale, parent), &o.peak)) return false;
        if (const auto size = kv::panel::sizeToAskAfterOpen(hostScale, panel.getFrame()))
            resizeHostWindow(size->width, size->height);
        return true;
    }

    void close() { panel.close(); }

    // The host's timer: values the host changed (automation, a state)
    // move the controls, then the panel handles its window and redraws.
    void tick() {
        for (int32_t i = 0; i < kNumParams; ++i) {
            const float now = o.values[i].load(std::memory_order_relaxed);
            if (now == shown[i]) continue;
            shown[i] = now;
            panel.parameterChanged(i, now);
        }
        if (VSTGUI::CFrame* frame = panel.getFrame()) frame->idle();
    }

    // The host hears of it with its next process, or the flush asked for.
    void askFlush() {
        if (o.calls.mayCall() && o.hostParams && o.hostParams->request_flush)
            o.hostParams->request_flush(o.host);
    }

    float parameterValue(int32_t index) override {
        return index >= 0 && index < kNumParams ? o.values[index].load() : 0.0f;
    }
    void changeParameter(int32_t index, float value, bool /*automate*/) override {
        if (index < 0 || index >= kNumParams) return;
        const auto accepted = acceptValue(value);
        if (!accepted) return;
        // The sound takes it at the next block; the host hears of it with
        // the next process or flush.
        o.values[index].store(*accepted, std::memory_order_relaxed);
        shown[index] = *accepted;
        o.fromPanel.changed(static_cast<uint32_t>(index));
        panel.parameterChanged(index, *accepted);
        askFlush();
    }
    void beginGesture(int32_t index) override {
        o.fromPanel.begin(static_cast<uint32_t>(index));
        askFlush();
    }
    void endGesture(int32_t index) override {
        o.fromPanel.end(static_cast<uint32_t>(index));
        askFlush();
    }
    bool resizeHostWindow(int32_t width, int32_t height) override {
        const clap_host_gui_t* host = o.calls.mayCall() ? hostGui() : nullptr;
        return host && host->request_resize &&
               host->request_resize(o.host, static_cast<uint32_t>(width),
                                    static_cast<uint32_t>(height));
    }
    void followDesktopScale(double factor) override { panel.followDesktop(hostScale, factor); }

    Opamp& o;
    double hostScale = 0.0;  // 0: the host gave none
    clap_id timer = CLAP_INVALID_ID;
    float shown[kNumParams] = {};
    Gui* nextRetired = nullptr;
    kv::panel::OpampPanel panel{*this};
};

void Opamp::finishHostCalls(void* instance) {
    auto* o = static_cast<Opamp*>(instance);
    while (Gui* gui = o->retired) {
        o->retired = gui->nextRetired;
        delete gui;
    }
    if (o->calls.ending()) delete o;
}

namespace {

// In debug builds a host that offers thread-check has every main-thread
// call of the panel checked; a wrong thread is refused with a message.
bool onMainThread(const Opamp& o, const char* call) {
#ifdef NDEBUG
    (void)o;
    (void)call;
    return true;
#else
    const auto* check = static_cast<const clap_host_thread_check_t*>(
        o.host->get_extension(o.host, CLAP_EXT_THREAD_CHECK));
    if (!check || !check->is_main_thread || check->is_main_thread(o.host)) return true;
    std::fprintf(stderr, "%s: clap_plugin_gui.%s called off the main thread; ignored\n",
                 kv::identity::kName, call);
    return false;
#endif
}

const clap_host_timer_support_t* hostTimers(const Opamp& o) {
    return static_cast<const clap_host_timer_support_t*>(
        o.host->get_extension(o.host, CLAP_EXT_TIMER_SUPPORT));
}

bool isApiSupported(const clap_plugin_t*, const char* api, bool isFloating) {
    return !isFloating && api && std::strcmp(api, kWindowApi) == 0;
}

bool getPreferredApi(const clap_plugin_t*, const char** api, bool* isFloating) {
    if (!api || !isFloating) return false;
    *api = kWindowApi;
    *isFloating = false;
    return true;
}

bool create(const clap_plugin_t* plugin, const char* api, bool isFloating) {
    Opamp& o = *self(plugin);
    const kv::HostCalls::Entry entry(o.calls);
    if (!onMainThread(o, "create") || !isApiSupported(plugin, api, isFloating) || o.gui)
        return false;
    const clap_host_timer_support_t* timers = hostTimers(o);
    if (!timers || !timers->register_timer) {
        std::fprintf(stderr,
                     "%s: the host offers no timer-support, which the panel needs to "
                     "run; no panel\n",
                     kv::identity::kName);
        return false;
    }
    o.gui = new (std::nothrow) Gui(o);
    if (!o.gui) return false;
    if (!timers->register_timer(o.host, kv::panel::kPanelTimerMs, &o.gui->timer)) {
        delete o.gui;
        o.gui = nullptr;
        return false;
    }
    return true;
}

void destroy(const clap_plugin_t* plugin) {
    Opamp& o = *self(plugin);
    const kv::HostCalls::Entry entry(o.calls);
    if (onMainThread(o, "destroy")) destroyGui(o);
}

bool setScale(const clap_plugin_t* plugin, double factor) {
    Opamp& o = *self(plugin);
    const kv::HostCalls::Entry entry(o.calls);
    if (!onMainThread(o, "set_scale") || !o.gui) return false;
    const double accepted = kv::panel::acceptHostScale(factor);
    if (accepted == 0.0) return false;
    o.gui->hostScale = accepted;
    if (VSTGUI::CFrame* frame = o.gui->panel.getFrame())
        frame->setScale(kv::panel::requestedScale(accepted));
    return true;
}

bool getSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
    Opamp& o = *self(plugin);
    if (!onMainThread(o, "get_size") || !o.gui || !width || !height) return false;
    const kv::panel::DeviceSize size = kv::panel::deviceSize(o.gui->scale());
    *width = static_cast<uint32_t>(size.width);
    *height = static_cast<uint32_t>(size.height);
    return true;
}

bool canResize(const clap_plugin_t*) {
    return false;
}

// Valid hints, all of them "no": Qtractor asks and complains without them.
bool getResizeHints(const clap_plugin_t*, clap_gui_resize_hints_t* hints) {
    if (!hints) return false;
    *hints = {};
    return true;
}

// The panel has one size: a host asking for another gets it.
bool adjustSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
    return getSize(plugin, width, height);
}

bool setSize(const clap_plugin_t* plugin, uint32_t width, uint32_t height) {
    uint32_t w = 0, h = 0;
    return getSize(plugin, &w, &h) && w == width && h == height;
}

bool setParent(const clap_plugin_t* plugin, const clap_window_t* window) {
    Opamp& o = *self(plugin);
    const kv::HostCalls::Entry entry(o.calls);
    if (!onMainThread(o, "set_parent") || !o.gui || !window || !window->api ||
        std::strcmp(window->api, kWindowApi) != 0)
        return false;
#ifdef _WIN32
    void* parent = window->win32;
#else
    void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window->x11));
#endif
    return parent && o.gui->open(parent);
}

bool setTransient(const clap_plugin_t*, const clap_window_t*) {
    return false;
}

void suggestTitle(const clap_plugin_t*, const char*) {}

// The panel lives inside the host's window, which the host shows and hides.
bool show(const clap_plugin_t* plugin) {
    const Opamp& o = *self(plugin);
    return o.gui && o.gui->panel.isOpen();
}

bool hide(const clap_plugin_t* plugin) {
    return self(plugin)->gui != nullptr;
}

void onTimer(const clap_plugin_t* plugin, clap_id timer) {
    Opamp& o = *self(plugin);
    const kv::HostCalls::Entry entry(o.calls);
    if (o.gui && timer == o.gui->timer) o.gui->tick();
}

const clap_plugin_gui_t kGui = {
    isApiSupported, getPreferredApi, create,         destroy,    setScale,
    getSize,        canResize,       getResizeHints, adjustSize, setSize,
    setParent,      setTransient,    suggestTitle,   show,       hide};

const clap_plugin_timer_support_t kTimerSupport = {onTimer};

}  // namespace

const void* guiExtension(const char* id) {
    if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGui;
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimerSupport;
    return nullptr;
}

void destroyGui(Opamp& o) {
    if (!o.gui) return;
    Gui* gui = o.gui;
    o.gui = nullptr;
    // The panel closes now (a gesture under way ends for the host); the
    // object goes when no call of the host's into the plug-in is open.
    gui->close();
    if (const clap_host_timer_support_t* timers = hostTimers(o);
        timers && timers->unregister_timer && gui->timer != CLAP_INVALID_ID)
        timers->unregister_timer(o.host, gui->timer);
    gui->nextRetired = o.retired;
    o.retired = gui;
    o.calls.finishWhenIdle();
}

}  // namespace kv::clap
