// Processing: every rate and block size hosts use, the buffer and precision
// variations they are allowed, hostile but finite input, and the promises a
// mix engineer relies on (silence stays silent, the same input renders the
// same output).
#include <cmath>
#include <limits>
#include <optional>

#include "host/validate/signal.h"
#include "host/validate/validator.h"

namespace kv::validate {

namespace {

// For each setting, `in` through two fresh instances at `rate` (blocks of
// at most `maxFrames`), one run with `first`, one with `second`: the
// largest `measure` of a pair, or nothing when some setting does not
// render the same twice alone (dither, randomness), so cannot be judged.
std::optional<double> largestPairDifference(Context& ctx,
                                            const std::vector<std::vector<float>>& variants,
                                            const Stereo& in, double rate, uint32_t maxFrames,
                                            const RunOptions& first, const RunOptions& second,
                                            double (*measure)(const Stereo&, const Stereo&)) {
    double largest = 0.0;
    for (const std::vector<float>& settings : variants) {
        if (!deterministicAlone(ctx, settings)) return std::nullopt;
        auto a = ctx.started(rate, maxFrames);
        auto b = ctx.started(rate, maxFrames);
        setAll(*a, settings);
        setAll(*b, settings);
        const Stereo outFirst = runThrough(*a, in, first);
        const Stereo outSecond = runThrough(*b, in, second);
        largest = std::max(largest, measure(outFirst, outSecond));
    }
    return largest;
}

constexpr double kRates[] = {22050.0, 44100.0, 48000.0, 96000.0, 192000.0};
constexpr int32_t kBlocks[] = {1, 32, 64, 512, 1024, 4096};
constexpr double kUnwritten = -12345.0;  // the value runThrough puts into output buffers

bool anyUnwritten(const Stereo& s) {
    for (size_t i = 0; i < s.frames(); ++i) {
        if (s.left[i] == kUnwritten || s.right[i] == kUnwritten) return true;
        for (const auto& c : s.more) {
            if (c[i] == kUnwritten) return true;
        }
    }
    return false;
}

const char* bits(const host::PluginInstance& h, Precision precision) {
    return precision == Precision::Single || !h.capabilities().doublePrecision ? "32" : "64";
}

// Largest difference relative to the reference's own size (at least 1), the
// way float rounding of an output behaves.
double relativeDifference(const Stereo& a, const Stereo& reference) {
    if (a.frames() != reference.frames()) return std::numeric_limits<double>::infinity();
    double worst = 0.0;
    for (size_t i = 0; i < a.frames(); ++i) {
        const double dl =
            std::fabs(a.left[i] - reference.left[i]) / std::max(1.0, std::fabs(reference.left[i]));
        const double dr = std::fabs(a.right[i] - reference.right[i]) /
                          std::max(1.0, std::fabs(reference.right[i]));
        if (std::isnan(dl) || std::isnan(dr)) return std::numeric_limits<double>::infinity();
        worst = std::max({worst, dl, dr});
    }
    return worst;
}

void ratesAndBlocks(Context& ctx) {
    int combos = 0;
    std::string problem;
    double loudest = 0.0;
    for (double rate : kRates) {
        for (int32_t block : kBlocks) {
            auto h = ctx.started(rate, static_cast<uint32_t>(block));
            setAll(*h, randomSettings(ctx, static_cast<int32_t>(h->parameterCount())));
            const size_t frames = static_cast<size_t>(
                std::max(block * 2, ctx.scaled(static_cast<int>(rate) / 4, 4096)));
            const Stereo in = noise(ctx, frames, 1.0);
            RunOptions run;
            run.blocks = {block};
            const Stereo out = runThrough(*h, in, run);
            ++combos;
            if (problem.empty()) {
                const size_t bad = firstNonFinite(out);
                if (bad < frames) {
                    problem = format("%.0f Hz, blocks of %d: non-finite output at frame %zu", rate,
                                     block, bad);
                } else if (anyUnwritten(out)) {
                    problem =
                        format("%.0f Hz, blocks of %d: output samples left unwritten", rate, block);
                }
            }
            loudest = std::max(loudest, peakOf(out));
        }
    }
    ctx.report().check(problem.empty(), "processing.rates-and-blocks",
                       problem.empty() ? format("%d rate/block combinations, peak %.1f dBFS",
                                                combos, toDb(loudest))
                                       : problem);
}

void varyingBlocks(Context& ctx) {
    const auto variants = switchVariants(ctx, randomSettings(ctx, 64));
    const size_t frames = static_cast<size_t>(ctx.scaled(96000, 20000));
    const Stereo in = noise(ctx, frames, 0.8);
    RunOptions varying;
    varying.precision = Precision::Double;
    varying.blocks.clear();
    for (int i = 0; i < 64; ++i)
        varying.blocks.push_back(1 + static_cast<int32_t>(ctx.uniform() * 3000));
    RunOptions fixed;
    fixed.precision = Precision::Double;
    const auto largest =
        largestPairDifference(ctx, variants, in, 48000.0, 4096, varying, fixed, maxDifference);
    if (!largest) {
        ctx.report().skip("processing.varying-block-sizes",
                          "two renders differ even with equal blocks (dither or randomness)");
        return;
    }
    // Block boundaries may move tiny per-call offsets, nothing audible.
    const double diff = *largest;
    ctx.report().check(diff <= 1e-9, "processing.varying-block-sizes",
                       format("64 random sizes vs blocks of 512, %zu switch settings: largest "
                              "difference %.3g",
                              variants.size(), diff));
}

// Zero-frame calls between the blocks, and zero-frame calls on their own
// must leave the buffers alone.
void zeroFrameCalls(Context& ctx) {
    const auto variants = switchVariants(ctx, randomSettings(ctx, 64));
    const size_t frames = static_cast<size_t>(ctx.scaled(96000, 20000));
    const Stereo in = noise(ctx, frames, 0.8);
    RunOptions fixed;
    fixed.precision = Precision::Double;
    bool comparable = true;
    double zeroDiff = 0.0;
    std::unique_ptr<host::PluginInstance> c;
    for (const std::vector<float>& settings : variants) {
        comparable = comparable && deterministicAlone(ctx, settings);
        auto b = ctx.started(48000.0, 4096);
        setAll(*b, settings);
        const Stereo outFixed = runThrough(*b, in, fixed);
        c = ctx.started(48000.0, 4096);
        setAll(*c, settings);
        RunOptions withZero = fixed;
        withZero.zeroFrameCalls = true;
        const Stereo outZero = runThrough(*c, in, withZero);
        if (comparable) zeroDiff = std::max(zeroDiff, maxDifference(outZero, outFixed));
    }
    const size_t channels = static_cast<size_t>(std::max({c->inputs(), c->outputs(), 1}));
    std::vector<float> f(channels, 0.25f);
    std::vector<double> d(channels, 0.5);
    std::vector<float*> fp(channels + 1, nullptr);
    std::vector<double*> dp(channels + 1, nullptr);
    for (size_t k = 0; k < channels; ++k)
        fp[k] = &f[k], dp[k] = &d[k];
    c->process(fp.data(), fp.data(), 0);
    c->process(dp.data(), dp.data(), 0);
    bool untouched = true;
    for (size_t k = 0; k < channels; ++k)
        untouched = untouched && f[k] == 0.25f && d[k] == 0.5;
    ctx.report().check(
        zeroDiff <= 1e-9 && untouched, "processing.zero-frame-calls",
        !untouched ? "a 0-frame call wrote into the buffers"
        : comparable
            ? format("difference with 0-frame calls between blocks %.3g", zeroDiff)
            : "0-frame calls left the buffers alone (two renders differ anyway: not compared)");
}

void inPlace(Context& ctx) {
    const auto variants = switchVariants(ctx, randomSettings(ctx, 64));
    const size_t frames = static_cast<size_t>(ctx.scaled(48000, 8000));
    const Stereo in = noise(ctx, frames, 1.0);
    std::string problem;
    bool twoPrecisions = true;
    for (const std::vector<float>& settings : variants) {
        if (!deterministicAlone(ctx, settings)) {
            ctx.report().skip(
                "processing.in-place",
                "two renders differ even with separate buffers (dither or randomness)");
            return;
        }
        for (Precision precision : {Precision::Single, Precision::Double}) {
            auto a = ctx.started(44100.0, 512);
            auto b = ctx.started(44100.0, 512);
            if (precision == Precision::Double && !a->capabilities().doublePrecision) {
                twoPrecisions = false;
                break;
            }
            setAll(*a, settings);
            setAll(*b, settings);
            RunOptions separate;
            separate.precision = precision;
            RunOptions shared = separate;
            shared.inPlace = true;
            const Stereo outSeparate = runThrough(*a, in, separate);
            const Stereo outShared = runThrough(*b, in, shared);
            if (!bitIdentical(outSeparate, outShared) && problem.empty()) {
                problem = format("%s-bit in-place output differs by %.3g",
                                 precision == Precision::Single ? "32" : "64",
                                 maxDifference(outSeparate, outShared));
            }
        }
    }
    ctx.report().check(
        problem.empty(), "processing.in-place",
        problem.empty() ? format("%s, %zu switch settings, %zu frames bit-identical",
                                 twoPrecisions ? "32 and 64 bit" : "32 bit (no 64-bit processing)",
                                 variants.size(), frames)
                        : problem);
}

void precisionAlternation(Context& ctx) {
    const auto variants = switchVariants(ctx, randomSettings(ctx, 64));
    {
        std::string error;
        auto probe = ctx.load(error);
        if (probe && !probe->capabilities().doublePrecision) {
            ctx.report().skip("processing.precision-alternation",
                              "the plug-in offers no 64-bit processing");
            return;
        }
    }
    const size_t frames = static_cast<size_t>(ctx.scaled(48000, 8000));
    const Stereo in = noise(ctx, frames, 1.0);
    RunOptions alternate;
    alternate.precision = Precision::Alternate;
    alternate.blocks = {256, 511, 1};
    RunOptions all64 = alternate;
    all64.precision = Precision::Double;
    const auto largest = largestPairDifference(ctx, variants, in, 44100.0, 512, alternate, all64,
                                               relativeDifference);
    if (!largest) {
        ctx.report().skip("processing.precision-alternation",
                          "two renders differ anyway (dither or randomness)");
        return;
    }
    const double diff = *largest;
    // Float rounding of the 32-bit outputs is 6e-8 relative; state shared
    // wrongly between the two paths shows as far more.
    ctx.report().check(
        diff <= 1e-6, "processing.precision-alternation",
        format("32/64-bit alternating vs all 64-bit, %zu switch settings: largest relative "
               "difference %.3g",
               variants.size(), diff));
}

// The first four parameters' corners (each at 0 or 1) and random settings,
// against signals that break naive models: full scale, constant, square,
// denormal, silence -- and, from a hostile upstream, +-1e6.
void finiteOutput(Context& ctx, bool extreme) {
    const char* name = extreme ? "processing.extreme-input" : "processing.finite-output";
    const size_t frames = static_cast<size_t>(ctx.scaled(8192, 1024));
    const double big = extreme ? 1e6 : 1.0;
    std::vector<std::pair<const char*, Stereo>> signals;
    signals.emplace_back("noise", noise(ctx, frames, big));
    signals.emplace_back(extreme ? "+1e6" : "+1", constant(frames, big));
    signals.emplace_back(extreme ? "-1e6" : "-1", constant(frames, -big));
    signals.emplace_back(extreme ? "square 1e6" : "square 1", square(frames, big));
    Stereo alternating(frames);
    for (size_t i = 0; i < frames; ++i) {
        alternating.left[i] = i % 2 ? big : -big;
        alternating.right[i] = i % 2 ? -big : big;
    }
    signals.emplace_back(extreme ? "alternating 1e6" : "alternating 1", alternating);
    if (!extreme) {
        signals.emplace_back("float denormal", constant(frames, 1.4e-45));
        signals.emplace_back("double denormal", constant(frames, 4.9e-324));
        signals.emplace_back("silence", constant(frames, 0.0));
        signals.emplace_back("1e-30", constant(frames, 1e-30));
    }

    std::vector<std::vector<float>> settings;
    for (int corner = 0, corners = ctx.scaled(16, 4); corner < corners; ++corner) {
        std::vector<float> s = randomSettings(ctx, 64);
        for (int bit = 0; bit < 4; ++bit)
            s[static_cast<size_t>(bit)] = (corner >> bit) & 1 ? 1.0f : 0.0f;
        settings.push_back(s);
    }
    for (int i = 0, n = ctx.scaled(16, 2); i < n; ++i)
        settings.push_back(randomSettings(ctx, 64));

    std::string problem;
    double loudest = 0.0;
    int runs = 0;
    for (const auto& s : settings) {
        for (const auto& [signalName, signal] : signals) {
            for (Precision precision : {Precision::Single, Precision::Double}) {
                auto h = ctx.started(48000.0, 512);
                if (precision == Precision::Double && !h->capabilities().doublePrecision) continue;
                setAll(*h, s);
                RunOptions run;
                run.precision = precision;
                const Stereo out = runThrough(*h, signal, run);
                ++runs;
                const size_t bad = firstNonFinite(out);
                if (bad < out.frames() && problem.empty()) {
                    problem =
                        format("%s-bit, input %s, settings %.2f %.2f %.2f %.2f: %g at frame %zu",
                               bits(*h, precision), signalName, static_cast<double>(s[0]),
                               static_cast<double>(s[1]), static_cast<double>(s[2]),
                               static_cast<double>(s[3]), out.left[bad] + out.right[bad], bad);
                }
                if (bad == out.frames()) loudest = std::max(loudest, peakOf(out));
            }
        }
    }
    ctx.report().check(
        problem.empty(), name,
        problem.empty() ? format("%d runs, all finite, peak %.3g", runs, loudest) : problem);
}

void silenceDecay(Context& ctx) {
    // The plug-in's own default settings: a user who stops the transport
    // with them expects silence (a setting such as an endless hold or
    // feedback of 1 may ring on by design).
    auto h = ctx.started(44100.0, 512);
    runThrough(*h, noise(ctx, 22050, 1.0), RunOptions{});
    const double limit = std::pow(10.0, -200.0 / 20.0);
    const int maxBlocks = 44100 * 10 / 512;
    const Stereo silence = constant(512, 0.0);
    int quietFrom = -1;
    double last = 0.0;
    for (int block = 0; block < maxBlocks; ++block) {
        last = peakOf(runThrough(*h, silence, RunOptions{}));
        if (last < limit) {
            if (quietFrom < 0) quietFrom = block;
        } else {
            quietFrom = -1;
        }
        // Quiet for a whole second: it stays quiet.
        if (quietFrom >= 0 && block - quietFrom >= 44100 / 512) break;
    }
    const bool ok = quietFrom >= 0 && last < limit;
    ctx.report().check(ok, "processing.silence-decays",
                       ok ? format("below -200 dBFS %.2f s after the input stops (then %.0f dBFS)",
                                   quietFrom * 512.0 / 44100.0, toDb(last))
                          : format("still %.1f dBFS after 10 s of silence", toDb(last)));
}

// At the plug-in's default settings two fresh instances render the same
// input the same. (Settings may switch on dither or random modulation by
// design; the defaults of a mixing tool should not.)
void deterministic(Context& ctx) {
    const size_t frames = static_cast<size_t>(ctx.scaled(96000, 9600));
    const Stereo in = noise(ctx, frames, 1.0);
    Stereo outs[2];
    for (Stereo& out : outs) {
        auto h = ctx.started(48000.0, 1024);
        RunOptions run;
        run.precision = Precision::Alternate;
        run.blocks = {1024, 333, 2048};
        out = runThrough(*h, in, run);
    }
    ctx.report().check(bitIdentical(outs[0], outs[1]), "processing.deterministic",
                       format("two fresh instances at default settings, %zu frames: largest "
                              "difference %.3g",
                              frames, maxDifference(outs[0], outs[1])));
}

// One non-finite sample from upstream (a broken plug-in before us, a bad
// file) must not silence the track for good: once the input is finite
// again, the output has to become finite again.
void recoversAfterNonFinite(Context& ctx) {
    std::string problem;
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
    for (double value : bad) {
        for (Precision precision : {Precision::Single, Precision::Double}) {
            auto h = ctx.started(48000.0, 512);
            RunOptions run;
            run.precision = precision;
            Stereo poisoned = noise(ctx, 512, 0.5);
            poisoned.left[100] = value;
            poisoned.right[300] = value;
            runThrough(*h, poisoned, run);
            // A second of clean input; only its last half must be finite, so
            // a plug-in may take a moment to recover.
            const Stereo out = runThrough(*h, noise(ctx, 48000, 0.5), run);
            Stereo tail(24000);
            std::copy(out.left.begin() + 24000, out.left.end(), tail.left.begin());
            std::copy(out.right.begin() + 24000, out.right.end(), tail.right.begin());
            if (firstNonFinite(tail) < tail.frames() && problem.empty()) {
                problem = format(
                    "%s-bit: after one block with %g in it, finite input still gives "
                    "non-finite output a second later",
                    bits(*h, precision), value);
            }
        }
    }
    ctx.report().check(problem.empty(), "processing.recovers-after-non-finite-input",
                       problem.empty() ? "NaN, +inf, -inf: finite again within a second" : problem);
}

// Rates real audio interfaces run at, beyond those of rates-and-blocks.
void unusualSampleRates(Context& ctx) {
    std::string problem;
    int refused = 0;
    for (double rate : {8000.0, 11025.0, 16000.0, 352800.0, 384000.0, 768000.0}) {
        std::string error;
        auto h = ctx.load(error);
        if (!h) throw std::runtime_error(error);
        // A format that lets a plug-in refuse a rate (CLAP's activate) is
        // answered well by a refusal: the host says so.
        if (!h->start(rate, 512)) {
            ++refused;
            continue;
        }
        const Stereo out = runThrough(*h, noise(ctx, 8192, 1.0), RunOptions{});
        if (firstNonFinite(out) < out.frames() && problem.empty())
            problem = format("at %g Hz the output is not finite", rate);
    }
    ctx.report().check(problem.empty(), "processing.unusual-sample-rates",
                       problem.empty()
                           ? format("8 kHz to 768 kHz: output finite (%d refused)", refused)
                           : problem);
}

// Sample rates no host should send but a broken one might (a device that
// reports 0, a rate in kHz): the plug-in must survive them, and once the
// host sends a real rate again, work again.
void absurdSampleRates(Context& ctx) {
    std::string problem;
    int refused = 0;
    for (double rate : {1.0, 8.0, 20.0, 29.0, 100.0}) {
        std::string error;
        auto h = ctx.load(error);
        if (!h) throw std::runtime_error(error);
        // Refusing such a rate is a good answer (where the format has one).
        if (h->start(rate, 512))
            runThrough(*h, noise(ctx, 2048, 1.0), RunOptions{});
        else
            ++refused;
        h->stop();
        if (!h->start(48000.0, 512)) {
            if (problem.empty()) problem = format("after %g Hz, 48 kHz is refused", rate);
            continue;
        }
        const Stereo out = runThrough(*h, noise(ctx, 8192, 0.5), RunOptions{});
        if (firstNonFinite(out) < out.frames() && problem.empty()) {
            problem = format("after %g Hz and then 48 kHz the output is not finite", rate);
        }
    }
    ctx.report().check(problem.empty(), "processing.absurd-sample-rates",
                       problem.empty() ? format("1 to 100 Hz survived (%d refused), finite again "
                                                "at 48 kHz",
                                                refused)
                                       : problem);
}

}  // namespace

std::vector<Check> processingChecks() {
    const char* noise = "noise, clicks or dropouts in the rendered audio";
    return {
        {"processing.rates-and-blocks", Tier::EveryHost,
         "garbage, NaN or stale samples at a common rate or block size", ratesAndBlocks},
        {"processing.varying-block-sizes", Tier::EveryHost,
         "the sound changes with the host's buffer size or with automation splitting blocks",
         varyingBlocks},
        {"processing.zero-frame-calls", Tier::EveryHost, noise, zeroFrameCalls},
        {"processing.in-place", Tier::EveryHost,
         "wrong audio in hosts that process in place (the same buffers for in and out)", inPlace},
        {"processing.finite-output", Tier::EveryHost,
         "NaN or infinite samples that silence or blow up the whole mix bus",
         [](Context& c) { finiteOutput(c, false); }},
        {"processing.silence-decays", Tier::EveryHost,
         "sound or denormal CPU load that never stops after the input does", silenceDecay},
        {"processing.precision-alternation", Tier::Demanding,
         "a host switching between 32- and 64-bit calls gets clicks or wrong audio",
         precisionAlternation},
        {"processing.deterministic", Tier::Demanding,
         "two renders of the same session differ (bounce and null tests fail)", deterministic},
        {"processing.unusual-sample-rates", Tier::Demanding,
         "NaN output on 8 kHz telephone or 384 kHz interfaces", unusualSampleRates},
        {"processing.extreme-input", Tier::Hostile,
         "one broken plug-in upstream (+120 dBFS) turns this one's output into NaN",
         [](Context& c) { finiteOutput(c, true); }},
        {"processing.recovers-after-non-finite-input", Tier::Hostile,
         "one NaN from upstream silences the track until the plug-in is reloaded",
         recoversAfterNonFinite},
        {"processing.absurd-sample-rates", Tier::Hostile,
         "a misreported device rate crashes or freezes the host, or leaves the plug-in broken "
         "until reloaded",
         absurdSampleRates, true},
    };
}

}  // namespace kv::validate
