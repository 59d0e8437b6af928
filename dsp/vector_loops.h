// The loops the oversampled curve spends its time in, over whole chunks of
// samples: the filters' branches (fir.h) and the curve (fast_erf.h). Two
// sets compute the same values (the same operations in the same order, per
// lane): one for SSE, which every x86-64 has, one for AVX2, twice as wide,
// taken where the processor has it.
//
// Each loop computes its outputs in groups of kGroup: the callers' buffers
// leave room for a group past the end (the extra outputs mean nothing).
// Filter inputs have taps - 1 samples of history before in[0].
#pragma once

#include <cstdint>

#include "dsp/fir.h"

namespace kv::opamp {

inline constexpr int32_t kGroup = 16;

struct VectorLoops {
    // out[i] = sum over k of f.c[k] * in[i - k], i in [0, n).
    void (*fir)(const SymmetricFir& f, const float* in, float* out, int32_t n);
    // out[i] = (f(in)[i] + centre[i]) / 2: a half-band decimator's branches.
    void (*firAverage)(const SymmetricFir& f, const float* in, const float* centre, float* out,
                       int32_t n);
    // out[i] = f(in)[i] + g(in2)[i]: a full decimator's two branches.
    void (*firSum)(const SymmetricFir& f, const float* in, const SymmetricFir& g, const float* in2,
                   float* out, int32_t n);
    // dst[i] = erf(src[i] + bias) (dst may be src).
    void (*erf)(const float* src, float* dst, int32_t n, float bias);
};

const VectorLoops& sseLoops();
// Null where the processor (or the compiler) has no AVX2.
const VectorLoops* avxLoops();
// The widest the processor runs. Not for the audio thread: the first call
// asks the processor (call it while preparing).
const VectorLoops& bestLoops();

}  // namespace kv::opamp
