// The editor, the way Linux hosts drive it: open in the X window of a host
// window, idle from a timer, close -- and the host bugs plug-ins meet in the
// field: the parent window destroyed first, two editors side by side, an
// editor opened and closed for ever. Written once against the plug-in
// instance interface, for every format; every check runs in its own child
// process with its own X connection.
#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "host/validate/isolation.h"
#include "host/validate/validator.h"
#include "host/validate/x11_probe.h"

namespace kv::validate {

namespace {

// Whether a loop that started at `start` and made `done` steps has used up
// its time (it always makes at least `least`).
bool overBudget(const Context& ctx, std::chrono::steady_clock::time_point start, int done,
                int least) {
    return done >= least &&
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >
               ctx.slowLoopBudget();
}

void idle(host::PluginInstance& h, int times) {
    for (int i = 0; i < times; ++i) {
        h.idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Many editors know their size only once open (hosts ask again after the
// open), so before the open only a size given must be sane.
std::string getRect(XProbe& probe, host::PluginInstance& h) {
    int width = 0, height = 0;
    h.editorSize(width, height);
    const unsigned long parent = probe.makeWindow(640, 640);
    if (!h.openEditor(parent)) return "the editor did not open";
    idle(h, 2);
    if (!h.editorSize(width, height)) return "the editor tells no size while open";
    int shownWidth = 0, shownHeight = 0;
    const bool shown = probe.firstChildSize(parent, shownWidth, shownHeight);
    h.closeEditor();
    probe.destroyWindow(parent);
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096) {
        return format("size of %d x %d", width, height);
    }
    if (!shown) return "no child window in the host window after open";
    if (shownWidth != width || shownHeight != height) {
        return format("size %d x %d but the window is %d x %d", width, height, shownWidth,
                      shownHeight);
    }
    return passedWith(format("%d x %d, the window the same", width, height));
}

// A plug-in that takes the host's scale factor (VST 2: 'PreS' / 'AeCs', as
// Carla sends it just before effEditOpen; CLAP: gui.set_scale) must report
// the scaled size and open a window of that size. The factor 1 first gives
// the plain size whatever the desktop says. One that keeps its size at 2
// takes no host factor, which is its right.
std::string hostScale(XProbe& probe, host::PluginInstance& h) {
    // Editors that know their size only once open are measured open.
    const unsigned long parent = probe.makeWindow(1600, 1600);
    const auto openSize = [&](double factor, int& width, int& height) -> std::string {
        if (!h.openEditor(parent, factor)) return "the editor did not open";
        idle(h, 3);
        probe.sync();
        int shownWidth = 0, shownHeight = 0;
        const bool size = h.editorSize(width, height);
        const bool shown = probe.firstChildSize(parent, shownWidth, shownHeight);
        h.closeEditor();
        probe.waitForChildren(parent, 0, 500);
        if (!size) return format("no size at factor %.2f", factor);
        if (!shown) return format("no window at factor %.2f", factor);
        if (shownWidth != width || shownHeight != height) {
            return format("at factor %.2f the size is %d x %d but the window %d x %d", factor,
                          width, height, shownWidth, shownHeight);
        }
        return {};
    };
    int plainWidth = 0, plainHeight = 0, width = 0, height = 0;
    std::string problem = openSize(1.0, plainWidth, plainHeight);
    if (problem.empty()) problem = openSize(2.0, width, height);
    probe.destroyWindow(parent);
    if (!problem.empty()) return problem;
    if (width == plainWidth && height == plainHeight)
        return passedWith(format("takes no host factor (%d x %d at 1 and 2)", width, height));
    if (std::abs(width - 2 * plainWidth) > 1 || std::abs(height - 2 * plainHeight) > 1) {
        return format("factor 2 gives %d x %d for a %d x %d editor", width, height, plainWidth,
                      plainHeight);
    }
    return passedWith(format("%d x %d at factor 1, %d x %d at 2, windows the same", plainWidth,
                             plainHeight, width, height));
}

std::string openClose(Context& ctx, XProbe& probe, host::PluginInstance& h) {
    const int cycles = ctx.scaled(200, 20);
    const unsigned long parent = probe.makeWindow(640, 640);
    const auto start = std::chrono::steady_clock::now();
    int done = 0;
    for (int i = 0; i < cycles && !overBudget(ctx, start, i, 5); ++i, ++done) {
        if (!h.openEditor(parent)) {
            return format("the editor did not open in cycle %d", i);
        }
        // Every other cycle with idle calls, as a host timer would make.
        if (i % 2 == 0) idle(h, 2);
        if (i % 10 == 0 && probe.waitForChildren(parent, 1, 500) < 1) {
            return format("no editor window in the host window in cycle %d", i);
        }
        h.closeEditor();
        if (i % 10 == 0 && probe.waitForChildren(parent, 0, 500) != 0) {
            return format("the editor window stays after it closed in cycle %d", i);
        }
    }
    probe.destroyWindow(parent);
    return passedWith(format("%d cycles, half with idle calls", done));
}

// Waits (two seconds at most) until the heap and the descriptors have held
// still for 100 ms: the first open may start one-time work on a thread of
// the plug-in's (fonts, caches) that a loaded machine lets run late.
void settle() {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(2);
    auto last = std::make_pair(mallinfo2().uordblks, openDescriptors());
    auto stableSince = steady_clock::now();
    while (steady_clock::now() < deadline &&
           steady_clock::now() - stableSince < milliseconds(100)) {
        std::this_thread::sleep_for(milliseconds(5));
        const auto now = std::make_pair(mallinfo2().uordblks, openDescriptors());
        if (now != last) {
            last = now;
            stableSince = steady_clock::now();
        }
    }
}

std::string noLeaks(Context& ctx, XProbe& probe, host::PluginInstance& h) {
    const int cycles = ctx.scaled(50, 5);
    const unsigned long parent = probe.makeWindow(640, 640);
    auto cycle = [&](int times) {
        const auto start = std::chrono::steady_clock::now();
        int done = 0;
        for (; done < times && !overBudget(ctx, start, done, 5); ++done) {
            h.openEditor(parent);
            idle(h, 2);
            h.closeEditor();
        }
        return done;
    };
    // First-use caches (fonts, images) are not leaks. What a leak of a few
    // hundred bytes an open and close costs shows past the allowance of
    // 128 bytes a cycle and 8 kB of allocator slack (a panel that keeps
    // 600 bytes a cycle grows 27 kB in 45 cycles, ours 4 to 5 kB in 50).
    cycle(2);
    settle();
    const ServerCounts before = probe.counts();
    const int fdsBefore = openDescriptors();
    const size_t heapBefore = mallinfo2().uordblks;
    const int done = cycle(cycles);
    probe.waitForChildren(parent, 0, 500);
    const ServerCounts after = probe.counts();
    const int fdsAfter = openDescriptors();
    const long heap = static_cast<long>(mallinfo2().uordblks) - static_cast<long>(heapBefore);
    probe.destroyWindow(parent);
    const std::string figure = format(
        "%d cycles: windows %+ld, pixmaps %+ld, GCs %+ld, X resources %+ld, fds %+d, heap "
        "%+ld bytes",
        done, after.windows - before.windows, after.pixmaps - before.pixmaps,
        after.gcs - before.gcs, after.total - before.total, fdsAfter - fdsBefore, heap);
    const bool ok = after.windows == before.windows && after.pixmaps == before.pixmaps &&
                    after.gcs == before.gcs && after.total == before.total &&
                    fdsAfter == fdsBefore && heap < 128L * done + 8192;
    return ok ? passedWith(figure) : figure;
}

std::string parentDestroyed(Context& ctx, XProbe& probe, host::PluginInstance& h) {
    const int rounds = ctx.scaled(10, 2);
    const auto start = std::chrono::steady_clock::now();
    int done = 0;
    for (int i = 0; i < rounds && !overBudget(ctx, start, i, 2); ++i, ++done) {
        const unsigned long parent = probe.makeWindow(640, 640);
        if (!h.openEditor(parent)) return "the editor did not open";
        idle(h, 2);
        probe.destroyWindow(parent);
        idle(h, 3);
        h.closeEditor();
    }
    // The editor must still open normally afterwards.
    const unsigned long parent = probe.makeWindow(640, 640);
    const bool reopened = h.openEditor(parent);
    idle(h, 2);
    h.closeEditor();
    probe.destroyWindow(parent);
    if (!reopened) return "the editor no longer opens after its parent was destroyed";
    return passedWith(
        format("%d rounds of parent destroyed before the close, then reopened", done));
}

std::string twoInstances(Context& ctx, XProbe& probe, host::PluginInstance& a) {
    auto b = ctx.started();
    const unsigned long pa = probe.makeWindow(640, 640);
    const unsigned long pb = probe.makeWindow(640, 640);
    if (!a.openEditor(pa) || !b->openEditor(pb)) {
        return "the editor did not open with two instances";
    }
    idle(a, 2);
    idle(*b, 2);
    if (probe.waitForChildren(pa, 1, 500) != 1 || probe.waitForChildren(pb, 1, 500) != 1) {
        return "each host window should hold one editor window";
    }
    if (a.parameterCount() > 0) a.setValue(0, a.fromNormalised(0, 0.9));
    idle(a, 1);
    idle(*b, 1);
    a.closeEditor();
    if (probe.waitForChildren(pa, 0, 500) != 0) return "A's editor window stays after closing it";
    if (probe.childCount(pb) != 1) return "closing A's editor closed B's window";
    idle(*b, 3);
    b->closeEditor();
    if (probe.waitForChildren(pb, 0, 500) != 0) return "B's editor window stays after closing it";
    probe.destroyWindow(pa);
    probe.destroyWindow(pb);
    return passedWith("two editors open side by side, each closes only its own");
}

}  // namespace

bool editorAvailable(Context& ctx, const std::string& name) {
    bool hasEditor = false;
    {
        std::string error;
        auto h = ctx.load(error);
        hasEditor = h && h->capabilities().editor;
    }
    std::string why;
    if (!hasEditor) {
        why = "skipped (no editor)";
    } else if (!XProbe::open(why)) {
        why = "skipped: " + why;
    }
    if (!why.empty()) ctx.report().skip(name, why);
    return why.empty();
}

void editorInChild(Context& ctx, const std::string& name,
                   const std::function<std::string(XProbe&, host::PluginInstance&)>& body) {
    if (!editorAvailable(ctx, name)) return;
    const ChildOutcome outcome = runInChild(
        [&]() -> std::string {
            std::string why;
            auto probe = XProbe::open(why);
            if (!probe) return why;
            auto h = ctx.started();
            return body(*probe, *h);
        },
        180);
    ctx.report().check(outcome.ok, name, outcome.message);
}

std::vector<Check> editorChecks() {
    using Body = std::function<std::string(Context&, XProbe&, host::PluginInstance&)>;
    auto check = [](const char* name, Tier tier, const char* harm, Body body) {
        return Check{name, tier, harm, [name, body](Context& ctx) {
                         editorInChild(ctx, name, [&](XProbe& p, host::PluginInstance& h) {
                             return body(ctx, p, h);
                         });
                     }};
    };
    std::vector<Check> checks = {
        check("editor.get-rect", Tier::EveryHost,
              "the host's window does not fit the editor (cut off or empty borders)",
              [](Context&, XProbe& p, host::PluginInstance& h) { return getRect(p, h); }),
        check("editor.open-close", Tier::EveryHost,
              "opening or closing the plug-in window fails or leaves a dead window", openClose),
        check("editor.no-leaks", Tier::EveryHost,
              "every open and close of the window costs X resources, descriptors or memory",
              noLeaks),
        check("editor.two-instances", Tier::EveryHost,
              "two open plug-in windows disturb or close each other", twoInstances),
        check("editor.host-scale", Tier::Demanding,
              "on a dense screen the host's window and the editor differ in size (cut off, "
              "or a quarter of the panel)",
              [](Context&, XProbe& p, host::PluginInstance& h) { return hostScale(p, h); }),
        check("editor.parent-destroyed", Tier::Demanding,
              "a host that destroys its window before closing the editor crashes", parentDestroyed),
    };
    for (Check& c : reentrancyChecks())
        checks.push_back(std::move(c));
    return checks;
}

}  // namespace kv::validate
