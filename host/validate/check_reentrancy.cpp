// The re-entrancy matrix, for every format with an editor: a host that acts
// inside each call the plug-in makes to it while the user makes a gesture
// on the editor (a drag, a click, a wheel turn, a typed value committed
// with Return, an arrow key the host forwards), by closing the editor,
// closing the instance, or closing and reopening the editor before it
// answers. VST 2's calls are audioMasterIdle, automate, begin and end edit
// and size window, its closes effEditClose and effClose; CLAP's are
// request_flush, the gesture and value events inside the host's flush and
// request_resize, its closes gui.destroy and plugin.destroy; VST3's are the
// component handler's begin, perform and end edit and the frame's
// resize_view, its closes the view's removal and terminate. Hosts that run
// their event loop inside a callback, or answer automation with a dialog,
// do exactly this. The plug-in must live through every cell, call the host
// no more after the instance is closed, and come back whole after a reopen:
// its window in the host's, and the drop marks it puts on the host's window
// at a plain open in place again.
//
// The gestures are the server's own input (XTest) at points found on the
// open editor: for each parameter the first point of a grid where a click
// makes the plug-in begin an edit or change a value, and the first where a
// click opens a window of its own (a text field). A cell whose callback
// never comes is not reached; the figure counts the cells reached.
#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "host/validate/isolation.h"
#include "host/validate/validator.h"
#include "host/validate/x11_input.h"
#include "host/validate/x11_probe.h"
#include "host/vst2_instance.h"

namespace kv::validate {

namespace {

using Clock = std::chrono::steady_clock;
using host::PluginFormat;

constexpr const char* kName = "editor.reentrancy";

enum class Act { EditorClose, InstanceClose, Reopen };

const char* actName(Act act, PluginFormat format) {
    switch (format) {
        case PluginFormat::Vst2:
            return act == Act::EditorClose     ? "effEditClose"
                   : act == Act::InstanceClose ? "effClose"
                                               : "effEditClose and effEditOpen";
        case PluginFormat::Clap:
            return act == Act::EditorClose     ? "gui.destroy"
                   : act == Act::InstanceClose ? "plugin.destroy"
                                               : "gui.destroy and create again";
        case PluginFormat::Vst3:
            return act == Act::EditorClose     ? "the view removed"
                   : act == Act::InstanceClose ? "terminate"
                                               : "the view removed and created again";
    }
    return "";
}

struct Point {
    int x = 0, y = 0;  // in the editor window
};

// One step of a gesture: fake input, a key the host forwards, or the moment
// from which the host acts (the start, when a gesture has no such step).
struct Step {
    enum Kind { Move, Press, Release, Key, HostKey, Arm } kind;
    Point at;
    unsigned int button = 1;
    const char* key = "";
};

enum class Gesture { Drag, Click, Wheel, TextCommit, ArrowKey };
constexpr Gesture kGestures[] = {Gesture::Drag, Gesture::Click, Gesture::Wheel, Gesture::TextCommit,
                                 Gesture::ArrowKey};
const char* gestureName(Gesture g) {
    const char* names[] = {"drag", "click", "wheel", "text commit", "arrow key"};
    return names[static_cast<int>(g)];
}

std::vector<Step> stepsOf(Gesture g, Point p) {
    switch (g) {
        case Gesture::Drag:
            return {{Step::Move, p},
                    {Step::Press, p},
                    {Step::Move, {p.x, p.y - 8}},
                    {Step::Move, {p.x, p.y - 16}},
                    {Step::Release, {p.x, p.y - 16}}};
        case Gesture::Click:
            return {{Step::Move, p}, {Step::Press, p}, {Step::Release, p}};
        case Gesture::Wheel:
            return {{Step::Move, p}, {Step::Press, p, 4}, {Step::Release, p, 4}};
        case Gesture::TextCommit:
            return {{Step::Move, p},
                    {Step::Press, p},
                    {Step::Release, p},
                    {Step::Key, p, 1, "1"},
                    {Step::Key, p, 1, "Return"}};
        case Gesture::ArrowKey:
            // A click first gives the control the keyboard focus.
            return {{Step::Move, p},
                    {Step::Press, p},
                    {Step::Release, p},
                    {Step::Arm, p},
                    {Step::HostKey, p}};
    }
    return {};
}

// The names of the listener's calls in the format's words, as actingCalls()
// gives them.
struct CallNames {
    const char* begin;
    const char* end;
    const char* value;
    const char* resize;
    const char* idle;  // the call inside which a modal loop lets the host run, or ""
};

CallNames namesFor(PluginFormat format) {
    if (format == PluginFormat::Vst2)
        return {"audioMasterBeginEdit", "audioMasterEndEdit", "audioMasterAutomate",
                "audioMasterSizeWindow", "audioMasterIdle"};
    return {"gesture begin", "gesture end", "param value", "gui.request_resize", ""};
}

// One instance with its editor open on a host window of its own, played on
// with fake input; the host acts once inside the armed call.
class Session final : public host::InstanceListener {
  public:
    Session(Context& ctx, XProbe& probe, XInput& input) : probe_(probe), input_(input) {
        std::string error;
        instance_ = ctx.load(error);
        if (!instance_) {
            problem_ = error;
            return;
        }
        format_ = instance_->identity().format;
        names_ = namesFor(format_);
        // VST 2 editors live beside a resumed effect; a CLAP host that is
        // not playing hears the panel through the flushes it asks for, and
        // acts inside those.
        if (format_ == PluginFormat::Vst2) instance_->start(44100.0, 1024);
        instance_->setListener(this);
        parent_ = probe_.makeWindow(1000, 740);
        if (!instance_->openEditor(parent_)) {
            problem_ = "the editor did not open";
            return;
        }
        idle(3);
        if (!instance_->editorSize(width_, height_)) problem_ = "the open editor gives no size";
    }

    ~Session() override {
        if (instance_) {
            if (!closed_) instance_->closeEditor();
            instance_->setListener(nullptr);
            instance_.reset();
        }
        if (parent_) probe_.destroyWindow(parent_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& problem() const { return problem_; }
    int width() const { return width_; }
    int height() const { return height_; }
    unsigned long parent() const { return parent_; }

    // The host acts inside the next call named `call`.
    void arm(const std::string& call, Act act) {
        pending_ = call;
        act_ = act;
    }
    bool acted() const { return acted_; }
    bool instanceClosed() const { return closed_; }
    int callsAfterClose() const { return callsAfterClose_; }
    const std::string& firstCallAfterClose() const { return firstAfterClose_; }

    // Plays the steps: each one between idle calls, and inside the plug-in's
    // own idle calls to the host when it runs a loop of its own while a
    // button is held.
    void play(std::vector<Step> steps) {
        steps_ = std::move(steps);
        next_ = 0;
        if (std::none_of(steps_.begin(), steps_.end(),
                         [](const Step& s) { return s.kind == Step::Arm; }))
            armedFor_ = pending_;
        const auto giveUp = Clock::now() + std::chrono::seconds(5);
        while (!closed_ && next_ < steps_.size() && Clock::now() < giveUp) {
            runStep();
            if (!closed_) instance_->idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // A hand lets go of what it holds even when the plug-in is gone.
        for (; next_ < steps_.size(); ++next_)
            if (steps_[next_].kind == Step::Release && pressed_) {
                input_.button(steps_[next_].button, false);
                pressed_ = false;
            }
        idle(3);
    }

    void idle(int times) {
        for (int i = 0; i < times && !closed_; ++i) {
            instance_->idle();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    }

    // Parameters the plug-in began editing or changed since the last call.
    std::vector<uint32_t> takeEdited() {
        std::vector<uint32_t> out;
        out.swap(edited_);
        return out;
    }

  private:
    void gestureBegin(uint32_t index) override { heard(names_.begin, index); }
    void gestureEnd(uint32_t) override { heard(names_.end, std::nullopt); }
    void valueChanged(uint32_t index, double) override { heard(names_.value, index); }
    bool resizeRequested(int, int) override {
        heard(names_.resize, std::nullopt);
        return !closed_;
    }
    void hostCall(const std::string& name) override { heard(name, std::nullopt); }

    void heard(const std::string& call, std::optional<uint32_t> edits) {
        if (closed_) {
            if (callsAfterClose_++ == 0) firstAfterClose_ = call;
            return;
        }
        if (edits) edited_.push_back(*edits);
        if (armedFor_ && call == *armedFor_) {
            armedFor_.reset();
            acted_ = true;
            act();
        } else if (!call.empty() && call == names_.idle && next_ < steps_.size() &&
                   steps_[next_].kind != Step::HostKey && steps_[next_].kind != Step::Arm) {
            runStep();
        }
    }

    void act() {
        if (act_ == Act::InstanceClose) {
            closed_ = true;
            instance_->closeInstance();
            return;
        }
        instance_->closeEditor();
        if (act_ == Act::Reopen) instance_->openEditor(parent_);
    }

    void runStep() {
        const Step step = steps_[next_++];
        int x = 0, y = 0;
        input_.origin(parent_, x, y);
        x += step.at.x;
        y += step.at.y;
        switch (step.kind) {
            case Step::Move:
                input_.moveTo(x, y);
                break;
            case Step::Press:
                // Never a click on another window of a shared display.
                pressed_ = input_.pointerIn(parent_);
                if (pressed_) input_.button(step.button, true);
                break;
            case Step::Release:
                if (pressed_) input_.button(step.button, false);
                pressed_ = false;
                break;
            case Step::Key:
                if (input_.focusOnPopup()) input_.key(step.key);
                break;
            case Step::HostKey:
                // A key the host forwards to the editor: VST 2 only (a CLAP
                // panel has the keyboard of its own window).
                if (auto* vst2 = dynamic_cast<host::Vst2Instance*>(instance_.get())) {
                    vst2->vst2().dispatch(effEditKeyDown, 0, VKEY_UP);
                    if (!closed_) vst2->vst2().dispatch(effEditKeyUp, 0, VKEY_UP);
                }
                break;
            case Step::Arm:
                armedFor_ = pending_;
                break;
        }
    }

    XProbe& probe_;
    XInput& input_;
    std::unique_ptr<host::PluginInstance> instance_;
    PluginFormat format_ = PluginFormat::Vst2;
    CallNames names_ = namesFor(PluginFormat::Vst2);
    std::string problem_;
    unsigned long parent_ = 0;
    int width_ = 0, height_ = 0;
    std::vector<Step> steps_;
    size_t next_ = 0;
    bool pressed_ = false;  // a button this session holds down
    std::optional<std::string> pending_;
    std::optional<std::string> armedFor_;
    Act act_ = Act::EditorClose;
    bool acted_ = false;
    bool closed_ = false;
    int callsAfterClose_ = 0;
    std::string firstAfterClose_;
    std::vector<uint32_t> edited_;
};

// Where the gestures go: one point per parameter a click edits, and a point
// where a click opens a window of the editor's own.
struct Targets {
    std::vector<Point> controls;
    std::optional<Point> field;
    bool marked = false;  // a plain open marks the host's window for drops
};

Targets findTargets(Context& ctx, XProbe& probe, XInput& input, Clock::time_point until,
                    std::string& problem) {
    Targets found;
    Session s(ctx, probe, input);
    if (!s.problem().empty()) {
        problem = s.problem();
        return found;
    }
    bool aware = false;
    const unsigned long proxy = input.windowProperty(s.parent(), "XdndProxy", &aware);
    input.windowProperty(s.parent(), "XdndAware", &aware);
    found.marked = aware && proxy != 0 && proxy == input.firstChild(s.parent());
    std::map<uint32_t, Point> byParameter;
    const int step = std::max(8, std::max(s.width(), s.height()) / 24);
    for (int y = step / 2; y < std::min(s.height(), 700) && Clock::now() < until; y += step) {
        for (int x = step / 2; x < std::min(s.width(), 980) && Clock::now() < until; x += step) {
            const int windowsBefore = input.topLevelCount();
            s.play(stepsOf(Gesture::Click, {x, y}));
            for (uint32_t index : s.takeEdited())
                byParameter.emplace(index, Point{x, y});
            if (!found.field && input.topLevelCount() > windowsBefore) {
                found.field = Point{x, y};
                // Away from the field: a click elsewhere ends its edit.
                s.play({{Step::Move, {0, 0}}, {Step::Press, {0, 0}}, {Step::Release, {0, 0}}});
                s.takeEdited();
            }
        }
    }
    for (const auto& [index, point] : byParameter)
        found.controls.push_back(point);
    return found;
}

// One cell at one point; empty when it held, else what went wrong.
std::string runCell(Context& ctx, XProbe& probe, XInput& input, bool marked,
                    const std::string& callback, Gesture gesture, Point at, Act act,
                    bool& reached) {
    Session s(ctx, probe, input);
    if (!s.problem().empty()) return s.problem();
    s.arm(callback, act);
    s.play(stepsOf(gesture, at));
    reached = s.acted();
    if (!reached) return {};
    if (s.callsAfterClose() > 0) {
        return format("%d host calls after %s (the first %s)", s.callsAfterClose(),
                      actName(Act::InstanceClose, ctx.options().format),
                      s.firstCallAfterClose().c_str());
    }
    if (act == Act::Reopen && !s.instanceClosed()) {
        s.idle(3);
        const unsigned long child = input.firstChild(s.parent());
        if (child == 0) return "no editor window in the host's after the reopen";
        bool aware = false;
        const unsigned long proxy = input.windowProperty(s.parent(), "XdndProxy");
        input.windowProperty(s.parent(), "XdndAware", &aware);
        if (marked && (!aware || proxy != child))
            return format("the host window's drop marks are %s after the reopen",
                          aware ? "left naming a window that is not the editor's" : "gone");
    }
    return {};
}

// Runs `body` with its own X connections in a child process: a crash or a
// hang costs that child alone and is told with what it was doing.
ChildOutcome withX(int seconds, const std::function<std::string(XProbe&, XInput&)>& body) {
    return runInChild(
        [&]() -> std::string {
            std::string why;
            auto probe = XProbe::open(why);
            auto input = probe ? XInput::open(why) : nullptr;
            if (!input) return why;
            return body(*probe, *input);
        },
        seconds);
}

std::string describe(PluginFormat kind, const std::string& callback, Gesture gesture, Act act,
                     Point at) {
    return validate::format("%s inside %s during a %s at (%d, %d)", actName(act, kind),
                            callback.c_str(), gestureName(gesture), at.x, at.y);
}

// The targets travel from their child as "marked fx fy x y x y ...", the
// field -1 -1 when there is none.
void runMatrix(Context& ctx) {
    Report& report = ctx.report();
    ctx.pinLibrary();
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(ctx.options().checkSeconds * 0.6));
    const int cellSeconds = std::max(10, static_cast<int>(ctx.options().checkSeconds / 6));
    const ChildOutcome search = withX(cellSeconds * 2, [&](XProbe& probe, XInput& input) {
        std::string problem;
        const Targets t = findTargets(ctx, probe, input, start + (until - start) / 4, problem);
        if (!problem.empty()) return problem;
        std::string out = format("%d %d %d", t.marked ? 1 : 0, t.field ? t.field->x : -1,
                                 t.field ? t.field->y : -1);
        for (const Point& p : t.controls)
            out += format(" %d %d", p.x, p.y);
        return passedWith(out);
    });
    if (!search.ok) {
        report.fail(kName, "looking for the editor's controls: " + search.message);
        return;
    }
    Targets targets;
    {
        std::istringstream in(search.message);
        int marked = 0;
        Point field;
        in >> marked >> field.x >> field.y;
        targets.marked = marked != 0;
        if (field.x >= 0) targets.field = field;
        for (Point p; in >> p.x >> p.y;)
            targets.controls.push_back(p);
    }
    if (targets.controls.empty() && !targets.field) {
        report.pass(kName,
                    "no click on the editor edits a parameter or opens a field: no cell reached");
        return;
    }
    const PluginFormat kind = ctx.options().format;
    std::vector<std::string> callbacks;
    {
        std::string error;
        auto instance = ctx.load(error);
        if (!instance) throw std::runtime_error(error);
        callbacks = instance->actingCalls();
    }
    int cells = 0, reached = 0, run = 0;
    for (const std::string& callback : callbacks) {
        for (Gesture gesture : kGestures) {
            // A CLAP host forwards no keys: the panel's window has its own.
            if (gesture == Gesture::ArrowKey && kind != PluginFormat::Vst2) continue;
            for (Act act : {Act::EditorClose, Act::InstanceClose, Act::Reopen}) {
                ++cells;
                std::vector<Point> points = targets.controls;
                if (gesture == Gesture::TextCommit)
                    points =
                        targets.field ? std::vector<Point>{*targets.field} : std::vector<Point>{};
                for (const Point& at : points) {
                    if (Clock::now() > until) break;
                    ++run;
                    const ChildOutcome cell =
                        withX(cellSeconds, [&](XProbe& probe, XInput& input) -> std::string {
                            bool hit = false;
                            std::string fault = runCell(ctx, probe, input, targets.marked, callback,
                                                        gesture, at, act, hit);
                            if (!fault.empty()) return fault;
                            return passedWith(hit ? "reached" : "missed");
                        });
                    if (!cell.ok) {
                        report.fail(kName, describe(kind, callback, gesture, act, at) + ": " +
                                               cell.message);
                        return;
                    }
                    if (cell.message == "reached") {
                        ++reached;
                        break;
                    }
                }
            }
        }
    }
    const bool cut = Clock::now() > until;
    report.pass(kName, format("%d of %d cells reached (%zu controls%s), %d sessions%s%s", reached,
                              cells, targets.controls.size(), targets.field ? " and a field" : "",
                              run, targets.marked ? ", drop marks back after every reopen" : "",
                              cut ? "; stopped at the time budget" : ""));
}

}  // namespace

std::vector<Check> reentrancyChecks() {
    return {
        {kName, Tier::Hostile,
         "a host that closes or reopens the editor, or closes the plug-in, inside one of the "
         "plug-in's calls during a gesture crashes, hears from a deleted plug-in, or loses drops",
         [](Context& ctx) {
             std::string why;
             if (!XProbe::open(why) || !XInput::open(why)) {
                 ctx.report().skip(kName, "skipped: " + why);
                 return;
             }
             std::string error;
             auto instance = ctx.load(error);
             if (!instance) throw std::runtime_error(error);
             if (!instance->capabilities().editor) {
                 ctx.report().skip(kName, "skipped (no editor)");
                 return;
             }
             instance.reset();
             runMatrix(ctx);
         }},
    };
}

}  // namespace kv::validate
