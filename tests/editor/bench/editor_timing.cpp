// Timings of the editor as a host sees them, through the real plug-in file
// on the X server in $DISPLAY:
//   - effEditOpen until the panel's first frame is on the window,
//   - the process CPU time of one effEditIdle when only the LED is dirty,
//   - the CPU share of an open, idle editor at 50 idle calls per second.
//
//   editor_timing PLUGIN.so [SECONDS]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "vst2/base/aeffect.h"

namespace {

using Wall = std::chrono::steady_clock;

intptr_t host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double since(Wall::time_point start) {
    return std::chrono::duration<double>(Wall::now() - start).count();
}

// True once the panel's background is on the window (the bare window is
// black; the panel's corner is not).
bool panelShown(Display* dpy, Window window) {
    XImage* image = XGetImage(dpy, window, 5, 395, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    const bool shown = XGetPixel(image, 0, 0) != 0;
    XDestroyImage(image);
    return shown;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: editor_timing PLUGIN.so [SECONDS]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "editor_timing: no X display\n");
        return 77;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto* entry =
        library
            ? reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(library, "VSTPluginMain"))
            : nullptr;
    AEffect* fx = entry ? entry(&host) : nullptr;
    if (!fx) {
        std::fprintf(stderr, "editor_timing: cannot load %s\n", argv[1]);
        return 1;
    }
    auto dispatch = [fx](int32_t op, intptr_t value = 0, void* ptr = nullptr) {
        return fx->dispatcher(fx, op, 0, value, ptr, 0.f);
    };
    dispatch(effOpen);

    const int screen = DefaultScreen(dpy);
    const Window window = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, 240, 400, 0,
                                              BlackPixel(dpy, screen), BlackPixel(dpy, screen));
    XSelectInput(dpy, window, StructureNotifyMask);
    XMapWindow(dpy, window);
    for (XEvent e; XNextEvent(dpy, &e), e.type != MapNotify;) {
    }

    // Open to first frame: the frame draws at the first expose, which the
    // editor handles in its idle; a host idles every 20 to 100 ms, so this
    // idles back to back to see the editor's own part. The first open of a
    // process also pays for loading the font configuration; the second
    // shows what every later open costs.
    struct OpenTiming {
        double call, frame, cpu;
        int idles;
    };
    auto openOnce = [&]() {
        OpenTiming t{};
        const double cpuStart = cpuSeconds();
        const auto start = Wall::now();
        dispatch(effEditOpen, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(window)));
        t.call = since(start);
        while (!panelShown(dpy, window) && since(start) < 5.0) {
            dispatch(effEditIdle);
            ++t.idles;
        }
        t.frame = since(start);
        t.cpu = cpuSeconds() - cpuStart;
        return t;
    };
    const OpenTiming first = openOnce();
    dispatch(effEditClose);
    // The window is black again before the next open.
    XClearWindow(dpy, window);
    XSync(dpy, False);
    const OpenTiming again = openOnce();

    // One idle with only the LED dirty (nothing else changes).
    std::vector<double> costs;
    for (int i = 0; i < 2000; ++i) {
        const double before = cpuSeconds();
        dispatch(effEditIdle);
        costs.push_back(cpuSeconds() - before);
    }
    std::sort(costs.begin(), costs.end());
    double sum = 0;
    for (double c : costs)
        sum += c;

    // The editor open and idle at 50 calls a second, as a host drives it.
    // The editor's share counts the CPU inside the idle calls; the process
    // share adds this host loop's own sleeping and waking.
    const double cpuBefore = cpuSeconds();
    const auto wallStart = Wall::now();
    auto next = wallStart;
    double inIdle = 0;
    while (since(wallStart) < seconds) {
        const double before = cpuSeconds();
        dispatch(effEditIdle);
        inIdle += cpuSeconds() - before;
        next += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(next);
    }
    const double wall = since(wallStart);
    const double share = inIdle / wall;
    const double processShare = (cpuSeconds() - cpuBefore) / wall;

    dispatch(effEditClose);
    dispatch(effClose);
    XDestroyWindow(dpy, window);
    XCloseDisplay(dpy);

    for (const auto& [name, t] : {std::pair{"first", first}, std::pair{"second", again}}) {
        std::printf(
            "%-6s effEditOpen to first frame: %.2f ms wall, %.2f ms CPU (open call %.2f ms, "
            "%d idle calls)\n",
            name, t.frame * 1e3, t.cpu * 1e3, t.call * 1e3, t.idles);
    }
    std::printf("idle with only the LED dirty:     mean %.3f ms, median %.3f ms, p95 %.3f ms CPU\n",
                sum / static_cast<double>(costs.size()) * 1e3, costs[costs.size() / 2] * 1e3,
                costs[costs.size() * 95 / 100] * 1e3);
    std::printf(
        "open idle editor at 50 idles/s:   %.3f %% of a core in the editor, %.3f %% for the "
        "whole host process (%.1f s)\n",
        share * 100.0, processShare * 100.0, seconds);
    return 0;
}
