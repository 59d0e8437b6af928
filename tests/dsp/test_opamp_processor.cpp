// The two qualities through the interface the formats call: Exact is the
// kernel bit for bit, Clean is the same sound late by exactly the latency it
// reports and without the folded tones, switching between them is quieter
// than a gain step, and nothing on the audio path allocates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "dsp/opamp_kernel.h"
#include "dsp/opamp_processor.h"
#include "host/validate/failing_new.h"
#include "tests/dsp/dsp_signals.h"

namespace {

using kv::opamp::Controls;
using kv::opamp::controlsFor;
using kv::opamp::OpampProcessor;
using kv::opamp::Quality;
using kv::opamp::test::render;
using kv::opamp::test::Setting;
using kv::opamp::test::sine;

constexpr double kRates[] = {8000, 22050, 44100, 48000, 88200, 96000, 192000, 384000};

Controls drive(const OpampProcessor& p, float gain, bool pad1 = true) {
    return controlsFor(p.state(), gain, pad1 ? 1.0f : 0.0f, 0.0f, 0.5f);
}

// One block through runBlock and through the interface, both metered by K:
// the two meter values.
template <typename T, kv::opamp::Meter K>
std::pair<double, double> bothRun(kv::opamp::State& s, OpampProcessor& p, const Controls& k,
                                  bool mono, const T* in[4], T* out[4], int32_t n) {
    return {kv::opamp::runBlock<T, K>(s, k, mono, in[0], in[1], out[0], out[1], n),
            p.run<T, K>(k, Quality::kExact, mono, in[2], in[3], out[2], out[3], n)};
}

// The same blocks through runBlock and through the interface in Exact:
// block sizes from 0 (null buffers) past the prepared largest, mono blocks,
// in-place blocks, every kind of meter and a control change every few
// blocks.
template <typename T>
void expectExactIsRunBlock() {
    constexpr int32_t kMax = 64;
    OpampProcessor p;
    ASSERT_TRUE(p.prepare(44100.0, kMax));
    kv::opamp::State reference;
    kv::opamp::setHighPass(reference, 44100.0f);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-1.5, 1.5);
    const int32_t sizes[] = {0, 1, kMax, 17, 3 * kMax + 5, 2, 0, 33};
    for (int b = 0; b < 40; ++b) {
        const int32_t n = sizes[b % 8];
        const bool mono = b % 5 == 3, inPlace = b % 3 == 1;
        const Controls k = controlsFor(reference, static_cast<float>((b / 4) % 5) * 0.25f,
                                       b % 7 < 3 ? 1.0f : 0.0f, b % 11 < 2 ? 1.0f : 0.0f, 0.6f);
        std::vector<T> inL(n), inR(n), aL(n), aR(n), bL(n), bR(n);
        for (int32_t i = 0; i < n; ++i) {
            inL[i] = static_cast<T>(dist(rng));
            inR[i] = static_cast<T>(dist(rng));
        }
        const auto at = [n](std::vector<T>& v) { return n ? v.data() : nullptr; };
        if (inPlace) {
            bL = inL;
            bR = inR;
        }
        const T* in[4] = {at(inL), at(inR), inPlace ? at(bL) : at(inL), inPlace ? at(bR) : at(inR)};
        T* out[4] = {at(aL), at(aR), at(bL), at(bR)};
        using kv::opamp::Meter;
        const auto [ma, mb] =
            b % 3 == 0   ? bothRun<T, Meter::kMean>(reference, p, k, mono, in, out, n)
            : b % 3 == 1 ? bothRun<T, Meter::kLargest>(reference, p, k, mono, in, out, n)
                         : bothRun<T, Meter::kNone>(reference, p, k, mono, in, out, n);
        ASSERT_EQ(ma, mb) << "block " << b;
        if (n == 0) continue;
        ASSERT_EQ(0, std::memcmp(aL.data(), bL.data(), sizeof(T) * n)) << "block " << b;
        ASSERT_EQ(0, std::memcmp(aR.data(), bR.data(), sizeof(T) * n)) << "block " << b;
    }
}

TEST(OpampProcessor, ExactIsTheKernelBitForBit) {
    expectExactIsRunBlock<float>();
    expectExactIsRunBlock<double>();
}

// A null test at every rate: Clean advanced by its reported latency cancels
// Exact (a sine of 1/400 of the rate, at full drive, Pad 1) to far below
// -60 dB; one sample either way does not. Also the bounds of prepare().
TEST(OpampProcessor, CleanIsExactLateByItsLatencyAtEveryRate) {
    for (const double rate : kRates) {
        OpampProcessor exact, clean;
        ASSERT_TRUE(exact.prepare(rate, 512));
        ASSERT_TRUE(clean.prepare(rate, 512));
        const int32_t latency = clean.latency(Quality::kClean);
        EXPECT_EQ(exact.latency(Quality::kExact), 0);
        if (rate < 300000.0) {
            EXPECT_GT(latency, 0) << rate;
        }
        const auto n = static_cast<size_t>(rate * 0.5);
        const std::vector<float> in = sine(rate / 400.0, rate, n);
        const Controls k = drive(exact, 1.0f);
        const auto e = render(exact, in, 512, [&](size_t) { return Setting{k, Quality::kExact}; });
        const auto c = render(clean, in, 512, [&](size_t) { return Setting{k, Quality::kClean}; });
        const size_t from = n / 2, to = n - 2;
        const auto lag = static_cast<size_t>(latency);
        EXPECT_LT(kv::opamp::test::errorDb(e, c, lag, from, to - lag), -100.0) << rate;
        EXPECT_GT(kv::opamp::test::errorDb(e, c, lag + 1, from, to - lag), -50.0) << rate;
        if (lag > 0) {
            EXPECT_GT(kv::opamp::test::errorDb(e, c, lag - 1, from, to - lag), -50.0) << rate;
        }
    }
    OpampProcessor p;
    EXPECT_FALSE(p.prepare(std::nan(""), 64));
    EXPECT_FALSE(p.prepare(30.0, 64));
    EXPECT_TRUE(p.prepare(31.0, 64));
}

// 5 kHz at 48 kHz: its 5th harmonic (25 kHz) folds to 23 kHz in Exact, not
// in Clean. Its 3rd harmonic (15 kHz) is the drive's own and stays.
TEST(OpampProcessor, CleanRemovesTheFoldedTone) {
    const double rate = 48000.0;
    const std::vector<float> in = sine(5000.0, rate, 72000);
    double folded[2], third[2];
    for (const Quality q : {Quality::kExact, Quality::kClean}) {
        OpampProcessor p;
        ASSERT_TRUE(p.prepare(rate, 256));
        const Controls k = drive(p, 1.0f);
        const auto out = render(p, in, 256, [&](size_t) { return Setting{k, q}; });
        const double fundamental = kv::opamp::test::toneDb(out, 5000.0, rate, 24000, 48000);
        folded[static_cast<int>(q)] =
            kv::opamp::test::toneDb(out, 23000.0, rate, 24000, 48000) - fundamental;
        third[static_cast<int>(q)] =
            kv::opamp::test::toneDb(out, 15000.0, rate, 24000, 48000) - fundamental;
    }
    EXPECT_GT(folded[0], -60.0);
    EXPECT_LT(folded[1], -110.0);
    EXPECT_NEAR(third[0], third[1], 0.01);
}

// Clean's output does not depend on how the host cuts the blocks (0, 1,
// odd lengths, the prepared largest and beyond), at an odd rate.
TEST(OpampProcessor, CleanDoesNotHearTheBlockSizes) {
    const double rate = 22050.0;
    const std::vector<float> in = sine(440.0, rate, 6000, 0.8);
    OpampProcessor whole, cut;
    ASSERT_TRUE(whole.prepare(rate, 100));
    ASSERT_TRUE(cut.prepare(rate, 100));
    const Controls k = drive(whole, 0.6f);
    const auto a = render(whole, in, 100, [&](size_t) { return Setting{k, Quality::kClean}; });
    std::vector<float> l(in.size()), r(in.size());
    const int32_t sizes[] = {1, 0, 7, 100, 0, 333, 64, 2};
    for (size_t done = 0, b = 0; done < in.size(); ++b) {
        const auto n = static_cast<int32_t>(std::min<size_t>(sizes[b % 8], in.size() - done));
        cut.run<float, false>(k, Quality::kClean, false, n ? in.data() + done : nullptr,
                              n ? in.data() + done : nullptr, n ? l.data() + done : nullptr,
                              n ? r.data() + done : nullptr, n);
        done += static_cast<size_t>(n);
    }
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_NEAR(a[i], l[i], 1e-6) << i;
}

// The switch both ways, and one turned round in the middle of its fade,
// against a gain step in Exact (0.25 to 0.3) of the same 100 Hz sine: what
// each leaves above 2 kHz. After the fade, the quality that took over
// sounds as if it had run all along (its memories were primed, not cold).
TEST(OpampProcessor, SwitchingIsQuieterThanAGainStep) {
    const double rate = 48000.0;
    // A quarter period past a zero crossing: a step there is a jump. Blocks
    // longer than the history Clean keeps of each, one of them ending there.
    const size_t n = 48000, at = 24120;
    const int32_t kBlock = 268;
    // Under the sine, a 20 Hz one: the high-pass's memory is far from rest.
    std::vector<float> in = sine(100.0, rate, n);
    const std::vector<float> low = sine(20.0, rate, n, 0.2);
    for (size_t i = 0; i < n; ++i)
        in[i] += low[i];
    const auto clickAround = [&](const std::vector<float>& out) {
        return kv::opamp::test::clickDb(out, 2000.0, rate, at - 2400, at + 2400);
    };
    OpampProcessor p;
    ASSERT_TRUE(p.prepare(rate, kBlock));
    const Controls before = drive(p, 0.25f, false), after = drive(p, 0.3f, false);
    const double step = clickAround(render(p, in, kBlock, [&](size_t i) {
        return Setting{i < at ? before : after, Quality::kExact};
    }));

    for (const Quality first : {Quality::kExact, Quality::kClean}) {
        const Quality second = first == Quality::kExact ? Quality::kClean : Quality::kExact;
        OpampProcessor s, alone;
        ASSERT_TRUE(s.prepare(rate, kBlock));
        ASSERT_TRUE(alone.prepare(rate, kBlock));
        const auto out = render(s, in, kBlock, [&](size_t i) {
            return Setting{before, i < at ? first : second};
        });
        EXPECT_LT(clickAround(out), step - 40.0);
        const auto ref = render(alone, in, kBlock, [&](size_t) { return Setting{before, second}; });
        // From the end of the fade (10 ms) on, the same samples.
        EXPECT_LT(kv::opamp::test::errorDb(ref, out, 0, at + 480, at + 4800), -60.0);
        // Turned round after 5 ms of the fade.
        OpampProcessor back;
        ASSERT_TRUE(back.prepare(rate, kBlock));
        const auto turned = render(back, in, kBlock, [&](size_t i) {
            return Setting{before, i >= at && i < at + kBlock ? second : first};
        });
        EXPECT_LT(clickAround(turned), step - 40.0);
    }
}

// Clean and a fade answer the block's largest meter value by the kernel's
// rule, the mean of |L| and |R| or the larger of them (in double nothing is
// rounded before it is taken).
TEST(OpampProcessor, MeterIsTheLargestMeanOfTheOutputs) {
    OpampProcessor p;
    ASSERT_TRUE(p.prepare(48000.0, 256));
    const Controls k = drive(p, 0.6f);
    std::vector<double> l(256), r(256), outL(256), outR(256);
    for (size_t i = 0; i < l.size(); ++i) {
        l[i] = std::sin(0.05 * static_cast<double>(i));
        r[i] = 0.3 * std::cos(0.07 * static_cast<double>(i));
    }
    for (const Quality q : {Quality::kExact, Quality::kClean, Quality::kClean, Quality::kExact}) {
        const double mean =
            p.run<double, true>(k, q, false, l.data(), r.data(), outL.data(), outR.data(), 256);
        double expected = 0.0;
        for (size_t i = 0; i < outL.size(); ++i)
            expected = std::max(expected, (std::fabs(outR[i]) + std::fabs(outL[i])) * 0.5);
        EXPECT_EQ(mean, expected);
        const double largest = p.run<double, kv::opamp::Meter::kLargest>(
            k, q, false, l.data(), r.data(), outL.data(), outR.data(), 256);
        expected = 0.0;
        for (size_t i = 0; i < outL.size(); ++i)
            expected = std::max({expected, std::fabs(outR[i]), std::fabs(outL[i])});
        EXPECT_EQ(largest, expected);
    }
}

// Every audio call in every state, with the allocator counting.
TEST(OpampProcessor, RunAllocatesNothing) {
    namespace fn = kv::validate::failing_new;
    OpampProcessor p;
    ASSERT_TRUE(p.prepare(48000.0, 128));
    const Controls k = drive(p, 0.6f);
    std::vector<float> f(1000, 0.25f), fo(1000);
    std::vector<double> d(1000, 0.25), dout(1000);
    fn::arm(0);
    const Quality order[] = {Quality::kExact, Quality::kClean, Quality::kClean, Quality::kExact,
                             Quality::kClean, Quality::kExact, Quality::kExact};
    for (const Quality q : order) {
        for (const int32_t n : {0, 1, 128, 1000}) {
            p.run<float, true>(k, q, n == 1, n ? f.data() : nullptr, n ? f.data() : nullptr,
                               n ? fo.data() : nullptr, n ? fo.data() : nullptr, n);
            p.run<double, false>(k, q, false, d.data(), d.data(), dout.data(), dout.data(), n);
        }
    }
    p.reset();
    p.run<float, false>(k, Quality::kClean, false, f.data(), f.data(), fo.data(), fo.data(), 5);
    EXPECT_EQ(fn::disarm(), 0);
}

}  // namespace
