// A CLAP plug-in's panel, the way Linux hosts drive the gui extension: create
// and destroy without a window, the orders of create, set_scale, get_size,
// set_parent, show, hide and destroy that hosts use, the size following the
// host's factor, the refusal an unknown window system must get, a real drag (XTest input on the
// server) that must reach the host as gesture and value events through request_flush and flush,
// automation that must move the controls, the audio thread running beside the panel, and calls from
// the wrong thread. The checks need a display and a plug-in offering the gui extension for embedded
// X11 windows; without either they are skipped.
#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "host/clap_host.h"
#include "host/validate/validator.h"
#include "host/validate/x11_input.h"
#include "host/validate/x11_probe.h"
#include "host/x_pixels.h"

namespace kv::validate {

namespace {

using host::ClapHost;
using host::ClapParamChange;
using Clock = std::chrono::steady_clock;

// What the plug-in told the host: its output events (from flush on the
// main thread or from process on the audio thread) and its resize requests.
class Heard final : public host::ClapHostListener {
  public:
    struct Event {
        uint16_t type;
        clap_id id;
        double value;
        Clock::time_point at;  // when the host heard it
    };

    void outputEvent(const clap_event_header_t& e) override {
        if (e.space_id != CLAP_CORE_EVENT_SPACE_ID) return;
        Event event{e.type, CLAP_INVALID_ID, 0.0, Clock::now()};
        if (e.type == CLAP_EVENT_PARAM_VALUE && e.size >= sizeof(clap_event_param_value_t)) {
            const auto& v = reinterpret_cast<const clap_event_param_value_t&>(e);
            event.id = v.param_id;
            event.value = v.value;
        } else if ((e.type == CLAP_EVENT_PARAM_GESTURE_BEGIN ||
                    e.type == CLAP_EVENT_PARAM_GESTURE_END) &&
                   e.size >= sizeof(clap_event_param_gesture_t)) {
            event.id = reinterpret_cast<const clap_event_param_gesture_t&>(e).param_id;
        } else {
            return;
        }
        const std::lock_guard<std::mutex> hold(lock_);
        events_.push_back(event);
    }
    bool requestResize(uint32_t, uint32_t) override {
        ++resizes;
        return true;
    }

    std::vector<Event> events() {
        const std::lock_guard<std::mutex> hold(lock_);
        return events_;
    }

    std::atomic<int> resizes{0};

  private:
    std::mutex lock_;
    std::vector<Event> events_;
};

// A plug-in instance with a panel to drive, and the display to drive it on.
struct Rig {
    std::unique_ptr<ClapHost> clap;
    const clap_plugin_gui_t* gui = nullptr;
    std::unique_ptr<XProbe> probe;
    Heard heard;

    const clap_plugin_t* p() const { return clap->plugin(); }
    bool create() const { return gui->create(p(), CLAP_WINDOW_API_X11, false); }
    bool size(uint32_t& w, uint32_t& h) const {
        w = h = 0;
        return gui->get_size(p(), &w, &h) && w > 0 && h > 0 && w <= 8192 && h <= 8192;
    }
    bool setParent(unsigned long window) const {
        clap_window_t parent{};
        parent.api = CLAP_WINDOW_API_X11;
        parent.x11 = window;
        return gui->set_parent(p(), &parent);
    }
    // Runs the host's loop (timers, requested flushes) for `ms`.
    void pump(int ms) const {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until) {
            const int wait = clap->idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(wait, 1, 5)));
        }
    }
};

// A rig for `name`, or null after a SKIP line (no display, no gui for X11).
std::unique_ptr<Rig> rigFor(Context& ctx, const std::string& name) {
    auto rig = std::make_unique<Rig>();
    std::string why;
    rig->probe = XProbe::open(why);
    if (!rig->probe) {
        ctx.report().skip(name, "skipped: " + why);
        return nullptr;
    }
    std::string error;
    rig->clap = ClapHost::load(ctx.options().pluginPath, error, ctx.options().pluginId);
    if (!rig->clap) throw std::runtime_error(error);
    rig->gui = rig->clap->gui();
    if (!rig->gui || !rig->gui->is_api_supported(rig->p(), CLAP_WINDOW_API_X11, false)) {
        ctx.report().skip(name, "skipped (no gui extension for an embedded X11 window)");
        return nullptr;
    }
    rig->clap->setListener(&rig->heard);
    return rig;
}

// The host's own thread rules, kept by the plug-in.
std::string misuse(const Rig& rig) {
    return rig.clap->misuse().empty() ? "" : "the plug-in called " + rig.clap->misuse();
}

void createDestroy(Context& ctx) {
    auto rig = rigFor(ctx, "clap.gui-create-destroy");
    if (!rig) return;
    const int rounds = ctx.scaled(100, 10);
    const size_t timers = rig->clap->timerCount();
    std::string problem;
    uint32_t w = 0, h = 0;
    int sized = 0;
    for (int i = 0; i < rounds && problem.empty(); ++i) {
        if (!rig->create()) {
            problem = format("create answered false in round %d", i);
            break;
        }
        // A host asks the size before it makes the window to embed in.
        if (rig->size(w, h)) ++sized;
        if (i % 2 == 0) rig->pump(2);
        rig->gui->destroy(rig->p());
        if (rig->clap->timerCount() != timers)
            problem = format("destroy leaves %zu timers registered", rig->clap->timerCount());
    }
    if (problem.empty()) problem = misuse(*rig);
    ctx.report().check(problem.empty(), "clap.gui-create-destroy",
                       problem.empty() ? format("%d rounds without a window, %d sized before "
                                                "set_parent (%u x %u), no timer left",
                                                rounds, sized, w, h)
                                       : problem);
}

// One host's order of calls around an embedded panel; a problem or empty.
std::string oneOrder(Rig& rig, int order) {
    const unsigned long parent = rig.probe->makeWindow(1000, 1000);
    const auto done = [&](const std::string& problem) {
        rig.probe->destroyWindow(parent);
        return problem.empty() ? problem : format("order %d: ", order) + problem;
    };
    if (!rig.create()) return done("create answered false");
    uint32_t w = 0, h = 0;
    if (order == 0) rig.gui->set_scale(rig.p(), 1.0);  // REAPER and Bitwig: the factor first
    if (order != 1 && !rig.size(w, h)) return done("no size before set_parent");
    if (!rig.setParent(parent)) return done("set_parent answered false");
    if (!rig.size(w, h)) return done("no size after set_parent");
    if (order != 2) rig.gui->show(rig.p());
    rig.pump(60);
    int shownW = 0, shownH = 0;
    const bool shown = rig.probe->waitForChildren(parent, 1, 1000) >= 1 &&
                       rig.probe->firstChildSize(parent, shownW, shownH);
    if (!shown) return done("no window in the host's window");
    if (static_cast<uint32_t>(shownW) != w || static_cast<uint32_t>(shownH) != h)
        return done(format("get_size says %u x %u, the window is %d x %d", w, h, shownW, shownH));
    if (order == 1) {
        // Hidden and shown again, as when a host's plug-in window is closed
        // and opened without destroying the panel.
        rig.gui->hide(rig.p());
        rig.pump(40);
        rig.gui->show(rig.p());
        rig.pump(40);
    }
    if (order != 2) rig.gui->hide(rig.p());
    rig.gui->destroy(rig.p());  // order 2: destroyed while shown
    if (rig.probe->waitForChildren(parent, 0, 1000) != 0)
        return done("the panel's window stays after destroy");
    return done("");
}

void orders(Context& ctx) {
    auto rig = rigFor(ctx, "clap.gui-orders");
    if (!rig) return;
    const int rounds = ctx.scaled(10, 2);
    std::string problem;
    for (int i = 0; i < rounds * 3 && problem.empty(); ++i)
        problem = oneOrder(*rig, i % 3);
    if (problem.empty()) problem = misuse(*rig);
    ctx.report().check(
        problem.empty(), "clap.gui-orders",
        problem.empty() ? format("%d x (set_scale/get_size/set_parent/show/hide/destroy; "
                                 "set_parent first, hidden and shown again; destroyed while shown)",
                                 rounds)
                        : problem);
}

// The size at the factor `scale` given before set_parent (`early`) or after.
std::string scaledSize(Rig& rig, double scale, bool early, uint32_t& w, uint32_t& h,
                       bool& accepted) {
    const unsigned long parent = rig.probe->makeWindow(1000, 1000);
    std::string problem;
    if (!rig.create()) problem = "create answered false";
    accepted = true;
    if (problem.empty() && early) accepted = rig.gui->set_scale(rig.p(), scale);
    if (problem.empty() && !rig.setParent(parent)) problem = "set_parent answered false";
    if (problem.empty() && !early) accepted = rig.gui->set_scale(rig.p(), scale);
    rig.gui->show(rig.p());
    rig.pump(60);
    int shownW = 0, shownH = 0;
    if (problem.empty() && !rig.size(w, h)) problem = "no size";
    if (problem.empty() && !rig.probe->firstChildSize(parent, shownW, shownH))
        problem = "no window";
    if (problem.empty() &&
        (static_cast<uint32_t>(shownW) != w || static_cast<uint32_t>(shownH) != h))
        problem = format("get_size says %u x %u, the window is %d x %d", w, h, shownW, shownH);
    rig.gui->hide(rig.p());
    rig.gui->destroy(rig.p());
    rig.probe->destroyWindow(parent);
    return problem.empty()
               ? ""
               : format("factor %g %s set_parent: ", scale, early ? "before" : "after") + problem;
}

void scaleFollows(Context& ctx) {
    auto rig = rigFor(ctx, "clap.gui-scale");
    if (!rig) return;
    uint32_t w1 = 0, h1 = 0, w2 = 0, h2 = 0, wl = 0, hl = 0;
    bool took1 = false, took2 = false, tookLate = false;
    std::string problem = scaledSize(*rig, 1.0, true, w1, h1, took1);
    if (problem.empty()) problem = scaledSize(*rig, 2.0, true, w2, h2, took2);
    if (problem.empty()) problem = scaledSize(*rig, 2.0, false, wl, hl, tookLate);
    if (problem.empty() && took1 && took2 &&
        (std::abs(static_cast<int>(w2) - 2 * static_cast<int>(w1)) > 1 ||
         std::abs(static_cast<int>(h2) - 2 * static_cast<int>(h1)) > 1))
        problem = format("factor 2 gives %u x %u for a %u x %u panel", w2, h2, w1, h1);
    if (problem.empty() && took2 && tookLate && (wl != w2 || hl != h2))
        problem =
            format("factor 2 after set_parent gives %u x %u, before it %u x %u", wl, hl, w2, h2);
    if (problem.empty()) problem = misuse(*rig);
    if (!problem.empty()) {
        ctx.report().fail("clap.gui-scale", problem);
    } else if (!took1 || !took2) {
        ctx.report().pass("clap.gui-scale",
                          "takes no host factor (set_scale answered false); "
                          "window and size agree");
    } else {
        ctx.report().pass("clap.gui-scale",
                          format("%u x %u at 1, %u x %u at 2 before and after set_parent%s", w1, h1,
                                 w2, h2, tookLate ? "" : " (refused after)"));
    }
}

void refusals(Context& ctx) {
    auto rig = rigFor(ctx, "clap.gui-refusals");
    if (!rig) return;
    std::string problem;
    const clap_plugin_t* p = rig->p();
    if (rig->gui->is_api_supported(p, "org.example.no-such-api", false) ||
        rig->gui->create(p, "org.example.no-such-api", false))
        problem = "an unknown window api is taken";
    if (problem.empty() && !rig->create()) problem = "create answered false";
    // A second create while one panel exists, or a set_parent with a window
    // of another system than the one created, is no host's habit, and CLAP
    // sets no answer for either: neither is judged.
    uint32_t w = 0, h = 0;
    const bool sized = problem.empty() && rig->size(w, h);
    rig->gui->destroy(p);
    if (problem.empty()) problem = misuse(*rig);
    ctx.report().check(problem.empty(), "clap.gui-refusals",
                       problem.empty()
                           ? format("unknown api refused; get_size before set_parent %s",
                                    sized ? format("%u x %u", w, h).c_str() : "refused")
                           : problem);
}

// A press, a drag and a release at (x, y) of `window`, from a thread of its
// own while the host's loop runs on this one (a panel may hold the host's
// timer call for the whole drag: then the loop waits). A short drag goes up
// 30 pixels in three steps; a long one goes up and down for `ms` with a
// step every 20 ms. `released` is when the button went up.
bool drag(Rig& rig, XInput& input, unsigned long window, int x, int y, Clock::time_point& released,
          int ms = 0) {
    int rootX = 0, rootY = 0;
    if (!input.origin(window, rootX, rootY)) return false;
    input.moveTo(rootX + x, rootY + y);
    // Never a click on another window of a shared display.
    if (!input.pointerIn(window)) return false;
    std::thread hand([&] {
        input.button(1, true);
        if (ms <= 0) {
            for (int step = 1; step <= 3; ++step) {
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                input.moveTo(rootX + x, rootY + y - 10 * step);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        } else {
            for (int step = 1; step <= ms / 20; ++step) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                const int phase = step % 80;  // 40 pixels up, 40 down
                input.moveTo(rootX + x, rootY + y - (phase < 40 ? phase : 80 - phase));
            }
        }
        input.button(1, false);
        released = Clock::now();
    });
    rig.pump(ms <= 0 ? 400 : ms + 100);
    hand.join();
    rig.pump(150);
    return true;
}

// Values the host heard before `released`: a CLAP host shows a drag's
// values while the button is held (its automation lane, its parameter view).
int valuesBefore(const std::vector<Heard::Event>& events, Clock::time_point released) {
    int n = 0;
    for (const Heard::Event& e : events)
        n += e.type == CLAP_EVENT_PARAM_VALUE && e.at < released ? 1 : 0;
    return n;
}

// Whether the events hold one gesture: a begin, values, an end, all for one
// parameter; a problem or empty, and the parameter and value count.
std::string gestureProblem(const std::vector<Heard::Event>& events, clap_id& id, int& values) {
    values = 0;
    if (events.empty()) return "no event";
    if (events.front().type != CLAP_EVENT_PARAM_GESTURE_BEGIN)
        return "the first event is not a gesture begin";
    id = events.front().id;
    bool ended = false;
    for (size_t i = 1; i < events.size(); ++i) {
        const Heard::Event& e = events[i];
        if (e.id != id) return format("events for parameter %u inside a gesture on %u", e.id, id);
        if (ended) return "events after the gesture's end";
        if (e.type == CLAP_EVENT_PARAM_GESTURE_BEGIN) return "a second begin";
        if (e.type == CLAP_EVENT_PARAM_GESTURE_END) ended = true;
        if (e.type == CLAP_EVENT_PARAM_VALUE) {
            if (!std::isfinite(e.value)) return format("a value %g", e.value);
            ++values;
        }
    }
    if (!ended) return "no gesture end";
    if (values == 0) return "no value between begin and end";
    return "";
}

std::vector<double> values(const ClapHost& clap) {
    std::vector<double> v;
    for (const clap_param_info_t& info : clap.params())
        v.push_back(clap.value(info.id).value_or(0.0));
    return v;
}

// An embedded panel and the drag that found a control on it; with
// `audio`, an audio thread processes blocks the whole time. `where` is
// where the drag found the control.
std::string gestureOnPanel(Rig& rig, bool audio, std::string& figure,
                           std::pair<int, int>* where = nullptr) {
    std::string why;
    auto input = XInput::open(why);
    if (!input) return "skip:" + why;
    const unsigned long parent = rig.probe->makeWindow(1000, 1000);
    uint32_t w = 0, h = 0;
    if (!rig.create() || !rig.setParent(parent) || !rig.size(w, h)) {
        rig.probe->destroyWindow(parent);
        return "the panel did not open (create, set_parent or get_size failed)";
    }
    rig.gui->show(rig.p());
    rig.pump(100);
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::string audioProblem;
    std::thread audioThread;
    if (audio && !rig.clap->activate(48000.0, 256)) audioProblem = "activate refused";
    if (audio && audioProblem.empty()) {
        audioThread = std::thread([&] {
            std::vector<float> in(512, 0.25f), out(512);
            float* ins[2] = {in.data(), in.data() + 256};
            float* outs[2] = {out.data(), out.data() + 256};
            std::string found = rig.clap->startProcessing() ? "" : "start_processing refused";
            while (!stop.load() && found.empty()) {
                if (!rig.clap->process(ins, outs, 256, 0, {})) found = "process answered an error";
                for (float v : out) {
                    if (!std::isfinite(v)) found = "a non-finite sample";
                }
                ++blocks;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            rig.clap->stopProcessing();
            audioProblem = found;
        });
    }
    std::string problem = "no control answered a drag";
    int tried = 0;
    for (const auto& [fx, fy] : dragPoints()) {
        if (!audioProblem.empty()) break;
        const int x = static_cast<int>(fx * w), y = static_cast<int>(fy * h);
        const size_t before = rig.heard.events().size();
        const auto valuesAtStart = values(*rig.clap);
        Clock::time_point released;
        if (!drag(rig, *input, parent, x, y, released)) {
            problem = "skip:the pointer could not be placed over the panel";
            break;
        }
        ++tried;
        auto events = rig.heard.events();
        events.erase(events.begin(), events.begin() + static_cast<long>(before));
        if (events.empty() && values(*rig.clap) != valuesAtStart) {
            problem = format(
                "a drag at (%d, %d) changed a parameter, and the host heard no "
                "event of it",
                x, y);
            break;
        }
        if (events.empty()) continue;
        clap_id id = 0;
        int values = 0;
        problem = gestureProblem(events, id, values);
        const int held = valuesBefore(events, released);
        if (problem.empty() && held == 0)
            problem = format(
                "the drag's %d values reached the host only after the button was let go: a "
                "host shows nothing of the drag while it goes on",
                values);
        if (problem.empty())
            figure = format(
                "a drag at (%d, %d) gave begin, %d values (%d while the button was held), end "
                "for parameter %u",
                x, y, values, held, id);
        else
            problem = format("a drag at (%d, %d): ", x, y) + problem;
        if (where) *where = {x, y};
        break;
    }
    stop = true;
    if (audioThread.joinable()) audioThread.join();
    rig.clap->deactivate();
    rig.gui->hide(rig.p());
    rig.gui->destroy(rig.p());
    rig.probe->destroyWindow(parent);
    if (!audioProblem.empty()) return "the audio thread: " + audioProblem;
    if (problem == "no control answered a drag")
        return format("skip:no control answered a drag at %d points", tried);
    if (problem.empty()) problem = misuse(rig);
    if (audio && problem.empty()) figure += format(" while %d blocks ran", blocks.load());
    return problem;
}

void reportGesture(Context& ctx, const char* name, bool audio) {
    auto rig = rigFor(ctx, name);
    if (!rig) return;
    std::string figure;
    const std::string problem = gestureOnPanel(*rig, audio, figure);
    if (problem.rfind("skip:", 0) == 0)
        ctx.report().skip(name, "skipped: " + problem.substr(5));
    else
        ctx.report().check(problem.empty(), name, problem.empty() ? figure : problem);
}

// Without processing the host hears the panel only through flush, which
// the plug-in must ask for: a control that answers a drag only while the
// audio runs is one whose edits a host that is stopped never hears.
void gesture(Context& ctx) {
    auto rig = rigFor(ctx, "clap.gui-gesture");
    if (!rig) return;
    std::string figure;
    std::string problem = gestureOnPanel(*rig, false, figure);
    if (problem.rfind("skip:no control", 0) == 0) {
        std::string withAudio;
        const std::string retry = gestureOnPanel(*rig, true, withAudio);
        if (retry.rfind("skip:", 0) != 0) {
            problem =
                "with the audio stopped no drag reached the host (no request_flush); "
                "once processing: " +
                (retry.empty() ? withAudio : retry);
        }
    }
    if (problem.rfind("skip:", 0) == 0)
        ctx.report().skip("clap.gui-gesture", "skipped: " + problem.substr(5));
    else
        ctx.report().check(problem.empty(), "clap.gui-gesture", problem.empty() ? figure : problem);
}

// A 2 s drag at (x, y) while the host does not process and refuses every
// third try_push (its queue full now and then, as a busy host's is): the
// host's timer calls stay short, the values arrive while the button is
// held, every begin heard is followed by its end, and the last value heard
// is the one the plug-in holds. A problem or empty; `figure` either way.
std::string longDragOnPanel(Rig& rig, int x, int y, std::string& figure) {
    std::string why;
    auto input = XInput::open(why);
    if (!input) return "skip:" + why;
    const unsigned long parent = rig.probe->makeWindow(1000, 1000);
    uint32_t w = 0, h = 0;
    if (!rig.create() || !rig.setParent(parent) || !rig.size(w, h)) {
        rig.probe->destroyWindow(parent);
        return "the panel did not open (create, set_parent or get_size failed)";
    }
    rig.gui->show(rig.p());
    rig.pump(100);
    const size_t before = rig.heard.events().size();
    rig.clap->clearTimerStats();
    rig.clap->refuseEveryNthPush(3);
    Clock::time_point released;
    const bool dragged = drag(rig, *input, parent, x, y, released, 2000);
    const double longest = rig.clap->longestTimerMs();
    rig.clap->refuseEveryNthPush(0);
    rig.pump(300);  // what the plug-in still has to say, now heard whole
    auto events = rig.heard.events();
    events.erase(events.begin(), events.begin() + static_cast<long>(before));
    std::map<clap_id, int> open;
    std::map<clap_id, double> last;
    std::string problem;
    int values = 0;
    for (const Heard::Event& e : events) {
        if (e.type == CLAP_EVENT_PARAM_GESTURE_BEGIN) ++open[e.id];
        if (e.type == CLAP_EVENT_PARAM_GESTURE_END && --open[e.id] < 0 && problem.empty())
            problem = format("an end without a begin for parameter %u", e.id);
        if (e.type == CLAP_EVENT_PARAM_VALUE) {
            last[e.id] = e.value;
            ++values;
        }
    }
    const int held = valuesBefore(events, released);
    figure = format(
        "longest timer call %.1f ms during a 2 s drag; %d values, %d while held, "
        "with every third try_push refused",
        longest, values, held);
    for (const auto& [id, count] : open) {
        if (count > 0 && problem.empty())
            problem =
                format("%d begin%s for parameter %u never ended", count, count == 1 ? "" : "s", id);
    }
    for (const auto& [id, value] : last) {
        const double now = rig.clap->value(id).value_or(value);
        if (std::abs(now - value) > 1e-9 * (1.0 + std::abs(now)) && problem.empty())
            problem = format(
                "the last value the host heard for parameter %u is %g; the plug-in "
                "holds %g",
                id, value, now);
    }
    rig.gui->hide(rig.p());
    rig.gui->destroy(rig.p());
    rig.probe->destroyWindow(parent);
    if (!dragged) return "skip:the pointer could not be placed over the panel";
    if (problem.empty() && longest > 20.0)
        problem = format(
            "a timer call took %.1f ms during the drag: the host's own window, meters "
            "and other plug-ins stood still meanwhile",
            longest);
    if (problem.empty() && values == 0)
        problem = "nothing of the drag reached the host while it did not process";
    if (problem.empty() && held == 0)
        problem = "the drag's values reached the host only after the button was let go";
    if (problem.empty()) problem = misuse(rig);
    return problem;
}

void longDrag(Context& ctx) {
    const char* name = "clap.gui-long-drag";
    auto rig = rigFor(ctx, name);
    if (!rig) return;
    // The control first, found as the gesture check finds it (with the audio
    // running when nothing answers without: the long drag is then judged
    // without it all the same).
    std::string ignored;
    std::pair<int, int> at{-1, -1};
    gestureOnPanel(*rig, false, ignored, &at);
    if (at.first < 0) gestureOnPanel(*rig, true, ignored, &at);
    if (at.first < 0) {
        ctx.report().skip(name, "skipped: no control answered a drag");
        return;
    }
    std::string figure;
    const std::string problem = longDragOnPanel(*rig, at.first, at.second, figure);
    if (problem.rfind("skip:", 0) == 0)
        ctx.report().skip(name, "skipped: " + problem.substr(5));
    else
        ctx.report().check(problem.empty(), name,
                           problem.empty() ? figure : problem + " (" + figure + ")");
}

void gestureWithAudio(Context& ctx) {
    reportGesture(ctx, "clap.gui-gesture-with-audio", true);
}

// The host's automation while not processing (params.flush with values)
// must move the controls: the panel's pixels change at its next ticks.
void automation(Context& ctx) {
    auto rig = rigFor(ctx, "clap.gui-automation");
    if (!rig) return;
    if (rig->clap->params().empty()) {
        ctx.report().skip("clap.gui-automation", "skipped (no parameter)");
        return;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) throw std::runtime_error("no X display for the pictures");
    const unsigned long parent = rig->probe->makeWindow(1000, 1000);
    uint32_t w = 0, h = 0;
    std::string problem;
    if (!rig->create() || !rig->setParent(parent) || !rig->size(w, h))
        problem = "the panel did not open (create, set_parent or get_size failed)";
    int moved = 0, rounds = 0;
    if (problem.empty()) {
        rig->gui->show(rig->p());
        rig->pump(150);
        const int width = static_cast<int>(std::min(w, 1000u));
        const int height = static_cast<int>(std::min(h, 1000u));
        for (int round = 0; round < ctx.scaled(6, 2) && problem.empty(); ++round, ++rounds) {
            // Every parameter to the far end of its range, then back.
            std::vector<ClapParamChange> changes;
            for (const clap_param_info_t& info : rig->clap->params()) {
                const double v = round % 2 == 0 ? info.max_value : info.min_value;
                changes.push_back({0, info.id, v});
            }
            const auto before = host::grab(dpy, parent, width, height);
            rig->clap->flush(changes);
            rig->pump(150);
            const auto after = host::grab(dpy, parent, width, height);
            for (const auto& c : changes) {
                const auto now = rig->clap->value(c.id);
                if (now && std::abs(*now - c.value) > 1e-6 * (1.0 + std::abs(c.value)))
                    problem =
                        format("parameter %u reads %g after a flush set %g", c.id, *now, c.value);
            }
            if (before.empty() || after.empty()) {
                problem = "the panel's pixels could not be read";
            } else if (before != after) {
                ++moved;
            } else if (round > 0) {
                problem = format(
                    "round %d: the panel's pixels stay the same after automation "
                    "moved every parameter across its range",
                    round);
            }
        }
        rig->gui->hide(rig->p());
        rig->gui->destroy(rig->p());
    }
    rig->probe->destroyWindow(parent);
    XCloseDisplay(dpy);
    if (problem.empty()) problem = misuse(*rig);
    ctx.report().check(problem.empty(), "clap.gui-automation",
                       problem.empty() ? format("%d of %d rounds of automation through flush "
                                                "changed the panel's pixels",
                                                moved, rounds)
                                       : problem);
}

// A careless host calls the gui from another thread: nothing may crash,
// and the panel must still work from the main thread afterwards.
void wrongThread(Context& ctx) {
    auto rig = rigFor(ctx, "clap.gui-wrong-thread");
    if (!rig) return;
    int calls = 0, refused = 0;
    std::thread other([&] {
        const clap_plugin_t* p = rig->p();
        uint32_t w = 0, h = 0;
        const bool created = rig->gui->create(p, CLAP_WINDOW_API_X11, false);
        refused += created ? 0 : 1;
        refused += rig->gui->set_scale(p, 2.0) ? 0 : 1;
        refused += rig->gui->get_size(p, &w, &h) ? 0 : 1;
        refused += rig->gui->show(p) ? 0 : 1;
        refused += rig->gui->hide(p) ? 0 : 1;
        rig->gui->destroy(p);
        calls = 6;
    });
    other.join();
    rig->gui->destroy(rig->p());  // whatever the other thread left
    std::string problem;
    const unsigned long parent = rig->probe->makeWindow(1000, 1000);
    uint32_t w = 0, h = 0;
    if (!rig->create() || !rig->setParent(parent) || !rig->size(w, h)) {
        problem = "the panel no longer opens from the main thread";
    } else {
        rig->gui->show(rig->p());
        rig->pump(60);
        if (rig->probe->waitForChildren(parent, 1, 1000) < 1)
            problem = "no panel window after calls from the wrong thread";
        rig->gui->hide(rig->p());
        rig->gui->destroy(rig->p());
    }
    rig->probe->destroyWindow(parent);
    ctx.report().check(problem.empty(), "clap.gui-wrong-thread",
                       problem.empty() ? format("%d gui calls from another thread, %d refused; "
                                                "the panel opens from the main thread after",
                                                calls, refused)
                                       : problem);
}

}  // namespace

std::vector<Check> clapGuiChecks() {
    return {
        {"clap.gui-create-destroy", Tier::EveryHost,
         "a host that prepares the plug-in window without showing it leaks or crashes",
         createDestroy, true},
        {"clap.gui-orders", Tier::EveryHost,
         "the plug-in window stays empty, has the wrong size or outlives its panel in some host",
         orders, false},
        {"clap.gui-gesture", Tier::EveryHost,
         "turning a control records no automation, or a broken one, in the host", gesture, false},
        {"clap.gui-long-drag", Tier::EveryHost,
         "a long drag freezes the host's window, or leaves the host with a gesture that never "
         "ends or a value the plug-in does not hold",
         longDrag, false},
        {"clap.gui-gesture-with-audio", Tier::EveryHost,
         "turning a control while the track plays crashes, glitches or records nothing",
         gestureWithAudio, false},
        {"clap.gui-scale", Tier::Demanding,
         "on a dense screen the host's window and the panel differ in size", scaleFollows, false},
        {"clap.gui-refusals", Tier::Demanding, "a host probing window systems gets a broken panel",
         refusals, true},
        {"clap.gui-automation", Tier::Demanding,
         "the panel does not show what the host's automation sets", automation, false},
        {"clap.gui-wrong-thread", Tier::Hostile,
         "a host that calls the panel from another thread crashes", wrongThread, true},
    };
}

}  // namespace kv::validate
