#include "dsp/vector_loops.h"

#include "dsp/fast_erf.h"
#include "dsp/simd.h"

namespace kv::opamp {

namespace {

// Adds f(in) for the outputs i .. i + 2W - 1 to two accumulators. The taps
// with equal coefficients are added before the product, which halves the
// products; an odd count has its middle tap alone.
template <typename L>
KV_SIMD_INLINE void accumulate(const SymmetricFir& f, const float* in, int32_t i,
                               typename L::Floats& a0, typename L::Floats& a1) {
    constexpr int w = L::kWidth;
    const int pairs = f.taps / 2;
    const int last = f.taps - 1;
    for (int k = 0; k < pairs; ++k) {
        const typename L::Floats c = L::splat(f.c[k]);
        const float* near = in + i - k;
        const float* far = in + i - last + k;
        a0 += c * (L::load(near) + L::load(far));
        a1 += c * (L::load(near + w) + L::load(far + w));
    }
    if (f.taps % 2 != 0) {
        const typename L::Floats c = L::splat(f.c[pairs]);
        a0 += c * L::load(in + i - pairs);
        a1 += c * L::load(in + i - pairs + w);
    }
}

template <typename L>
KV_SIMD_INLINE void firLoop(const SymmetricFir& f, const float* in, float* out, int32_t n) {
    constexpr int w = L::kWidth;
    for (int32_t i = 0; i < n; i += 2 * w) {
        typename L::Floats a0 = L::splat(0.0f), a1 = a0;
        accumulate<L>(f, in, i, a0, a1);
        L::store(out + i, a0);
        L::store(out + i + w, a1);
    }
}

template <typename L>
KV_SIMD_INLINE void firAverageLoop(const SymmetricFir& f, const float* in, const float* centre,
                                   float* out, int32_t n) {
    constexpr int w = L::kWidth;
    for (int32_t i = 0; i < n; i += 2 * w) {
        typename L::Floats a0 = L::splat(0.0f), a1 = a0;
        accumulate<L>(f, in, i, a0, a1);
        L::store(out + i, 0.5f * (a0 + L::load(centre + i)));
        L::store(out + i + w, 0.5f * (a1 + L::load(centre + i + w)));
    }
}

template <typename L>
KV_SIMD_INLINE void firSumLoop(const SymmetricFir& f, const float* in, const SymmetricFir& g,
                               const float* in2, float* out, int32_t n) {
    constexpr int w = L::kWidth;
    for (int32_t i = 0; i < n; i += 2 * w) {
        typename L::Floats a0 = L::splat(0.0f), a1 = a0;
        accumulate<L>(f, in, i, a0, a1);
        accumulate<L>(g, in2, i, a0, a1);
        L::store(out + i, a0);
        L::store(out + i + w, a1);
    }
}

template <typename L>
KV_SIMD_INLINE void erfLoop(const float* src, float* dst, int32_t n, float bias) {
    const typename L::Floats b = L::splat(bias);
    for (int32_t i = 0; i < n; i += L::kWidth)
        L::store(dst + i, fastErf<L>(L::load(src + i) + b));
}

using simd::Sse;

void firSse(const SymmetricFir& f, const float* in, float* out, int32_t n) {
    firLoop<Sse>(f, in, out, n);
}
void firAverageSse(const SymmetricFir& f, const float* in, const float* centre, float* out,
                   int32_t n) {
    firAverageLoop<Sse>(f, in, centre, out, n);
}
void firSumSse(const SymmetricFir& f, const float* in, const SymmetricFir& g, const float* in2,
               float* out, int32_t n) {
    firSumLoop<Sse>(f, in, g, in2, out, n);
}
void erfSse(const float* src, float* dst, int32_t n, float bias) {
    erfLoop<Sse>(src, dst, n, bias);
}

// Not on Windows, where GCC does not align the stack for spilled AVX
// registers.
#if defined(__x86_64__) && !defined(_WIN32) && (defined(__GNUC__) || defined(__clang__))
#define KV_HAVE_AVX_LOOPS 1
#define KV_AVX2 __attribute__((target("avx2")))
using simd::Avx;

KV_AVX2 void firAvx(const SymmetricFir& f, const float* in, float* out, int32_t n) {
    firLoop<Avx>(f, in, out, n);
}
KV_AVX2 void firAverageAvx(const SymmetricFir& f, const float* in, const float* centre, float* out,
                           int32_t n) {
    firAverageLoop<Avx>(f, in, centre, out, n);
}
KV_AVX2 void firSumAvx(const SymmetricFir& f, const float* in, const SymmetricFir& g,
                       const float* in2, float* out, int32_t n) {
    firSumLoop<Avx>(f, in, g, in2, out, n);
}
KV_AVX2 void erfAvx(const float* src, float* dst, int32_t n, float bias) {
    erfLoop<Avx>(src, dst, n, bias);
}
#endif

}  // namespace

const VectorLoops& sseLoops() {
    static constexpr VectorLoops kLoops{firSse, firAverageSse, firSumSse, erfSse};
    return kLoops;
}

const VectorLoops* avxLoops() {
#ifdef KV_HAVE_AVX_LOOPS
    static constexpr VectorLoops kLoops{firAvx, firAverageAvx, firSumAvx, erfAvx};
    static const bool present = __builtin_cpu_supports("avx2");
    return present ? &kLoops : nullptr;
#else
    return nullptr;
#endif
}

const VectorLoops& bestLoops() {
    const VectorLoops* avx = avxLoops();
    return avx ? *avx : sseLoops();
}

}  // namespace kv::opamp
