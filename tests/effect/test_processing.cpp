// The sound: each expectation is computed here from the model's formulas,
// not read back from the kernel.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <vector>

#include "vst2/brackenlume_opamp.h"

namespace {

std::vector<double> noise(size_t n, unsigned seed, double amplitude = 1.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    std::vector<double> v(n);
    for (double& x : v)
        x = dist(rng);
    return v;
}

struct Stereo {
    std::vector<double> l, r;
};

Stereo runDouble(BrackenlumeOpamp& fx, std::vector<double> l, std::vector<double> r) {
    Stereo out{std::vector<double>(l.size()), std::vector<double>(r.size())};
    double* in[2] = {l.data(), r.data()};
    double* o[2] = {out.l.data(), out.r.data()};
    fx.processDoubleReplacing(in, o, static_cast<int32_t>(l.size()));
    return out;
}

struct StereoF {
    std::vector<float> l, r;
};

StereoF runFloat(BrackenlumeOpamp& fx, std::vector<float> l, std::vector<float> r) {
    StereoF out{std::vector<float>(l.size()), std::vector<float>(r.size())};
    float* in[2] = {l.data(), r.data()};
    float* o[2] = {out.l.data(), out.r.data()};
    fx.processReplacing(in, o, static_cast<int32_t>(l.size()));
    return out;
}

std::vector<float> toFloat(const std::vector<double>& v) {
    return std::vector<float>(v.begin(), v.end());
}
std::vector<double> widen(const std::vector<float>& v) {
    return std::vector<double>(v.begin(), v.end());
}

TEST(HighPass, CoefficientsAtCommonRates) {
    BrackenlumeOpamp fx(nullptr);
    // Before any rate: a pass-through filter although the rate reads 44100.
    EXPECT_EQ(fx.processorState().hpLeft.b0, 1.0);
    EXPECT_EQ(fx.processorState().hpLeft.a1, 0.0);
    fx.setSampleRate(44100.0f);
    const auto& s = fx.processorState();
    EXPECT_NEAR(s.hpLeft.a1, -0.9978651425701792, 1e-16);
    EXPECT_NEAR(s.hpLeft.b0, 0.9989325712850896, 1e-16);
    EXPECT_EQ(s.hpLeft.b1, -s.hpLeft.b0);
    EXPECT_EQ(s.hpRight.a1, s.hpLeft.a1);
    EXPECT_EQ(s.hpRight.b0, s.hpLeft.b0);
    AEffect* e = fx.getAeffect();
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_NEAR(s.hpLeft.a1, -0.9980384297284114, 1e-16);
    EXPECT_NEAR(s.hpLeft.b0, 0.9990192148642056, 1e-16);
    EXPECT_NEAR(s.hpRight.b1, -0.9990192148642056, 1e-16);
    // A rate of 0 would divide by zero, and at 30 Hz or less the cut-off is
    // not below Nyquist (the filter would blow up): the filter stays as it was.
    // Nor would an infinite rate leave a filter that passes anything but NaN.
    for (float bad : {0.0f, -44100.0f, 30.0f, 20.0f, 1.0f, std::nanf(""), HUGE_VALF, -HUGE_VALF}) {
        fx.setSampleRate(bad);
        EXPECT_NEAR(s.hpLeft.a1, -0.9980384297284114, 1e-16) << bad;
    }
    // Just above that bound the filter is stable: |a1| < 1.
    fx.setSampleRate(31.0f);
    EXPECT_LT(std::fabs(s.hpLeft.a1), 1.0);
}

TEST(Processing, OneNonFiniteInputSampleDoesNotSilenceTheNextBlocks) {
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        BrackenlumeOpamp fx(nullptr);
        fx.setSampleRate(48000.0f);
        auto l = noise(64, 5), r = noise(64, 6);
        l[10] = bad;
        r[63] = bad;  // the last sample: the saturator memory itself is bad
        runDouble(fx, l, r);
        // The next block is finite and in the model's range again (a unit
        // input through defaults stays well below 2 in magnitude).
        const Stereo out = runDouble(fx, noise(256, 7), noise(256, 8));
        for (size_t n = 0; n < out.l.size(); ++n) {
            ASSERT_TRUE(std::isfinite(out.l[n]) && std::fabs(out.l[n]) < 2.0) << bad << " at " << n;
            ASSERT_TRUE(std::isfinite(out.r[n]) && std::fabs(out.r[n]) < 2.0) << bad << " at " << n;
        }
    }
}

TEST(HighPass, RateChangeKeepsTheFilterMemory) {
    BrackenlumeOpamp fx(nullptr);
    fx.setSampleRate(44100.0f);
    runDouble(fx, noise(64, 1), noise(64, 2));
    const auto before = fx.processorState();
    fx.setSampleRate(96000.0f);
    fx.suspend();
    fx.resume();
    EXPECT_EQ(fx.processorState().hpLeft.x1, before.hpLeft.x1);
    EXPECT_EQ(fx.processorState().hpRight.y1, before.hpRight.y1);
    EXPECT_EQ(fx.processorState().saturated[0], before.saturated[0]);
}

TEST(Processing, DefaultsBlendThePreviousSaturatedSampleWithTheCleanOne) {
    BrackenlumeOpamp fx(nullptr);
    const auto l = noise(256, 3, 0.9), r = noise(256, 4, 0.9);
    const Stereo out = runDouble(fx, l, r);
    const double bias = -1e-15;  // flipped once by the first call
    for (size_t n = 0; n < l.size(); ++n) {
        const double prevL = n == 0 ? 0.0 : std::erf(l[n - 1] + bias);
        const double prevR = n == 0 ? 0.0 : std::erf(r[n - 1] + bias);
        EXPECT_NEAR(out.l[n], 0.1375 * prevL + 0.8625 * l[n], 1e-14) << n;
        EXPECT_NEAR(out.r[n], 0.1375 * prevR + 0.8625 * r[n], 1e-14) << n;
    }
    // The very first sample has no saturated part.
    EXPECT_NEAR(out.l[0], 0.8625 * l[0], 1e-15);
}

TEST(Processing, ConstantInputDecaysAfterARateIsSet) {
    BrackenlumeOpamp fx(nullptr);
    fx.setSampleRate(44100.0f);
    const std::vector<double> dc(44100, 0.5);
    const Stereo out = runDouble(fx, dc, dc);
    EXPECT_GT(out.l[0], 0.4);
    EXPECT_LT(std::fabs(out.l.back()), 1e-6);
    EXPECT_LT(std::fabs(out.r.back()), 1e-6);
    // And without a rate the DC passes.
    BrackenlumeOpamp raw(nullptr);
    const Stereo passed = runDouble(raw, dc, dc);
    EXPECT_GT(passed.l.back(), 0.4);
}

// Gain 0: no saturation reaches the output, the clean signal is scaled by
// -8 dB, the pads and the volume.
double cleanFactor(double pad1, double pad2, double volume) {
    double h = 1.0;
    if (pad1 > 0.5) h *= std::pow(10.0, 10.0 / 20.0);
    if (pad2 > 0.5) h *= std::pow(10.0, -10.0 / 20.0);
    return h * std::pow(10.0, -8.0 / 20.0) * std::pow(10.0, (64.0 * volume - 32.0) / 20.0);
}

TEST(Processing, PadsSwitchAboveOneHalfAndGainZeroIsClean) {
    struct Case {
        float pad1, pad2, volume;
    };
    const Case cases[] = {{0.0f, 0.0f, 0.5f},     {0.5f, 0.0f, 0.5f}, {0.50001f, 0.0f, 0.5f},
                          {0.0f, 0.50001f, 0.5f}, {1.0f, 1.0f, 0.5f}, {0.0f, 0.0f, 1.0f},
                          {0.0f, 0.0f, 0.0f},     {0.0f, 0.5f, 0.75f}};
    const auto l = noise(64, 5, 0.5), r = noise(64, 6, 0.5);
    for (const Case& c : cases) {
        BrackenlumeOpamp fx(nullptr);
        fx.setParameter(0, 0.0f);
        fx.setParameter(1, c.pad1);
        fx.setParameter(2, c.pad2);
        fx.setParameter(3, c.volume);
        const Stereo out = runDouble(fx, l, r);
        const double k = cleanFactor(c.pad1, c.pad2, c.volume);
        for (size_t n = 0; n < l.size(); ++n) {
            EXPECT_NEAR(out.l[n], l[n] * k, 1e-12 * std::fabs(k) + 1e-300)
                << c.pad1 << " " << c.pad2 << " " << n;
            EXPECT_NEAR(out.r[n], r[n] * k, 1e-12 * std::fabs(k) + 1e-300);
        }
    }
    // The boost factor itself, to the digit.
    BrackenlumeOpamp fx(nullptr);
    EXPECT_EQ(fx.processorState().boostGain, 3.162277660168379);
    EXPECT_NEAR(fx.processorState().padGain, 0.316227766016838, 1e-15);
}

TEST(Processing, GainDrivesTheSaturatorAtItsTop) {
    BrackenlumeOpamp fx(nullptr);
    fx.setParameter(0, 1.0f);  // +24 dB, blend 0.55
    const auto l = noise(32, 7, 0.3), r = noise(32, 8, 0.3);
    const Stereo out = runDouble(fx, l, r);
    const double e = std::pow(10.0, 24.0 / 20.0);
    for (size_t n = 1; n < l.size(); ++n) {
        const double expected = 0.55 * e * std::erf(l[n - 1] - 1e-15) + 0.45 * e * l[n];
        EXPECT_NEAR(out.l[n], expected, 1e-12) << n;
    }
}

TEST(Processing, SinglePrecisionMatchesDoubleAndSharesTheState) {
    const auto l = toFloat(noise(512, 9, 0.8)), r = toFloat(noise(512, 10, 0.8));
    BrackenlumeOpamp single(nullptr), twin(nullptr), mixed(nullptr), reference(nullptr);
    for (BrackenlumeOpamp* fx : {&single, &twin, &mixed, &reference}) {
        fx->setSampleRate(48000.0f);
        fx->setParameter(0, 0.6f);
        fx->setParameter(1, 1.0f);
    }
    const StereoF f = runFloat(single, l, r);
    const Stereo d = runDouble(twin, widen(l), widen(r));
    for (size_t n = 0; n < l.size(); ++n) {
        EXPECT_EQ(f.l[n], static_cast<float>(d.l[n])) << n;
        EXPECT_EQ(f.r[n], static_cast<float>(d.r[n])) << n;
    }
    // Alternating blocks of both precisions run one model: the same as a
    // reference fed the same blocks in double precision.
    for (size_t start = 0; start < l.size(); start += 64) {
        const std::vector<float> bl(l.begin() + start, l.begin() + start + 64);
        const std::vector<float> br(r.begin() + start, r.begin() + start + 64);
        const Stereo ref = runDouble(reference, widen(bl), widen(br));
        if ((start / 64) % 2 == 0) {
            const StereoF part = runFloat(mixed, bl, br);
            for (size_t i = 0; i < 64; ++i) {
                EXPECT_EQ(part.l[i], static_cast<float>(ref.l[i])) << start + i;
                EXPECT_EQ(part.r[i], static_cast<float>(ref.r[i])) << start + i;
            }
        } else {
            const Stereo part = runDouble(mixed, widen(bl), widen(br));
            EXPECT_EQ(part.l, ref.l) << start;
            EXPECT_EQ(part.r, ref.r) << start;
        }
    }
}

TEST(Processing, ZeroFramesOnlyFlipsTheBias) {
    BrackenlumeOpamp fx(nullptr);
    fx.setSampleRate(44100.0f);
    runDouble(fx, noise(16, 11), noise(16, 12));
    const kv::opamp::State before = fx.processorState();
    double* none[2] = {nullptr, nullptr};
    fx.processDoubleReplacing(none, none, 0);
    float* noneF[2] = {nullptr, nullptr};
    fx.processReplacing(noneF, noneF, -5);
    fx.processDoubleReplacing(none, none, 0);
    const kv::opamp::State& after = fx.processorState();
    EXPECT_EQ(after.bias, -before.bias);
    EXPECT_EQ(after.saturated[0], before.saturated[0]);
    EXPECT_EQ(after.saturated[1], before.saturated[1]);
    EXPECT_EQ(after.hpLeft.x1, before.hpLeft.x1);
    EXPECT_EQ(after.hpLeft.y1, before.hpLeft.y1);
    EXPECT_EQ(after.hpRight.y1, before.hpRight.y1);
}

TEST(Processing, InPlaceBuffersGiveTheSameOutput) {
    BrackenlumeOpamp apart(nullptr), inPlace(nullptr);
    const auto l = noise(300, 13), r = noise(300, 14);
    const Stereo expected = runDouble(apart, l, r);
    std::vector<double> bl = l, br = r;
    double* io[2] = {bl.data(), br.data()};
    inPlace.processDoubleReplacing(io, io, 300);
    EXPECT_EQ(bl, expected.l);
    EXPECT_EQ(br, expected.r);
    // Swapped channels in place: left output written over the right input.
    BrackenlumeOpamp crossed(nullptr), straight(nullptr);
    std::vector<double> a = l, b = r;
    double* in[2] = {a.data(), b.data()};
    double* out[2] = {b.data(), a.data()};
    crossed.processDoubleReplacing(in, out, 300);
    const Stereo s = runDouble(straight, l, r);
    EXPECT_EQ(b, s.l);
    EXPECT_EQ(a, s.r);
}

TEST(Processing, MonoSilencesTheRightInputAndMetersTheLeft) {
    BrackenlumeOpamp mono(nullptr), stereo(nullptr);
    VstSpeakerArrangement one{};
    one.numChannels = 1;
    ASSERT_TRUE(mono.setSpeakerArrangement(&one, &one));
    mono.setSampleRate(44100.0f);
    stereo.setSampleRate(44100.0f);
    std::atomic<double> peak{0.0};
    mono.publishPeak(&peak);
    const auto l = noise(128, 15), r = noise(128, 16);
    const Stereo m = runDouble(mono, l, r);
    const Stereo s = runDouble(stereo, l, std::vector<double>(128, 0.0));
    EXPECT_EQ(m.l, s.l);
    EXPECT_EQ(m.r, s.r);
    double loudest = 0.0;
    for (double v : m.l)
        loudest = std::max(loudest, std::fabs(v));
    EXPECT_EQ(peak.load(), loudest);
    mono.withdrawPeak();
}

TEST(Meter, RaisesThePublishedPeakOnlyWhileItIsPublished) {
    BrackenlumeOpamp fx(nullptr);
    fx.setParameter(3, 0.75f);  // +16 dB
    std::atomic<double> peak{0.0};
    const auto l = noise(256, 17), r = noise(256, 18);
    runDouble(fx, l, r);
    EXPECT_EQ(peak.load(), 0.0);

    fx.publishPeak(&peak);
    const Stereo out = runDouble(fx, l, r);
    double loudest = 0.0;
    for (size_t n = 0; n < l.size(); ++n) {
        loudest = std::max(loudest, (std::fabs(out.l[n]) + std::fabs(out.r[n])) * 0.5);
    }
    EXPECT_GT(loudest, 1.0);
    EXPECT_EQ(peak.load(), loudest);

    // A higher held value is not lowered.
    peak.store(1e9);
    runDouble(fx, l, r);
    EXPECT_EQ(peak.load(), 1e9);

    // From float buffers the meter uses the unrounded values.
    peak.store(0.0);
    BrackenlumeOpamp twin(nullptr);
    twin.setParameter(3, 0.75f);
    fx.withdrawPeak();
    BrackenlumeOpamp single(nullptr);
    single.setParameter(3, 0.75f);
    single.publishPeak(&peak);
    const Stereo d = runDouble(twin, widen(toFloat(l)), widen(toFloat(r)));
    runFloat(single, toFloat(l), toFloat(r));
    double expected = 0.0;
    for (size_t n = 0; n < l.size(); ++n) {
        expected = std::max(expected, (std::fabs(d.l[n]) + std::fabs(d.r[n])) * 0.5);
    }
    EXPECT_EQ(peak.load(), expected);
    single.withdrawPeak();

    // Withdrawn: no more writes.
    peak.store(0.0);
    runDouble(fx, l, r);
    runFloat(single, toFloat(l), toFloat(r));
    EXPECT_EQ(peak.load(), 0.0);
}

}  // namespace
