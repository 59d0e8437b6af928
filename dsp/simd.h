// Four floats in one SSE register, as GCC and clang spell it: plain C++
// arithmetic on them compiles to packed instructions on every x86-64 (and
// to pairs of scalar ones elsewhere), with no intrinsics header.
#pragma once

#include <cstdint>
#include <cstring>

namespace kv::opamp::simd {

using Floats = float __attribute__((vector_size(16)));
using Ints = int32_t __attribute__((vector_size(16)));
inline constexpr int kLanes = 4;

// Unaligned access: the filters read their input at every offset.
inline Floats load(const float* p) {
    Floats v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store(float* p, Floats v) {
    std::memcpy(p, &v, sizeof v);
}

inline Floats splat(float x) {
    return Floats{x, x, x, x};
}

}  // namespace kv::opamp::simd
