// Parameters and saved state: what a host's automation and its session
// files send, including values and chunks no well-behaved host would send.
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

#include "host/validate/isolation.h"
#include "host/validate/signal.h"
#include "host/validate/validator.h"

namespace kv::validate {

namespace {

std::vector<float> readAll(host::Vst2Host& h) {
    std::vector<float> values;
    for (int32_t i = 0; i < h.numParams(); ++i)
        values.push_back(h.getParameter(i));
    return values;
}

bool sameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

// Within a few float steps: a value converted to the plug-in's own range
// and back may lose the last bits.
bool nearlyEqual(float a, float b) {
    return std::fabs(a - b) <= 4.0f * std::numeric_limits<float>::epsilon();
}

// What a host's automation relies on: a value set reads back as itself, or
// -- for stepped and quantised parameters -- as a value in range that then
// stays put when the host writes it back (no drift on every save and load).
void randomValues(Context& ctx) {
    auto h = ctx.started();
    const int rounds = ctx.scaled(200, 20);
    std::string problem;
    int exact = 0, quantised = 0;
    for (int r = 0; r < rounds && problem.empty(); ++r) {
        const std::vector<float> values = randomSettings(ctx, h->numParams());
        setAll(*h, values);
        const std::vector<float> back = readAll(*h);
        for (size_t i = 0; i < values.size() && problem.empty(); ++i) {
            if (nearlyEqual(values[i], back[i])) {
                ++exact;
                continue;
            }
            const int32_t index = static_cast<int32_t>(i);
            if (!(back[i] >= 0.0f && back[i] <= 1.0f)) {
                problem = format("parameter %zu: set %.9g, reads %.9g", i,
                                 static_cast<double>(values[i]), static_cast<double>(back[i]));
                break;
            }
            h->setParameter(index, back[i]);
            const float again = h->getParameter(index);
            if (!nearlyEqual(again, back[i])) {
                problem = format("parameter %zu drifts: set %.9g, reads %.9g, set that, reads %.9g",
                                 i, static_cast<double>(values[i]), static_cast<double>(back[i]),
                                 static_cast<double>(again));
            }
            ++quantised;
        }
    }
    ctx.report().check(problem.empty(), "state.values-kept",
                       problem.empty() ? format("%d rounds of %d values: %d read back, %d stepped "
                                                "to a value that stays",
                                                rounds, h->numParams(), exact, quantised)
                                       : problem);
}

// Values outside [0, 1] from a broken automation lane or session file:
// whatever the plug-in makes of them, it must read back a value in range
// (the host stores and shows what it reads) and keep sounding.
void outOfRange(Context& ctx) {
    auto h = ctx.started();
    const float inf = std::numeric_limits<float>::infinity();
    const float cases[] = {-1.0f, -1e30f, -inf, -1e-30f, 2.0f, 1e30f, inf, 1.0000001f};
    std::string problem;
    for (int32_t i = 0; i < h->numParams() && problem.empty(); ++i) {
        for (float c : cases) {
            h->setParameter(i, 0.5f);
            h->setParameter(i, c);
            const float got = h->getParameter(i);
            if (!(got >= 0.0f && got <= 1.0f)) {
                problem = format("parameter %d: set %g, reads %g", i, static_cast<double>(c),
                                 static_cast<double>(got));
                break;
            }
        }
    }
    const Stereo out = runThrough(*h, noise(ctx, 4096, 0.5), RunOptions{});
    if (problem.empty() && firstNonFinite(out) < out.frames())
        problem = "non-finite output after out-of-range parameters";
    ctx.report().check(problem.empty(), "state.out-of-range-clamped",
                       problem.empty() ? format("%d parameters x 8 values: read back within [0, 1]",
                                                h->numParams())
                                       : problem);
}

// A NaN from a broken automation lane or a damaged session file. Keeping
// the previous value is one good answer, any value in range another; what
// must not happen is a parameter that reads NaN (the host shows it, stores
// it in the session and sends it back) or a NaN in the audio.
void nanParameters(Context& ctx) {
    auto h = ctx.started();
    const float nans[] = {std::numeric_limits<float>::quiet_NaN(),
                          -std::numeric_limits<float>::quiet_NaN(),
                          std::bit_cast<float>(0x7F800001u), std::bit_cast<float>(0xFFFFFFFFu)};
    std::string problem;
    for (int32_t i = 0; i < h->numParams() && problem.empty(); ++i) {
        const float before = 0.125f + 0.0625f * static_cast<float>(i % 8);
        for (float nan : nans) {
            h->setParameter(i, before);
            h->setParameter(i, nan);
            const float got = h->getParameter(i);
            if (!(got >= 0.0f && got <= 1.0f)) {
                problem = format("parameter %d reads %g after setParameter(nan)", i,
                                 static_cast<double>(got));
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

void invalidIndex(Context& ctx) {
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto h = ctx.started();
        const std::vector<float> before = readAll(*h);
        const int32_t n = h->numParams();
        for (int32_t index : {n, n + 1, -1, INT_MAX, INT_MIN}) {
            h->setParameter(index, 0.75f);
            const float got = h->getParameter(index);
            if (!std::isfinite(got))
                return format("getParameter(%d) answers %g", index, static_cast<double>(got));
        }
        if (readAll(*h) != before) return "setParameter with an invalid index changed a parameter";
        return {};
    });
    ctx.report().check(outcome.ok, "state.invalid-index-ignored",
                       outcome.ok ? "indices n, n+1, -1, INT_MAX, INT_MIN" : outcome.message);
}

void roundTrip(Context& ctx) {
    auto a = ctx.started();
    const std::vector<float> settings = randomSettings(ctx, a->numParams());
    setAll(*a, settings);
    // What the host saw before saving: stepped parameters read back stepped,
    // and each parameter's text as the user reads it.
    const std::vector<float> stored = readAll(*a);
    std::vector<std::string> shown;
    for (int32_t i = 0; i < a->numParams(); ++i)
        shown.push_back(a->parameterDisplay(i));
    const std::vector<uint8_t> saved = a->getChunk(false);
    const std::vector<uint8_t> savedPreset = a->getChunk(true);
    if (saved.empty()) {
        ctx.report().skip("state.chunk-round-trip", "the plug-in saves no chunk");
        return;
    }
    setAll(*a, randomSettings(ctx, a->numParams()));
    a->setChunk(saved);
    std::string problem;
    if (a->getChunk() != saved) problem = "the chunk read back differs from the one restored";
    // A value may come back in the plug-in's own steps (a switch set to
    // 0.98 is saved as on and restored as 1): the same text is the same
    // setting.
    auto sameSetting = [&](host::Vst2Host& h) -> std::string {
        const std::vector<float> now = readAll(h);
        for (size_t i = 0; i < now.size(); ++i) {
            if (nearlyEqual(now[i], stored[i])) continue;
            const std::string text = h.parameterDisplay(static_cast<int32_t>(i));
            if (text != shown[i]) {
                return format("parameter %zu restored as %g \"%s\", saved as %g \"%s\"", i,
                              static_cast<double>(now[i]), text.c_str(),
                              static_cast<double>(stored[i]), shown[i].c_str());
            }
        }
        return {};
    };
    if (problem.empty()) problem = sameSetting(*a);
    if (problem.empty() && savedPreset != saved) {
        setAll(*a, randomSettings(ctx, a->numParams()));
        a->setChunk(savedPreset, true);
        if (const std::string p = sameSetting(*a); !p.empty()) problem = "the preset chunk: " + p;
    }
    // The sound of the restored state equals the sound of the settings.
    auto restored = ctx.started();
    auto direct = ctx.started();
    restored->setChunk(saved);
    setAll(*direct, settings);
    const Stereo in = noise(ctx, static_cast<size_t>(ctx.scaled(48000, 4800)), 1.0);
    const Stereo r = runThrough(*restored, in, RunOptions{});
    const Stereo d = runThrough(*direct, in, RunOptions{});
    if (problem.empty() && !bitIdentical(r, d) && deterministicAlone(ctx, settings)) {
        problem = format("restored state sounds different (difference %.3g)", maxDifference(r, d));
    }
    ctx.report().check(problem.empty(), "state.chunk-round-trip",
                       problem.empty()
                           ? format("%zu bytes: bytes, values and sound restored", saved.size())
                           : problem);
}

// A chunk of `size` bytes at the very end of readable memory: reading past
// it faults. The first bytes are a valid chunk of distinct values.
void chunkOfSize(Context& ctx, size_t size) {
    const std::string name = format("state.chunk-size-%zu", size);
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto h = ctx.started();
        const int32_t n = h->numParams();
        std::vector<float> target(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i)
            target[static_cast<size_t>(i)] = 0.0625f * static_cast<float>(1 + (i * 5) % 15);
        setAll(*h, target);
        const std::vector<uint8_t> layout = h->getChunk();
        const std::vector<float> before(static_cast<size_t>(n), 0.5f);
        setAll(*h, before);

        GuardedBytes bytes(size);
        if (!bytes.valid()) return "cannot map a guarded buffer";
        for (size_t i = 0; i < size; ++i) {
            bytes.data()[i] =
                i < layout.size() ? layout[i] : static_cast<uint8_t>(ctx.uniform() * 256);
        }
        h->dispatch(effSetChunk, 0, static_cast<intptr_t>(size), bytes.data());
        const std::vector<float> after = readAll(*h);
        if (layout.size() != 4u * static_cast<size_t>(n))
            return {};  // unknown layout: survival only
        for (int32_t i = 0; i < n; ++i) {
            const size_t k = static_cast<size_t>(i);
            const bool covered = size >= 4 * (k + 1);
            const bool whole = size >= layout.size();
            const float got = after[k];
            // A complete chunk must be applied; a short one may be applied
            // as far as it goes or ignored; bytes it lacks change nothing.
            const bool ok = whole
                                ? sameBits(got, target[k])
                                : (covered ? (sameBits(got, target[k]) || sameBits(got, before[k]))
                                           : sameBits(got, before[k]));
            if (!ok) {
                return format("parameter %d reads %g after a %zu-byte chunk", i,
                              static_cast<double>(got), size);
            }
        }
        return {};
    });
    ctx.report().check(outcome.ok, name,
                       outcome.ok
                           ? format("%zu bytes at the end of a page: no over-read, values as "
                                    "far as the bytes go",
                                    size)
                           : outcome.message);
}

void nullChunk(Context& ctx) {
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto h = ctx.started();
        const std::vector<float> before = readAll(*h);
        h->dispatch(effSetChunk, 0, 16, nullptr);
        h->dispatch(effSetChunk, 1, 16, nullptr);
        h->dispatch(effGetChunk, 0, 0, nullptr);
        h->dispatch(effGetChunk, 1, 0, nullptr);
        if (readAll(*h) != before) return "a null chunk changed the parameters";
        return {};
    });
    ctx.report().check(
        outcome.ok, "state.null-chunk",
        outcome.ok ? "effSetChunk and effGetChunk with a null pointer" : outcome.message);
}

}  // namespace

std::vector<Check> stateChecks() {
    std::vector<Check> checks = {
        {"state.values-kept", Tier::EveryHost,
         "automation and saved sessions drift away from what the user set", randomValues},
        {"state.chunk-round-trip", Tier::EveryHost,
         "a saved session or preset comes back with other settings or another sound", roundTrip},
        {"state.out-of-range-clamped", Tier::Hostile,
         "the host shows and stores a parameter outside [0, 1] after a broken automation value",
         outOfRange},
        {"state.nan-parameters", Tier::Hostile,
         "one NaN automation value is shown, saved in the session and sent back, or turns the "
         "audio into NaN",
         nanParameters},
        {"state.invalid-index-ignored", Tier::Hostile,
         "a host with a stale parameter index crashes or changes another parameter", invalidIndex},
    };
    for (size_t size :
         {size_t{0}, size_t{4}, size_t{15}, size_t{16}, size_t{20}, size_t{1} << 20}) {
        checks.push_back({format("state.chunk-size-%zu", size), Tier::Hostile,
                          "loading a truncated or damaged session crashes the host",
                          [size](Context& c) { chunkOfSize(c, size); }});
    }
    checks.push_back({"state.null-chunk", Tier::Hostile,
                      "a host that restores an empty state crashes", nullChunk, true});
    return checks;
}

}  // namespace kv::validate
