#include "host_checks.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "plugin_dll.h"

namespace kvtest {

namespace {

struct Tally {
    int passed = 0;
    int failed = 0;
    void check(bool ok, const char* name, const std::string& figure) {
        std::printf("%s  %s  %s\n", ok ? "PASS" : "FAIL", name, figure.c_str());
        (ok ? passed : failed) += 1;
    }
};

std::string fmt(const char* f, double a, double b = 0.0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, f, a, b);
    return buf;
}

// Renders `frames` of a sine through a fresh instance with the given
// parameters; answers the left output.
std::vector<float> render(const std::string& path, const std::vector<float>& params, int frames,
                          float amplitude) {
    PluginDll dll;
    std::string error;
    std::vector<float> out(frames, NAN);
    if (!dll.load(path, error)) return out;
    for (size_t i = 0; i < params.size(); ++i)
        dll.effect()->setParameter(dll.effect(), static_cast<int32_t>(i), params[i]);
    dll.start(48000.0f, 256);
    std::vector<float> l(frames), r(frames), o2(frames);
    for (int i = 0; i < frames; ++i)
        l[i] = r[i] = amplitude * static_cast<float>(
                                      std::sin(2.0 * 3.14159265358979323846 * 997.0 * i / 48000.0));
    for (int done = 0; done < frames; done += 256) {
        float* in[2] = {l.data() + done, r.data() + done};
        float* o[2] = {out.data() + done, o2.data() + done};
        dll.effect()->processReplacing(dll.effect(), in, o, std::min(256, frames - done));
    }
    return out;
}

void audio(const std::string& path, Tally& t) {
    const int frames = 4800;
    const std::vector<float> silent = render(path, {0.25f, 0.f, 0.f, 0.5f}, frames, 0.0f);
    float peak = 0.f;
    for (float s : silent)
        peak = std::max(peak, std::fabs(s));
    t.check(peak < 1e-9f, "audio.silence-stays-silent", fmt("peak %g", peak));

    // Extreme settings and a loud input: every sample finite.
    bool finite = true;
    for (float g : {0.f, 1.f})
        for (float v : {0.f, 1.f})
            for (float s : render(path, {g, 1.f, 0.f, v}, frames, 8.0f))
                finite = finite && std::isfinite(s);
    t.check(finite, "audio.finite-at-extremes",
            "gain and volume at both ends, pad 1 on, input 8.0");

    // The output volume is a plain gain after the non-linear stage: +6 dB
    // of volume multiplies every sample by 10^(6/20).
    const std::vector<float> a = render(path, {0.25f, 0.f, 0.f, 0.5f}, frames, 0.5f);
    const std::vector<float> b = render(path, {0.25f, 0.f, 0.f, 0.5f + 6.0f / 64.0f}, frames, 0.5f);
    double worst = 0.0;
    const double expected = std::pow(10.0, 6.0 / 20.0);
    for (int i = 1000; i < frames; ++i)
        if (std::fabs(a[i]) > 1e-3) worst = std::max(worst, std::fabs(b[i] / a[i] - expected));
    t.check(worst < 1e-4, "audio.volume-is-a-gain", fmt("largest ratio error %g", worst));
}

void state(const std::string& path, Tally& t) {
    PluginDll one;
    std::string error;
    if (!one.load(path, error)) {
        t.check(false, "state.load", error);
        return;
    }
    const float values[4] = {0.125f, 1.0f, 0.0f, 0.8125f};
    for (int i = 0; i < 4; ++i)
        one.effect()->setParameter(one.effect(), i, values[i]);
    void* chunk = nullptr;
    const intptr_t size = one.dispatch(effGetChunk, 0, 0, &chunk);
    bool same = size == 16 && chunk;
    for (int i = 0; same && i < 4; ++i) {
        float f = 0.f;
        std::memcpy(&f, static_cast<const char*>(chunk) + 4 * i, 4);
        same = f == values[i];
    }
    t.check(same, "state.chunk-holds-the-values", fmt("%g bytes", static_cast<double>(size)));

    PluginDll two;
    if (!two.load(path, error) || !chunk) {
        t.check(false, "state.chunk-restores", error);
        return;
    }
    std::vector<char> copy(static_cast<const char*>(chunk), static_cast<const char*>(chunk) + 16);
    two.dispatch(effSetChunk, 0, 16, copy.data());
    bool restored = true;
    for (int i = 0; i < 4; ++i)
        restored = restored && two.effect()->getParameter(two.effect(), i) == values[i];
    t.check(restored, "state.chunk-restores", "a second instance reads the four values back");

    // The host shows the stored value as text of at most 8 characters.
    char text[64] = {};
    std::memset(text, 'x', sizeof text - 1);
    one.dispatch(effGetParamDisplay, 0, 0, text);
    const float shown = std::strtof(text, nullptr);
    t.check(std::strlen(text) <= 8 && std::fabs(shown - values[0]) < 1e-5f, "state.value-display",
            std::string("\"") + text + "\"");
}

void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

void editor(const std::string& path, Tally& t) {
    PluginDll dll;
    std::string error;
    if (!dll.load(path, error)) {
        t.check(false, "editor.load", error);
        return;
    }
    t.check((dll.effect()->flags & effFlagsHasEditor) != 0, "editor.flag", "effFlagsHasEditor set");
    ERect* rect = nullptr;
    dll.dispatch(effEditGetRect, 0, 0, &rect);
    const int w = rect ? rect->right - rect->left : 0;
    const int h = rect ? rect->bottom - rect->top : 0;
    t.check(w == 240 && h == 400, "editor.size", fmt("%g x %g", w, h));

    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "kv23wCheckHost";
    RegisterClassA(&wc);
    HWND host = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 300, 450,
                                nullptr, nullptr, wc.hInstance, nullptr);
    for (int round = 0; round < 2; ++round) {
        dll.dispatch(effEditOpen, 0, 0, host);
        HWND child = findChildWindow(host, "Plugin");
        RECT r{};
        if (child) GetClientRect(child, &r);
        const bool sized = child && r.right == 240 && r.bottom == 400;
        for (int i = 0; i < 5; ++i) {
            pump();
            dll.dispatch(effEditIdle);
        }
        char className[64] = {};
        if (child) GetClassNameA(child, className, sizeof className);
        dll.dispatch(effEditClose);
        const bool gone = child && !IsWindow(child);
        WNDCLASSA probe{};
        const bool unregistered =
            className[0] &&
            !GetClassInfoA(reinterpret_cast<HINSTANCE>(dll.module()), className, &probe);
        // The class is named after the DLL's own handle (recorded by its
        // load notification), not the host program's.
        char expected[64] = {};
        std::snprintf(expected, sizeof expected, "Plugin%p", static_cast<void*>(dll.module()));
        const bool named = std::strcmp(className, expected) == 0;
        t.check(sized && gone && unregistered && named,
                round == 0 ? "editor.open-close" : "editor.reopen-close",
                std::string("child ") + (className[0] ? className : "missing") +
                    (gone ? ", destroyed on close" : ", still there") +
                    (unregistered ? ", class unregistered" : ", class left registered"));
    }
    // The host's window goes first, then the editor is closed (as some
    // hosts do): the editor must not touch the dead window.
    dll.dispatch(effEditOpen, 0, 0, host);
    DestroyWindow(host);
    dll.dispatch(effEditIdle);
    dll.dispatch(effEditClose);
    t.check(true, "editor.host-window-destroyed-first",
            "idle and close after the host window died");
}

}  // namespace

int validate(const std::string& dllPath) {
    Tally t;
    audio(dllPath, t);
    state(dllPath, t);
    editor(dllPath, t);
    std::printf("%d passed, %d failed\n", t.passed, t.failed);
    return t.failed == 0 ? 0 : 1;
}

}  // namespace kvtest
