// A VST3 plug-in's view, the way Linux hosts drive IPlugView: the orders
// of create_view, set_frame, attached, get_size, removed and the release,
// with the host's objects let go at the end; the content scale before and
// while attached; a host whose frame has no run loop; and a real drag
// (XTest) that must reach the host as begin, perform and end edits while
// the button is held, with an audio thread running, and never hold the
// run loop's call longer than a frame. The checks need a display and a
// plug-in with a view for X11EmbedWindowID; without either they skip.
#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "host/validate/validator.h"
#include "host/validate/vst3_rig.h"
#include "host/validate/x11_input.h"
#include "host/validate/x11_probe.h"

namespace kv::validate {

namespace {

using namespace vst3check;
using Clock = std::chrono::steady_clock;

// The longest a run loop call may hold the host's UI thread: one frame of a
// 30 Hz display, in which a host redraws everything else. One call may be
// stretched by the scheduler on a busy machine, but not to most of the
// 240 ms the drag's button is held: a call that holds the drag lasts it.
constexpr auto kFrame = std::chrono::microseconds(33333);
constexpr auto kHeldDrag = std::chrono::microseconds(180000);

struct ViewRig {
    std::unique_ptr<Rig> rig;
    std::unique_ptr<XProbe> probe;
    host::Vst3Host& h() { return *rig->host; }
    // The run loop's due timers and ready descriptors for `ms`.
    void pump(int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until) {
            const int wait = h().idleDue();
            std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(wait, 1, 5)));
        }
    }
};

// A rig for `name`, or null after a SKIP line (no display, no view).
std::unique_ptr<ViewRig> viewRigFor(Context& ctx, const std::string& name,
                                    const host::Vst3Options& options = {}) {
    auto v = std::make_unique<ViewRig>();
    std::string why;
    v->probe = XProbe::open(why);
    if (!v->probe) {
        ctx.report().skip(name, "skipped: " + why);
        return nullptr;
    }
    v->rig = loadRig(ctx, options);
    v3_edit_controller** c = v->h().controller();
    v3_plugin_view** view = v3_cpp_obj(c)->create_view(c, "editor");
    if (!view) {
        ctx.report().skip(name, "skipped (create_view(\"editor\") gives no view)");
        return nullptr;
    }
    const bool x11 = viewOf(view)->is_platform_type_supported(view, "X11EmbedWindowID") == V3_OK;
    host::vst3::unrefOf(view);
    if (!x11) {
        ctx.report().skip(name, "skipped (the view does not support X11EmbedWindowID)");
        return nullptr;
    }
    return v;
}

// Three rounds of create_view, set_frame, attached, get_size, idle,
// removed, set_frame(null) and release; the window comes and goes, and the
// view lets go of the frame, the run loop and its registrations.
void viewOrders(Context& ctx) {
    const char* name = "vst3.view-orders";
    auto v = viewRigFor(ctx, name);
    if (!v) return;
    host::Vst3Host& h = v->h();
    std::string problem;
    int width = 0, height = 0;
    size_t timers = 0, handlers = 0;
    for (int round = 0; round < 3 && problem.empty(); ++round) {
        const unsigned long parent = v->probe->makeWindow(1000, 1000);
        v3_edit_controller** c = h.controller();
        v3_plugin_view** view = v3_cpp_obj(c)->create_view(c, "editor");
        if (!view) {
            problem = format("round %d: no view", round);
            break;
        }
        if (viewOf(view)->is_platform_type_supported(view, "kv23-no-such-window") == V3_OK)
            problem = "an unknown platform type is answered as supported";
        viewOf(view)->set_frame(view, h.services().frame());
        v3_view_rect rect{};
        if (problem.empty() &&
            viewOf(view)->attached(view, windowPointer(parent), "X11EmbedWindowID") != V3_OK)
            problem = format("round %d: attached refused", round);
        if (problem.empty() && (viewOf(view)->get_size(view, &rect) != V3_OK ||
                                rect.right - rect.left <= 0 || rect.bottom - rect.top <= 0))
            problem = format("round %d: get_size gives no size once attached", round);
        width = rect.right - rect.left;
        height = rect.bottom - rect.top;
        if (problem.empty() && v->probe->waitForChildren(parent, 1, 3000) < 1)
            problem = format("round %d: no window in the host's window", round);
        v->pump(100);
        timers = h.services().timerCount();
        handlers = h.services().fdHandlerCount();
        viewOf(view)->removed(view);
        if (problem.empty() && v->probe->waitForChildren(parent, 0, 3000) != 0)
            problem = format("round %d: the view's window stays after removed", round);
        if (problem.empty() && h.services().timerCount() + h.services().fdHandlerCount() > 0)
            problem = format("round %d: %zu timers and %zu handlers stay registered after removed",
                             round, h.services().timerCount(), h.services().fdHandlerCount());
        viewOf(view)->set_frame(view, nullptr);
        host::vst3::unrefOf(view);
        if (problem.empty() && (h.services().frameRefs() > 0 || h.services().runLoopRefs() > 0))
            problem = format(
                "round %d: the released view still holds %u references to the frame "
                "and %u to the run loop",
                round, h.services().frameRefs(), h.services().runLoopRefs());
        v->probe->destroyWindow(parent);
    }
    ctx.report().check(problem.empty(), name,
                       problem.empty() ? format("3 rounds at %d x %d; %zu timers and %zu handlers "
                                                "while attached, none after; frame let go",
                                                width, height, timers, handlers)
                                       : problem);
}

// A factor given before attached sizes the view by it; one given while
// attached is followed by get_size (and resize_view when it asks).
void viewScale(Context& ctx) {
    const char* name = "vst3.view-scale";
    auto v = viewRigFor(ctx, name);
    if (!v) return;
    host::Vst3Host& h = v->h();
    const unsigned long parent = v->probe->makeWindow(2000, 2000);
    std::string problem;
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0, w3 = 0, h3 = 0;
    if (!h.openView(parent, 1.0) || !h.viewSize(w1, h1)) problem = "no view at factor 1";
    h.closeView();
    bool scales = false;
    if (problem.empty()) {
        if (!h.openView(parent, 2.0) || !h.viewSize(w2, h2)) problem = "no view at factor 2";
        scales = w2 != w1 || h2 != h1;
        if (problem.empty() && scales && (std::abs(w2 - 2 * w1) > 2 || std::abs(h2 - 2 * h1) > 2))
            problem = format("factor 2 gives %d x %d for a view of %d x %d", w2, h2, w1, h1);
        v->pump(60);
        const size_t asked = v->rig->heard.resizes().size();
        if (problem.empty() && scales && h.setViewScale(1.0)) {
            v->pump(60);
            if (!h.viewSize(w3, h3) || std::abs(w3 - w1) > 2 || std::abs(h3 - h1) > 2)
                problem = format("factor 1 while attached: get_size gives %d x %d, not %d x %d", w3,
                                 h3, w1, h1);
            const auto resizes = v->rig->heard.resizes();
            if (problem.empty() && resizes.size() > asked) {
                const v3_view_rect& r = resizes.back();
                if (r.right - r.left != w3 || r.bottom - r.top != h3)
                    problem = format("resize_view asked for %d x %d but get_size says %d x %d",
                                     r.right - r.left, r.bottom - r.top, w3, h3);
            }
        }
    }
    h.closeView();
    v->probe->destroyWindow(parent);
    ctx.report().check(problem.empty(), name,
                       problem.empty()
                           ? (scales ? format("%d x %d at 1, %d x %d at 2, %d x %d after 1 again "
                                              "while attached",
                                              w1, h1, w2, h2, w3, h3)
                                     : format("takes no factor: %d x %d at 1 and at 2", w1, h1))
                           : problem);
}

// A host whose frame answers no IRunLoop: the view refuses to attach or
// works without; either way no crash and nothing held.
void noRunLoop(Context& ctx) {
    const char* name = "vst3.no-run-loop";
    host::Vst3Options options;
    options.runLoop = false;
    auto v = viewRigFor(ctx, name, options);
    if (!v) return;
    host::Vst3Host& h = v->h();
    const unsigned long parent = v->probe->makeWindow(1000, 1000);
    const bool opened = h.openView(parent, 0.0);
    v->pump(100);
    const int children = v->probe->childCount(parent);
    h.closeView();
    std::string problem;
    if (!opened && v->probe->waitForChildren(parent, 0, 2000) != 0)
        problem = "a refused attach left a window in the host's";
    if (problem.empty() && h.services().frameRefs() > 0)
        problem =
            format("the released view holds %u references to the frame", h.services().frameRefs());
    v->probe->destroyWindow(parent);
    ctx.report().check(problem.empty(), name,
                       problem.empty() ? (opened ? format("attached without a run loop (%d "
                                                          "windows), removed cleanly",
                                                          children)
                                                 : std::string("attached refused, nothing left"))
                                       : problem);
}

// Begin, performs, end for one parameter, at least one perform before the
// button came up; the problem, or empty.
std::string gestureProblem(const std::vector<Recorder::Edit>& edits, Clock::time_point released,
                           v3_param_id& id, int& values, int& early) {
    values = early = 0;
    if (edits.front().kind != 'b') return "the first edit is not begin_edit";
    id = edits.front().id;
    bool ended = false;
    for (size_t i = 1; i < edits.size(); ++i) {
        const Recorder::Edit& e = edits[i];
        if (e.id != id) return format("an edit of %u inside a gesture on %u", e.id, id);
        if (ended) return "edits after end_edit";
        if (e.kind == 'b') return "a second begin_edit";
        if (e.kind == 'e') ended = true;
        if (e.kind == 'p') {
            if (!(e.value >= 0.0 && e.value <= 1.0)) return format("perform_edit of %g", e.value);
            ++values;
            if (e.at < released) ++early;
        }
    }
    if (!ended) return "no end_edit";
    if (values == 0) return "no perform_edit between begin and end";
    if (early == 0) return "no value reached the host while the button was held";
    return "";
}

// A real drag on the view while an audio thread processes.
void viewDrag(Context& ctx) {
    const char* name = "vst3.view-drag";
    auto v = viewRigFor(ctx, name);
    if (!v) return;
    std::string why;
    auto input = XInput::open(why);
    if (!input) {
        ctx.report().skip(name, "skipped: " + why);
        return;
    }
    host::Vst3Host& h = v->h();
    const unsigned long parent = v->probe->makeWindow(1000, 1000);
    int w = 0, ht = 0;
    if (!h.openView(parent, 1.0) || !h.viewSize(w, ht)) {
        ctx.report().fail(name, "the view did not open");
        return;
    }
    v->pump(150);
    if (!h.start(48000.0, 256, V3_SAMPLE_32)) throw std::runtime_error("could not start");
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::string audioProblem;
    std::thread audio([&] {
        while (!stop.load() && audioProblem.empty()) {
            audioProblem = noiseBlock(ctx, h, 256);
            ++blocks;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::string problem = "none";
    std::string figure;
    int tried = 0;
    h.services().resetLongestCall();
    for (const auto& [fx, fy] : dragPoints()) {
        const int x = static_cast<int>(fx * w), y = static_cast<int>(fy * ht);
        int rootX = 0, rootY = 0;
        if (!input->origin(parent, rootX, rootY)) break;
        input->moveTo(rootX + x, rootY + y);
        if (!input->pointerIn(parent)) {
            problem = "skip:the pointer could not be placed over the view";
            break;
        }
        const size_t before = v->rig->heard.editCount();
        std::atomic<Clock::time_point::rep> released{
            Clock::time_point::max().time_since_epoch().count()};
        std::thread hand([&, x = x, y = y] {
            input->button(1, true);
            for (int step = 1; step <= 3; ++step) {
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                input->moveTo(rootX + x, rootY + y - 10 * step);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            released = Clock::now().time_since_epoch().count();
            input->button(1, false);
        });
        v->pump(400);
        hand.join();
        v->pump(150);
        ++tried;
        auto edits = v->rig->heard.edits();
        edits.erase(edits.begin(), edits.begin() + static_cast<long>(before));
        if (edits.empty()) continue;
        v3_param_id id = 0;
        int values = 0, early = 0;
        problem = gestureProblem(edits, Clock::time_point(Clock::duration(released.load())), id,
                                 values, early);
        if (problem.empty())
            figure = format(
                "a drag at (%d, %d): begin, %d values (%d while held), end for "
                "parameter %u",
                x, y, values, early, id);
        else
            problem = format("a drag at (%d, %d): ", x, y) + problem;
        break;
    }
    stop = true;
    audio.join();
    h.stop();
    const auto longest = h.services().longestCall();
    const auto second = h.services().secondLongestCall();
    h.closeView();
    v->probe->destroyWindow(parent);
    if (!audioProblem.empty()) problem = "the audio thread: " + audioProblem;
    if (problem == "none") {
        ctx.report().skip(name, format("skipped: no control answered a drag at %d points", tried));
        return;
    }
    if (problem.rfind("skip:", 0) == 0) {
        ctx.report().skip(name, "skipped: " + problem.substr(5));
        return;
    }
    if (problem.empty() && (longest > kHeldDrag || second > kFrame))
        problem = format("run loop calls held the host for %.1f and %.1f ms during the drag",
                         static_cast<double>(longest.count()) / 1000.0,
                         static_cast<double>(second.count()) / 1000.0);
    ctx.report().check(
        problem.empty(), name,
        problem.empty()
            ? figure + format(" while %d blocks ran; the longest run "
                              "loop call %.1f ms",
                              blocks.load(), static_cast<double>(longest.count()) / 1000.0)
            : problem);
}

}  // namespace

std::vector<Check> vst3ViewChecks() {
    return {
        {"vst3.view-orders", Tier::EveryHost,
         "the panel stays on screen, or the host crashes closing or reopening it", viewOrders},
        {"vst3.view-scale", Tier::Demanding,
         "the panel is drawn at the wrong size on a dense screen", viewScale},
        {"vst3.no-run-loop", Tier::Demanding, "a host without a run loop crashes opening the panel",
         noRunLoop},
        {"vst3.view-drag", Tier::EveryHost,
         "a drag on the panel is not recorded by the host's automation, or freezes its window",
         viewDrag},
    };
}

}  // namespace kv::validate
