// The plug-in as a guest in the host's process: forks at any moment, a
// child that closes an editor it inherited, editors closed by the host's
// static objects at exit, a host that saves and restores the process's X
// error handler around our calls and loads two copies of the library, the
// panel's connection killed by the X server, and the memory a reload costs.
// None of this is rare in the field (hosts fork to start helpers and
// scanners, load a plug-in from two folders, guard their error handler),
// and each fault here hangs, crashes or bloats the host, not the plug-in.
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "host/validate/isolation.h"
#include "host/validate/signal.h"
#include "host/validate/validator.h"
#include "host/validate/x11_probe.h"
#include "host/vst3_host.h"

namespace kv::validate {

namespace {

using Clock = std::chrono::steady_clock;

void idle(host::PluginInstance& h, int times) {
    for (int i = 0; i < times; ++i) {
        h.idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool outOfTime(const Context& ctx, Clock::time_point start, int done, int least) {
    return done >= least &&
           std::chrono::duration<double>(Clock::now() - start).count() > ctx.slowLoopBudget();
}

// Opens an editor of a fresh instance on a new window of its own probe,
// idles it and closes it: what a forked child does when it shows a panel.
std::string ownEditor(Context& ctx) {
    std::string why;
    auto probe = XProbe::open(why);
    if (!probe) return why;
    auto h = ctx.started();
    const unsigned long parent = probe->makeWindow(640, 640);
    if (!h->openEditor(parent)) return "the editor did not open";
    idle(*h, 3);
    h->closeEditor();
    return {};
}

// Rounds in fresh processes: load, maybe open an editor, wait a random
// moment (whatever the plug-in does once per process may be under way),
// fork; the child must then open and close an editor of its own.
void forkAtRandomMoments(Context& ctx) {
    const char* name = "lifetime.fork-at-random-moments";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer's allocator (GCC 12's) takes no lock around fork, as
    // glibc's malloc does: a child forked while another thread is inside an
    // allocation (a thread ending, the plug-in's font set-up) inherits the
    // allocator's lock held and hangs at its first allocation, whatever the
    // plug-in does. The check means something only without one.
    ctx.report().skip(name,
                      "skipped: a sanitizer's allocator does not survive a fork that races "
                      "another thread's allocation");
    return;
#endif
    if (!editorAvailable(ctx, name)) return;
    const int rounds = ctx.scaled(100, 10);
    const auto start = Clock::now();
    int done = 0;
    std::string problem;
    for (; done < rounds && problem.empty() && !outOfTime(ctx, start, done, 10); ++done) {
        const bool withEditor = done % 2 == 1;
        const auto delay = std::chrono::microseconds(ctx.rng()() % 20000);
        const ChildOutcome round = runInChild(
            [&]() -> std::string {
                std::string why;
                auto probe = XProbe::open(why);
                if (!probe) return why;
                auto h = ctx.started();
                if (withEditor) {
                    const unsigned long parent = probe->makeWindow(640, 640);
                    if (!h->openEditor(parent)) return "the editor did not open";
                }
                std::this_thread::sleep_for(delay);
                const ChildOutcome child = runInChild([&] { return ownEditor(ctx); }, 30);
                if (withEditor) h->closeEditor();
                return child.ok ? std::string() : "the child: " + child.message;
            },
            90);
        if (!round.ok) {
            problem = format("fork %d (%s, %lld us after load): %s", done,
                             withEditor ? "editor open" : "no editor",
                             static_cast<long long>(delay.count()), round.message.c_str());
        }
    }
    ctx.report().check(problem.empty(), name,
                       problem.empty() ? format("%d forks, half with an editor open; each child "
                                                "opened and closed its own editor",
                                                done)
                                       : problem);
}

// A child forked with the editor open closes it (and the instance) and
// ends; the parent's editor must go on as if nothing happened: the child
// shares the parent's X connection, and anything it says there (or a
// shutdown of the socket) breaks the parent's.
std::string forkWithEditorOpen(XProbe& probe, host::PluginInstance& h) {
    const unsigned long parent = probe.makeWindow(640, 640);
    if (!h.openEditor(parent)) return "the editor did not open";
    idle(h, 5);
    const ChildOutcome child = runInChild(
        [&]() -> std::string {
            h.closeEditor();
            h.stop();
            return {};
        },
        30);
    idle(h, 20);
    if (h.parameterCount() > 0) h.setValue(0, h.fromNormalised(0, 0.75));
    idle(h, 5);
    const int shown = probe.childCount(parent);
    h.closeEditor();
    const int after = probe.waitForChildren(parent, 0, 1000);
    probe.destroyWindow(parent);
    if (!child.ok) return "the child that closed the inherited editor: " + child.message;
    if (shown != 1) return format("the parent's editor window is gone (%d children)", shown);
    if (after != 0) return "the parent's editor window stays after its close";
    return passedWith("the child closed the inherited editor; the parent's idled and closed");
}

// A host's global object is made before the plug-in is loaded, so it is
// destroyed after the plug-in's own static objects; one that closes the
// editors it holds then reaches whatever the plug-in left behind. A sanitizer
// build reports a use after free; other builds crash, hang or pass by luck.
host::PluginInstance* gAtExitHost = nullptr;
XProbe* gAtExitProbe = nullptr;

void closeAtExit() {
    if (gAtExitHost != nullptr) {
        gAtExitHost->closeEditor();
        delete gAtExitHost;  // the instance closed, then the library unloaded
    }
    delete gAtExitProbe;
}

void closeAtExitCheck(Context& ctx) {
    const char* name = "lifetime.close-at-exit";
    if (!editorAvailable(ctx, name)) return;
    const ChildOutcome outcome = runInChild(
        [&]() -> std::string {
            std::atexit(&closeAtExit);  // before the plug-in's statics exist
            std::string why;
            gAtExitProbe = XProbe::open(why).release();
            if (gAtExitProbe == nullptr) return why;
            gAtExitHost = ctx.started().release();
            const unsigned long parent = gAtExitProbe->makeWindow(640, 640);
            if (!gAtExitHost->openEditor(parent)) return "the editor did not open";
            idle(*gAtExitHost, 5);
            std::fflush(nullptr);
            std::exit(0);
        },
        60);
    ctx.report().check(outcome.ok, name,
                       outcome.ok ? "editor closed and library unloaded by a static destructor "
                                    "after exit() began"
                                  : outcome.message);
}

// The host's own handler, and the one it sets for the length of a call.
int gHostErrors = 0;
int hostHandler(Display*, XErrorEvent*) {
    ++gHostErrors;
    return 0;
}
int callHandler(Display*, XErrorEvent*) {
    return 0;
}

// Calls `f` the way a host that guards its error handler does.
template <typename F>
void guarded(F&& f) {
    const XErrorHandler saved = XSetErrorHandler(&callHandler);
    f();
    XSetErrorHandler(saved);
}

// The scenes of a host that guards its handler, with the two copies open
// side by side; then both are unloaded and the host has an error of its
// own. A plug-in that installs a process-wide handler of its own has by
// then had it restored after its library was unloaded, chained to itself,
// or taken away while its own errors still come.
std::string guardedErrorHandler(Context& ctx, XProbe& probe) {
    // The second copy: the same file under another name is another library.
    namespace fs = std::filesystem;
    const fs::path copy = fs::temp_directory_path() / format("kv23-copy-%d.so", ::getpid());
    std::error_code failed;
    fs::copy_file(host::vst3ModulePath(ctx.options().pluginPath), copy,
                  fs::copy_options::overwrite_existing, failed);
    if (failed) return "cannot copy the plug-in file: " + failed.message();
    std::string why;
    host::LoadOptions options;
    options.pluginId = ctx.options().pluginId;
    auto b = host::openPluginInstance(copy.string(), why, options);
    fs::remove(copy, failed);
    if (!b) return "the copy does not load: " + why;
    b->start(44100.0f, 1024);
    auto a = ctx.started();

    XSetErrorHandler(&hostHandler);
    auto open = [](host::PluginInstance& h, unsigned long parent) { return h.openEditor(parent); };
    const unsigned long gone = probe.makeWindow(640, 640);
    const unsigned long pa = probe.makeWindow(640, 640);
    const unsigned long pb = probe.makeWindow(640, 640);
    bool opened = true;
    // Open guarded; the parent goes before the close, whose requests then
    // fail on the editor's own connection.
    guarded([&] { opened = open(*a, gone); });
    idle(*a, 3);
    probe.destroyWindow(gone);
    a->closeEditor();
    // Both copies open; A closed guarded, reopened plain, reopened guarded.
    opened = open(*a, pa) && open(*b, pb) && opened;
    idle(*a, 3);
    idle(*b, 3);
    guarded([&] { a->closeEditor(); });
    opened = open(*a, pa) && opened;
    idle(*a, 3);
    guarded([&] {
        a->closeEditor();
        opened = open(*a, pa) && opened;
    });
    idle(*a, 3);
    a->closeEditor();
    const int editorErrors = gHostErrors;
    a.reset();  // the first copy is unloaded, the second still open
    idle(*b, 3);
    guarded([&] { b->closeEditor(); });
    b.reset();
    gHostErrors = 0;
    probe.provokeError();  // an error of the host's own
    const int hostErrors = gHostErrors;
    probe.destroyWindow(pa);
    probe.destroyWindow(pb);
    if (!opened) return "the editor did not open";
    if (editorErrors != 0)
        return format("%d errors of the editor's own connection reached the host's handler",
                      editorErrors);
    if (hostErrors != 1)
        return format("the host's handler saw %d calls for its own error, not 1", hostErrors);
    return passedWith(
        "two copies opened, closed and reopened inside and outside the host's save "
        "and restore, then unloaded: the host's handler got its own error and none "
        "of the editors'");
}

// xkill on the panel: the X server ends the editor's connection. The host
// must live on, idle and process; closing the editor later is safe.
std::string panelKilled(XProbe& probe, host::PluginInstance& h) {
    const unsigned long parent = probe.makeWindow(640, 640);
    if (!h.openEditor(parent)) return "the editor did not open";
    idle(h, 5);
    if (!probe.killOwnerOfFirstChild(parent)) return "no editor window to kill";
    const Stereo in = square(256, 0.5);
    for (int i = 0; i < 40; ++i) {
        idle(h, 1);
        runThrough(h, in, RunOptions{});
        if (h.parameterCount() > 0) h.setValue(0, h.fromNormalised(0, i % 2));
    }
    h.closeEditor();
    // A new connection for a new panel.
    const bool reopened = h.openEditor(parent);
    idle(h, 3);
    h.closeEditor();
    probe.destroyWindow(parent);
    if (!reopened) return "the editor no longer opens after its connection was killed";
    return passedWith("connection killed: 40 idles and blocks, closed, reopened");
}

size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Bytes the heap grew per load/unload cycle after a few cycles of warming
// up, in a fresh process; -1 with the reason in `why` when a cycle failed.
long growthPerCycle(Context& ctx, int cycles, bool withEditor, int& done, std::string& why) {
    // Through shared memory: the figure comes from the child.
    long* shared = static_cast<long*>(
        mmap(nullptr, 2 * sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (shared == MAP_FAILED) return -1;
    shared[0] = shared[1] = 0;
    const ChildOutcome outcome = runInChild(
        [&]() -> std::string {
            std::string error;
            std::unique_ptr<XProbe> probe;
            unsigned long parent = 0;
            if (withEditor) {
                probe = XProbe::open(error);
                if (!probe) return error;
                parent = probe->makeWindow(640, 640);
            }
            auto cycle = [&]() -> bool {
                auto h = ctx.load(error);
                if (!h) return false;
                h->start(44100.0f, 1024);
                if (withEditor) {
                    if (!h->openEditor(parent)) return false;
                    idle(*h, 2);
                    h->closeEditor();
                }
                return true;  // the instance closed, then the library unloaded
            };
            for (int i = 0; i < 3; ++i)
                if (!cycle()) return error.empty() ? "the editor did not open" : error;
            const size_t before = heapInUse();
            const auto start = Clock::now();
            int n = 0;
            for (; n < cycles && !outOfTime(ctx, start, n, 10); ++n)
                if (!cycle()) return error.empty() ? "the editor did not open" : error;
            shared[0] = (static_cast<long>(heapInUse()) - static_cast<long>(before)) / n;
            shared[1] = n;
            return {};
        },
        static_cast<int>(ctx.options().checkSeconds));
    const long growth = shared[0];
    done = static_cast<int>(shared[1]);
    munmap(shared, 2 * sizeof(long));
    if (!outcome.ok) {
        why = outcome.message;
        return -1;
    }
    return growth;
}

void reloadMemory(Context& ctx) {
    const char* name = "lifetime.reload-memory";
    constexpr long kLimit = 16 * 1024;
    if (heapInUse() == 0) {
        ctx.report().skip(name,
                          "skipped: this allocator (a sanitizer's) keeps no glibc heap count");
        return;
    }
    int plain = 0, shown = 0;
    std::string why;
    const long without = growthPerCycle(ctx, ctx.scaled(200, 20), false, plain, why);
    if (without < 0) {
        ctx.report().fail(name, "without an editor: " + why);
        return;
    }
    std::string figure = format("%d load/unload cycles: %+ld bytes a cycle", plain, without);
    if (editorAvailable(ctx, "lifetime.reload-memory-with-editor")) {
        const long with = growthPerCycle(ctx, ctx.scaled(200, 10), true, shown, why);
        figure += with < 0 ? "; with an editor: " + why
                           : format("; %d with an editor opened each time: %+ld bytes a cycle",
                                    shown, with);
    }
    ctx.report().check(without < kLimit, name, figure);
}

}  // namespace

std::vector<Check> lifetimeChecks() {
    using Body = std::function<std::string(Context&, XProbe&, host::PluginInstance&)>;
    auto editor = [](const char* name, const char* harm, Body body) {
        return Check{name, Tier::Hostile, harm, [name, body](Context& ctx) {
                         editorInChild(ctx, name, [&](XProbe& p, host::PluginInstance& h) {
                             return body(ctx, p, h);
                         });
                     }};
    };
    return {
        {"lifetime.fork-at-random-moments", Tier::Hostile,
         "a host that forks (to start a helper or a scanner) gets a child that hangs",
         forkAtRandomMoments},
        editor(
            "lifetime.fork-with-editor-open",
            "a forked child that tidies up breaks the parent's X connection: the host dies or "
            "hangs",
            [](Context&, XProbe& p, host::PluginInstance& h) { return forkWithEditorOpen(p, h); }),
        {"lifetime.close-at-exit", Tier::Hostile,
         "a host that closes its editors from a static destructor crashes at exit",
         closeAtExitCheck},
        editor("lifetime.guarded-error-handler",
               "a host that saves and restores its X error handler around plug-in calls, or loads "
               "two copies of the plug-in, crashes, loops or exits on a later X error",
               [](Context& ctx, XProbe& p, host::PluginInstance&) {
                   return guardedErrorHandler(ctx, p);
               }),
        editor("lifetime.panel-killed",
               "xkill on the plug-in window (or a broken X connection) ends the whole host",
               [](Context&, XProbe& p, host::PluginInstance& h) { return panelKilled(p, h); }),
        {"lifetime.reload-memory", Tier::Hostile,
         "a scanner or a session that reloads the plug-in grows by its memory every time",
         reloadMemory},
    };
}

}  // namespace kv::validate
