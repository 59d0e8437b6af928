// kv23w, the Windows test host: loads the plug-in DLL with LoadLibraryA and
// talks to it only through VSTPluginMain and the AEffect record, as a DAW
// on Windows does. Commands (each prints plain lines for the test scripts):
//   info DLL                          identity of the plug-in
//   process DLL IN OUT [--param N=V]... [--block N] [--pcm16]
//                                     renders a WAV file through the plug-in
//   gui DLL [--seconds S] [--at X Y] [--drag-files N --drag-after MS]
//                                     opens the editor in a top-level window,
//                                     prints the edits the plug-in reports
//   validate DLL                      host-like checks: audio, state, editor
//   clapgui CLAP, vst3process BUNDLE IN OUT, vst3gui BUNDLE
//                                     the same through the CLAP plug-in and
//                                     the VST3 bundle (clap_gui.h, vst3_commands.h)
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clap_gui.h"
#include "drag_source.h"
#include "host_checks.h"
#include "panel_run.h"
#include "plugin_dll.h"
#include "vst2/base/aeffect.h"
#include "vst3_commands.h"
#include "wav_file.h"

using kvtest::PluginDll;

namespace {

int usage() {
    std::fprintf(
        stderr,
        "usage: kv23w info DLL | process DLL IN OUT [--param N=V]... [--block N] "
        "[--pcm16] | gui DLL [--seconds S] [--at X Y] [--drag-files N --drag-after MS] "
        "| clapgui CLAP [--seconds S] [--at X Y] | validate DLL | vst3process BUNDLE IN OUT "
        "[--param ID=PLAIN]... [--block N] | vst3gui BUNDLE [--seconds S] [--at X Y]\n");
    return 2;
}

int info(const std::string& path) {
    PluginDll dll;
    std::string error;
    if (!dll.load(path, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    AEffect* e = dll.effect();
    char name[65] = {};
    dll.dispatch(effGetEffectName, 0, 0, name);
    std::printf("name %s\nuniqueID 0x%08X\nparams %d\ninputs %d\noutputs %d\nflags 0x%X\n", name,
                static_cast<unsigned>(e->uniqueID), e->numParams, e->numInputs, e->numOutputs,
                static_cast<unsigned>(e->flags));
    return 0;
}

int process(const std::vector<std::string>& args) {
    if (args.size() < 3) return usage();
    std::vector<std::pair<int, float>> params;
    int block = 512;
    bool pcm16 = false;
    for (size_t i = 3; i < args.size(); ++i) {
        if (args[i] == "--param" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            const size_t eq = v.find('=');
            if (eq == std::string::npos) return usage();
            params.emplace_back(std::atoi(v.substr(0, eq).c_str()),
                                std::strtof(v.substr(eq + 1).c_str(), nullptr));
        } else if (args[i] == "--block" && i + 1 < args.size()) {
            block = std::atoi(args[++i].c_str());
            if (block < 1) return usage();
        } else if (args[i] == "--pcm16") {
            pcm16 = true;
        } else {
            return usage();
        }
    }
    std::string error;
    kvtest::wav::Audio in;
    if (!kvtest::wav::read(args[1], in, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    PluginDll dll;
    if (!dll.load(args[0], error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    for (auto [index, value] : params)
        dll.effect()->setParameter(dll.effect(), index, value);
    dll.start(static_cast<float>(in.rate), block);
    kvtest::wav::Audio out = in;
    out.channels = 2;
    const int64_t frames = in.frames();
    out.samples.assign(static_cast<size_t>(frames) * 2, 0.0f);
    std::vector<float> l(block), r(block), ol(block), orr(block);
    for (int64_t done = 0; done < frames; done += block) {
        const int n = static_cast<int>(std::min<int64_t>(block, frames - done));
        for (int i = 0; i < n; ++i) {
            const size_t at = static_cast<size_t>(done + i) * in.channels;
            l[i] = in.samples[at];
            r[i] = in.samples[at + (in.channels > 1 ? 1 : 0)];
        }
        float* inputs[2] = {l.data(), r.data()};
        float* outputs[2] = {ol.data(), orr.data()};
        dll.effect()->processReplacing(dll.effect(), inputs, outputs, n);
        for (int i = 0; i < n; ++i) {
            out.samples[static_cast<size_t>(done + i) * 2] = ol[i];
            out.samples[static_cast<size_t>(done + i) * 2 + 1] = orr[i];
        }
    }
    dll.stop();
    if (!kvtest::wav::write(args[2], out, !pcm16, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("processed %lld frames\n", static_cast<long long>(frames));
    return 0;
}

// --- gui ---------------------------------------------------------------------

PluginDll* guiPlugin = nullptr;

LRESULT CALLBACK hostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (guiPlugin) guiPlugin->dispatch(effEditIdle);
            return 0;
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int gui(const std::vector<std::string>& args) {
    if (args.empty()) return usage();
    kvtest::PanelRun run;
    int dragFiles = 0, dragAfter = 1500;
    for (size_t i = 1; i < args.size(); ++i) {
        if (kvtest::takePanelRunOption(args, i, run)) {
            continue;
        } else if (args[i] == "--drag-files" && i + 1 < args.size()) {
            dragFiles = std::atoi(args[++i].c_str());
        } else if (args[i] == "--drag-after" && i + 1 < args.size()) {
            dragAfter = std::atoi(args[++i].c_str());
        } else {
            return usage();
        }
    }
    // A DPI-aware host, as current DAWs are: Windows tells it (and the
    // editor) the real DPI instead of stretching its windows.
    using SetAwareFn = BOOL(WINAPI*)();
    if (const auto setAware = reinterpret_cast<SetAwareFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware"))))
        setAware();
    PluginDll dll;
    std::string error;
    dll.setTrace(stdout);
    if (!dll.load(args[0], error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    dll.start(44100.0f, 512);
    ERect* rect = nullptr;
    dll.dispatch(effEditGetRect, 0, 0, &rect);
    const int width = rect ? rect->right - rect->left : 240;
    const int height = rect ? rect->bottom - rect->top : 400;

    WNDCLASSA wc{};
    wc.lpfnWndProc = hostWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "kv23wHost";
    RegisterClassA(&wc);
    // A popup without decoration: the client area starts at (x, y) on the
    // screen, so screenshots and pointer positions need no window manager.
    HWND host = CreateWindowExA(0, "kv23wHost", "kv23w", WS_POPUP | WS_VISIBLE, run.x, run.y, width,
                                height, nullptr, nullptr, wc.hInstance, nullptr);
    if (!host) {
        std::fprintf(stderr, "cannot create the host window\n");
        return 1;
    }
    guiPlugin = &dll;
    const intptr_t opened = dll.dispatch(effEditOpen, 0, 0, host);
    // Editors may know their size only once open (a desktop's scale factor).
    rect = nullptr;
    dll.dispatch(effEditGetRect, 0, 0, &rect);
    if (rect && (rect->right - rect->left != width || rect->bottom - rect->top != height)) {
        SetWindowPos(host, nullptr, 0, 0, rect->right - rect->left, rect->bottom - rect->top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetTimer(host, 1, 20, nullptr);
    HWND child = kvtest::findChildWindow(host, "Plugin");
    RECT childRect{};
    if (child) GetClientRect(child, &childRect);
    std::printf("ready %d %d %d %d opened %d child %s %ldx%ld\n", run.x, run.y, width, height,
                static_cast<int>(opened), child ? "yes" : "no", childRect.right, childRect.bottom);
    std::fflush(stdout);

    const DWORD start = GetTickCount();
    bool dragged = dragFiles == 0;
    MSG msg;
    while (GetTickCount() - start < static_cast<DWORD>(run.seconds * 1000.0)) {
        if (!dragged && GetTickCount() - start >= static_cast<DWORD>(dragAfter)) {
            dragged = true;
            std::vector<std::string> files;
            for (int i = 0; i < dragFiles; ++i)
                files.push_back("C:\\file" + std::to_string(i) + ".wav");
            const kvtest::DragOutcome o = kvtest::dragFromSecondThread(
                POINT{run.x + width / 2, run.y + height / 2}, files, "", 15);
            std::printf("drag result 0x%lX effect %lu feedback 0x%lX calls %d\n",
                        static_cast<unsigned long>(o.result),
                        static_cast<unsigned long>(o.finalEffect),
                        static_cast<unsigned long>(o.feedbackEffects), o.feedbackCalls);
            std::fflush(stdout);
        }
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT) == WAIT_OBJECT_0) {
            bool quit = false;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) quit = true;
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (quit) break;
        }
    }
    KillTimer(host, 1);
    dll.dispatch(effEditClose);
    guiPlugin = nullptr;
    for (int i = 0; i < dll.effect()->numParams; ++i) {
        std::printf("param %d %.6f\n", i, dll.effect()->getParameter(dll.effect(), i));
    }
    if (IsWindow(host)) DestroyWindow(host);
    dll.stop();
    std::printf("closed\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 3) return usage();
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "info") return info(args[0]);
    if (command == "process") return process(args);
    if (command == "gui") return gui(args);
    if (command == "clapgui") return kvtest::clapGui(args);
    if (command == "validate") return kvtest::validate(args[0]);
    // The VST3 commands answer 2 for arguments they cannot take.
    const auto orUsage = [](int status) { return status == 2 ? usage() : status; };
    if (command == "vst3process") return orUsage(kvtest::vst3Process(args));
    if (command == "vst3gui") return orUsage(kvtest::vst3Gui(args));
    return usage();
}
