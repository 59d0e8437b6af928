// The curve's vector loops: the approximation stays within its bound of the
// real error function everywhere (3e-7 of the formula, plus the rounding of
// floats), and the AVX2 set computes exactly what the SSE set does (where
// the processor has AVX2).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/fir.h"
#include "dsp/vector_loops.h"

namespace {

using kv::opamp::kGroup;
using kv::opamp::VectorLoops;

TEST(VectorLoops, CurveIsTheErrorFunctionWithin1e6) {
    std::vector<float> x, y;
    for (int i = -80000; i <= 80000; ++i)
        x.push_back(static_cast<float>(i) * 1e-4f);
    x.insert(x.end(), {1e-30f, -1e-30f, 100.0f, -1e30f, INFINITY, -INFINITY});
    x.resize(x.size() + kGroup, 0.0f);
    y.resize(x.size());
    const auto n = static_cast<int32_t>(x.size()) - kGroup;
    kv::opamp::sseLoops().erf(x.data(), y.data(), n, 0.0f);
    for (int32_t i = 0; i < n; ++i)
        ASSERT_NEAR(y[i], std::erf(static_cast<double>(x[i])), 1e-6) << x[i];
    // Small inputs keep their relative precision: the formula's slope at 0
    // (16 a1) is the real one within 1e-5.
    EXPECT_NEAR(y[n - 6] / 1e-30f, 2.0 / std::sqrt(std::numbers::pi), 2e-5);
}

TEST(VectorLoops, AvxComputesWhatSseComputes) {
    const VectorLoops* avx = kv::opamp::avxLoops();
    if (!avx) GTEST_SKIP() << "no AVX2 here";
    const VectorLoops& sse = kv::opamp::sseLoops();
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-4.0f, 4.0f);
    std::vector<float> in(600), centre(600);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = dist(rng);
        centre[i] = dist(rng);
    }
    const kv::opamp::SymmetricFir half = kv::opamp::designHalfband(7, 10.25);
    const kv::opamp::LowpassPhases full = kv::opamp::designLowpass(93, 9.0, 0.21875);
    const float* x = in.data() + 64;  // with history before it
    const int32_t n = 333;
    std::vector<float> a(n + kGroup), b(n + kGroup);
    const auto same = [&](const char* what) {
        for (int32_t i = 0; i < n; ++i)
            ASSERT_EQ(a[i], b[i]) << what << " " << i;
    };
    sse.fir(half, x, a.data(), n);
    avx->fir(half, x, b.data(), n);
    same("fir");
    sse.firAverage(half, x, centre.data() + 64, a.data(), n);
    avx->firAverage(half, x, centre.data() + 64, b.data(), n);
    same("average");
    sse.firSum(full.even, x, full.odd, centre.data() + 64, a.data(), n);
    avx->firSum(full.even, x, full.odd, centre.data() + 64, b.data(), n);
    same("sum");
    sse.erf(x, a.data(), n, 1e-15f);
    avx->erf(x, b.data(), n, 1e-15f);
    same("erf");
}

}  // namespace
