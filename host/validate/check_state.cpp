// Parameters and saved state: what a host's automation and its session
// files send, including values and chunks no well-behaved host would send.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "host/validate/isolation.h"
#include "host/validate/signal.h"
#include "host/validate/validator.h"

namespace kv::validate {

namespace {

// Within a few float steps of the parameter's range: a value converted to
// the plug-in's own representation and back may lose the last bits.
bool nearlyEqual(const host::ParameterInfo& p, double a, double b) {
    const double range = std::max(1.0, std::fabs(p.max - p.min));
    return std::fabs(a - b) <= 4.0 * std::numeric_limits<float>::epsilon() * range;
}

// A read-only parameter (a meter) is the plug-in's: the host neither sets
// nor judges it.
bool inRange(const host::ParameterInfo& p, double v) {
    return p.readOnly || (v >= p.min && v <= p.max);
}

// What a host's automation relies on: a value set reads back as itself, or
// -- for stepped and quantised parameters -- as a value in range that then
// stays put when the host writes it back (no drift on every save and load).
void randomValues(Context& ctx) {
    auto h = ctx.started();
    const int rounds = ctx.scaled(200, 20);
    std::string problem;
    int exact = 0, quantised = 0;
    const auto& params = h->parameters();
    for (int r = 0; r < rounds && problem.empty(); ++r) {
        std::vector<double> values;
        for (uint32_t i = 0; i < params.size(); ++i)
            values.push_back(h->fromNormalised(i, ctx.uniform()));
        for (uint32_t i = 0; i < params.size(); ++i)
            h->setValue(i, values[i]);
        const std::vector<double> back = readAll(*h);
        for (uint32_t i = 0; i < values.size() && problem.empty(); ++i) {
            if (params[i].readOnly || nearlyEqual(params[i], values[i], back[i])) {
                ++exact;
                continue;
            }
            if (!inRange(params[i], back[i])) {
                problem = format("parameter %u: set %.9g, reads %.9g", i, values[i], back[i]);
                break;
            }
            h->setValue(i, back[i]);
            const double again = h->value(i);
            if (!nearlyEqual(params[i], again, back[i])) {
                problem = format("parameter %u drifts: set %.9g, reads %.9g, set that, reads %.9g",
                                 i, values[i], back[i], again);
            }
            ++quantised;
        }
    }
    ctx.report().check(problem.empty(), "state.values-kept",
                       problem.empty() ? format("%d rounds of %u values: %d read back, %d stepped "
                                                "to a value that stays",
                                                rounds, h->parameterCount(), exact, quantised)
                                       : problem);
}

// Values outside [0, 1] from a broken automation lane or session file:
// whatever the plug-in makes of them, it must read back a value in range
// (the host stores and shows what it reads) and keep sounding.
void outOfRange(Context& ctx) {
    auto h = ctx.started();
    const double inf = std::numeric_limits<double>::infinity();
    std::string problem;
    for (uint32_t i = 0; i < h->parameterCount() && problem.empty(); ++i) {
        const host::ParameterInfo& p = h->parameters()[i];
        const double range = p.max - p.min;
        // Below and above by a range, far out, infinite, and just outside.
        const double cases[] = {p.min - range, -1e30, -inf, p.min - 1e-30 - range * 1e-7,
                                p.max + range, 1e30,  inf,  p.max + range * 1e-7};
        for (double c : cases) {
            h->setValue(i, h->fromNormalised(i, 0.5));
            h->setValue(i, c);
            const double got = h->value(i);
            if (!inRange(p, got)) {
                problem = format("parameter %u: set %g, reads %g", i, c, got);
                break;
            }
        }
    }
    const Stereo out = runThrough(*h, noise(ctx, 4096, 0.5), RunOptions{});
    if (problem.empty() && firstNonFinite(out) < out.frames())
        problem = "non-finite output after out-of-range parameters";
    ctx.report().check(problem.empty(), "state.out-of-range-clamped",
                       problem.empty() ? format("%u parameters x 8 values: read back within "
                                                "their ranges",
                                                h->parameterCount())
                                       : problem);
}

// A NaN from a broken automation lane or a damaged session file. Keeping
// the previous value is one good answer, any value in range another; what
// must not happen is a parameter that reads NaN (the host shows it, stores
// it in the session and sends it back) or a NaN in the audio.
void nanParameters(Context& ctx) {
    auto h = ctx.started();
    // The patterns as a float carries them (VST 2's values are floats).
    const double nans[] = {std::numeric_limits<double>::quiet_NaN(),
                           -std::numeric_limits<double>::quiet_NaN(),
                           static_cast<double>(std::bit_cast<float>(0x7F800001u)),
                           static_cast<double>(std::bit_cast<float>(0xFFFFFFFFu))};
    std::string problem;
    for (uint32_t i = 0; i < h->parameterCount() && problem.empty(); ++i) {
        const double before = h->fromNormalised(i, 0.125 + 0.0625 * (i % 8));
        for (double nan : nans) {
            h->setValue(i, before);
            h->setValue(i, nan);
            const double got = h->value(i);
            if (!inRange(h->parameters()[i], got)) {
                problem = format("parameter %u reads %g after a NaN was set", i, got);
                break;
            }
        }
    }
    const Stereo out = runThrough(*h, noise(ctx, 4096, 1.0), RunOptions{});
    if (problem.empty() && firstNonFinite(out) < out.frames()) {
        problem = "non-finite output after NaN parameters";
    }
    ctx.report().check(problem.empty(), "state.nan-parameters",
                       problem.empty() ? "4 NaN patterns per parameter: values in range, sound "
                                         "finite"
                                       : problem);
}

// The texts of the current values, as the user reads them.
std::vector<std::string> textsOf(host::PluginInstance& h) {
    std::vector<std::string> texts;
    for (uint32_t i = 0; i < h.parameterCount(); ++i)
        texts.push_back(h.valueText(i, h.value(i)).value_or(""));
    return texts;
}

void roundTrip(Context& ctx) {
    auto a = ctx.started();
    const auto n = static_cast<int32_t>(a->parameterCount());
    const std::vector<float> settings = randomSettings(ctx, n);
    setAll(*a, settings);
    // What the host saw before saving: stepped parameters read back stepped,
    // and each parameter's text as the user reads it.
    const std::vector<double> stored = readAll(*a);
    const std::vector<std::string> shown = textsOf(*a);
    const auto saved = a->saveState();
    if (!saved || saved->empty()) {
        ctx.report().skip("state.chunk-round-trip", "the plug-in saves no state of its own");
        return;
    }
    setAll(*a, randomSettings(ctx, n));
    std::string problem;
    if (!a->loadState(*saved)) problem = "the plug-in refuses its own state";
    if (problem.empty() && a->saveState() != saved)
        problem = "the state saved again differs from the one restored";
    // A value may come back in the plug-in's own steps (a switch set to
    // 0.98 is saved as on and restored as 1): the same text is the same
    // setting.
    if (problem.empty()) {
        const std::vector<double> now = readAll(*a);
        const std::vector<std::string> texts = textsOf(*a);
        for (size_t i = 0; i < now.size() && problem.empty(); ++i) {
            const host::ParameterInfo& p = a->parameters()[i];
            if (p.readOnly || nearlyEqual(p, now[i], stored[i]) || texts[i] == shown[i]) continue;
            problem = format("parameter %zu restored as %g \"%s\", saved as %g \"%s\"", i, now[i],
                             texts[i].c_str(), stored[i], shown[i].c_str());
        }
    }
    // The sound of the restored state equals the sound of the settings.
    auto restored = ctx.started();
    auto direct = ctx.started();
    restored->loadState(*saved);
    setAll(*direct, settings);
    const Stereo in = noise(ctx, static_cast<size_t>(ctx.scaled(48000, 4800)), 1.0);
    const Stereo r = runThrough(*restored, in, RunOptions{});
    const Stereo d = runThrough(*direct, in, RunOptions{});
    if (problem.empty() && !bitIdentical(r, d) && deterministicAlone(ctx, settings)) {
        problem = format("restored state sounds different (difference %.3g)", maxDifference(r, d));
    }
    ctx.report().check(problem.empty(), "state.chunk-round-trip",
                       problem.empty()
                           ? format("%zu bytes: bytes, values and sound restored", saved->size())
                           : problem);
}

// Every truncation of a real state and random bytes, as a damaged session
// file holds them: nothing may crash, a refused state changes nothing, and
// an accepted one leaves every value in its range.
void garbageState(Context& ctx) {
    auto h = ctx.started();
    setAll(*h, randomSettings(ctx, static_cast<int32_t>(h->parameterCount())));
    const auto saved = h->saveState();
    if (!saved) {
        ctx.report().skip("state.garbage", "the plug-in saves no state of its own");
        return;
    }
    const std::vector<double> before = readAll(*h);
    std::string problem;
    int refused = 0, tried = 0;
    for (int i = 0; i < ctx.scaled(1000, 50) && problem.empty(); ++i, ++tried) {
        std::vector<uint8_t> bytes;
        if (i < static_cast<int>(saved->size())) {
            bytes.assign(saved->begin(), saved->begin() + i);  // every truncation
        } else {
            bytes.resize(static_cast<size_t>(ctx.uniform() * 64));
            for (auto& byte : bytes)
                byte = static_cast<uint8_t>(ctx.uniform() * 256);
        }
        if (!h->loadState(bytes)) {
            ++refused;
            if (readAll(*h) != before)
                problem = format("a refused %zu-byte state changed the values", bytes.size());
        } else {
            const std::vector<double> now = readAll(*h);
            for (size_t k = 0; k < now.size() && problem.empty(); ++k) {
                if (!inRange(h->parameters()[k], now[k]))
                    problem = format("a %zu-byte state loaded parameter %zu as %g", bytes.size(), k,
                                     now[k]);
            }
            h->loadState(*saved);
        }
    }
    const Stereo out = runThrough(*h, noise(ctx, 4096, 0.5), RunOptions{});
    if (problem.empty() && firstNonFinite(out) < out.frames())
        problem = "non-finite output after the damaged states";
    ctx.report().check(problem.empty(), "state.garbage",
                       problem.empty()
                           ? format("%d streams, %d refused, no value lost", tried, refused)
                           : problem);
}

}  // namespace

std::vector<Check> stateChecks() {
    std::vector<Check> checks = {
        {"state.values-kept", Tier::EveryHost,
         "automation and saved sessions drift away from what the user set", randomValues},
        {"state.chunk-round-trip", Tier::EveryHost,
         "a saved session or preset comes back with other settings or another sound", roundTrip},
        {"state.out-of-range-clamped", Tier::Hostile,
         "the host shows and stores a parameter outside its range after a broken automation value",
         outOfRange},
        {"state.nan-parameters", Tier::Hostile,
         "one NaN automation value is shown, saved in the session and sent back, or turns the "
         "audio into NaN",
         nanParameters},
        {"state.garbage", Tier::Hostile,
         "a damaged session file crashes the host, loses settings or turns the sound into NaN",
         garbageState, true},
    };
    return checks;
}

}  // namespace kv::validate
