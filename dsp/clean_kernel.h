// The drive's model without aliasing ("Clean"): the same stage as the
// kernel in opamp_kernel.h, sample for sample, except that the curve is
// taken band-limited (OversampledErf) and the result comes latency()
// samples late. The clean part, x * (1 - A) * e, needs no oversampling: it
// only waits in a delay line of the same length so both parts stay aligned.
// Gain, volume and the pads glide to new values over a few milliseconds.
//
// The kernel keeps the recent input (x = input * h) of both channels in a
// short history, also while it is not the one running (record()), so that
// it can take over from the exact kernel without starting cold (primeFrom)
// and hand its state back (handTo).
//
// configure() allocates everything; nothing else does.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/opamp_kernel.h"
#include "dsp/oversampled_erf.h"
#include "dsp/ramp.h"

namespace kv::opamp {

// A sample's meter value of each kind, by runBlock's rule: in mono the left
// output's, not halved.
template <Meter Kind>
inline double meterValue(double l, double r, bool mono) {
    if constexpr (Kind == Meter::kMean) {
        return mono ? std::fabs(l) : (std::fabs(r) + std::fabs(l)) * 0.5;
    } else if constexpr (Kind == Meter::kLargest) {
        return mono ? std::fabs(l) : std::max(std::fabs(l), std::fabs(r));
    } else {
        return 0.0;
    }
}

class CleanKernel {
  public:
    // Chooses the oversampling for the rate (4x below 100 kHz, 2x below
    // 300 kHz, none above) and allocates for chunks of up to kMaxChunk.
    // False when out of memory.
    bool configure(double rate);
    int32_t latency() const { return latency_; }
    int oversampling() const { return erf_[0].factor(); }
    // Silence in every filter and memory; the controls jump to their targets.
    void reset();
    // The high-pass coefficients are the exact kernel's (setHighPass).
    void setHighPass(const State& exact);

    // Keeps the input the exact kernel is about to hear, for a later
    // take-over.
    template <typename Sample>
    void record(const Sample* inL, const Sample* inR, bool mono, double h, int32_t frames);
    // Continues where the exact kernel (at its current state, after the
    // recorded input) leaves off: the filters run again over the recent
    // input, and the high-pass takes over the exact one's low-frequency
    // memory from latency() samples ago.
    void primeFrom(const State& exact, const Controls& k);
    // The reverse: sets the exact kernel's memories to where this one would
    // have left them (the curve of the last input, the high-pass's memory
    // carried forward over the latency).
    void handTo(State& exact, const Controls& k) const;

    // Runs one block (any length; in and out may be the same buffers);
    // answers the block's largest meter value of the kind asked for, as
    // runBlock does.
    template <typename Sample, Meter Kind>
    double run(const Controls& k, bool mono, const Sample* inL, const Sample* inR, Sample* outL,
               Sample* outR, int32_t frames);

    static constexpr int32_t kMaxChunk = 256;

  private:
    static constexpr int32_t kRing = 512;  // a power of two > kMaxChunk + latency
    double past(int ch, int32_t ago) const {
        return ring_[static_cast<size_t>(ch) * kRing +
                     static_cast<size_t>((written_ - ago) & (kRing - 1))];
    }
    void snapTo(const Controls& k);
    void glideTo(const Controls& k);
    // The exact kernel's mix m[j] = ae erf(x[j - 1]) + be x[j] for a sample
    // j `ago` samples back, from the history.
    double exactMix(int ch, int32_t ago, const Controls& k) const;

    OversampledErf erf_[2];
    int32_t latency_ = 0;
    int32_t glide_ = 1;         // samples of a control glide
    std::vector<double> ring_;  // x of both channels, kRing each
    int32_t written_ = 0;       // samples written to the ring (modulo kRing)
    std::vector<float> chunk_;  // x as float, then the curve, per channel
    Ramp h_, ae_, be_, c_;
    double b0_ = 1.0, a1_ = 0.0;        // the high-pass (b1 = -b0)
    double saturated_[2] = {0.0, 0.0};  // the band-limited curve of the previous sample
    double x1_[2] = {0.0, 0.0};
    double y1_[2] = {0.0, 0.0};
    float bias_ = 1e-15f;
    bool cold_ = true;  // after reset: the first run takes its controls at once
};

}  // namespace kv::opamp
