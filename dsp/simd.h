// Floats in vector registers, as GCC and clang spell them: plain C++
// arithmetic on them compiles to packed instructions. Width 4 is SSE, on
// every x86-64; width 8 is AVX, used only by functions compiled for it
// (see fir.h) and chosen at run time where the processor has it.
//
// GCC warns that a 32-byte vector passed by value would change the calling
// convention of a function compiled without AVX. Everything here is always
// inlined into its caller (or a builtin), even in an unoptimised build, so
// no such call exists; the warning is silenced where this header is
// included.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#define KV_SIMD_INLINE inline __attribute__((always_inline))

namespace kv::opamp::simd {

// (The vector types are spelled outside the template: GCC drops a
// vector_size that depends on a template parameter.)
using Floats4 = float __attribute__((vector_size(16)));
using Ints4 = int32_t __attribute__((vector_size(16)));
using Floats8 = float __attribute__((vector_size(32)));
using Ints8 = int32_t __attribute__((vector_size(32)));

template <typename F, typename I>
struct Lanes {
    using Floats = F;
    using Ints = I;
    static constexpr int kWidth = sizeof(F) / sizeof(float);

    // Unaligned access: the filters read their input at every offset.
    static KV_SIMD_INLINE Floats load(const float* p) {
        Floats v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static KV_SIMD_INLINE void store(float* p, Floats v) { std::memcpy(p, &v, sizeof v); }
    static KV_SIMD_INLINE Floats splat(float x) { return Floats{} + x; }
    // The same bits seen as the other type. A builtin, not std::bit_cast:
    // a library function would be a real call in an unoptimised build, one
    // that passes a wide vector across the calling-convention difference
    // that the note above speaks of.
    static KV_SIMD_INLINE Ints bits(Floats v) { return __builtin_bit_cast(Ints, v); }
    static KV_SIMD_INLINE Floats floats(Ints v) { return __builtin_bit_cast(Floats, v); }
};

using Sse = Lanes<Floats4, Ints4>;
using Avx = Lanes<Floats8, Ints8>;

}  // namespace kv::opamp::simd
