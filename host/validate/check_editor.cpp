// The editor, the way Linux hosts drive it: effEditOpen with the X window id
// of a host window, effEditIdle from a timer, effEditClose — and the host
// bugs plug-ins meet in the field: the parent window destroyed first, effClose
// with the editor still open, keys sent to a closed editor. Every check runs
// in its own child process with its own X connection.
#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <thread>

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

void idle(host::Vst2Host& h, int times) {
    for (int i = 0; i < times; ++i) {
        h.dispatch(effEditIdle);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Many editors know their size only once open (hosts ask again after
// effEditOpen), so before the open only a rectangle given must be sane.
std::string getRect(XProbe& probe, host::Vst2Host& h) {
    ERect* before = nullptr;
    h.dispatch(effEditGetRect, 0, 0, &before);
    const unsigned long parent = probe.makeWindow(640, 640);
    if (h.dispatch(effEditOpen, 0, 0, windowPointer(parent)) == 0) return "effEditOpen failed";
    idle(h, 2);
    ERect* rect = nullptr;
    if (h.dispatch(effEditGetRect, 0, 0, &rect) == 0 || rect == nullptr) {
        return "effEditGetRect gave no rectangle while open";
    }
    const int width = rect->right - rect->left;
    const int height = rect->bottom - rect->top;
    int shownWidth = 0, shownHeight = 0;
    const bool shown = probe.firstChildSize(parent, shownWidth, shownHeight);
    h.dispatch(effEditClose);
    probe.destroyWindow(parent);
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096) {
        return format("rectangle of %d x %d", width, height);
    }
    if (!shown) return "no child window in the host window after open";
    if (shownWidth != width || shownHeight != height) {
        return format("rectangle %d x %d but the window is %d x %d", width, height, shownWidth,
                      shownHeight);
    }
    return passedWith(format("%d x %d, the window the same", width, height));
}

// A plug-in that takes the host's scale factor ('PreS' / 'AeCs', answered
// canDo "supportsViewDpiScaling") must report the scaled rectangle and open
// a window of that size; Carla sends the factor just before effEditOpen.
// The factor 1 first gives the plain size whatever the desktop says.
std::string hostScale(XProbe& probe, host::Vst2Host& h) {
    const intptr_t accepts =
        h.dispatch(effCanDo, 0, 0, const_cast<char*>("supportsViewDpiScaling"));
    if (accepts != 1)
        return passedWith(
            format("takes no host factor (canDo answered %ld)", static_cast<long>(accepts)));
    const auto sendScale = [&h](float factor) {
        h.dispatch(effVendorSpecific, kvFourCC('P', 'r', 'e', 'S'), kvFourCC('A', 'e', 'C', 's'),
                   nullptr, factor);
    };
    const auto reported = [&h](int& width, int& height) {
        ERect* rect = nullptr;
        if (h.dispatch(effEditGetRect, 0, 0, &rect) == 0 || rect == nullptr) return false;
        width = rect->right - rect->left;
        height = rect->bottom - rect->top;
        return true;
    };
    // Editors that know their size only once open are measured open.
    const unsigned long parent = probe.makeWindow(1600, 1600);
    const auto openSize = [&](float factor, int& width, int& height) -> std::string {
        sendScale(factor);
        if (h.dispatch(effEditOpen, 0, 0, windowPointer(parent)) == 0) return "effEditOpen failed";
        idle(h, 3);
        probe.sync();
        int shownWidth = 0, shownHeight = 0;
        const bool rect = reported(width, height);
        const bool shown = probe.firstChildSize(parent, shownWidth, shownHeight);
        h.dispatch(effEditClose);
        probe.waitForChildren(parent, 0, 500);
        if (!rect) return format("no rectangle at factor %.2f", factor);
        if (!shown) return format("no window at factor %.2f", factor);
        if (shownWidth != width || shownHeight != height) {
            return format("at factor %.2f the rectangle is %d x %d but the window %d x %d", factor,
                          width, height, shownWidth, shownHeight);
        }
        return {};
    };
    int plainWidth = 0, plainHeight = 0, width = 0, height = 0;
    std::string problem = openSize(1.0f, plainWidth, plainHeight);
    if (problem.empty()) problem = openSize(2.0f, width, height);
    probe.destroyWindow(parent);
    if (!problem.empty()) return problem;
    if (std::abs(width - 2 * plainWidth) > 1 || std::abs(height - 2 * plainHeight) > 1) {
        return format("factor 2 gives %d x %d for a %d x %d editor", width, height, plainWidth,
                      plainHeight);
    }
    return passedWith(format("%d x %d at factor 1, %d x %d at 2, windows the same", plainWidth,
                             plainHeight, width, height));
}

std::string openClose(Context& ctx, XProbe& probe, host::Vst2Host& h) {
    const int cycles = ctx.scaled(200, 20);
    const unsigned long parent = probe.makeWindow(640, 640);
    const auto start = std::chrono::steady_clock::now();
    int done = 0;
    for (int i = 0; i < cycles && !overBudget(ctx, start, i, 5); ++i, ++done) {
        if (h.dispatch(effEditOpen, 0, 0, windowPointer(parent)) == 0) {
            return format("effEditOpen failed in cycle %d", i);
        }
        // Every other cycle with idle calls, as a host timer would make.
        if (i % 2 == 0) idle(h, 2);
        if (i % 10 == 0 && probe.waitForChildren(parent, 1, 500) < 1) {
            return format("no editor window in the host window in cycle %d", i);
        }
        h.dispatch(effEditClose);
        if (i % 10 == 0 && probe.waitForChildren(parent, 0, 500) != 0) {
            return format("the editor window stays after effEditClose in cycle %d", i);
        }
    }
    probe.destroyWindow(parent);
    return passedWith(format("%d cycles, half with idle calls", done));
}

std::string noLeaks(Context& ctx, XProbe& probe, host::Vst2Host& h) {
    const int cycles = ctx.scaled(50, 5);
    const unsigned long parent = probe.makeWindow(640, 640);
    auto cycle = [&](int times) {
        const auto start = std::chrono::steady_clock::now();
        int done = 0;
        for (; done < times && !overBudget(ctx, start, done, 5); ++done) {
            h.dispatch(effEditOpen, 0, 0, windowPointer(parent));
            idle(h, 2);
            h.dispatch(effEditClose);
        }
        return done;
    };
    cycle(2);  // first-use caches (fonts, images) are not leaks
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
                    fdsAfter == fdsBefore && heap < 256L * done + 16384;
    return ok ? passedWith(figure) : figure;
}

std::string parentDestroyed(Context& ctx, XProbe& probe, host::Vst2Host& h) {
    const int rounds = ctx.scaled(10, 2);
    const auto start = std::chrono::steady_clock::now();
    int done = 0;
    for (int i = 0; i < rounds && !overBudget(ctx, start, i, 2); ++i, ++done) {
        const unsigned long parent = probe.makeWindow(640, 640);
        if (h.dispatch(effEditOpen, 0, 0, windowPointer(parent)) == 0) return "effEditOpen failed";
        idle(h, 2);
        probe.destroyWindow(parent);
        idle(h, 3);
        h.dispatch(effEditClose);
    }
    // The editor must still open normally afterwards.
    const unsigned long parent = probe.makeWindow(640, 640);
    const bool reopened = h.dispatch(effEditOpen, 0, 0, windowPointer(parent)) != 0;
    idle(h, 2);
    h.dispatch(effEditClose);
    probe.destroyWindow(parent);
    if (!reopened) return "the editor no longer opens after its parent was destroyed";
    return passedWith(
        format("%d rounds of parent destroyed before effEditClose, then reopened", done));
}

std::string keysAndKnob(Context& ctx, XProbe& probe, host::Vst2Host& h) {
    const int32_t chars[] = {0, 'a', 'Z', ' ', '0', 0x7F, -1, 0x10FFFF};
    auto keys = [&](int count) -> std::string {
        for (int i = 0; i < count; ++i) {
            const int32_t character = chars[ctx.rng()() % 8];
            const intptr_t virt = static_cast<intptr_t>(ctx.rng()() % 256);
            const float modifier = static_cast<float>(ctx.rng()() % 16);
            for (int32_t opcode : {effEditKeyDown, effEditKeyUp}) {
                const intptr_t answer = h.dispatch(opcode, character, virt, nullptr, modifier);
                if (answer < -1 || answer > 1) {
                    return format("opcode %d answered %ld", opcode, static_cast<long>(answer));
                }
            }
        }
        return {};
    };
    // Keys and knob modes while closed must be ignored quietly.
    if (std::string p = keys(20); !p.empty()) return "closed editor: " + p;
    const unsigned long parent = probe.makeWindow(640, 640);
    if (h.dispatch(effEditOpen, 0, 0, windowPointer(parent)) == 0) return "effEditOpen failed";
    idle(h, 2);
    const int presses = ctx.scaled(300, 30);
    if (std::string p = keys(presses); !p.empty()) return p;
    for (intptr_t mode : {intptr_t{0}, intptr_t{1}, intptr_t{2}, intptr_t{-1}, intptr_t{1000}}) {
        const intptr_t answer = h.dispatch(effSetEditKnobMode, 0, mode);
        if (answer < 0 || answer > 1)
            return format("knob mode %ld answered %ld", static_cast<long>(mode),
                          static_cast<long>(answer));
        idle(h, 1);
    }
    h.dispatch(effEditClose);
    probe.destroyWindow(parent);
    return passedWith(format("%d key downs and ups, knob modes 0, 1, 2, -1, 1000", presses));
}

std::string twoInstances(Context& ctx, XProbe& probe, host::Vst2Host& a) {
    auto b = ctx.started();
    const unsigned long pa = probe.makeWindow(640, 640);
    const unsigned long pb = probe.makeWindow(640, 640);
    if (a.dispatch(effEditOpen, 0, 0, windowPointer(pa)) == 0 ||
        b->dispatch(effEditOpen, 0, 0, windowPointer(pb)) == 0) {
        return "effEditOpen failed with two instances";
    }
    idle(a, 2);
    idle(*b, 2);
    if (probe.waitForChildren(pa, 1, 500) != 1 || probe.waitForChildren(pb, 1, 500) != 1) {
        return "each host window should hold one editor window";
    }
    a.setParameter(0, 0.9f);
    idle(a, 1);
    idle(*b, 1);
    a.dispatch(effEditClose);
    if (probe.waitForChildren(pa, 0, 500) != 0) return "A's editor window stays after closing it";
    if (probe.childCount(pb) != 1) return "closing A's editor closed B's window";
    idle(*b, 3);
    b->dispatch(effEditClose);
    if (probe.waitForChildren(pb, 0, 500) != 0) return "B's editor window stays after closing it";
    probe.destroyWindow(pa);
    probe.destroyWindow(pb);
    return passedWith("two editors open side by side, each closes only its own");
}

std::string closeWhileOpen(XProbe& probe, host::Vst2Host& h) {
    const unsigned long parent = probe.makeWindow(640, 640);
    const ServerCounts before = probe.counts();
    const int fdsBefore = openDescriptors();
    if (h.dispatch(effEditOpen, 0, 0, windowPointer(parent)) == 0) return "effEditOpen failed";
    idle(h, 3);
    h.close();  // effClose without effEditClose
    const int children = probe.waitForChildren(parent, 0, 1000);
    const ServerCounts after = probe.counts();
    const int fdsAfter = openDescriptors();
    probe.destroyWindow(parent);
    if (children != 0) return "the editor window outlives effClose";
    if (after.windows != before.windows || fdsAfter != fdsBefore) {
        return format("effClose with the editor open leaves windows %+ld, fds %+d",
                      after.windows - before.windows, fdsAfter - fdsBefore);
    }
    return passedWith("effClose closed the open editor and left nothing behind");
}

}  // namespace

bool editorAvailable(Context& ctx, const std::string& name) {
    bool hasEditor = false;
    {
        std::string error;
        auto h = ctx.load(error);
        hasEditor = h && (h->effect()->flags & effFlagsHasEditor) != 0;
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
                   const std::function<std::string(XProbe&, host::Vst2Host&)>& body) {
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
    using Body = std::function<std::string(Context&, XProbe&, host::Vst2Host&)>;
    auto check = [](const char* name, Tier tier, const char* harm, Body body) {
        return Check{name, tier, harm, [name, body](Context& ctx) {
                         editorInChild(ctx, name, [&](XProbe& p, host::Vst2Host& h) {
                             return body(ctx, p, h);
                         });
                     }};
    };
    std::vector<Check> checks = {
        check("editor.get-rect", Tier::EveryHost,
              "the host's window does not fit the editor (cut off or empty borders)",
              [](Context&, XProbe& p, host::Vst2Host& h) { return getRect(p, h); }),
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
              [](Context&, XProbe& p, host::Vst2Host& h) { return hostScale(p, h); }),
        check("editor.parent-destroyed", Tier::Demanding,
              "a host that destroys its window before effEditClose crashes", parentDestroyed),
        check("editor.keys-and-knob", Tier::Demanding,
              "key presses forwarded by the host crash the editor or get odd answers", keysAndKnob),
        check("editor.close-while-open", Tier::Hostile,
              "a host that sends effClose with the editor still open leaves a window behind",
              [](Context&, XProbe& p, host::Vst2Host& h) { return closeWhileOpen(p, h); }),
    };
    for (Check& c : reentrancyChecks())
        checks.push_back(std::move(c));
    return checks;
}

}  // namespace kv::validate
