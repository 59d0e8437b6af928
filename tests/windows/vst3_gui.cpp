// kv23w vst3gui: the VST3 plug-in's view in a window of a Windows host.
#include <cstdio>
#include <cstring>

#include "panel_run.h"
#include "plugin_dll.h"
#include "vst3_commands.h"
#include "vst3_module.h"

namespace kvtest {

int vst3Gui(const std::vector<std::string>& args) {
    if (args.empty()) return 2;
    PanelRun run;
    for (size_t i = 1; i < args.size(); ++i) {
        if (!takePanelRunOption(args, i, run)) return 2;
    }
    // A DPI-aware host, as kv23w gui is.
    SetProcessDPIAware();
    Vst3Module m;
    std::string error;
    m.setTrace(stdout);
    if (!m.load(args[0], error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "kv23wVst3Host";
    RegisterClassA(&wc);
    // A popup without decoration, as kv23w gui makes for a VST 2 editor.
    HWND window = CreateWindowExA(0, wc.lpszClassName, "kv23w", WS_POPUP, run.x, run.y, 240, 400,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    m.setWindow(window);

    // A host's order: the view, its platform, the frame, the window at the
    // view's size, then attached.
    v3_plugin_view** view = m.ctrl()->create_view(m.controller(), "editor");
    v3_plugin_view* v = view ? v3_cpp_obj(view) : nullptr;
    v3_view_rect rect{};
    const bool created =
        v && v->is_platform_type_supported(view, V3_VIEW_PLATFORM_TYPE_HWND) == V3_OK &&
        v->set_frame(view, m.frame()) == V3_OK && v->get_size(view, &rect) == V3_OK;
    if (created) {
        SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(window, SW_SHOWNOACTIVATE);
    }
    const bool opened = created && v->attached(view, window, V3_VIEW_PLATFORM_TYPE_HWND) == V3_OK;
    // The window's size now: the view's, or what it asked for through the frame.
    RECT windowRect{};
    GetClientRect(window, &windowRect);
    HWND child = findChildWindow(window, "Plugin");
    RECT childRect{};
    if (child) GetClientRect(child, &childRect);
    std::printf("ready %d %d %ld %ld opened %d child %s %ldx%ld\n", run.x, run.y, windowRect.right,
                windowRect.bottom, opened ? 1 : 0, child ? "yes" : "no", childRect.right,
                childRect.bottom);

    // The host's message loop is all a view needs on Windows: its timer
    // comes through it.
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
    if (view) {
        if (opened) v->removed(view);
        v->set_frame(view, nullptr);
        v3_cpp_obj_unref(view);
    }
    const int32_t count = m.ctrl()->get_parameter_count(m.controller());
    for (int32_t i = 0; i < count; ++i) {
        v3_param_info info{};
        if (m.ctrl()->get_parameter_info(m.controller(), i, &info) == V3_OK)
            std::printf("param %u %.6f\n", info.param_id,
                        m.ctrl()->get_parameter_normalised(m.controller(), info.param_id));
    }
    DestroyWindow(window);
    std::printf("closed\n");
    return opened ? 0 : 1;
}

}  // namespace kvtest
