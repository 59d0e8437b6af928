// The panel as VST3's IPlugView: embedded in the host's X11 window
// (X11EmbedWindowID) or HWND, run by a timer of the host's IRunLoop on
// Linux (the only idle a VST3 editor gets there; the panel reads its X
// connection at each tick, so no event handler is needed) and by a timer
// of its own window on Windows (whose hosts run the message loop that
// delivers it), scaled by the host's IPlugViewContentScale, sized through
// the frame's resize_view. Gestures reach the host through the
// controller's IComponentHandler as begin_edit, perform_edit and end_edit.
//
// Every call of this file comes on the host's UI thread. The host may
// release the view, or close it, from inside a call the panel makes to it
// (perform_edit, resize_view): each host call into the view holds an Entry,
// and the view goes when the outermost returns (common/host_calls.h).
#include "vst3/vst3_view.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/host_calls.h"
#include "common/identity.h"
#include "panel/idle_pump.h"
#include "panel/opamp_panel.h"
#include "panel/panel_owner.h"
#include "panel/panel_scale.h"
#include "vst3/vst3_plugin.h"
#include "vstgui/cframe.h"
#include "vstgui/platform/native_window.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kv::vst3 {

namespace {

using namespace kv::opamp;

#ifdef _WIN32
constexpr const char* kPlatformType = V3_VIEW_PLATFORM_TYPE_HWND;
#else
constexpr const char* kPlatformType = V3_VIEW_PLATFORM_TYPE_X11;
#endif

}  // namespace

struct View final : kv::panel::PanelOwner {
    explicit View(Plugin& owner);
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    Slot view;
    Slot scaleSlot;
    Slot timer;
    std::atomic<uint32_t> refs{1};

    Plugin& p;
    v3_plugin_frame** frame = nullptr;  // held while set
    v3_run_loop** runLoop = nullptr;    // held while the panel is open (Linux)
    double hostScale = 0.0;             // 0: the host gave none
    float shown[kNumParams] = {};
    uint32_t gestures = 0;  // a bit per parameter with a gesture under way
    bool ticking = false;   // the timer is registered
    kv::HostCalls calls{[](void* v) { delete static_cast<View*>(v); }, this};
    kv::panel::OpampPanel panel{*this};

    // The factor of an open panel, else the one it would open at.
    double scale() const {
        if (VSTGUI::CFrame* f = panel.getFrame()) return f->getScale();
        return kv::panel::chooseScale(hostScale, nullptr);
    }
    bool attach(void* parent);
    void detach();
    bool startTimer();
    void stopTimer();

    // The timer: values the host changed (automation, a state) move the
    // controls, then the panel handles its window and redraws. A quality
    // that automation changed is told to the host here, on its main thread.
    void tick() {
        if (p.latencyStale) p.tellLatency();
        for (int32_t i = 0; i < kNumParams; ++i) {
            const float now = p.values[i].load(std::memory_order_relaxed);
            if (now == shown[i]) continue;
            shown[i] = now;
            panel.parameterChanged(i, now);
        }
        if (VSTGUI::CFrame* f = panel.getFrame()) f->idle();
    }

    v3_component_handler* handler() const { return p.handler ? v3_cpp_obj(p.handler) : nullptr; }

    float parameterValue(int32_t index) override {
        return index >= 0 && index < kNumParams ? p.values[index].load() : 0.0f;
    }
    void changeParameter(int32_t index, float value, bool /*automate*/) override {
        if (index < 0 || index >= kNumParams) return;
        const auto accepted = acceptValue(value);
        if (!accepted) return;
        // The sound takes it at its next block; the host hears it at once.
        // A typed value comes without a gesture: it gets one of its own, as
        // hosts expect every edit inside begin and end.
        p.values[index].store(*accepted, std::memory_order_relaxed);
        shown[index] = *accepted;
        const bool bracket = (gestures & (1u << index)) == 0;
        const auto id = static_cast<v3_param_id>(index);
        if (bracket) beginGesture(index);
        if (v3_component_handler* h = handler()) h->perform_edit(p.handler, id, *accepted);
        if (bracket) endGesture(index);
        panel.parameterChanged(index, *accepted);
    }
    void beginGesture(int32_t index) override {
        if (index < 0 || index >= kNumParams) return;
        gestures |= 1u << index;
        if (v3_component_handler* h = handler())
            h->begin_edit(p.handler, static_cast<v3_param_id>(index));
    }
    void endGesture(int32_t index) override {
        if (index < 0 || index >= kNumParams) return;
        gestures &= ~(1u << index);
        if (v3_component_handler* h = handler())
            h->end_edit(p.handler, static_cast<v3_param_id>(index));
    }
    bool resizeHostWindow(int32_t width, int32_t height) override {
        if (calls.ending() || !frame) return false;
        v3_view_rect rect{0, 0, width, height};
        return v3_cpp_obj(frame)->resize_view(frame, reinterpret_cast<v3_plugin_view**>(&view),
                                              &rect) == V3_OK;
    }
    void followDesktopScale(double factor) override { panel.followDesktop(hostScale, factor); }

    uint32_t unref() {
        const uint32_t left = refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            // A host that lets the view go without removing it first: the
            // panel closes now, the memory goes when no call of the host's
            // into the view is open.
            detach();
            calls.endWhenIdle();
        }
        return left;
    }
};

namespace {

View& viewOf(void* self) {
    return objectOf<View>(self);
}

void* queryView(View& v, const v3_tuid iid) {
    void* found = nullptr;
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_view_iid))
        found = &v.view;
    else if (v3_tuid_match(iid, v3_plugin_view_content_scale_iid))
        found = &v.scaleSlot;
    else if (v3_tuid_match(iid, v3_timer_handler_iid))
        found = &v.timer;
    if (found) v.refs.fetch_add(1, std::memory_order_relaxed);
    return found;
}

v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj) {
    if (!obj) return V3_INVALID_ARG;
    *obj = queryView(viewOf(self), iid);
    return *obj ? V3_OK : V3_NO_INTERFACE;
}

uint32_t V3_API ref(void* self) {
    return viewOf(self).refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t V3_API unref(void* self) {
    return viewOf(self).unref();
}

// --- IPlugView ---

v3_result V3_API isPlatformTypeSupported(void*, const char* type) {
    return type && std::strcmp(type, kPlatformType) == 0 ? V3_OK : V3_FALSE;
}

v3_result V3_API attached(void* self, void* parent, const char* type) {
    View& v = viewOf(self);
    const kv::HostCalls::Entry entry(v.calls);
    if (!parent || isPlatformTypeSupported(self, type) != V3_OK) return V3_FALSE;
    return v.attach(parent) ? V3_OK : V3_FALSE;
}

v3_result V3_API removed(void* self) {
    View& v = viewOf(self);
    const kv::HostCalls::Entry entry(v.calls);
    if (!v.panel.isOpen()) return V3_FALSE;
    v.detach();
    return V3_OK;
}

// Wheel turns and keys reach the panel through its own window.
v3_result V3_API onWheel(void*, float) {
    return V3_FALSE;
}

v3_result V3_API onKey(void*, int16_t, int16_t, int16_t) {
    return V3_FALSE;
}

v3_result V3_API getSize(void* self, v3_view_rect* rect) {
    if (!rect) return V3_INVALID_ARG;
    const kv::panel::DeviceSize size = kv::panel::deviceSize(viewOf(self).scale());
    *rect = {0, 0, size.width, size.height};
    return V3_OK;
}

// The panel has one size at a factor: any other is refused.
v3_result V3_API onSize(void* self, v3_view_rect* rect) {
    v3_view_rect own{};
    if (!rect || getSize(self, &own) != V3_OK) return V3_INVALID_ARG;
    return rect->right - rect->left == own.right && rect->bottom - rect->top == own.bottom
               ? V3_OK
               : V3_FALSE;
}

v3_result V3_API onFocus(void*, v3_bool) {
    return V3_OK;
}

v3_result V3_API setFrame(void* self, v3_plugin_frame** frame) {
    View& v = viewOf(self);
    if (frame == v.frame) return V3_OK;
    if (frame) v3_cpp_obj_ref(frame);
    if (v.frame) v3_cpp_obj_unref(v.frame);
    v.frame = frame;
    return V3_OK;
}

v3_result V3_API canResize(void*) {
    return V3_FALSE;
}

v3_result V3_API checkSizeConstraint(void* self, v3_view_rect* rect) {
    v3_view_rect own{};
    if (!rect || getSize(self, &own) != V3_OK) return V3_INVALID_ARG;
    rect->right = rect->left + own.right;
    rect->bottom = rect->top + own.bottom;
    return V3_OK;
}

// --- IPlugViewContentScale: the host's factor, used as it is ---

v3_result V3_API setContentScaleFactor(void* self, float factor) {
    View& v = viewOf(self);
    const kv::HostCalls::Entry entry(v.calls);
    const double accepted = kv::panel::acceptHostScale(factor);
    if (accepted == 0.0) return V3_FALSE;
    v.hostScale = accepted;
    // An open panel takes the new size and asks the host's window for it.
    if (VSTGUI::CFrame* f = v.panel.getFrame()) f->setScale(kv::panel::requestedScale(accepted));
    return V3_OK;
}

// --- ITimerHandler ---

void V3_API onTimer(void* self) {
    View& v = viewOf(self);
    const kv::HostCalls::Entry entry(v.calls);
    v.tick();
}

const v3_plugin_view_cpp kView = {
    {queryInterface, ref, unref},
    {isPlatformTypeSupported, attached, removed, onWheel, onKey, onKey, getSize, onSize, onFocus,
     setFrame, canResize, checkSizeConstraint}};

const v3_plugin_view_content_scale_cpp kContentScale = {{queryInterface, ref, unref},
                                                        {setContentScaleFactor}};

const v3_timer_handler_cpp kTimer = {{queryInterface, ref, unref}, {onTimer}};

#ifdef _WIN32
// The panel's window carries the timer; Windows hands the view back as the
// timer's id, from the host's own message loop.
void CALLBACK windowTimer(HWND, UINT, UINT_PTR id, DWORD) {
    onTimer(&reinterpret_cast<View*>(id)->timer);
}

HWND panelWindow(const kv::panel::OpampPanel& panel) {
    VSTGUI::CFrame* f = panel.getFrame();
    return f && f->getPlatformWindow() ? static_cast<HWND>(f->getPlatformWindow()->handle())
                                       : nullptr;
}
#endif

}  // namespace

View::View(Plugin& owner)
    : view{&kView, this}, scaleSlot{&kContentScale, this}, timer{&kTimer, this}, p(owner) {
    p.ref();
}

View::~View() {
    if (frame) v3_cpp_obj_unref(frame);
    p.unref();
}

bool View::attach(void* parent) {
    if (panel.isOpen()) return false;
    // The LED's cell goes to one open panel at a time.
    if (p.openView) {
        std::fprintf(stderr, "%s: the plug-in's panel is already open in another view\n",
                     kv::identity::kName);
        return false;
    }
#ifndef _WIN32
    // The panel's only idle on Linux is a timer of the host's run loop,
    // which the frame offers.
    if (frame) v3_cpp_obj_query_interface(frame, v3_run_loop_iid, &runLoop);
    if (!runLoop) {
        std::fprintf(stderr,
                     "%s: the host offers no IRunLoop through the view's frame, which the "
                     "panel needs to run; no panel\n",
                     kv::identity::kName);
        return false;
    }
#endif
    for (int32_t i = 0; i < kNumParams; ++i)
        shown[i] = p.values[i].load(std::memory_order_relaxed);
    if (!panel.open(parent, kv::panel::chooseScale(hostScale, parent), &p.peak) || !startTimer()) {
        std::fprintf(stderr, "%s: the panel could not open; no panel\n", kv::identity::kName);
        detach();
        return false;
    }
    p.openView = this;
    // A host that sized its window from get_size before attached hears the
    // size the panel opened at on this screen (a Windows desktop at 200 %).
    if (const auto size = kv::panel::sizeToAskAfterOpen(hostScale, panel.getFrame()))
        resizeHostWindow(size->width, size->height);
    return true;
}

void View::detach() {
    stopTimer();
#ifndef _WIN32
    if (runLoop) v3_cpp_obj_unref(runLoop);
    runLoop = nullptr;
#endif
    // A gesture under way ends for the host as the panel closes.
    panel.close();
    if (p.openView == this) p.openView = nullptr;
}

#ifdef _WIN32
bool View::startTimer() {
    HWND window = panelWindow(panel);
    ticking = window && SetTimer(window, reinterpret_cast<UINT_PTR>(this), kv::panel::kPanelTimerMs,
                                 windowTimer) != 0;
    return ticking;
}

void View::stopTimer() {
    HWND window = panelWindow(panel);
    if (ticking && window) KillTimer(window, reinterpret_cast<UINT_PTR>(this));
    ticking = false;
}
#else
bool View::startTimer() {
    ticking = runLoop && v3_cpp_obj(runLoop)->register_timer(
                             runLoop, reinterpret_cast<v3_timer_handler**>(&timer),
                             kv::panel::kPanelTimerMs) == V3_OK;
    return ticking;
}

void View::stopTimer() {
    if (ticking && runLoop)
        v3_cpp_obj(runLoop)->unregister_timer(runLoop,
                                              reinterpret_cast<v3_timer_handler**>(&timer));
    ticking = false;
}
#endif

v3_plugin_view** createView(Plugin& plugin) {
    auto* v = new (std::nothrow) View(plugin);
    return v ? reinterpret_cast<v3_plugin_view**>(&v->view) : nullptr;
}

}  // namespace kv::vst3
