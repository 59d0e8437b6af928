// The drive's curve, erf, applied to one channel without aliasing: the
// signal is raised to 2 or 4 times its rate by half-band filters, bent
// there, and brought back down through filters that remove what the curve
// made above the outer Nyquist frequency before it could fold back (fir.h).
// Everything in float, four samples per instruction.
//
// The filters have linear phase, so the output is the band-limited curve
// delayed by latency() samples exactly (a whole number at the outer rate):
//   out[n] = erf(in(n - latency)), band-limited.
//
// Buffers are allocated once by configure(); process() allocates nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "dsp/fir.h"
#include "dsp/vector_loops.h"

namespace kv::opamp {

class OversampledErf {
  public:
    // factor 1 (the curve at the outer rate), 2 or 4; chunks of up to
    // maxChunk samples. False when out of memory.
    bool configure(int factor, int32_t maxChunk);
    int factor() const { return factor_; }
    int32_t latency() const;
    // Silence in every filter.
    void reset();
    // n <= maxChunk samples in, n out; `bias` is added where the curve is
    // taken (see the kernel: it keeps silence off denormals).
    void process(const float* in, float* out, int32_t n, float bias);

  private:
    // A signal with the history its filter reads before the chunk.
    struct Line {
        std::vector<float> data;
        int32_t history = 0;
        void allocate(int32_t past, int32_t capacity);
        float* now() { return data.data() + history; }
        void clear();
        // Keeps the last `history` samples of n as the next chunk's past.
        void advance(int32_t n);
    };

    const VectorLoops* loops_ = &sseLoops();
    int factor_ = 0;
    int32_t maxChunk_ = 0;
    SymmetricFir outer_{};     // up from the outer rate to twice it
    SymmetricFir inner_{};     // between twice and four times it, both ways
    LowpassPhases last_{};     // the last step down, to the outer rate
    Line in_;                  // the outer rate's input
    Line up_;                  // 2x, both phases interleaved (4x only)
    Line even_, odd_;          // the curve at 4x, split by phase (4x only)
    Line downEven_, downOdd_;  // the curve at 2x, split by phase
    std::vector<float> scratch_;
};

}  // namespace kv::opamp
