// VST3's own rules: the module's entry points and its factory, references
// across interfaces, the call orders of setup_processing / set_active /
// set_processing, latency restarts, bus arrangements, parameter texts,
// state through the streams hosts hand over, initialize twice, and calls
// from the wrong thread; the view's rules in check_vst3_view.cpp, which
// vst3Checks() ends with. What every format shares is checked once by the
// other groups.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

#include "host/validate/allocation_trials.h"
#include "host/validate/isolation.h"
#include "host/validate/validator.h"
#include "host/validate/vst3_rig.h"

namespace kv::validate {

namespace {

using host::Vst3Point;
using host::vst3::queryOf;
using host::vst3::refOf;
using host::vst3::unrefOf;
using namespace vst3check;

// Linux modules export GetPluginFactory, ModuleEntry and ModuleExit, and
// live in NAME.vst3/Contents/x86_64-linux/NAME.so.
void moduleEntries(Context& ctx) {
    namespace fs = std::filesystem;
    const std::string path = ctx.options().pluginPath;
    const std::string module = host::vst3ModulePath(path);
    std::string problem;
    std::error_code ignored;
    if (fs::is_directory(path, ignored)) {
        const fs::path bundle = fs::path(path).lexically_normal();
        const fs::path expected =
            bundle / "Contents" / "x86_64-linux" / (bundle.filename().stem().string() + ".so");
        if (!fs::exists(expected, ignored))
            problem = "the bundle holds no " + expected.lexically_relative(bundle).string();
    }
    void* library = dlopen(fs::absolute(module, ignored).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        ctx.report().fail("vst3.module", std::string("dlopen: ") + dlerror());
        return;
    }
    auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(library, "ModuleEntry"));
    auto exit = reinterpret_cast<bool (*)()>(dlsym(library, "ModuleExit"));
    auto get = reinterpret_cast<void* (*)()>(dlsym(library, "GetPluginFactory"));
    const bool callable = entry != nullptr && exit != nullptr;
    if (problem.empty() && !callable)
        problem = "no ModuleEntry or ModuleExit: Linux hosts refuse the module";
    if (problem.empty() && callable && !entry(library)) problem = "ModuleEntry answered false";
    void* first = get ? get() : nullptr;
    void* second = get ? get() : nullptr;
    if (problem.empty() && (!first || !second))
        problem = "GetPluginFactory gave no factory (asked twice)";
    if (first) unrefOf(first);
    if (second) unrefOf(second);
    if (problem.empty() && callable && !exit()) problem = "ModuleExit answered false";
    dlclose(library);
    ctx.report().check(problem.empty(), "vst3.module",
                       problem.empty() ? "GetPluginFactory, ModuleEntry and ModuleExit; a factory "
                                         "each time it was asked"
                                       : problem);
}

std::string fixed(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

// The factory's records agree with each other across its three versions,
// and it makes nothing it does not list.
void factoryRecords(Context& ctx) {
    auto rig = loadRig(ctx);
    v3_plugin_factory_cpp** f = rig->host->factory();
    std::string problem;
    const char* leftPointer = "";
    const int32_t classes = (*f)->v1.num_classes(f);
    auto** f2 = static_cast<v3_plugin_factory_cpp**>(queryOf(f, v3_plugin_factory_2_iid));
    auto** f3 = static_cast<v3_plugin_factory_cpp**>(queryOf(f, v3_plugin_factory_3_iid));
    int effects = 0;
    for (int32_t i = 0; i < classes && problem.empty(); ++i) {
        v3_class_info c{};
        if ((*f)->v1.get_class_info(f, i, &c) != V3_OK) {
            problem = format("get_class_info(%d) refused for a listed class", i);
            break;
        }
        const std::string name = fixed(c.name, sizeof c.name);
        if (fixed(c.category, sizeof c.category) == "Audio Module Class") ++effects;
        if (f2) {
            v3_class_info_2 c2{};
            if ((*f2)->v2.get_class_info_2(f2, i, &c2) != V3_OK)
                problem = format("get_class_info_2(%d) refused", i);
            else if (fixed(c2.name, sizeof c2.name) != name ||
                     std::memcmp(c2.class_id, c.class_id, sizeof c.class_id) != 0)
                problem = format("class %d: its name or id differs between versions 1 and 2", i);
        }
        if (f3 && problem.empty()) {
            v3_class_info_3 c3{};
            if ((*f3)->v3.get_class_info_utf16(f3, i, &c3) != V3_OK)
                problem = format("get_class_info_utf16(%d) refused", i);
            else if (host::vst3::narrow(c3.name, 64) != name)
                problem = format("class %d: its UTF-16 name \"%s\" is not \"%s\"", i,
                                 host::vst3::narrow(c3.name, 64).c_str(), name.c_str());
        }
    }
    if (problem.empty() && effects == 0) problem = "no class is an \"Audio Module Class\"";
    if (problem.empty()) {
        const v3_tuid unknown = {0x6b, 0x76, 0x32, 0x33, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        void* obj = reinterpret_cast<void*>(1);
        const v3_result r = (*f)->v1.create_instance(f, unknown, v3_component_iid, &obj);
        // The result is the refusal; a pointer left as it was breaks no rule
        // of the format (a host reads it only after V3_OK) and is said.
        if (r == V3_OK)
            problem = "create_instance of a class it does not list answered V3_OK";
        else if (obj != nullptr)
            leftPointer = " (the out pointer left as it was)";
        if (r == V3_OK && obj != nullptr && obj != reinterpret_cast<void*>(1)) unrefOf(obj);
    }
    if (f2) unrefOf(f2);
    if (f3) unrefOf(f3);
    ctx.report().check(problem.empty(), "vst3.factory",
                       problem.empty()
                           ? format("%d classes (%d effects), versions 1%s%s agree, an unknown "
                                    "class refused%s",
                                    classes, effects, f2 ? ", 2" : "", f3 ? ", 3" : "", leftPointer)
                           : problem);
}

// A host may release the component while it holds the processor or the
// controller it got from it (Ardour's scanner does), and FUnknown's
// identity is one pointer per object.
void referenceCounts(Context& ctx) {
    const ChildOutcome outcome = runInChild(
        [&]() -> std::string {
            auto rig = loadRig(ctx);
            host::Vst3Host& h = *rig->host;
            void* c = h.component();
            void* id1 = queryOf(c, v3_funknown_iid);
            void* id2 = queryOf(h.processor(), v3_funknown_iid);
            std::string problem;
            if (!id1 || id1 != id2)
                problem =
                    "FUnknown asked of the component and of its processor gives two "
                    "pointers";
            if (id1) unrefOf(id1);
            if (id2) unrefOf(id2);
            if (!problem.empty()) return problem;
            // Counts across faces: one more through one face, one less through another.
            const uint32_t up = refOf(c);
            const uint32_t upProc = refOf(h.processor());
            const uint32_t down = unrefOf(c);
            unrefOf(h.processor());
            const bool shared = upProc == up + 1 && down == upProc - 1;
            // A second component, released before its processor.
            v3_plugin_factory_cpp** f = h.factory();
            v3_class_info info{};
            int32_t i = 0;
            for (; i < (*f)->v1.num_classes(f); ++i) {
                if ((*f)->v1.get_class_info(f, i, &info) == V3_OK &&
                    fixed(info.category, sizeof info.category) == "Audio Module Class")
                    break;
            }
            void* obj = nullptr;
            if ((*f)->v1.create_instance(f, info.class_id, v3_component_iid, &obj) != V3_OK || !obj)
                return "a second instance could not be made";
            base(obj)->initialize(obj, h.services().context());
            auto** p = static_cast<v3_audio_processor**>(queryOf(obj, v3_audio_processor_iid));
            if (!p) return "the second instance has no processor";
            base(obj)->terminate(obj);
            unrefOf(obj);  // the component's last reference: the processor keeps the object
            const uint32_t latency = proc(p)->get_latency_samples(p);
            const bool can32 = proc(p)->can_process_sample_size(p, V3_SAMPLE_32) == V3_OK;
            unrefOf(p);
            return passedWith(
                format("one identity per object; faces share %s; the processor "
                       "worked after the component's release (latency %u, 32-bit %s)",
                       shared ? "one count" : "no count", latency, can32 ? "yes" : "no"));
        },
        static_cast<int>(ctx.options().checkSeconds));
    ctx.report().check(outcome.ok, "vst3.reference-counts", outcome.message);
}

// Hosts start with setup_processing, set_active(1), set_processing(1) and
// stop in reverse; a new rate or block size goes through a deactivation.
// A block of 0 frames flushes parameters.
void callOrders(Context& ctx) {
    auto rig = loadRig(ctx);
    host::Vst3Host& h = *rig->host;
    struct Setting {
        double rate;
        uint32_t frames;
        int32_t size;
    };
    std::vector<Setting> settings = {{44100.0, 512, V3_SAMPLE_32},
                                     {48000.0, 256, V3_SAMPLE_32},
                                     {96000.0, 1024, V3_SAMPLE_32},
                                     {22050.0, 64, V3_SAMPLE_32}};
    if (h.canProcess(V3_SAMPLE_64)) settings.push_back({48000.0, 512, V3_SAMPLE_64});
    std::string problem;
    int blocks = 0;
    for (const Setting& s : settings) {
        if (!h.setup(s.rate, s.frames, s.size)) {
            problem = format("setup_processing refused %g Hz, %u frames", s.rate, s.frames);
            break;
        }
        if (!h.setActive(true)) problem = format("set_active(1) refused at %g Hz", s.rate);
        if (problem.empty() && !h.setProcessing(true)) problem = "set_processing(1) refused";
        for (int i = 0; i < ctx.scaled(16, 4) && problem.empty(); ++i, ++blocks)
            problem = noiseBlock(ctx, h, s.frames);
        if (problem.empty()) problem = noiseBlock(ctx, h, 0);
        if (!problem.empty()) problem = format("at %g Hz: ", s.rate) + problem;
        h.setProcessing(false);
        h.setActive(false);
        if (!problem.empty()) break;
    }
    // Activated and deactivated again with no new setup.
    if (problem.empty() && (!h.setActive(true) || !h.setActive(false)))
        problem = "set_active refused after a deactivation with the same setup";
    ctx.report().check(problem.empty(), "vst3.call-orders",
                       problem.empty() ? format("%zu setups, %d blocks and a 0-frame flush each, "
                                                "started and stopped in hosts' order",
                                                settings.size(), blocks)
                                       : problem);
}

// A value that changes the latency must be followed by a restart asked
// with V3_RESTART_LATENCY_CHANGED: hosts read the latency only then.
void latencyRestarts(Context& ctx) {
    auto rig = loadRig(ctx);
    host::Vst3Host& h = *rig->host;
    std::string problem;
    int tried = 0, changes = 0;
    for (const host::Vst3ParamInfo& p : h.params()) {
        if (p.stepCount <= 0 || p.stepCount > 16 || (p.flags & V3_PARAM_READ_ONLY) != 0) continue;
        for (int32_t step = 0; step <= p.stepCount && problem.empty(); ++step) {
            const double n = static_cast<double>(step) / p.stepCount;
            if (!h.start(48000.0, 512, V3_SAMPLE_32)) {
                problem = "could not start";
                break;
            }
            const uint32_t before = h.latency();
            const int32_t restartsBefore = rig->heard.restarts();
            rig->heard.restartComponent(0);
            // The host's automation, then its controller, as a host's UI follows.
            const Vst3Point point{0, p.id, n};
            problem = noiseBlock(ctx, h, 512, std::span<const Vst3Point>(&point, 1));
            h.setNormalised(p.id, n);
            (void)h.normalised(p.id);
            h.stop();
            const bool asked =
                ((rig->heard.restarts() & ~restartsBefore) & V3_RESTART_LATENCY_CHANGED) != 0 ||
                (h.pendingRestart() & V3_RESTART_LATENCY_CHANGED) != 0;
            h.clearRestart();
            if (!h.start(48000.0, 512, V3_SAMPLE_32)) problem = "could not start again";
            const uint32_t after = h.latency();
            h.stop();
            ++tried;
            if (after != before) ++changes;
            if (problem.empty() && after != before && !asked)
                problem = format(
                    "%s at step %d: the latency went from %u to %u and no "
                    "restart with LATENCY_CHANGED was asked for",
                    p.title.c_str(), step, before, after);
        }
    }
    if (tried == 0) {
        ctx.report().skip("vst3.latency-restart", "no stepped parameter to try");
        return;
    }
    ctx.report().check(problem.empty(), "vst3.latency-restart",
                       problem.empty() ? format("%d stepped values, %d latency changes, each with "
                                                "a restart asked for",
                                                tried, changes)
                                       : problem);
}

// set_bus_arrangements answers whether it took an arrangement; a plug-in
// that took one reports it from get_bus_arrangement.
void busArrangements(Context& ctx) {
    auto rig = loadRig(ctx);
    host::Vst3Host& h = *rig->host;
    v3_audio_processor** p = h.processor();
    const auto& ins = h.buses(true);
    const auto& outs = h.buses(false);
    std::vector<v3_speaker_arrangement> inNow(ins.size()), outNow(outs.size());
    for (size_t i = 0; i < ins.size(); ++i)
        proc(p)->get_bus_arrangement(p, V3_INPUT, static_cast<int32_t>(i), &inNow[i]);
    for (size_t i = 0; i < outs.size(); ++i)
        proc(p)->get_bus_arrangement(p, V3_OUTPUT, static_cast<int32_t>(i), &outNow[i]);
    std::string problem;
    for (size_t i = 0; i < ins.size() && problem.empty(); ++i) {
        if (__builtin_popcountll(inNow[i]) != ins[i].channel_count)
            problem = format("input bus %zu: %d channels but an arrangement of %d speakers", i,
                             ins[i].channel_count, __builtin_popcountll(inNow[i]));
    }
    // Its own arrangement is accepted.
    if (problem.empty() &&
        proc(p)->set_bus_arrangements(p, inNow.data(), static_cast<int32_t>(inNow.size()),
                                      outNow.data(), static_cast<int32_t>(outNow.size())) != V3_OK)
        problem = "set_bus_arrangements refused the plug-in's own arrangement";
    int accepted = 0, refused = 0;
    const v3_speaker_arrangement kMono = V3_SPEAKER_M, kSurround = 0x3F;  // 5.1
    for (const v3_speaker_arrangement a : {kMono, kSurround, v3_speaker_arrangement{0}}) {
        if (!problem.empty()) break;
        std::vector<v3_speaker_arrangement> in(inNow.size(), a), out(outNow.size(), a);
        if (proc(p)->set_bus_arrangements(p, in.data(), static_cast<int32_t>(in.size()), out.data(),
                                          static_cast<int32_t>(out.size())) != V3_OK) {
            ++refused;
            continue;
        }
        ++accepted;
        v3_speaker_arrangement now = 0;
        if (!out.empty() && proc(p)->get_bus_arrangement(p, V3_OUTPUT, 0, &now) == V3_OK &&
            now != a)
            problem =
                format("took the arrangement 0x%llx and then reports 0x%llx",
                       static_cast<unsigned long long>(a), static_cast<unsigned long long>(now));
    }
    // Back to its own, and it still processes.
    proc(p)->set_bus_arrangements(p, inNow.data(), static_cast<int32_t>(inNow.size()),
                                  outNow.data(), static_cast<int32_t>(outNow.size()));
    if (problem.empty() && h.start(48000.0, 256, V3_SAMPLE_32)) {
        problem = noiseBlock(ctx, h, 256);
        h.stop();
    }
    ctx.report().check(problem.empty(), "vst3.bus-arrangements",
                       problem.empty() ? format("its own accepted; of mono, 5.1 and none %d "
                                                "refused, %d taken and reported",
                                                refused, accepted)
                                       : problem);
}

// Two texts that show the same number with the same unit, apart from a
// float's last bits ("4.800000" and "4.799998 dB" are not; "4.799998" is):
// a plug-in that prints six decimals of a float meets its rounding there.
bool sameNumber(const std::string& a, const std::string& b) {
    double x = 0.0, y = 0.0;
    const auto [endA, errA] = std::from_chars(a.data(), a.data() + a.size(), x);
    const auto [endB, errB] = std::from_chars(b.data(), b.data() + b.size(), y);
    if (errA != std::errc() || errB != std::errc()) return false;
    return std::string(endA, a.data() + a.size()) == std::string(endB, b.data() + b.size()) &&
           std::fabs(x - y) <= 1e-6 * std::max(1.0, std::fabs(x));
}

// The text of a value reads back as a value whose text is the same (to a
// float's precision), and plain values convert both ways.
void parameterTexts(Context& ctx) {
    auto rig = loadRig(ctx);
    host::Vst3Host& h = *rig->host;
    std::string problem;
    int tried = 0;
    for (const host::Vst3ParamInfo& p : h.params()) {
        if (!problem.empty()) break;
        // A read-only parameter (a meter, a latency) is shown, never typed;
        // a program list is chosen from a menu (one of a single program has
        // no steps to declare, yet rounds every value to it).
        if ((p.flags & (V3_PARAM_READ_ONLY | V3_PARAM_PROGRAM_CHANGE)) != 0) continue;
        const int steps = p.stepCount > 0 ? std::min(p.stepCount, 64) : ctx.scaled(20, 5);
        for (int k = 0; k <= steps && problem.empty(); ++k) {
            const double n = static_cast<double>(k) / steps;
            const double plain = h.plainOf(p.id, n);
            const double back = h.normalisedOf(p.id, plain);
            if (!std::isfinite(plain) || !(std::fabs(back - n) < 1e-6))
                problem = format("%s: normalised %g is plain %g, which converts back to %g",
                                 p.title.c_str(), n, plain, back);
            const auto text = h.text(p.id, n);
            if (!text || !problem.empty()) continue;  // a parameter may give no text
            ++tried;
            const auto read = h.fromText(p.id, *text);
            if (!read) {
                problem = format("%s: its own text \"%s\" is not read back", p.title.c_str(),
                                 text->c_str());
            } else if (const auto again = h.text(p.id, *read);
                       !again || (*again != *text && !sameNumber(*again, *text))) {
                problem = format("%s: \"%s\" reads as %g, whose text is \"%s\"", p.title.c_str(),
                                 text->c_str(), *read, again ? again->c_str() : "(none)");
            }
        }
    }
    ctx.report().check(problem.empty(), "vst3.parameter-texts",
                       problem.empty() ? format("%zu parameters, %d texts read back to themselves",
                                                h.params().size(), tried)
                                       : problem);
}

// The normalised values of every parameter, read from the controller.
std::vector<double> controllerValues(host::Vst3Host& h) {
    std::vector<double> v;
    for (const host::Vst3ParamInfo& p : h.params())
        v.push_back(h.normalised(p.id));
    return v;
}

// Moves every writable parameter somewhere else through the controller.
void moveValues(Context& ctx, host::Vst3Host& h) {
    for (const host::Vst3ParamInfo& p : h.params()) {
        if ((p.flags & V3_PARAM_READ_ONLY) == 0 && (p.flags & V3_PARAM_IS_BYPASS) == 0)
            h.setNormalised(p.id, ctx.uniform());
    }
}

// Loads `bytes` into the component, then the controller, each through a
// window of a larger blob (`before` and `after` bytes of other data around
// it, which the window hides) that moves `chunk` bytes a call, with or
// without seek and tell; answers the component's result.
v3_result loadThrough(host::Vst3Host& h, const std::vector<uint8_t>& bytes, size_t before,
                      size_t after, size_t chunk, bool canSeek) {
    host::vst3::Stream s;
    s.bytes.assign(before, 0xEE);
    s.bytes.insert(s.bytes.end(), bytes.begin(), bytes.end());
    s.bytes.insert(s.bytes.end(), after, 0xDD);
    s.begin = before;
    s.end = before + bytes.size();
    s.chunk = chunk;
    s.canSeek = canSeek;
    const v3_result r = v3_cpp_obj(h.component())->set_state(h.component(), s.ptr());
    host::vst3::Stream again;
    again.bytes = s.bytes;
    again.begin = s.begin;
    again.end = s.end;
    again.chunk = chunk;
    again.canSeek = canSeek;
    if (r == V3_OK) v3_cpp_obj(h.controller())->set_component_state(h.controller(), again.ptr());
    return r;
}

// The component's state through the streams hosts hand over: a window of a
// larger blob (seek and tell count from the window's start, as a preset
// file's reader gives them), a stream without seek or tell, one that moves a
// byte a call; the controller reads the same bytes to the same values.
void stateStreams(Context& ctx) {
    auto rig = loadRig(ctx);
    host::Vst3Host& h = *rig->host;
    moveValues(ctx, h);
    // The component hears the values as a host sends them: points of a block.
    std::vector<Vst3Point> points;
    for (const host::Vst3ParamInfo& p : h.params())
        points.push_back({0, p.id, h.normalised(p.id)});
    std::string problem;
    if (h.start(48000.0, 256, V3_SAMPLE_32)) {
        problem = noiseBlock(ctx, h, 256, points);
        h.stop();
    }
    const auto saved = h.saveState();
    if (!saved) {
        ctx.report().fail("vst3.state-streams", "get_state refused");
        return;
    }
    const std::vector<double> want = controllerValues(h);
    struct Shape {
        const char* name;
        size_t before, after, chunk;
        bool seek;
    };
    const Shape shapes[] = {{"a window of a larger blob", 37, 53, SIZE_MAX, true},
                            {"a stream without seek or tell", 0, 0, SIZE_MAX, false},
                            {"a window without seek, a byte a call", 11, 29, 1, false}};
    int done = 0;
    for (const Shape& shape : shapes) {
        if (!problem.empty()) break;
        moveValues(ctx, h);
        if (loadThrough(h, *saved, shape.before, shape.after, shape.chunk, shape.seek) != V3_OK) {
            problem = format("%s: set_state refused its own state", shape.name);
            break;
        }
        const std::vector<double> got = controllerValues(h);
        for (size_t i = 0; i < got.size() && problem.empty(); ++i) {
            if (std::fabs(got[i] - want[i]) > 1e-6)
                problem = format("%s: %s reads %g after loading, not %g as saved", shape.name,
                                 h.params()[i].title.c_str(), got[i], want[i]);
        }
        const auto again = h.saveState();
        if (problem.empty() && (!again || *again != *saved))
            problem =
                format("%s: the state saved after loading differs from the one loaded", shape.name);
        ++done;
    }
    ctx.report().check(problem.empty(), "vst3.state-streams",
                       problem.empty()
                           ? format("%zu bytes through %d kinds of stream, the controller's "
                                    "values as saved, saved again the same",
                                    saved->size(), done)
                           : problem);
}

// Damaged states: cut short, with bytes after its own (a stream that goes
// on, which a plug-in may read past its end or refuse), or noise. A refusal
// must leave the values as they were; nothing may end outside 0 to 1.
void stateDamaged(Context& ctx) {
    auto rig = loadRig(ctx);
    host::Vst3Host& h = *rig->host;
    const auto saved = h.saveState();
    if (!saved) {
        ctx.report().skip("vst3.state-damaged", "get_state refused");
        return;
    }
    std::string problem;
    int refused = 0, taken = 0, trials = 0;
    const auto trial = [&](const std::vector<uint8_t>& bytes, const std::string& what) {
        const std::vector<double> before = controllerValues(h);
        const v3_result r = loadThrough(h, bytes, 5, 7, SIZE_MAX, true);
        const std::vector<double> after = controllerValues(h);
        ++trials;
        for (size_t i = 0; i < after.size() && problem.empty(); ++i) {
            if (!(after[i] >= 0.0 && after[i] <= 1.0))
                problem =
                    format("%s: %s reads %g", what.c_str(), h.params()[i].title.c_str(), after[i]);
        }
        if (r != V3_OK) {
            ++refused;
            if (problem.empty() && after != before)
                problem = what + ": set_state refused it and still changed the values";
        } else {
            ++taken;
        }
    };
    for (size_t n = 0; n < saved->size() && problem.empty();
         n += std::max<size_t>(1, saved->size() / 16))
        trial(std::vector<uint8_t>(saved->begin(), saved->begin() + static_cast<long>(n)),
              format("cut to %zu bytes", n));
    std::vector<uint8_t> longer = *saved;
    longer.insert(longer.end(), 64, 0x5A);
    if (problem.empty()) trial(longer, "64 bytes more");
    for (int i = 0; i < ctx.scaled(40, 8) && problem.empty(); ++i) {
        std::vector<uint8_t> noise(static_cast<size_t>(1 + ctx.uniform() * 512));
        for (uint8_t& b : noise)
            b = static_cast<uint8_t>(ctx.uniform() * 256);
        trial(noise, format("%zu bytes of noise", noise.size()));
    }
    if (problem.empty() && h.start(48000.0, 256, V3_SAMPLE_32)) {
        problem = noiseBlock(ctx, h, 256);
        h.stop();
    }
    ctx.report().check(problem.empty(), "vst3.state-damaged",
                       problem.empty() ? format("%d damaged states: %d refused without a change, "
                                                "%d taken, every value in range, still processes",
                                                trials, refused, taken)
                                       : problem);
}

// A host that initialises the controller it got from the component
// (Ardour), or the component twice: an answer, no crash, and the instance
// still whole after the terminates.
void initializeTwice(Context& ctx) {
    const ChildOutcome outcome = runInChild(
        [&]() -> std::string {
            auto rig = loadRig(ctx);
            host::Vst3Host& h = *rig->host;
            const v3_result again =
                base(h.component())->initialize(h.component(), h.services().context());
            if (again == V3_OK) base(h.component())->terminate(h.component());
            if (!h.start(48000.0, 256, V3_SAMPLE_32)) return "it does not start after that";
            std::string problem = noiseBlock(ctx, h, 256);
            h.stop();
            if (!problem.empty()) return problem;
            if (h.params().size() !=
                static_cast<size_t>(
                    v3_cpp_obj(h.controller())->get_parameter_count(h.controller())))
                return "the controller's parameters changed";
            return passedWith(format("a second initialize answered %s; %s; still processes",
                                     again == V3_OK ? "OK (terminated again)" : "a refusal",
                                     h.separateController() ? "the controller is its own object"
                                                            : "the controller is the component"));
        },
        static_cast<int>(ctx.options().checkSeconds));
    ctx.report().check(outcome.ok, "vst3.initialize-twice", outcome.message);
}

// A broken host reads the controller from its audio thread while it
// processes, and sets values from there too.
void wrongThread(Context& ctx) {
    auto rig = loadRig(ctx);
    host::Vst3Host& h = *rig->host;
    if (!h.start(48000.0, 256, V3_SAMPLE_32)) throw std::runtime_error("could not start");
    std::atomic<bool> done{false};
    std::thread other([&] {
        while (!done.load()) {
            for (const host::Vst3ParamInfo& p : h.params()) {
                const double n = h.normalised(p.id);
                (void)h.text(p.id, n);
            }
            (void)h.saveState();
        }
    });
    std::string problem;
    int blocks = 0;
    for (; blocks < ctx.scaled(2000, 200) && problem.empty(); ++blocks) {
        problem = noiseBlock(ctx, h, 256);
        for (const host::Vst3ParamInfo& p : h.params()) {
            if ((p.flags & V3_PARAM_READ_ONLY) == 0) h.setNormalised(p.id, h.normalised(p.id));
        }
    }
    done = true;
    other.join();
    h.stop();
    ctx.report().check(problem.empty(), "vst3.wrong-thread",
                       problem.empty() ? format("%d blocks while another thread read values, "
                                                "texts and state and the audio thread set values",
                                                blocks)
                                       : problem);
}

}  // namespace

std::vector<Check> vst3Checks() {
    std::vector<Check> checks = {
        {"vst3.module", Tier::EveryHost, "a Linux host refuses the module or crashes loading it",
         moduleEntries, true},
        {"vst3.factory", Tier::EveryHost,
         "a host's scanner lists the plug-in wrongly or not at all", factoryRecords, true},
        {"vst3.reference-counts", Tier::EveryHost,
         "a host that releases one interface before another crashes, or leaks the instance",
         referenceCounts, true},
        {"vst3.call-orders", Tier::EveryHost,
         "a host that changes the rate or the block size gets an error or noise", callOrders, true},
        {"vst3.latency-restart", Tier::EveryHost,
         "the host keeps compensating a latency the plug-in no longer has: tracks drift",
         latencyRestarts, true},
        {"vst3.bus-arrangements", Tier::Demanding,
         "a host that offers another channel layout is misled about the buses", busArrangements,
         true},
        {"vst3.parameter-texts", Tier::Demanding,
         "a value typed into the host's field is read as another value", parameterTexts, true},
        {"vst3.state-streams", Tier::Demanding,
         "a session saved by a host that keeps states in one blob reloads wrong", stateStreams,
         true},
        {"vst3.initialize-twice", Tier::Demanding,
         "a host that initialises the controller it got from the component crashes",
         initializeTwice, true},
        {"vst3.state-damaged", Tier::Hostile,
         "a damaged session leaves the plug-in with values it refused, or out of range",
         stateDamaged, true},
        {"vst3.wrong-thread", Tier::Hostile,
         "a host that reads the controller from its audio thread crashes", wrongThread, false},
    };
    for (Check& c : vst3ViewChecks())
        checks.push_back(std::move(c));
    return checks;
}

}  // namespace kv::validate
