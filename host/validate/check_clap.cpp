// CLAP's own rules: what a CLAP host does to a plug-in (the factory and
// descriptor, activation orders with reset, parameter texts both ways) and
// what a broken one does (events out of order or for unknown ids, calls
// from the wrong thread), and the panel's (check_clap_gui.cpp). What every
// format shares (processing, state, threads, the editor, lifetime) is
// checked once, for every format, by the other groups.
#include <clap/plugin-factory.h>
#include <dlfcn.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <thread>

#include "host/clap_host.h"
#include "host/validate/allocation_trials.h"
#include "host/validate/isolation.h"
#include "host/validate/validator.h"

namespace kv::validate {

namespace {

using host::ClapHost;
using host::ClapParamChange;

std::unique_ptr<ClapHost> loadClap(Context& ctx) {
    std::string error;
    auto clap = ClapHost::load(ctx.options().pluginPath, error, ctx.options().pluginId);
    if (!clap) throw std::runtime_error(error);
    return clap;
}

// Stereo (or the plug-in's own channel counts) buffers of `frames` frames.
struct Buffers {
    std::vector<std::vector<float>> in, out;
    std::vector<float*> inPointers, outPointers;

    Buffers(const ClapHost& clap, uint32_t frames) {
        in.assign(clap.inputChannels(), std::vector<float>(frames));
        out.assign(clap.outputChannels(), std::vector<float>(frames));
        for (auto& c : in)
            inPointers.push_back(c.data());
        for (auto& c : out)
            outPointers.push_back(c.data());
    }
    void noise(Context& ctx, double level) {
        for (auto& c : in) {
            for (float& v : c)
                v = static_cast<float>(level * (2.0 * ctx.uniform() - 1.0));
        }
    }
    // The first output value that is not finite, or nothing.
    std::optional<float> nonFinite(uint32_t frames) const {
        for (const auto& c : out) {
            for (uint32_t i = 0; i < frames; ++i) {
                if (!std::isfinite(c[i])) return c[i];
            }
        }
        return std::nullopt;
    }
};

// Processes `frames` of noise; false (with the reason in `problem`) when the
// plug-in answers an error or writes a non-finite sample.
bool processNoise(Context& ctx, ClapHost& clap, uint32_t frames, std::string& problem,
                  const std::vector<ClapParamChange>& changes = {}, bool keepOrder = false) {
    Buffers b(clap, frames);
    b.noise(ctx, 0.5);
    if (!clap.process(b.inPointers.data(), b.outPointers.data(), frames, 0, changes, keepOrder)) {
        problem = format("process answered CLAP_PROCESS_ERROR for %u frames", frames);
        return false;
    }
    if (!clap.fault().empty()) {
        problem = "the plug-in's fault: " + clap.fault();
        return false;
    }
    if (const auto bad = b.nonFinite(frames)) {
        problem = format("%u frames gave the output %g", frames, static_cast<double>(*bad));
        return false;
    }
    return true;
}

// Every plug-in the factory describes, as a host's scanner reads them: each
// has an id of its own, a name, a features list (empty ends with a null)
// and a CLAP version it can host. Every problem is named, not only one.
void descriptorSanity(Context& ctx) {
    auto clap = loadClap(ctx);
    std::string error;
    const std::vector<std::string> ids = ClapHost::pluginIds(ctx.options().pluginPath, error);
    std::vector<std::string> problems;
    if (ids.empty()) problems.push_back(error);
    std::set<std::string> seen;
    for (const std::string& id : ids) {
        if (!seen.insert(id).second) problems.push_back("the id " + id + " is described twice");
    }
    const host::ClapDescriptor& d = clap->descriptor();
    if (d.name.empty()) problems.push_back("the descriptor has no name");
    if (d.featuresNull)
        problems.push_back("the descriptor's features are null (an empty list ends with a null)");
    if (!clap_version_is_compatible(d.clapVersion))
        problems.push_back(format("the descriptor's CLAP version is %u.%u, not 1.x",
                                  d.clapVersion.major, d.clapVersion.minor));
    std::string all;
    for (const std::string& p : problems)
        all += (all.empty() ? "" : "; ") + p;
    ctx.report().check(problems.empty(), "clap.descriptor",
                       problems.empty()
                           ? format("%s, %s (%zu plug-in%s in the file)", d.id.c_str(),
                                    d.name.c_str(), ids.size(), ids.size() == 1 ? "" : "s")
                           : all);
}

// What no host asks, a broken one might: a descriptor past the factory's
// count and a factory of an id nobody made must be answered with null.
void strayFactoryQueries(Context& ctx) {
    auto clap = loadClap(ctx);
    void* library = dlopen(clap->path().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    const auto* entry =
        library ? static_cast<const clap_plugin_entry_t*>(dlsym(library, "clap_entry")) : nullptr;
    const auto* factory =
        entry
            ? static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID))
            : nullptr;
    std::vector<std::string> problems;
    if (factory) {
        const uint32_t count = factory->get_plugin_count(factory);
        if (factory->get_plugin_descriptor(factory, count) != nullptr)
            problems.push_back(
                format("the factory describes a plug-in at %u, past its count", count));
        if (entry->get_factory("org.example.no-such-factory") != nullptr)
            problems.push_back("an unknown factory id is answered");
    }
    if (library) dlclose(library);
    std::string all;
    for (const std::string& p : problems)
        all += (all.empty() ? "" : "; ") + p;
    ctx.report().check(problems.empty(), "clap.stray-factory-queries",
                       problems.empty() ? "a descriptor past the count and an unknown factory id: "
                                          "each answered with null"
                                        : all);
}

void activationOrders(Context& ctx) {
    auto clap = loadClap(ctx);
    std::string problem;
    const double rates[] = {44100.0, 48000.0, 96000.0, 44100.0};
    int rounds = 0;
    for (double rate : rates) {
        for (uint32_t block : {64u, 4096u}) {
            if (!clap->start(rate, block)) {
                problem = format("activation at %g Hz with blocks up to %u refused", rate, block);
                break;
            }
            if (!processNoise(ctx, *clap, block, problem)) break;
            clap->reset();  // on the audio thread, as CLAP has it
            if (!processNoise(ctx, *clap, block / 2, problem)) break;
            clap->stop();
            ++rounds;
        }
        if (!problem.empty()) break;
    }
    ctx.report().check(
        problem.empty(), "clap.activation-orders",
        problem.empty() ? format("%d activate/process/reset/deactivate rounds", rounds) : problem);
}

void parameterTexts(Context& ctx) {
    auto clap = loadClap(ctx);
    std::string problem;
    int rounds = 0, unread = 0;
    const auto* params = static_cast<const clap_plugin_params_t*>(
        clap->plugin()->get_extension(clap->plugin(), CLAP_EXT_PARAMS));
    for (const clap_param_info_t& p : clap->params()) {
        for (int i = 0; i < ctx.scaled(50, 5) && problem.empty(); ++i) {
            const double v = p.min_value + (p.max_value - p.min_value) * ctx.uniform();
            const std::string text = clap->valueText(p.id, v);
            if (text.empty()) break;  // a plug-in may leave texts to the host
            double back = 0.0;
            if (!params->text_to_value(clap->plugin(), p.id, text.c_str(), &back)) {
                // CLAP lets a plug-in read no text at all: the host then
                // keeps the typed value to itself.
                ++unread;
                break;
            }
            if (clap->valueText(p.id, back) != text) {
                problem = format("%s: \"%s\" reads back as %g, which it writes \"%s\"", p.name,
                                 text.c_str(), back, clap->valueText(p.id, back).c_str());
            } else if (!(back >= p.min_value && back <= p.max_value)) {
                problem = format("%s: \"%s\" reads back as %g, outside %g to %g", p.name,
                                 text.c_str(), back, p.min_value, p.max_value);
            }
            ++rounds;
        }
    }
    ctx.report().check(problem.empty(), "clap.parameter-texts",
                       problem.empty() ? format("%zu parameters, %d text round trips%s",
                                                clap->params().size(), rounds,
                                                unread ? format(", %d parameters read no text "
                                                                "(allowed)",
                                                                unread)
                                                             .c_str()
                                                       : "")
                                       : problem);
}

void oddEvents(Context& ctx) {
    auto clap = loadClap(ctx);
    if (!clap->start(48000.0, 512)) throw std::runtime_error("activation at 48 kHz refused");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<ClapParamChange> changes;
    for (const auto& p : clap->params()) {
        for (double v : {nan, inf, -inf, p.max_value * 1e6, p.min_value - 1e6}) {
            changes.push_back({static_cast<int64_t>(ctx.uniform() * 512), p.id, v});
        }
    }
    changes.push_back({10, 0xFFFFFFF0u, 1.0});  // an id nobody has
    // In a random order, as a broken host sends them: times going back.
    std::string problem;
    int blocks = 0;
    for (; blocks < ctx.scaled(20, 4) && processNoise(ctx, *clap, 512, problem, changes, true);
         ++blocks) {
    }
    ctx.report().check(
        problem.empty(), "clap.odd-events",
        problem.empty() ? format("%zu NaN, infinite, out-of-range and unknown values x %d blocks",
                                 changes.size(), blocks)
                        : problem);
}

void wrongThread(Context& ctx) {
    // A careless host asks for values and texts from its audio thread while
    // the main thread saves the state: nothing may crash or tear.
    auto clap = loadClap(ctx);
    if (!clap->start(48000.0, 256)) throw std::runtime_error("activation at 48 kHz refused");
    std::string problem;
    std::atomic<bool> done{false};
    std::thread other([&] {
        while (!done.load()) {
            for (const auto& p : clap->params()) {
                const double v = clap->value(p.id).value_or(p.default_value);
                (void)clap->valueText(p.id, v);
            }
            (void)clap->saveState();
        }
    });
    int blocks = 0;
    for (; blocks < ctx.scaled(2000, 200) && problem.empty(); ++blocks)
        processNoise(ctx, *clap, 256, problem);
    done = true;
    other.join();
    ctx.report().check(problem.empty(), "clap.wrong-thread",
                       problem.empty()
                           ? format("%d blocks while another thread read values and state", blocks)
                           : problem);
}

// Every host extension is optional in CLAP: a plug-in asks for one with
// get_extension and does without when the host has none. A host that
// offers none (a minimal or an older one) must be able to create the
// plug-in, activate it, process a block, deactivate and destroy it.
void hostWithoutExtensions(Context& ctx) {
    const ChildOutcome outcome = runInChild(
        [&] { return clapConstructionTrial(ctx.options().pluginPath, ctx.options().pluginId, 0); },
        30);
    ctx.report().check(outcome.ok, "clap.host-without-extensions",
                       outcome.ok ? "created, activated, one block, deactivated and destroyed by a "
                                    "host that offers no extension"
                                  : outcome.message);
}

}  // namespace

std::vector<Check> clapChecks() {
    std::vector<Check> checks = {
        {"clap.descriptor", Tier::EveryHost,
         "a host's scanner lists the plug-in wrongly or not at all", descriptorSanity, true},
        {"clap.stray-factory-queries", Tier::Hostile,
         "a host that asks for a plug-in the file does not have gets one, or crashes",
         strayFactoryQueries, true},
        {"clap.activation-orders", Tier::EveryHost,
         "a host that changes the rate or the block size, or resets the plug-in, gets an error or "
         "noise",
         activationOrders, true},
        {"clap.host-without-extensions", Tier::Demanding,
         "a host that offers fewer extensions than the plug-in expects crashes",
         hostWithoutExtensions, true},
        {"clap.parameter-texts", Tier::Demanding,
         "a value typed into the host's field is read as another value", parameterTexts, true},
        {"clap.odd-events", Tier::Hostile,
         "one bad automation point silences or crashes the track (robustness: CLAP has hosts "
         "send events in time order and for the plug-in's own ids)",
         oddEvents, true},
        {"clap.wrong-thread", Tier::Hostile,
         "a host that reads values from its audio thread crashes", wrongThread, false},
    };
    for (Check& c : clapGuiChecks())
        checks.push_back(std::move(c));
    return checks;
}

}  // namespace kv::validate
