#include "clap_gui.h"

#include <windows.h>

#include <clap/entry.h>
#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-factory.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "panel_run.h"
#include "plugin_dll.h"

namespace kvtest {

namespace {

// What the plug-in asked of the host since the last look.
struct HostState {
    HWND window = nullptr;
    const clap_plugin_t* plugin = nullptr;
    bool flushRequested = false;
    bool timerRegistered = false;
};
HostState state;
constexpr clap_id kTimerId = 7;

bool registerTimer(const clap_host_t*, uint32_t period, clap_id* id) {
    if (!state.window || !id) return false;
    SetTimer(state.window, kTimerId, period, nullptr);
    *id = kTimerId;
    state.timerRegistered = true;
    return true;
}
bool unregisterTimer(const clap_host_t*, clap_id id) {
    if (id != kTimerId || !state.timerRegistered) return false;
    KillTimer(state.window, kTimerId);
    state.timerRegistered = false;
    return true;
}
const clap_host_timer_support_t kTimers = {registerTimer, unregisterTimer};

void rescan(const clap_host_t*, clap_param_rescan_flags) {}
void clearParam(const clap_host_t*, clap_id, clap_param_clear_flags) {}
void requestFlush(const clap_host_t*) {
    state.flushRequested = true;
}
const clap_host_params_t kParams = {rescan, clearParam, requestFlush};

void resizeHintsChanged(const clap_host_t*) {}
bool requestResize(const clap_host_t*, uint32_t width, uint32_t height) {
    std::printf("sizeWindow %u %u\n", width, height);
    return SetWindowPos(state.window, nullptr, 0, 0, static_cast<int>(width),
                        static_cast<int>(height), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
bool requestShowHide(const clap_host_t*) {
    return true;
}
void closed(const clap_host_t*, bool) {}
const clap_host_gui_t kGui = {resizeHintsChanged, requestResize, requestShowHide, requestShowHide,
                              closed};

const void* hostExtension(const clap_host_t*, const char* id) {
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &kTimers;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParams;
    if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &kGui;
    return nullptr;
}
void hostRequest(const clap_host_t*) {}

const clap_host_t kHost = {CLAP_VERSION_INIT, nullptr,     "kv23w",     "Harrow Quill", "", "1",
                           hostExtension,     hostRequest, hostRequest, hostRequest};

uint32_t noEvents(const clap_input_events_t*) {
    return 0;
}
const clap_event_header_t* noEvent(const clap_input_events_t*, uint32_t) {
    return nullptr;
}
const clap_input_events_t kNoInput = {nullptr, noEvents, noEvent};

bool printEvent(const clap_output_events_t*, const clap_event_header_t* e) {
    if (e->space_id != CLAP_CORE_EVENT_SPACE_ID) return true;
    if (e->type == CLAP_EVENT_PARAM_VALUE) {
        const auto* v = reinterpret_cast<const clap_event_param_value_t*>(e);
        std::printf("automate %u %.6f\n", v->param_id, v->value);
    } else if (e->type == CLAP_EVENT_PARAM_GESTURE_BEGIN) {
        std::printf("beginEdit %u\n",
                    reinterpret_cast<const clap_event_param_gesture_t*>(e)->param_id);
    } else if (e->type == CLAP_EVENT_PARAM_GESTURE_END) {
        std::printf("endEdit %u\n",
                    reinterpret_cast<const clap_event_param_gesture_t*>(e)->param_id);
    }
    return true;
}
const clap_output_events_t kPrintOutput = {nullptr, printEvent};

LRESULT CALLBACK hostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId && state.plugin) {
        const clap_plugin_t* p = state.plugin;
        if (const auto* timers = static_cast<const clap_plugin_timer_support_t*>(
                p->get_extension(p, CLAP_EXT_TIMER_SUPPORT)))
            timers->on_timer(p, kTimerId);
        if (state.flushRequested) {
            state.flushRequested = false;
            if (const auto* params =
                    static_cast<const clap_plugin_params_t*>(p->get_extension(p, CLAP_EXT_PARAMS)))
                params->flush(p, &kNoInput, &kPrintOutput);
        }
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int clapGui(const std::vector<std::string>& args) {
    if (args.empty()) return 2;
    PanelRun run;
    for (size_t i = 1; i < args.size(); ++i) {
        if (!takePanelRunOption(args, i, run)) return 2;
    }
    HMODULE module = LoadLibraryA(args[0].c_str());
    const auto* entry =
        module ? reinterpret_cast<const clap_plugin_entry_t*>(GetProcAddress(module, "clap_entry"))
               : nullptr;
    if (!entry || !entry->init(args[0].c_str())) {
        std::fprintf(stderr, "cannot load %s as a CLAP plug-in\n", args[0].c_str());
        return 1;
    }
    const auto* factory =
        static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
    const clap_plugin_t* p = factory->create_plugin(factory, &kHost, d->id);
    if (!p || !p->init(p)) {
        std::fprintf(stderr, "cannot create %s\n", d->id);
        return 1;
    }
    const auto* gui = static_cast<const clap_plugin_gui_t*>(p->get_extension(p, CLAP_EXT_GUI));

    WNDCLASSA wc{};
    wc.lpfnWndProc = hostWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "kv23wClapHost";
    RegisterClassA(&wc);
    // A popup without decoration, as kv23w gui makes for a VST 2 editor.
    state.window = CreateWindowExA(0, "kv23wClapHost", "kv23w", WS_POPUP, run.x, run.y, 240, 400,
                                   nullptr, nullptr, wc.hInstance, nullptr);
    state.plugin = p;
    uint32_t width = 0, height = 0;
    const bool created = gui && gui->is_api_supported(p, CLAP_WINDOW_API_WIN32, false) &&
                         gui->create(p, CLAP_WINDOW_API_WIN32, false) &&
                         gui->get_size(p, &width, &height);
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_WIN32;
    window.win32 = state.window;
    if (created) {
        SetWindowPos(state.window, nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(state.window, SW_SHOWNOACTIVATE);
    }
    const bool opened = created && gui->set_parent(p, &window) && gui->show(p);
    // The window's size now: get_size's, or what the panel asked for since.
    RECT windowRect{};
    GetClientRect(state.window, &windowRect);
    HWND child = findChildWindow(state.window, "Plugin");
    RECT childRect{};
    if (child) GetClientRect(child, &childRect);
    std::printf("ready %d %d %ld %ld opened %d child %s %ldx%ld\n", run.x, run.y, windowRect.right,
                windowRect.bottom, opened ? 1 : 0, child ? "yes" : "no", childRect.right,
                childRect.bottom);

    const DWORD start = GetTickCount();
    MSG msg;
    while (opened && GetTickCount() - start < static_cast<DWORD>(run.seconds * 1000.0)) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT) == WAIT_OBJECT_0) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    if (created) gui->destroy(p);
    if (const auto* params =
            static_cast<const clap_plugin_params_t*>(p->get_extension(p, CLAP_EXT_PARAMS))) {
        for (uint32_t i = 0; i < params->count(p); ++i) {
            double value = 0.0;
            if (params->get_value(p, i, &value)) std::printf("param %u %.6f\n", i, value);
        }
    }
    state.plugin = nullptr;
    p->destroy(p);
    DestroyWindow(state.window);
    entry->deinit();
    FreeLibrary(module);
    std::printf("closed\n");
    return opened ? 0 : 1;
}

}  // namespace kvtest
