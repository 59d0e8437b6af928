// Processing: every rate and block size hosts use, the buffer and precision
// variations they are allowed, hostile but finite input, and the promises a
// mix engineer relies on (silence stays silent, the same input renders the
// same output).
#include <cmath>
#include <limits>

#include "host/validate/signal.h"
#include "host/validate/validator.h"

namespace kv::validate {

namespace {

constexpr float kRates[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
constexpr int32_t kBlocks[] = {1, 32, 64, 512, 1024, 4096};
constexpr double kUnwritten = -12345.0;  // the value runThrough puts into output buffers

bool anyUnwritten(const Stereo& s) {
    for (size_t i = 0; i < s.frames(); ++i) {
        if (s.left[i] == kUnwritten || s.right[i] == kUnwritten) return true;
    }
    return false;
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
    for (float rate : kRates) {
        for (int32_t block : kBlocks) {
            auto h = ctx.started(rate, block);
            setAll(*h, randomSettings(ctx, h->numParams()));
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
    const std::vector<float> settings = randomSettings(ctx, 64);
    const size_t frames = static_cast<size_t>(ctx.scaled(96000, 20000));
    const Stereo in = noise(ctx, frames, 0.8);
    RunOptions varying;
    varying.precision = Precision::Double;
    varying.blocks.clear();
    for (int i = 0; i < 64; ++i)
        varying.blocks.push_back(1 + static_cast<int32_t>(ctx.uniform() * 3000));
    RunOptions fixed;
    fixed.precision = Precision::Double;
    auto a = ctx.started(48000.0f, 4096);
    auto b = ctx.started(48000.0f, 4096);
    setAll(*a, settings);
    setAll(*b, settings);
    const Stereo outVarying = runThrough(*a, in, varying);
    const Stereo outFixed = runThrough(*b, in, fixed);
    // Block boundaries may move tiny per-call offsets, nothing audible.
    const double diff = maxDifference(outVarying, outFixed);
    ctx.report().check(diff <= 1e-9, "processing.varying-block-sizes",
                       format("64 random sizes vs blocks of 512: largest difference %.3g", diff));

    // Zero-frame calls between the blocks, and zero-frame calls on their
    // own must leave the buffers alone.
    auto c = ctx.started(48000.0f, 4096);
    setAll(*c, settings);
    RunOptions withZero = fixed;
    withZero.zeroFrameCalls = true;
    const Stereo outZero = runThrough(*c, in, withZero);
    const double zeroDiff = maxDifference(outZero, outFixed);
    float f[2] = {0.25f, -0.25f};
    double d[2] = {0.5, -0.5};
    float* fin[2] = {&f[0], &f[1]};
    double* din[2] = {&d[0], &d[1]};
    c->processReplacing(fin, fin, 0);
    c->processDoubleReplacing(din, din, 0);
    const bool untouched = f[0] == 0.25f && f[1] == -0.25f && d[0] == 0.5 && d[1] == -0.5;
    ctx.report().check(zeroDiff <= 1e-9 && untouched, "processing.zero-frame-calls",
                       untouched
                           ? format("difference with 0-frame calls between blocks %.3g", zeroDiff)
                           : "a 0-frame call wrote into the buffers");
}

void inPlace(Context& ctx) {
    const std::vector<float> settings = randomSettings(ctx, 64);
    const size_t frames = static_cast<size_t>(ctx.scaled(48000, 8000));
    const Stereo in = noise(ctx, frames, 1.0);
    std::string problem;
    for (Precision precision : {Precision::Single, Precision::Double}) {
        auto a = ctx.started(44100.0f, 512);
        auto b = ctx.started(44100.0f, 512);
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
    ctx.report().check(
        problem.empty(), "processing.in-place",
        problem.empty() ? format("32 and 64 bit, %zu frames bit-identical", frames) : problem);
}

void precisionAlternation(Context& ctx) {
    const std::vector<float> settings = randomSettings(ctx, 64);
    const size_t frames = static_cast<size_t>(ctx.scaled(48000, 8000));
    const Stereo in = noise(ctx, frames, 1.0);
    auto a = ctx.started(44100.0f, 512);
    auto b = ctx.started(44100.0f, 512);
    setAll(*a, settings);
    setAll(*b, settings);
    RunOptions alternate;
    alternate.precision = Precision::Alternate;
    alternate.blocks = {256, 511, 1};
    RunOptions all64 = alternate;
    all64.precision = Precision::Double;
    const Stereo mixed = runThrough(*a, in, alternate);
    const Stereo reference = runThrough(*b, in, all64);
    const double diff = relativeDifference(mixed, reference);
    // Float rounding of the 32-bit outputs is 6e-8 relative; state shared
    // wrongly between the two paths shows as far more.
    ctx.report().check(
        diff <= 1e-6, "processing.precision-alternation",
        format("32/64-bit alternating vs all 64-bit: largest relative difference %.3g", diff));
}

// The four-parameter corners (each at 0 or 1) and random settings, against
// signals that break naive models: huge, denormal, constant, alternating.
void finiteOutput(Context& ctx) {
    const size_t frames = static_cast<size_t>(ctx.scaled(8192, 1024));
    std::vector<std::pair<const char*, Stereo>> signals;
    signals.emplace_back("noise", noise(ctx, frames, 1.0));
    signals.emplace_back("+1e6", constant(frames, 1e6));
    signals.emplace_back("-1e6", constant(frames, -1e6));
    signals.emplace_back("square 1e6", square(frames, 1e6));
    Stereo alternating(frames);
    for (size_t i = 0; i < frames; ++i) {
        alternating.left[i] = i % 2 ? 1e6 : -1e6;
        alternating.right[i] = i % 2 ? -1e6 : 1e6;
    }
    signals.emplace_back("alternating 1e6", alternating);
    signals.emplace_back("float denormal", constant(frames, 1.4e-45));
    signals.emplace_back("double denormal", constant(frames, 4.9e-324));
    signals.emplace_back("silence", constant(frames, 0.0));
    signals.emplace_back("1e-30", constant(frames, 1e-30));

    std::vector<std::vector<float>> settings;
    for (int corner = 0; corner < 16; ++corner) {
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
        for (const auto& [name, signal] : signals) {
            for (Precision precision : {Precision::Single, Precision::Double}) {
                auto h = ctx.started(48000.0f, 512);
                setAll(*h, s);
                RunOptions run;
                run.precision = precision;
                const Stereo out = runThrough(*h, signal, run);
                ++runs;
                const size_t bad = firstNonFinite(out);
                if (bad < out.frames() && problem.empty()) {
                    problem =
                        format("%s-bit, input %s, settings %.2f %.2f %.2f %.2f: %g at frame %zu",
                               precision == Precision::Single ? "32" : "64", name,
                               static_cast<double>(s[0]), static_cast<double>(s[1]),
                               static_cast<double>(s[2]), static_cast<double>(s[3]),
                               out.left[bad] + out.right[bad], bad);
                }
                if (bad == out.frames()) loudest = std::max(loudest, peakOf(out));
            }
        }
    }
    ctx.report().check(
        problem.empty(), "processing.finite-output",
        problem.empty() ? format("%d runs, all finite, peak %.3g", runs, loudest) : problem);
}

void silenceDecay(Context& ctx) {
    auto h = ctx.started(44100.0f, 512);
    setAll(*h, std::vector<float>(64, 1.0f));
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

void deterministic(Context& ctx) {
    const size_t frames = static_cast<size_t>(ctx.scaled(96000, 9600));
    const Stereo in = noise(ctx, frames, 1.0);
    std::vector<std::vector<float>> changes;
    for (size_t at = 0; at < frames; at += 2048)
        changes.push_back(randomSettings(ctx, 64));
    Stereo outs[2];
    for (Stereo& out : outs) {
        auto h = ctx.started(48000.0f, 1024);
        out = Stereo(frames);
        for (size_t at = 0, k = 0; at < frames; at += 2048, ++k) {
            setAll(*h, changes[k]);
            const size_t len = std::min<size_t>(2048, frames - at);
            Stereo block(len);
            std::copy_n(in.left.begin() + at, len, block.left.begin());
            std::copy_n(in.right.begin() + at, len, block.right.begin());
            RunOptions run;
            run.precision = k % 3 == 0 ? Precision::Double : Precision::Single;
            const Stereo r = runThrough(*h, block, run);
            std::copy(r.left.begin(), r.left.end(), out.left.begin() + at);
            std::copy(r.right.begin(), r.right.end(), out.right.begin() + at);
        }
    }
    ctx.report().check(bitIdentical(outs[0], outs[1]), "processing.deterministic",
                       format("two fresh instances, %zu frames with %zu parameter changes: "
                              "largest difference %.3g",
                              frames, changes.size(), maxDifference(outs[0], outs[1])));
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
            auto h = ctx.started(48000.0f, 512);
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
                    precision == Precision::Single ? "32" : "64", value);
            }
        }
    }
    ctx.report().check(problem.empty(), "processing.recovers-after-non-finite-input",
                       problem.empty() ? "NaN, +inf, -inf: finite again within a second" : problem);
}

// Sample rates no host should send but a broken one might: whatever the
// filter does with them, the output has to stay finite and bounded.
void oddSampleRates(Context& ctx) {
    std::string problem;
    for (float rate : {1.0f, 8.0f, 20.0f, 25.0f, 29.0f, 100.0f, 1000.0f, 8000.0f, 768000.0f}) {
        auto h = ctx.started(rate, 512);
        const Stereo out = runThrough(*h, noise(ctx, 8192, 1.0), RunOptions{});
        const double peak = peakOf(out);
        // The largest gain the controls allow at unit input is about +66 dB.
        if ((firstNonFinite(out) < out.frames() || peak > 1e5) && problem.empty()) {
            problem = format("at %g Hz the output reaches %g within 8192 samples",
                             static_cast<double>(rate), peak);
        }
    }
    ctx.report().check(problem.empty(), "processing.odd-sample-rates",
                       problem.empty() ? "1 Hz to 768 kHz: output finite and bounded" : problem);
}

}  // namespace

void checkProcessing(Context& ctx) {
    ratesAndBlocks(ctx);
    varyingBlocks(ctx);
    inPlace(ctx);
    precisionAlternation(ctx);
    finiteOutput(ctx);
    silenceDecay(ctx);
    deterministic(ctx);
    recoversAfterNonFinite(ctx);
    oddSampleRates(ctx);
}

}  // namespace kv::validate
